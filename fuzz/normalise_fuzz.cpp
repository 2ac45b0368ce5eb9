// The check's normalisation: whatever the message, the result keeps no blank, only drops
// characters, and leaves the characters it keeps in their order.

#include "check/MessageCheck.h"
#include "fuzz/FuzzInput.h"

using namespace vorelta;

namespace {

bool IsSubsequence(const QString& part, const QString& whole) {
    qsizetype at = 0;
    for (const QChar c : part) {
        at = whole.indexOf(c, at);
        if (at < 0) {
            return false;
        }
        ++at;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString message = fuzz::Utf16Units(data, size);
    const QString normalised = NormaliseMessage(message);
    fuzz::Require(!normalised.contains(u' '));
    fuzz::Require(IsSubsequence(normalised, message));
    fuzz::Require(message.contains(u' ') || message.contains(u"\r\n") || normalised == message);
    return 0;
}
