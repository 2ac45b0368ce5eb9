#pragma once

// Which stored keywords a message holds only in another form: its near-misses.
//
// Message and keywords are folded alike (TextFolding.h). A keyword's letters are its folded code
// points that are no separators, wherever they stand in it: "免-费" and "法 轮 功" are searched as
// "免费" and "法轮功". A keyword's near-miss is a stretch of the message whose folded letters are
// the keyword's, where up to three separators may stand between any two of them: "免*费",
// "Ｗ-Ｉ-Ｎ", "中獎". What keeps ordinary text from being warned:
// - A keyword of fewer than two letters ("b" followed by a control character) has no near-miss.
// - Four or more code points between two letters are none; neither is a letter between them.
// - A break (、。,.;:!? and line breaks) between two letters is passed only by keywords of three
//   or more letters: "宝马、凯迪拉克" does not hold "马凯", "法，轮，功" holds "法轮功".
// - A keyword that begins or ends with a Latin letter or a digit is not met inside a longer run
//   of them, as far as separators are passed: "USB" does not hold "sb", nor "SSH服务" "h服务".
// - A near-miss where the message holds, exactly, a row with an exact hit and the same letters is
//   that hit itself: with 中奖 and 中獎 stored, "恭喜中奖了" lists no "中奖 ≈ 中獎".
// A near-miss covers whole code points of the message: where one code point folds to several
// ("㍿" to "株式会社"), a keyword met in part of them takes the whole one.
// A row is listed when it has no exact hit and at least one near-miss; the first near-miss is
// the one that starts first, and of those the shortest.
//
// Searched like the exact hits: through an index of hashed folded keywords
// kept while the rows are unchanged, or for a long message by an Aho-Corasick automaton. No
// search backtracks: each costs the message's length times at most the longest keyword's for a
// short message, and the message's length plus the finds for a long one.

#include <QString>
#include <QStringView>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/FieldValue.h"
#include "base/Text.h"
#include "check/HashedKeywords.h"
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

// "<as written> ≈ <stored keyword>", one line of the report's near-misses.
QString NearMissLine(QStringView message, const NearMiss& nearMiss, const QString& keyword);

class FoldedKeywords;
class FoldedKeywordAutomaton;
struct FoldingBuffers;

// The folded keywords, built once for a list of keywords and kept while it is unchanged. A short
// message is looked up stretch by stretch in a hash of them, at a cost that does not grow with the
// number of keywords; a long one is scanned by an automaton over them, built at the first long
// message and kept too. Holds no reference to the list.
class NearMissIndex {
public:
    explicit NearMissIndex(const std::vector<FieldValue>& keywords);
    ~NearMissIndex();
    // The keywords are those the index was built over. exactRows holds the rows with an exact
    // hit, in row order: they are never listed, and a long message's search leaves out what can
    // only be their occurrences, so it must hold every one of them. A message here is as the
    // check normalised it.
    NearMisses find(QStringView message, const std::vector<FieldValue>& keywords,
                    const std::vector<std::size_t>& exactRows);
    // The same by a scan of the automaton over the folded keywords, built at the first call and
    // kept: what find does for a message longer than kShortMessageLimit, though any message gives
    // the same.
    NearMisses scan(QStringView message, const std::vector<FieldValue>& keywords,
                    const std::vector<std::size_t>& exactRows);

private:
    struct LettersOfRow {
        const FoldedKeywords* keywords;
        std::u16string_view operator()(std::uint32_t row) const;
    };

    std::unique_ptr<FoldedKeywords> keywords_;
    HashedKeywords<LettersOfRow> table_;  // the rows with letters, by their letters
    std::unique_ptr<FoldedKeywordAutomaton> automaton_;
    std::unique_ptr<FoldingBuffers> buffers_;  // the last message's, kept for the next
};

}  // namespace vorelta
