#pragma once

// Where there is no Windows registry, the lookup asks the desktop instead: the value that names
// the system-information tool holds the full path of a system-information program installed on
// the search path, and the tool's folder value does not exist.

#include <array>
#include <optional>
#include <string>
#include <utility>

#include "windows/about/SysInfoRegistry.h"

namespace vorelta::sysinfo {

// Well-known system-information programs, the most complete first.
inline constexpr std::array<const char*, 3> kSysInfoPrograms = {"hardinfo", "kinfocenter",
                                                                "gnome-system-monitor"};

// The full path of the first of kSysInfoPrograms that is an executable regular file in one of the
// folders of `searchPath` (folders separated by ':', as in PATH); empty when there is none.
// Empty and relative folders are skipped: they would name a program by the current folder.
std::string FindSysInfoProgram(const std::string& searchPath);

class DesktopRegistry final : public Registry {
public:
    // Searches the folders of the PATH environment variable as it is at each opening.
    DesktopRegistry() = default;
    // Searches the folders of `searchPath` only.
    explicit DesktopRegistry(std::string searchPath) : searchPath_(std::move(searchPath)) {}

    // Only the tool's key under HKEY_LOCAL_MACHINE exists, and only while a program is found.
    long OpenKey(std::uint32_t root, const std::string& subKey, std::uint32_t options,
                 std::uint32_t access, RegistryKey& key) override;
    // Its one value "PATH": the program's path with a terminating NUL, of type REG_SZ.
    long QueryValue(RegistryKey key, const std::string& valueName, std::uint32_t& type,
                    std::string& data, std::uint32_t& size) override;
    long CloseKey(RegistryKey key) override;

private:
    std::optional<std::string> searchPath_;
    std::string program_;  // found by the latest opening
};

}  // namespace vorelta::sysinfo
