// The matchers against the row-by-row search: the automaton and the index the check keeps for
// short messages, each over messages of any length, report the same rows and the same runs.
//
// Input: UTF-16 units split at U+0001; the first piece is the message, each further piece a
// keyword, and a piece of exactly U+0002 a row without a keyword (Null). The first byte's low
// bit repeats the message until it is past the short-message limit, so that long messages
// reach the automaton with few bytes.

#include <QStringList>

#include "check/KeywordMatcher.h"
#include "fuzz/FuzzInput.h"
#include "tests/support/RowByRowScan.h"

using namespace vorelta;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const auto [message, keywords] = fuzz::SplitMessageAndKeywords(data, size, kShortMessageLimit);
    const KeywordHits expected = {test::RowByRowHits(message, keywords),
                                  test::RowByRowRuns(message, keywords)};
    fuzz::Require(MatchKeywords(message, keywords) == expected);
    fuzz::Require(KeywordIndex(keywords).match(message) == expected);
    return 0;
}
