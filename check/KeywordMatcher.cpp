#include "check/KeywordMatcher.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string_view>

#include "check/UnitSort.h"

namespace vorelta {

namespace {

std::u16string_view View(QStringView text) {
    return {text.utf16(), std::size_t(text.size())};
}

// Which UTF-16 code units occur in a text: one bit for each of the 65536.
class CodeUnitSet {
public:
    explicit CodeUnitSet(QStringView text) : bits_(65536 / 64) {
        for (const char16_t c : View(text)) {
            bits_[c >> 6] |= std::uint64_t(1) << (c & 63);
        }
    }

    bool contains(char16_t c) const { return (bits_[c >> 6] >> (c & 63)) & 1; }

    bool containsAll(std::u16string_view text) const {
        for (const char16_t c : text) {
            if (!contains(c)) {
                return false;
            }
        }
        return true;
    }

private:
    std::vector<std::uint64_t> bits_;
};

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

// Every occurrence of the hit keywords: few, in a short message.
std::vector<TextRun> RunsOf(std::u16string_view text,
                            const std::vector<std::u16string_view>& found) {
    std::vector<TextRun> occurrences;
    for (const std::u16string_view keyword : found) {
        for (std::size_t at = text.find(keyword); at != std::u16string_view::npos;
             at = text.find(keyword, at + 1)) {
            occurrences.push_back({qsizetype(at), qsizetype(at + keyword.size())});
        }
    }
    return RunsOf(std::move(occurrences));
}

KeywordHits MatchKeywordByKeyword(QStringView message, const std::vector<FieldValue>& keywords) {
    const CodeUnitSet present(message);
    const std::u16string_view text = View(message);
    KeywordHits hits;
    std::vector<std::u16string_view> found;
    for (std::size_t row = 0; row < keywords.size(); ++row) {
        const FieldValue& keyword = keywords[row];
        if (!keyword) {
            continue;
        }
        const std::u16string_view needle = View(*keyword);
        if (needle.empty()) {
            hits.rows.push_back(row);
        } else if (needle.size() <= text.size() && present.contains(needle.front()) &&
                   text.find(needle) != std::u16string_view::npos) {
            hits.rows.push_back(row);
            found.push_back(needle);
        }
    }
    hits.runs = RunsOf(text, found);
    return hits;
}

constexpr std::uint32_t kNoNode = 0;  // the root is nobody's child

// An Aho-Corasick automaton over UTF-16 code units.
//
// The trie is built level by level, all first code units, then all second ones, and so on, so
// its nodes are numbered breadth first: the children of a node are consecutive nodes sorted by
// code unit, and the shallow nodes, where a scan spends most of its time, sit together at the
// front where they stay in cache.
class KeywordAutomaton {
public:
    // Builds the automaton over non-empty keywords; endNode[k] receives keyword k's node.
    KeywordAutomaton(const std::vector<std::u16string_view>& keywords,
                     std::vector<std::uint32_t>& endNode)
        : rootChild_(65536, kNoNode) {
        buildTrie(keywords, endNode);
        for (std::uint32_t node = firstChild_[0]; node < firstChild_[1]; ++node) {
            rootChild_[unit_[node]] = node;
        }
        linkFailures();
        measureLongestEndings(keywords, endNode);
    }

