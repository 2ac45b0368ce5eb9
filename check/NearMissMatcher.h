#pragma once

// Which stored keywords a message holds only in another form: its near-misses.
//
// Message and keywords are folded alike (TextFolding.h). A keyword's near-miss is a stretch of
// the message whose folded code points spell the folded keyword, where up to three separators
// may stand between any two consecutive code points of it: "免*费", "Ｗ-Ｉ-Ｎ", "中獎".
// - Four or more code points between two of the keyword's are no near-miss; so is a letter or
//   digit between them.
// - The separators inside a keyword stay part of it: "免-费" must be met by a "-" (or "－")
//   between the two, with up to three more separators on either side. The separators at its
//   ends are left out, so that a near-miss begins and ends where the keyword's letters do; a
//   keyword of separators only, like an empty or a Null one, never has a near-miss.
// - A near-miss covers whole code points of the message: where one code point folds to several
//   ("㍿" to "株式会社"), a keyword met in part of them takes the whole one.
// A row is listed when it has no exact hit and at least one near-miss; the first near-miss is
// the one that starts first, and of those the shortest.
//
// Searched like the exact hits: keyword by keyword, through an index of hashed folded keywords
// kept while the rows are unchanged, or for a long message by an Aho-Corasick automaton.

#include <QString>
#include <QStringView>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/FieldValue.h"
#include "base/Text.h"
#include "check/KeywordMatcher.h"

namespace vorelta {

struct NearMiss {
    std::size_t row;
    TextRun written;  // the row's first near-miss, as the message has it
    bool operator==(const NearMiss&) const = default;
};

struct NearMisses {
    std::vector<NearMiss> rows;  // in row order
    // Every near-miss of the rows listed, in text order; near-misses that overlap or touch make
    // one run, as hits' occurrences do.
    std::vector<TextRun> runs;
    bool operator==(const NearMisses&) const = default;
};

// exactHit[row] tells the rows with an exact hit, which are never listed; rows past its end have
// none. A message here is as the check normalised it.
NearMisses FindNearMisses(QStringView message, const std::vector<FieldValue>& keywords,
                          const std::vector<bool>& exactHit,
                          MatcherKind kind = MatcherKind::ByLength);

// "<as written> ≈ <stored keyword>", one line of the report's near-misses.
QString NearMissLine(QStringView message, const NearMiss& nearMiss, const QString& keyword);

class FoldedKeywords;
class FoldedKeywordAutomaton;

// The folded keywords, built once for a list of keywords and kept while it is unchanged. A short
// message is looked up stretch by stretch in a hash of them, at a cost that does not grow with the
// number of keywords; a long one is scanned by an automaton over them, built at the first long
// message and kept too. Holds no reference to the list.
class NearMissIndex {
public:
    explicit NearMissIndex(const std::vector<FieldValue>& keywords);
    ~NearMissIndex();
    NearMisses find(QStringView message, const std::vector<bool>& exactHit);

private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFF;
    struct Slot {
        std::uint32_t hash = 0;
        std::uint32_t firstRow = kNone;  // kNone: empty slot
    };
    std::uint32_t find(std::uint64_t hash, std::u16string_view letters) const;

    std::unique_ptr<FoldedKeywords> keywords_;
    std::vector<Slot> slots_;
    std::vector<std::uint32_t> nextSameLetters_;  // the next row whose keyword folds alike
    std::size_t longest_ = 0;
    std::unique_ptr<FoldedKeywordAutomaton> automaton_;
};

}  // namespace vorelta
