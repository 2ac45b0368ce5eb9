#pragma once

// Which stored keywords occur in a message.
//
// A row is a hit when the message is not empty and its keyword is not Null and is either empty
// or occurs in the message, comparing UTF-16 code units exactly. Each row counts once, however
// often its keyword occurs. Where the hits stand is told as runs: the stretches of the message
// that occurrences of non-empty keywords cover.
//
// A short message is searched keyword by keyword: after a cheap test of the keyword's first
// character that is faster than building anything. A long message is scanned once by an
// Aho-Corasick automaton built over all keywords, so the cost grows with the length of the
// message plus the total length of the keywords, never with their product.

#include <QStringView>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/FieldValue.h"
#include "base/Text.h"

namespace vorelta {

// Messages up to this many code units are searched keyword by keyword.
inline constexpr qsizetype kShortMessageLimit = 256;

enum class MatcherKind { ByLength, KeywordByKeyword, Automaton };

struct KeywordHits {
    std::vector<std::size_t> rows;  // the indexes of the rows that are hits, in row order
    // Every stretch covered by an occurrence of a hit, in text order; occurrences that overlap or
    // touch make one run. An empty keyword covers nothing.
    std::vector<TextRun> runs;
    bool operator==(const KeywordHits&) const = default;
};

// The hits and the runs they cover, found in one pass over the message.
KeywordHits MatchKeywords(QStringView message, const std::vector<FieldValue>& keywords,
                          MatcherKind kind = MatcherKind::ByLength);

// The keywords laid out for looking up every stretch of a message: a message of m code units
// costs about m times the longest keyword's length, however many keywords there are. Built once
// for a list of keywords, it answers short messages in microseconds.
class KeywordIndex {
public:
    explicit KeywordIndex(const std::vector<FieldValue>& keywords);
    KeywordHits match(QStringView message) const;

private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFF;
    struct Slot {
        std::uint64_t hash = 0;
        std::uint32_t firstRow = kNone;  // kNone: empty slot
    };
    std::uint32_t find(std::uint64_t hash, QStringView text) const;

    const std::vector<FieldValue>& keywords_;
    std::vector<Slot> slots_;
    std::vector<std::uint32_t> nextSameRow_;  // the next row of the same keyword
    std::vector<std::size_t> emptyRows_;      // hits of every message
    qsizetype longest_ = 0;
};

}  // namespace vorelta