    // The nodes whose keyword, or a keyword ending in it, occurs in the text; and the runs that
    // the occurrences of all keywords cover: at each position the longest keyword ending there
    // covers every shorter one.
    std::vector<std::uint8_t> scan(std::u16string_view text, std::vector<TextRun>& runs) const {
        std::vector<std::uint8_t> reached(unit_.size(), 0);
        std::uint32_t state = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            state = advance(state, text[i]);
            reached[state] = 1;
            if (const std::uint32_t length = longestEnding_[state]) {
                AddOccurrence(runs, {qsizetype(i + 1 - length), qsizetype(i + 1)});
            }
        }
        // Reaching a node means its failure chain was matched too; deepest nodes first.
        for (std::size_t node = reached.size() - 1; node > 0; --node) {
            if (reached[node]) {
                reached[failure_[node]] = 1;
            }
        }
        return reached;
    }

private:
    void buildTrie(const std::vector<std::u16string_view>& keywords,
                   std::vector<std::uint32_t>& endNode) {
        parent_.assign(1, 0);
        unit_.assign(1, 0);
        BuildTrieByLevels(
            std::uint32_t(keywords.size()), [&](std::uint32_t k) { return keywords[k]; },
            [&](std::uint32_t parent, char16_t unit, std::uint32_t) {
                parent_.push_back(parent);
                unit_.push_back(unit);
            },
            [&](std::uint32_t k, std::uint32_t node) { endNode[k] = node; });
        // Children follow their parents in parent order, so counting them places them all.
        firstChild_.assign(unit_.size() + 1, 0);
        for (std::size_t node = 1; node < parent_.size(); ++node) {
            ++firstChild_[parent_[node] + 1];
        }
        firstChild_[0] = 1;
        for (std::size_t node = 1; node < firstChild_.size(); ++node) {
            firstChild_[node] += firstChild_[node - 1];
        }
    }

    void linkFailures() {
        failure_.assign(unit_.size(), 0);
        for (std::size_t node = 1; node < unit_.size(); ++node) {
            if (parent_[node] != 0) {
                failure_[node] = advance(failure_[parent_[node]], unit_[node]);
            }
        }
    }

    // For each node, the length of the longest keyword that the text read up to it ends with:
    // its own keyword, or else the longest one at its failure, which lies nearer the root and so
    // has the lower number.
    void measureLongestEndings(const std::vector<std::u16string_view>& keywords,
                               const std::vector<std::uint32_t>& endNode) {
        longestEnding_.assign(unit_.size(), 0);
        for (std::size_t k = 0; k < keywords.size(); ++k) {
            longestEnding_[endNode[k]] = std::uint32_t(keywords[k].size());
        }
        for (std::size_t node = 1; node < unit_.size(); ++node) {
            if (longestEnding_[node] == 0) {
                longestEnding_[node] = longestEnding_[failure_[node]];
            }
        }
    }

    std::uint32_t child(std::uint32_t node, char16_t c) const {
        if (node == 0) {
            return rootChild_[c];
        }
        const std::uint32_t begin = firstChild_[node];
        std::uint32_t count = firstChild_[node + 1] - begin;
        if (count == 0) {
            return kNoNode;
        }
        // Branch-free binary search for the last child whose unit is at most c: the outcome of
        // each comparison is unpredictable, so a jump would cost more than the comparison.
        const char16_t* base = unit_.data() + begin;
        while (count > 1) {
            const std::uint32_t half = count / 2;
            base = base[half] <= c ? base + half : base;
            count -= half;
        }
        return *base == c ? std::uint32_t(base - unit_.data()) : kNoNode;
    }

    // The longest keyword prefix that the text read so far, plus c, ends with.
    std::uint32_t advance(std::uint32_t state, char16_t c) const {
        for (;;) {
            const std::uint32_t next = child(state, c);
            if (next != kNoNode || state == 0) {
                return next;
            }
            state = failure_[state];
        }
    }

    std::vector<std::uint32_t> firstChild_;  // a node's children start here; one entry more
    std::vector<std::uint32_t> parent_;
    std::vector<char16_t> unit_;            // the code unit on the edge into each node
    std::vector<std::uint32_t> rootChild_;  // the root's children by code unit
    std::vector<std::uint32_t> failure_;
    std::vector<std::uint32_t> longestEnding_;
};

KeywordHits MatchWithAutomaton(QStringView message, const std::vector<FieldValue>& keywords) {
    const CodeUnitSet present(message);

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

KeywordHits MatchKeywords(QStringView message, const std::vector<FieldValue>& keywords,
                          MatcherKind kind) {
    if (message.isEmpty()) {
        return {};
    }
    if (kind == MatcherKind::ByLength) {
        kind = message.size() <= kShortMessageLimit ? MatcherKind::KeywordByKeyword
                                                    : MatcherKind::Automaton;
    }
    return kind == MatcherKind::KeywordByKeyword ? MatchKeywordByKeyword(message, keywords)
                                                 : MatchWithAutomaton(message, keywords);
}

}  // namespace vorelta
