#pragma once

// A registry held in memory, for tests: keys that open or refuse to, values of any type with
// any bytes and any reported size, and a record of every opening and closing.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "windows/about/SysInfoRegistry.h"

namespace vorelta::test {

class MemoryRegistry final : public sysinfo::Registry {
public:
    struct Value {
        Value() = default;
        Value(std::uint32_t type, std::string bytes,
              std::optional<std::uint32_t> reportedSize = std::nullopt)
            : type(type), bytes(std::move(bytes)), reportedSize(reportedSize) {}

        std::uint32_t type = sysinfo::kRegSz;
        std::string bytes;
        // The byte count the query reports; the length of `bytes` when not given.
        std::optional<std::uint32_t> reportedSize;
    };
    struct Opening {
        std::uint32_t root;
        std::string subKey;
        std::uint32_t options;
        std::uint32_t access;
    };

    // Text as the registry stores it, with its terminating NUL.
    static std::string Sz(std::string text) { return text + '\0'; }
    // A REG_DWORD's four bytes, least significant first.
    static std::string Dword(std::uint32_t number) {
        std::string bytes;
        for (int shift = 0; shift < 32; shift += 8) {
            bytes += static_cast<char>((number >> shift) & 0xFF);
        }
        return bytes;
    }

    // A key that opens (with no values yet) unless `openResult` is a failure code.
    void AddKey(std::uint32_t root, const std::string& subKey,
                long openResult = sysinfo::kErrorSuccess) {
        keys_[Name(root, subKey)].openResult = openResult;
    }
    // The key is added when it is not there yet.
    void SetValue(std::uint32_t root, const std::string& subKey, const std::string& valueName,
                  Value value) {
        keys_[Name(root, subKey)].values[Upper(valueName)] = std::move(value);
    }
    // A REG_SZ with its terminating NUL, under HKEY_LOCAL_MACHINE.
    void SetText(const std::string& subKey, const std::string& valueName, const std::string& text) {
        SetValue(sysinfo::kHkeyLocalMachine, subKey, valueName, {sysinfo::kRegSz, Sz(text)});
    }

    long OpenKey(std::uint32_t root, const std::string& subKey, std::uint32_t options,
                 std::uint32_t access, sysinfo::RegistryKey& key) override {
        openings.push_back({root, subKey, options, access});
        const auto found = keys_.find(Name(root, subKey));
        if (found == keys_.end()) {
            return sysinfo::kErrorFileNotFound;
        }
        if (found->second.openResult != sysinfo::kErrorSuccess) {
            return found->second.openResult;
        }
        key = nextHandle_++;
        handles_[key] = found->first;
        return sysinfo::kErrorSuccess;
    }

    // Copies the value into the front of `data` when it fits in the capacity `size`; otherwise
    // fails with ERROR_MORE_DATA and leaves in `size` the count needed.
    long QueryValue(sysinfo::RegistryKey key, const std::string& valueName, std::uint32_t& type,
                    std::string& data, std::uint32_t& size) override {
        const auto handle = handles_.find(key);
        if (handle == handles_.end()) {
            return sysinfo::kErrorInvalidHandle;
        }
        const auto& values = keys_.at(handle->second).values;
        const auto found = values.find(Upper(valueName));
        if (found == values.end()) {
            return sysinfo::kErrorFileNotFound;
        }
        const Value& value = found->second;
        const std::size_t capacity = std::min<std::size_t>(size, data.size());
        type = value.type;
        size = value.reportedSize.value_or(static_cast<std::uint32_t>(value.bytes.size()));
        if (value.bytes.size() > capacity || size > capacity) {
            return sysinfo::kErrorMoreData;
        }
        data.replace(0, value.bytes.size(), value.bytes);
        return sysinfo::kErrorSuccess;
    }

    long CloseKey(sysinfo::RegistryKey key) override {
        closed.push_back(key);
        return handles_.erase(key) ? sysinfo::kErrorSuccess : sysinfo::kErrorInvalidHandle;
    }

    // Handles still open: those handed out and not closed since.
    std::size_t openKeys() const { return handles_.size(); }

    std::vector<Opening> openings;
    std::vector<sysinfo::RegistryKey> closed;  // every handle passed to CloseKey, in order

private:
    // Key and value names match without regard to case, as in the registry.
    using KeyName = std::pair<std::uint32_t, std::string>;
    struct Key {
        long openResult = sysinfo::kErrorSuccess;
        std::map<std::string, Value> values;
    };

    static std::string Upper(std::string text) {
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        return text;
    }
    static KeyName Name(std::uint32_t root, const std::string& subKey) {
        return {root, Upper(subKey)};
    }

    std::map<KeyName, Key> keys_;
    std::map<sysinfo::RegistryKey, KeyName> handles_;
    sysinfo::RegistryKey nextHandle_ = 0x100;
};

}  // namespace vorelta::test
