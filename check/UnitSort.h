#pragma once

// The sort both keyword automata build their tries with.

#include <algorithm>
#include <cstdint>
#include <vector>

namespace vorelta {

// Sorts (code unit << 32 | keyword) keys by code unit: two stable passes of eight bits for
// long runs, a plain sort for short ones.
inline void SortByUnit(std::uint64_t* begin, std::uint64_t* end,
                       std::vector<std::uint64_t>& scratch) {
    const std::size_t count = std::size_t(end - begin);
    if (count <= 64) {
        std::sort(begin, end);
        return;
    }
    scratch.resize(count);
    std::uint64_t* from = begin;
    std::uint64_t* to = scratch.data();
    for (const int shift : {32, 40}) {
        std::size_t bucket[257] = {};
        for (std::size_t i = 0; i < count; ++i) {
            ++bucket[((from[i] >> shift) & 0xFF) + 1];
        }
        for (int b = 1; b <= 256; ++b) {
            bucket[b] += bucket[b - 1];
        }
        for (std::size_t i = 0; i < count; ++i) {
            to[bucket[(from[i] >> shift) & 0xFF]++] = from[i];
        }
        std::swap(from, to);
    }
    // After an even number of passes the keys are back where they started.
}

}  // namespace vorelta
