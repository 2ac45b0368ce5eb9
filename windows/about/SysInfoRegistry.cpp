#include "windows/about/SysInfoRegistry.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>

namespace vorelta::sysinfo {
namespace {

// Capital hexadecimal without leading zeros; a NUL gives "0".
std::string HexCode(unsigned char code) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%X", static_cast<unsigned>(code));
    return digits;
}

// The number that hexadecimal digits denote; nothing when they are not all hexadecimal digits
// or do not fit in 64 bits.
std::optional<std::uint64_t> HexValue(const std::string& digits) {
    std::uint64_t value = 0;
    const char* end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, value, 16);
    if (digits.empty() || error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

// Steps after a successful open; the caller closes the key whatever happens here.
bool ReadValue(Registry& registry, RegistryKey key, const std::string& SubKeyRef,
               std::string& KeyVal) {
    std::string buffer(kValueBufferSize, '\0');
    std::uint32_t size = kValueBufferSize;
    std::uint32_t type = 0;
    if (registry.QueryValue(key, SubKeyRef, type, buffer, size) != kErrorSuccess) {
        KeyVal.clear();
        return false;
    }
    const std::string text = ValueText(buffer, size);
    if (type == kRegSz) {
        KeyVal = text;
    } else if (type == kRegDword) {
        KeyVal = DwordText(text, KeyVal);
    }
    return true;
}

}  // namespace

std::string ValueText(const std::string& buffer, std::uint32_t size) {
    if (size == 0) {
        throw InvalidCall("Invalid procedure call or argument: a registry value of size 0");
    }
    // The size counts bytes, so the NUL is looked for before any conversion of the text: a
    // double-byte character can never be cut in two here.
    const std::size_t taken = std::min<std::size_t>(size, buffer.size());
    if (taken == size && buffer[taken - 1] == '\0') {
        return buffer.substr(0, taken - 1);
    }
    return buffer.substr(0, taken);
}

std::string DwordText(const std::string& valueText, std::string digits) {
    for (auto code = valueText.rbegin(); code != valueText.rend(); ++code) {
        digits += HexCode(static_cast<unsigned char>(*code));
    }
    // Text that is no number (digits that were already in the output and are not hexadecimal,
    // or more than 64 bits of them) is left as it stands.
    const std::optional<std::uint64_t> value = HexValue(digits);
    return value ? std::to_string(*value) : "&h" + digits;
}

bool GetKeyValue(Registry& registry, std::uint32_t KeyRoot, const std::string& KeyName,
                 const std::string& SubKeyRef, std::string& KeyVal) {
    RegistryKey key = 0;
    bool found = false;
    if (registry.OpenKey(KeyRoot, KeyName, 0, kKeyAccess, key) != kErrorSuccess) {
        KeyVal.clear();
    } else {
        try {
            found = ReadValue(registry, key, SubKeyRef, KeyVal);
        } catch (...) {
            // A value that cannot be decoded must not leave its key open.
            registry.CloseKey(key);
            throw;
        }
    }
    // Also after a failed open, with the handle as the open left it (normally 0).
    registry.CloseKey(key);
    return found;
}

}  // namespace vorelta::sysinfo
