#pragma once

// How the keyword automaton builds its trie: level by level, children sorted by code unit.

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <string_view>
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

// Builds a trie over `count` keywords of one code unit or more, level by level, so that children
// follow their parents in parent order and sit in code unit order. `letters(k)` is keyword k;
// `addNode(parent, unit)` makes the next node, numbered from 1 in call order, and
// `endAt(k, node)` says where keyword k ends.
template <class Letters, class AddNode, class EndAt>
void BuildTrieByLevels(std::uint32_t count, Letters letters, AddNode addNode, EndAt endAt) {
    std::vector<std::uint32_t> at(count, 0);  // each keyword's node so far
    std::vector<std::uint32_t> active(count);
    std::iota(active.begin(), active.end(), 0u);
    std::vector<std::uint32_t> next;
    std::vector<std::uint64_t> keys;
    std::vector<std::uint64_t> scratch;
    std::uint32_t lastNode = 0;
    // `active` holds the keywords longer than `depth`, grouped by their node, in node order.
    for (std::uint32_t depth = 0; !active.empty(); ++depth) {
        keys.resize(active.size());
        for (std::size_t i = 0; i < active.size(); ++i) {
            keys[i] =
                std::uint64_t(std::u16string_view(letters(active[i]))[depth]) << 32 | active[i];
        }
        next.clear();
        for (std::size_t groupStart = 0; groupStart < active.size();) {
            const std::uint32_t parent = at[active[groupStart]];
            std::size_t groupEnd = groupStart + 1;
            while (groupEnd < active.size() && at[active[groupEnd]] == parent) {
                ++groupEnd;
            }
            SortByUnit(keys.data() + groupStart, keys.data() + groupEnd, scratch);
            for (std::size_t i = groupStart; i < groupEnd; ++i) {
                const auto k = std::uint32_t(keys[i]);
                const auto unit = char16_t(keys[i] >> 32);
                if (i == groupStart || unit != char16_t(keys[i - 1] >> 32)) {
                    addNode(parent, unit);
                    ++lastNode;
                }
                at[k] = lastNode;
                if (std::u16string_view(letters(k)).size() == depth + 1) {
                    endAt(k, lastNode);
                } else {
                    next.push_back(k);
                }
            }
            groupStart = groupEnd;
        }
        active.swap(next);
    }
}

}  // namespace vorelta
