#pragma once

// Keywords laid out for looking up every stretch of a short message: a table of rows by the hash
// of their text, and beside it two marks for each hash, one for the beginnings of keywords and
// one for whole keywords. A stretch grown one code unit at a time from one start goes on only
// while its hash is marked as a beginning: no longer stretch from that start can be a keyword,
// so the search moves on after a code unit or two for most starts instead of after the longest
// keyword; and it is looked up in the table only where its hash is marked as a whole keyword.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace vorelta {

// A hash of a text grown one code unit at a time, so that every stretch starting at one place is
// hashed in one pass. Its high bits depend on every code unit read: they pick the set's bit.
inline constexpr std::uint64_t kStretchHashSeed = 0x9E3779B97F4A7C15ull;
inline std::uint64_t ExtendHash(std::uint64_t hash, char16_t unit) {
    return (hash ^ unit) * 0x100000001B3ull;
}

// TextOf is called with a row and gives its text as a std::u16string_view.
template <class TextOf>
class HashedKeywords {
public:
    static constexpr std::uint32_t kNone = 0xFFFFFFFF;

    // The two marks of a stretch.
    static constexpr unsigned kBeginning = 1;  // some keyword may begin with the stretch
    static constexpr unsigned kWhole = 2;      // some keyword may be the stretch

    // rows: how many rows there may be; units: their text's code units in all, which sizes the
    // marks at 8 hashes a code unit, so that few stretches pass them by chance.
    HashedKeywords(std::size_t rows, std::size_t units, TextOf textOf)
        : textOf_(textOf),
          slots_(std::bit_ceil(2 * rows + 16)),
          nextSameText_(rows, kNone),
          marks_(std::bit_ceil(std::clamp<std::size_t>(8 * units, 1024, kMostHashes)) / 32),
          shift_(64 - std::countr_zero(marks_.size() * 32)),
          unitMarks_(65536 / 32) {}

    // Adds a row of non-empty text. Rows are added from the last to the first, so that the rows
    // of one text chain in row order. Returns the row of the same text added before, or kNone.
    std::uint32_t add(std::uint32_t row) {
        const std::u16string_view text = textOf_(row);
        longest_ = std::max(longest_, text.size());
        unitMarks_[text[0] / 32] |=
            std::uint64_t(text.size() == 1 ? kBeginning | kWhole : kBeginning)
            << (2 * (text[0] % 32));
        std::uint64_t hash = kStretchHashSeed;
        for (const char16_t c : text) {
            hash = ExtendHash(hash, c);
            mark(hash, kBeginning);
        }
        mark(hash, kWhole);
        const std::size_t mask = slots_.size() - 1;
        std::size_t at = hash & mask;
        while (slots_[at].firstRow != kNone && (slots_[at].hash != std::uint32_t(hash >> 32) ||
                                                textOf_(slots_[at].firstRow) != text)) {
            at = (at + 1) & mask;
        }
        nextSameText_[row] = slots_[at].firstRow;
        slots_[at] = {std::uint32_t(hash >> 32), row};
        return nextSameText_[row];
    }

    // Calls found(row, length) for every row whose text begins the text (not empty) and is at
    // least `fewest` code units long, shorter texts first and the rows of one text in row order.
    template <class Found>
    void forEachAtStart(std::u16string_view text, std::size_t fewest, Found found) const {
        // The first code unit is told exactly by a table small enough to stay in cache: a start
        // whose code unit begins no keyword costs no look into the larger marks.
        unsigned marks = unsigned(unitMarks_[text[0] / 32] >> (2 * (text[0] % 32))) & 3;
        std::uint64_t hash = ExtendHash(kStretchHashSeed, text[0]);
        const std::size_t longest = std::min(longest_, text.size());
        for (std::size_t length = 1; marks & kBeginning;) {
            if ((marks & kWhole) && length >= fewest) {
                for (std::uint32_t row = first(hash, text.substr(0, length)); row != kNone;
                     row = nextSameText_[row]) {
                    found(row, length);
                }
            }
            if (++length > longest) {
                break;
            }
            hash = ExtendHash(hash, text[length - 1]);
            marks = marksOf(hash);
        }
    }

private:
    static constexpr std::size_t kMostHashes = std::size_t(1) << 29;  // 128 MiB of marks
    struct Slot {
        std::uint32_t hash = 0;          // the high half of the text's hash
        std::uint32_t firstRow = kNone;  // kNone: empty slot
    };

    TextOf textOf_;
    std::vector<Slot> slots_;
    std::vector<std::uint32_t> nextSameText_;
    // kBeginning and kWhole for a stretch of this hash: each is set where it is true, and for a
    // few other stretches.
    unsigned marksOf(std::uint64_t hash) const {
        const std::uint64_t at = hash >> shift_;
        return unsigned(marks_[at / 32] >> (2 * (at % 32))) & 3;
    }

    // The first row, in row order, whose text is the stretch of this hash; kNone for none.
    std::uint32_t first(std::uint64_t hash, std::u16string_view text) const {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t at = hash & mask; slots_[at].firstRow != kNone; at = (at + 1) & mask) {
            if (slots_[at].hash == std::uint32_t(hash >> 32) &&
                textOf_(slots_[at].firstRow) == text) {
                return slots_[at].firstRow;
            }
        }
        return kNone;
    }

    void mark(std::uint64_t hash, unsigned what) {
        const std::uint64_t at = hash >> shift_;
        marks_[at / 32] |= std::uint64_t(what) << (2 * (at % 32));
    }

    std::vector<std::uint64_t> marks_;  // two bits a hash, by its high bits
    int shift_;
    std::vector<std::uint64_t> unitMarks_;  // two bits a code unit, for stretches of one
    std::size_t longest_ = 0;
};

}  // namespace vorelta
