#pragma once

// Where the system-information tool is: two registry values under HKEY_LOCAL_MACHINE, read the
// way the Windows registry functions give them, and decoded as the About window needs them.
//
// Plain C++ without Qt, so that the same code is built for Windows with nothing but the C++
// library and tried there against the real registry functions. Text is bytes in the system's
// ANSI code page, as the "A" registry functions take and give it.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vorelta::sysinfo {

// An open key, as the registry functions hand it out (a HKEY on Windows).
using RegistryKey = std::uintptr_t;

inline constexpr std::uint32_t kHkeyLocalMachine = 0x80000002;
inline constexpr const char* kMsinfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
inline constexpr const char* kMsinfoValue = "PATH";
inline constexpr const char* kLocationKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
inline constexpr const char* kLocationValue = "MSINFO";
inline constexpr const char* kMsinfoFile = "\\MSINFO32.EXE";
// Read control with query value, set value, create sub-key, enumerate sub-keys, notify and
// create link; deliberately not the full-access mask 0xF003F.
inline constexpr std::uint32_t kKeyAccess = 0x2003F;
inline constexpr std::uint32_t kValueBufferSize = 1024;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr long kErrorSuccess = 0;
// Failure codes as the registry functions give them.
inline constexpr long kErrorFileNotFound = 2;
inline constexpr long kErrorAccessDenied = 5;
inline constexpr long kErrorInvalidHandle = 6;
inline constexpr long kErrorMoreData = 234;  // the value does not fit: size says what it needs

// The three registry functions the lookup uses; 0 is success, anything else a failure code.
class Registry {
public:
    virtual ~Registry() = default;
    // RegOpenKeyExA: opens `subKey` under the root handle value.
    virtual long OpenKey(std::uint32_t root, const std::string& subKey, std::uint32_t options,
                         std::uint32_t access, RegistryKey& key) = 0;
    // RegQueryValueExA: `data` comes in as the buffer (its size is the capacity) and is filled
    // in; `size` comes in as the capacity and goes out as the value's byte count.
    virtual long QueryValue(RegistryKey key, const std::string& valueName, std::uint32_t& type,
                            std::string& data, std::uint32_t& size) = 0;
    // RegCloseKey; its result is ignored by the lookup.
    virtual long CloseKey(RegistryKey key) = 0;
};

// A run-time error inside the lookup (error 5, an invalid procedure call or argument).
class InvalidCall : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The value text: the first `size` bytes of the buffer, less one terminating NUL; a value
// stored without one is taken whole. A size of 0 is an invalid call.
std::string ValueText(const std::string& buffer, std::uint32_t size);

// A REG_DWORD as text: the code of each character in capital hexadecimal without leading zeros,
// from the last character to the first, appended to `digits`; then "&h" and those digits,
// formatted as the number they denote, in decimal. Text that denotes no number (digits already
// held on entry that are not hexadecimal, or more than 64 bits of them) stays "&h" and the digits.
std::string DwordText(const std::string& valueText, std::string digits);

// Reads one value as text. True with `KeyVal` set for REG_SZ and REG_DWORD, true with `KeyVal`
// untouched for any other type; false with `KeyVal` empty when the key cannot be opened or the
// value not read. The key is closed on every path, a failed open included. An InvalidCall
// (a value of size 0) propagates to the caller after the key has been closed.
bool GetKeyValue(Registry& registry, std::uint32_t KeyRoot, const std::string& KeyName,
                 const std::string& SubKeyRef, std::string& KeyVal);

// The registry of the platform the program runs on: the Windows registry on Windows; elsewhere
// a view of the desktop that gives the first value as the full path of an installed
// system-information program, and has no second value.
Registry& PlatformRegistry();

}  // namespace vorelta::sysinfo
