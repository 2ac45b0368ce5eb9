#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace vorelta {

// A set of UTF-16 code units: one bit for each of the 65536, small enough to stay in cache.
class CodeUnitSet {
public:
    CodeUnitSet() : bits_(65536 / 64) {}

    // The code units that occur in a text.
    explicit CodeUnitSet(std::u16string_view text) : CodeUnitSet() {
        for (const char16_t c : text) {
            add(c);
        }
    }

    void add(char16_t c) { bits_[c >> 6] |= std::uint64_t(1) << (c & 63); }

    bool contains(char16_t c) const { return (bits_[c >> 6] >> (c & 63)) & 1; }

    bool containsAll(std::u16string_view text) const {
        for (const char16_t c : text) {
            if (!contains(c)) {
                return false;
            }
        }
        return true;
    }

private:
    std::vector<std::uint64_t> bits_;
};

}  // namespace vorelta
