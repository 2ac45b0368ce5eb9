#pragma once

// Which stored keywords occur in a message.
//
// A row is a hit when the message is not empty and its keyword is not Null and is either empty
// or occurs in the message, comparing UTF-16 code units exactly. Each row counts once, however
// often its keyword occurs. Where the hits stand is told as runs: the stretches of the message
// that occurrences of non-empty keywords cover.
//
// A short message is looked up in an index kept for the list (KeywordIndex). A long message is
// scanned once by an Aho-Corasick automaton built over the keywords it can hold, so the cost grows
// with the length of the message plus the total length of those keywords, never with their
// product.

#include <QStringView>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/FieldValue.h"
#include "base/Text.h"
#include "check/HashedKeywords.h"

namespace vorelta {

// Messages up to this many code units are looked up in the kept indexes; longer ones scanned.
inline constexpr qsizetype kShortMessageLimit = 256;

struct KeywordHits {
    std::vector<std::size_t> rows;  // the indexes of the rows that are hits, in row order
    // Every stretch covered by an occurrence of a hit, in text order; occurrences that overlap or
    // touch make one run. An empty keyword covers nothing.
    std::vector<TextRun> runs;
    bool operator==(const KeywordHits&) const = default;
};

// The hits and the runs they cover, found in one pass of an automaton over the message: for a
// long message, though any message gives the same.
KeywordHits MatchKeywords(QStringView message, const std::vector<FieldValue>& keywords);

// The keywords laid out for looking up every stretch of a message (HashedKeywords.h): a message
// of m code units costs about m times the longest beginning of a keyword that it holds at one
// place, however many keywords there are. Built once for a list of keywords, it answers short
// messages in microseconds. Holds a reference to the list.
class KeywordIndex {
public:
    explicit KeywordIndex(const std::vector<FieldValue>& keywords);
    KeywordHits match(QStringView message) const;

private:
    struct TextOfRow {
        const std::vector<FieldValue>* keywords;
        std::u16string_view operator()(std::uint32_t row) const {
            const QStringView keyword = *(*keywords)[row];
            return {keyword.utf16(), std::size_t(keyword.size())};
        }
    };

    HashedKeywords<TextOfRow> table_;
    std::vector<std::size_t> emptyRows_;  // hits of every message
};

}  // namespace vorelta
