#include "check/KeywordMatcher.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "check/AhoCorasick.h"
#include "check/CodeUnitSet.h"

namespace vorelta {

namespace {

std::u16string_view View(QStringView text) {
    return {text.utf16(), std::size_t(text.size())};
}

// Adds an occurrence that ends at or after the end of every run so far, merging it with the
// runs it overlaps or touches; a long keyword may reach back over several of them.
void AddOccurrence(std::vector<TextRun>& runs, TextRun occurrence) {
    while (!runs.empty() && occurrence.start <= runs.back().end) {
        occurrence.start = std::min(occurrence.start, runs.back().start);
        occurrence.end = std::max(occurrence.end, runs.back().end);
        runs.pop_back();
    }
    runs.push_back(occurrence);
}

// The runs that occurrences cover, whatever their order.
std::vector<TextRun> RunsOf(std::vector<TextRun> occurrences) {
    std::sort(occurrences.begin(), occurrences.end(),
              [](const TextRun& a, const TextRun& b) { return a.end < b.end; });
    std::vector<TextRun> runs;
    for (const TextRun& occurrence : occurrences) {
        AddOccurrence(runs, occurrence);
    }
    return runs;
}

// The exact search over the automaton: each node's mark is the length of the longest keyword
// that the text read up to it ends with, its own keyword's or else its failure's.
class KeywordAutomaton {
public:
    // Builds the automaton over non-empty keywords; endNode[k] receives keyword k's node.
    KeywordAutomaton(const std::vector<std::u16string_view>& keywords,
                     std::vector<std::uint32_t>& endNode)
        : core_(
              std::uint32_t(keywords.size()), [&](std::uint32_t k) { return keywords[k]; },
              [&](std::uint32_t k, std::uint32_t node) { endNode[k] = node; }) {
        for (std::size_t k = 0; k < keywords.size(); ++k) {
            core_.setMark(endNode[k], std::uint32_t(keywords[k].size()));
        }
        core_.inheritMarks();
    }

    // The nodes whose keyword, or a keyword ending in it, occurs in the text; and the runs that
    // the occurrences of all keywords cover: at each position the longest keyword ending there
    // covers every shorter one.
    std::vector<std::uint8_t> scan(std::u16string_view text, std::vector<TextRun>& runs) const {
        std::vector<std::uint8_t> reached(core_.size(), 0);
        std::uint32_t state = AhoCorasickCore::kRoot;
        for (std::size_t i = 0; i < text.size(); ++i) {
            state = core_.advance(state, text[i]);
            reached[state] = 1;
            if (const std::uint32_t length = core_.mark(state)) {
                AddOccurrence(runs, {qsizetype(i + 1 - length), qsizetype(i + 1)});
            }
        }
        // Reaching a node means its failure chain was matched too; deepest nodes first.
        for (std::uint32_t node = core_.size() - 1; node > 0; --node) {
            if (reached[node]) {
                reached[core_.failure(node)] = 1;
            }
        }
        return reached;
    }

private:
    AhoCorasickCore core_;
};

KeywordHits MatchWithAutomaton(QStringView message, const std::vector<FieldValue>& keywords) {
    const CodeUnitSet present(View(message));

    // Only keywords made of code units the message has can occur in it. They are copied side
    // by side, so that building the trie reads one block of memory instead of a string per row.
    std::vector<std::size_t> rowOf;
    std::vector<std::size_t> startOf;
    std::u16string pool;
    for (std::size_t row = 0; row < keywords.size(); ++row) {
        const FieldValue& keyword = keywords[row];
        if (keyword && !keyword->isEmpty() && keyword->size() <= message.size() &&
            present.containsAll(View(*keyword))) {
            rowOf.push_back(row);
            startOf.push_back(pool.size());
            pool += View(*keyword);
        }
    }
    startOf.push_back(pool.size());
    std::vector<std::u16string_view> candidates;
    candidates.reserve(rowOf.size());
    for (std::size_t k = 0; k < rowOf.size(); ++k) {
        candidates.emplace_back(pool.data() + startOf[k], startOf[k + 1] - startOf[k]);
    }
    std::vector<std::uint32_t> endNode(candidates.size());
    const KeywordAutomaton automaton(candidates, endNode);
    KeywordHits hits;
    const std::vector<std::uint8_t> reached = automaton.scan(View(message), hits.runs);

    std::vector<std::uint8_t> found(keywords.size(), 0);
    for (std::size_t k = 0; k < rowOf.size(); ++k) {
        found[rowOf[k]] = reached[endNode[k]];
    }
    for (std::size_t row = 0; row < keywords.size(); ++row) {
        if (found[row] || (keywords[row] && keywords[row]->isEmpty())) {
            hits.rows.push_back(row);
        }
    }
    return hits;
}

std::size_t UnitsOf(const std::vector<FieldValue>& keywords) {
    std::size_t units = 0;
    for (const FieldValue& keyword : keywords) {
        units += keyword ? std::size_t(keyword->size()) : 0;
    }
    return units;
}

}  // namespace

KeywordIndex::KeywordIndex(const std::vector<FieldValue>& keywords)
    : table_(keywords.size(), UnitsOf(keywords), TextOfRow{&keywords}) {
    for (std::size_t row = keywords.size(); row-- > 0;) {
        if (!keywords[row]) {
            continue;
        }
        if (keywords[row]->isEmpty()) {
            emptyRows_.push_back(row);
        } else {
            table_.add(std::uint32_t(row));
        }
    }
    std::reverse(emptyRows_.begin(), emptyRows_.end());
}

KeywordHits KeywordIndex::match(QStringView message) const {
    KeywordHits hits;
    if (message.isEmpty()) {
        return hits;
    }
    const std::u16string_view text = View(message);
    std::vector<TextRun> occurrences;
    for (std::size_t start = 0; start < text.size(); ++start) {
        table_.forEachAtStart(text.substr(start), 1, [&](std::uint32_t row, std::size_t length) {
            const TextRun occurrence{qsizetype(start), qsizetype(start + length)};
            if (occurrences.empty() || occurrences.back() != occurrence) {
                occurrences.push_back(occurrence);
            }
            hits.rows.push_back(row);
        });
    }
    hits.rows.insert(hits.rows.end(), emptyRows_.begin(), emptyRows_.end());
    std::sort(hits.rows.begin(), hits.rows.end());
    hits.rows.erase(std::unique(hits.rows.begin(), hits.rows.end()), hits.rows.end());
    hits.runs = RunsOf(std::move(occurrences));
    return hits;
}

KeywordHits MatchKeywords(QStringView message, const std::vector<FieldValue>& keywords) {
    if (message.isEmpty()) {
        return {};
    }
    return MatchWithAutomaton(message, keywords);
}

}  // namespace vorelta
