// The stored form of keyword text: any UTF-16 text comes back exactly, and any bytes, however
// broken, read as some text that is stable when stored and read again.

#include "fuzz/FuzzInput.h"
#include "store/TextCodec.h"

using namespace vorelta;

namespace {

QString Read(const std::string& bytes) {
    return ReadStoredText(bytes.data(), qsizetype(bytes.size()));
}

std::string Stored(const QString& text) {
    std::string bytes;
    AppendStoredText(text, bytes);
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = fuzz::Utf16Units(data, size);
    fuzz::Require(Read(Stored(text)) == text);

    const QString read = Read(std::string(reinterpret_cast<const char*>(data), size));
    fuzz::Require(Read(Stored(read)) == read);
    return 0;
}
