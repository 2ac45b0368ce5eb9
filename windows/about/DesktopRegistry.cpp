#include "windows/about/DesktopRegistry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "windows/about/SysInfoRegistry.h"

namespace vorelta::sysinfo {
namespace {

// The one key this view can open.
constexpr RegistryKey kToolKey = 1;

// Key and value names are compared as the registry compares them: without regard to case.
bool SameName(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::toupper(static_cast<unsigned char>(x)) ==
               std::toupper(static_cast<unsigned char>(y));
    });
}

std::vector<std::string> AbsoluteFolders(const std::string& searchPath) {
    std::vector<std::string> folders;
    std::istringstream entries(searchPath);
    for (std::string folder; std::getline(entries, folder, ':');) {
        if (!folder.empty() && folder.front() == '/') {
            folders.push_back(folder);
        }
    }
    return folders;
}

bool IsExecutableFile(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

std::string EnvironmentSearchPath() {
    const char* path = std::getenv("PATH");
    return path ? path : "";
}

}  // namespace

std::string FindSysInfoProgram(const std::string& searchPath) {
    const std::vector<std::string> folders = AbsoluteFolders(searchPath);
    for (const char* program : kSysInfoPrograms) {
        for (const std::string& folder : folders) {
            const std::string candidate = folder + (folder.back() == '/' ? "" : "/") + program;
            if (IsExecutableFile(candidate)) {
                return candidate;
            }
        }
    }
    return {};
}

long DesktopRegistry::OpenKey(std::uint32_t root, const std::string& subKey, std::uint32_t,
                              std::uint32_t, RegistryKey& key) {
    if (root != kHkeyLocalMachine || !SameName(subKey, kMsinfoKey)) {
        return kErrorFileNotFound;
    }
    program_ = FindSysInfoProgram(searchPath_ ? *searchPath_ : EnvironmentSearchPath());
    if (program_.empty()) {
        return kErrorFileNotFound;
    }
    key = kToolKey;
    return kErrorSuccess;
}

long DesktopRegistry::QueryValue(RegistryKey key, const std::string& valueName, std::uint32_t& type,
                                 std::string& data, std::uint32_t& size) {
    if (key != kToolKey) {
        return kErrorInvalidHandle;
    }
    if (!SameName(valueName, kMsinfoValue)) {
        return kErrorFileNotFound;
    }
    const std::string value = program_ + '\0';
    type = kRegSz;
    const std::size_t capacity = std::min<std::size_t>(size, data.size());
    size = static_cast<std::uint32_t>(value.size());
    if (value.size() > capacity) {
        return kErrorMoreData;
    }
    data.replace(0, value.size(), value);
    return kErrorSuccess;
}

long DesktopRegistry::CloseKey(RegistryKey key) {
    return key == kToolKey ? kErrorSuccess : kErrorInvalidHandle;
}

Registry& PlatformRegistry() {
    static DesktopRegistry registry;
    return registry;
}

}  // namespace vorelta::sysinfo
