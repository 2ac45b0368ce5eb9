// The registry value decoding: any buffer, size and digits give a text or the invalid-call
// error, never a fault; a value is never longer than what was given, and a DWORD reads as a
// decimal number or as the digits it could not read.

#include <string>

#include "fuzz/FuzzInput.h"
#include "windows/about/SysInfoRegistry.h"

using namespace vorelta;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) {
        return 0;
    }
    std::uint32_t valueSize = 0;
    std::memcpy(&valueSize, data, 4);
    // The second part of the input is the digits already held on entry to the DWORD decoding.
    const std::size_t split = 5 + data[4] % (size - 4);
    const std::string buffer(reinterpret_cast<const char*>(data) + 5, split - 5);
    const std::string digits(reinterpret_cast<const char*>(data) + split, size - split);
    try {
        const std::string text = sysinfo::ValueText(buffer, valueSize);
        fuzz::Require(text.size() <= buffer.size() && text.size() <= valueSize);
        // Either the number in decimal, or "&h" and the digits left as they stood.
        const std::string dword = sysinfo::DwordText(text, digits);
        const bool decimal = !dword.empty() && dword.find_first_not_of("0123456789") == dword.npos;
        fuzz::Require(decimal || dword.rfind("&h" + digits, 0) == 0);
    } catch (const sysinfo::InvalidCall&) {
        fuzz::Require(valueSize == 0);
    }
    return 0;
}
