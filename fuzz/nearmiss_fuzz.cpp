// Folding and the search for near-misses against the plain fold-and-search: every way of
// searching lists the same rows with the same first near-misses and marks the same runs, and
// folding keeps its way back to what was written.
//
// Input: UTF-16 units split at U+0001; the first piece is the message, each further piece a
// keyword, and a piece of exactly U+0002 a row without a keyword (Null). The first byte's low
// bit repeats the message until it is past the short-message limit, so that long messages
// reach the automaton with few bytes.

#include <QStringList>

#include "check/NearMissMatcher.h"
#include "check/TextFolding.h"
#include "fuzz/FuzzInput.h"
#include "tests/support/NearMissOracle.h"

using namespace vorelta;

namespace {

// Every folded unit comes from a code point of the text, in order, and the starts of the code
// points cover the text.
bool FoldingTracesBack(const QString& text) {
    const FoldedText folded = FoldText(text);
    if (folded.units.size() != folded.sourceOf.size() || folded.sourceStart.empty() ||
        folded.sourceStart.back() != text.size()) {
        return false;
    }
    for (std::size_t i = 0; i < folded.sourceOf.size(); ++i) {
        const std::int32_t source = folded.sourceOf[i];
        if (source < 0 || std::size_t(source) + 1 >= folded.sourceStart.size() ||
            (i > 0 && source < folded.sourceOf[i - 1])) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const auto [message, keywords] = fuzz::SplitMessageAndKeywords(data, size, kShortMessageLimit);
    fuzz::Require(FoldingTracesBack(message));
    const std::vector<std::size_t> exactRows = test::ExactRows(message, keywords);
    const NearMisses expected = test::PlainNearMisses(message, keywords);
    NearMissIndex index(keywords);
    fuzz::Require(index.find(message, keywords, exactRows) == expected);
    fuzz::Require(index.scan(message, keywords, exactRows) == expected);
    return 0;
}
