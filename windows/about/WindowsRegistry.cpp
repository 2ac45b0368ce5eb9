// The lookup over the Windows registry itself, through the ANSI functions of advapi32.
#include <windows.h>

#include <algorithm>

#include "windows/about/SysInfoRegistry.h"

namespace vorelta::sysinfo {
namespace {

// The root arrives as its 32-bit handle value; on 64-bit Windows a HKEY is a pointer and the
// predefined roots are the sign-extended values (HKEY_LOCAL_MACHINE is 0xFFFFFFFF80000002).
HKEY RootHandle(std::uint32_t root) {
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root)));
}

HKEY KeyHandle(RegistryKey key) {
    return reinterpret_cast<HKEY>(key);
}

class WindowsRegistry final : public Registry {
public:
    long OpenKey(std::uint32_t root, const std::string& subKey, std::uint32_t options,
                 std::uint32_t access, RegistryKey& key) override {
        HKEY opened = nullptr;
        const LONG result =
            RegOpenKeyExA(RootHandle(root), subKey.c_str(), options, access, &opened);
        // The handle keeps its value on failure, so that closing it afterwards is harmless.
        if (result == ERROR_SUCCESS) {
            key = reinterpret_cast<RegistryKey>(opened);
        }
        return result;
    }

    long QueryValue(RegistryKey key, const std::string& valueName, std::uint32_t& type,
                    std::string& data, std::uint32_t& size) override {
        DWORD valueType = type;
        // Never let the function write past the buffer, whatever capacity is claimed.
        DWORD byteCount = std::min<std::size_t>(size, data.size());
        const LONG result = RegQueryValueExA(KeyHandle(key), valueName.c_str(), nullptr, &valueType,
                                             reinterpret_cast<BYTE*>(data.data()), &byteCount);
        type = valueType;
        size = byteCount;
        return result;
    }

    long CloseKey(RegistryKey key) override { return RegCloseKey(KeyHandle(key)); }
};

}  // namespace

Registry& PlatformRegistry() {
    static WindowsRegistry registry;
    return registry;
}

}  // namespace vorelta::sysinfo
