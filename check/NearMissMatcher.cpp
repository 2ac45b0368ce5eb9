#include "check/NearMissMatcher.h"

#include <QChar>
#include <algorithm>
#include <bit>

#include "check/TextFolding.h"
#include "check/UnitSort.h"

namespace vorelta {

namespace {

// At most this many code points may stand between two consecutive code points of a keyword.
constexpr std::int32_t kMostSeparators = 3;

void AppendUtf16(char32_t c, std::u16string& text) {
    if (QChar::requiresSurrogates(c)) {
        text += QChar::highSurrogate(c);
        text += QChar::lowSurrogate(c);
    } else {
        text += char16_t(c);
    }
}

// The code points of the message that stand wholly between those of two of its folded units.
std::int32_t PointsBetween(const FoldedText& text, std::size_t first, std::size_t second) {
    return text.sourceOf[second] - text.sourceOf[first] - 1;
}

// Whether the rest of a folded keyword can be met after its first code point, met at `unit`:
// each next code point of it among the next units, past separators only and not too many of
// them. A letter or digit of the message is never passed over.
bool MeetsRest(const FoldedText& text, std::size_t unit, std::u32string_view keyword) {
    if (keyword.size() == 1) {
        return true;
    }
    for (std::size_t next = unit + 1;
         next < text.units.size() && PointsBetween(text, unit, next) <= kMostSeparators; ++next) {
        if (text.units[next] == keyword[1] && MeetsRest(text, next, keyword.substr(1))) {
            return true;
        }
        if (!IsSeparator(text.units[next])) {
            return false;
        }
    }
    return false;
}

}  // namespace

// The folded keywords side by side. What is searched for is a keyword's letters: its folded code
// points that are no separators, from its first letter or digit to its last. Where separators
// stand between them, the whole folded stretch is kept too, for checking a find against.
class FoldedKeywords {
public:
    explicit FoldedKeywords(const std::vector<FieldValue>& keywords) {
        letterStart_.reserve(keywords.size() + 1);
        const FoldingTable& table = FoldingTable::Get();
        std::u32string folded;
        for (std::size_t row = 0; row < keywords.size(); ++row) {
            letterStart_.push_back(std::uint32_t(letters_.size()));
            const FieldValue& keyword = keywords[row];
            if (!keyword) {
                continue;
            }
            // Most keywords are their own letters already.
            if (std::all_of(keyword->begin(), keyword->end(),
                            [&table](QChar c) { return table.simpleForm(c.unicode()) == c; })) {
                letters_.append(QStringView(*keyword).utf16(), std::size_t(keyword->size()));
            } else {
                folded.clear();
                AppendFolded(*keyword, folded);
                add(row, folded);
            }
        }
        letterStart_.push_back(std::uint32_t(letters_.size()));
        letters_.shrink_to_fit();
    }

    std::size_t size() const { return letterStart_.size() - 1; }

    // Empty: the row never has a near-miss.
    std::u16string_view letters(std::size_t row) const {
        return {letters_.data() + letterStart_[row], letterStart_[row + 1] - letterStart_[row]};
    }

    // Empty when no separator stands between the letters.
    std::u32string_view pattern(std::size_t row) const {
        const auto found = std::lower_bound(
            patterns_.begin(), patterns_.end(), row,
            [](const Pattern& pattern, std::size_t row) { return pattern.row < row; });
        if (found == patterns_.end() || found->row != row) {
            return {};
        }
        return std::u32string_view(patternUnits_).substr(found->start, found->length);
    }

private:
    void add(std::size_t row, std::u32string_view folded) {
        const FoldingTable& table = FoldingTable::Get();
        const auto separator = [&table](char32_t c) { return table.isSeparator(c); };
        const auto first = std::find_if_not(folded.begin(), folded.end(), separator);
        const auto last = std::find_if_not(folded.rbegin(), folded.rend(), separator).base();
        bool separated = false;
        for (auto unit = first; unit < last; ++unit) {
            if (separator(*unit)) {
                separated = true;
            } else {
                AppendUtf16(*unit, letters_);
            }
        }
        if (separated) {
            patterns_.push_back({std::uint32_t(row), std::uint32_t(patternUnits_.size()),
                                 std::uint32_t(last - first)});
            patternUnits_.append(first, last);
        }
    }

    // Few keywords have separators inside, so theirs are kept by row.
    struct Pattern {
        std::uint32_t row;
        std::uint32_t start;
        std::uint32_t length;
    };

    std::u16string letters_;
    std::vector<std::uint32_t> letterStart_;  // per row, and one more
    std::vector<Pattern> patterns_;           // in row order
    std::u32string patternUnits_;
};

namespace {

// A message folded for the search: its letters, the folded code points that are no separators,
// in UTF-16, and for each code unit of them where the code point it came from was written. The
// whole folded text, separators and all, is made only for a keyword with separators inside.
class FoldedMessage {
public:
    explicit FoldedMessage(QStringView message) : message_(message) {
        const FoldingTable& table = FoldingTable::Get();
        // Room for every code unit: enough unless some code point folds to more than itself.
        letters_.resize(std::size_t(message.size()));
        starts_.resize(std::size_t(message.size()));
        Position next;
        while (next.at < message.size()) {
            const char16_t simple = table.simpleForm(message[next.at].unicode());
            if (simple == FoldingTable::kLookUp) {
                foldLookingUp(table, next);
                continue;
            }
            // Most code units; whether one is kept or dropped is told without a jump, as a
            // separator now and then would make the jump hard to foresee.
            const bool kept = simple != FoldingTable::kDropped;
            if (kept & (next.point - next.lastLetterPoint - 1 > kMostSeparators)) {
                wideGapBefore_.push_back(next.count);
            }
            next.lastLetterPoint = kept ? next.point : next.lastLetterPoint;
            letters_[next.count] = simple;
            starts_[next.count] = std::int32_t(next.at);
            next.count += kept;
            ++next.at;
            ++next.point;
        }
        letters_.resize(next.count);
        starts_.resize(next.count);
    }

    std::u16string_view letters() const { return letters_; }

    // Where letters [start, end) were written.
    TextRun written(std::size_t start, std::size_t end) const {
        const qsizetype last = starts_[end - 1];
        return {starts_[start],
                last + (QChar::requiresSurrogates(CodePointAt(message_, last)) ? 2 : 1)};
    }

    // Whether more separators than may be passed stand somewhere between letters [start, end).
    bool wideGapWithin(std::size_t start, std::size_t end) const {
        const auto gap = std::upper_bound(wideGapBefore_.begin(), wideGapBefore_.end(), start);
        return gap != wideGapBefore_.end() && *gap < end;
    }

    // Whether a folded keyword, from its first letter to its last, can be met from letter `start`
    // on, separators and all.
    bool meets(std::size_t start, std::u32string_view keyword) {
        if (unitOf_.empty()) {
            text_ = FoldText(message_);
            for (std::size_t unit = 0; unit < text_.units.size(); ++unit) {
                if (!IsSeparator(text_.units[unit])) {
                    unitOf_.resize(
                        unitOf_.size() + (QChar::requiresSurrogates(text_.units[unit]) ? 2 : 1),
                        unit);
                }
            }
        }
        return MeetsRest(text_, unitOf_[start], keyword);
    }

private:
    struct Position {
        qsizetype at = 0;        // in the message
        std::int32_t point = 0;  // the code point there
        std::size_t count = 0;   // letter code units so far
        std::int32_t lastLetterPoint = -1;
    };

    // A code point whose form takes reading the whole table.
    void foldLookingUp(const FoldingTable& table, Position& next) {
        const char32_t c = CodePointAt(message_, next.at);
        const std::u32string_view form = table.changedForm(c);
        const qsizetype length = QChar::requiresSurrogates(c) ? 2 : 1;
        // A form longer than its code point takes room from the code units after it.
        std::size_t formUnits = form.empty() ? std::size_t(length) : 0;
        for (const char32_t folded : form) {
            formUnits += QChar::requiresSurrogates(folded) ? 2 : 1;
        }
        const std::size_t room =
            next.count + formUnits + std::size_t(message_.size() - next.at - length);
        if (room > letters_.size()) {
            letters_.resize(2 * room);
            starts_.resize(2 * room);
        }
        for (const char32_t folded : form.empty() ? std::u32string_view(&c, 1) : form) {
            if (!table.isSeparator(folded)) {
                addLetter(folded, next);
            }
        }
        next.at += length;
        ++next.point;
    }

    void addLetter(char32_t letter, Position& next) {
        if (next.point - next.lastLetterPoint - 1 > kMostSeparators) {
            wideGapBefore_.push_back(next.count);
        }
        next.lastLetterPoint = next.point;
        if (QChar::requiresSurrogates(letter)) {
            letters_[next.count] = QChar::highSurrogate(letter);
            starts_[next.count++] = std::int32_t(next.at);
            letter = QChar::lowSurrogate(letter);
        }
        letters_[next.count] = char16_t(letter);
        starts_[next.count++] = std::int32_t(next.at);
    }

    static char32_t CodePointAt(QStringView text, qsizetype at) {
        const char16_t unit = text[at].unicode();
        if (QChar::isHighSurrogate(unit) && at + 1 < text.size() && text[at + 1].isLowSurrogate()) {
            return QChar::surrogateToUcs4(unit, text[at + 1].unicode());
        }
        return unit;
    }

    QStringView message_;
    std::u16string letters_;
    std::vector<std::int32_t> starts_;  // for each code unit of the letters: where it was written
    // The letters before which too many separators stand (the first too, harmlessly).
    std::vector<std::size_t> wideGapBefore_;
    FoldedText text_;
    std::vector<std::size_t> unitOf_;  // for each code unit of the letters: its unit in text_
};

// Gathers the finds of the letters of the keywords, checks each against the rules of a
// near-miss, and keeps the first of each row and the runs of them all.
class NearMissCollector {
public:
    NearMissCollector(FoldedMessage& message, const std::vector<bool>& exactHit,
                      std::size_t rowCount)
        : message_(message), exactHit_(exactHit), listed_(rowCount, false) {}

    bool skipped(std::size_t row) const { return row < exactHit_.size() && exactHit_[row]; }

    // The row's letters occur at [start, end) of the message's letters. A row's finds come in
    // text order, so its first near-miss is the first that passes.
    void offer(std::size_t row, std::size_t start, std::size_t end, std::u32string_view pattern) {
        if (skipped(row) || (pattern.empty() ? message_.wideGapWithin(start, end)
                                             : !message_.meets(start, pattern))) {
            return;
        }
        const TextRun written = message_.written(start, end);
        if (!listed_[row]) {
            listed_[row] = true;
            firsts_.push_back({row, written});
        }
        addRun(written);
    }

    NearMisses result() {
        std::sort(firsts_.begin(), firsts_.end(),
                  [](const NearMiss& a, const NearMiss& b) { return a.row < b.row; });
        if (!outOfOrder_.empty()) {
            outOfOrder_.insert(outOfOrder_.end(), runs_.begin(), runs_.end());
            std::sort(outOfOrder_.begin(), outOfOrder_.end(),
                      [](const TextRun& a, const TextRun& b) { return a.end < b.end; });
            runs_.clear();
            for (const TextRun& run : outOfOrder_) {
                addRun(run);
            }
        }
        return {std::move(firsts_), std::move(runs_)};
    }

private:
    // Runs that come in the order of their ends, as the automaton finds them, are merged at
    // once; the others are sorted in at the end.
    void addRun(TextRun run) {
        if (!runs_.empty() && run.end < runs_.back().end) {
            outOfOrder_.push_back(run);
            return;
        }
        while (!runs_.empty() && run.start <= runs_.back().end) {
            run.start = std::min(run.start, runs_.back().start);
            runs_.pop_back();
        }
        runs_.push_back(run);
    }

    FoldedMessage& message_;
    const std::vector<bool>& exactHit_;
    std::vector<bool> listed_;
    std::vector<NearMiss> firsts_;
    std::vector<TextRun> runs_;
    std::vector<TextRun> outOfOrder_;
};

constexpr std::uint32_t kNone = 0xFFFFFFFF;

}  // namespace

// An Aho-Corasick automaton over the letters of some of the folded keywords, in UTF-16 code
// units. Built level by level, so that its nodes are numbered breadth first and the children of
// a node are consecutive nodes sorted by code unit. What a scan reads of a node lies together.
class FoldedKeywordAutomaton {
public:
    FoldedKeywordAutomaton(const FoldedKeywords& keywords, std::vector<std::uint32_t> rows)
        : keywords_(keywords), rows_(std::move(rows)), rootChild_(65536, 0), hasRootChild_(65536) {
        buildTrie();
        for (std::uint32_t node = 1; node <= nodes_[0].childCount; ++node) {
            rootChild_[unit_[node]] = node;
            hasRootChild_[unit_[node]] = true;
        }
        linkFailures();
    }

    void scan(const FoldedMessage& message, NearMissCollector& collector) const {
        const std::u16string_view letters = message.letters();
        std::uint32_t state = 0;
        for (std::size_t i = 0; i < letters.size(); ++i) {
            state = advance(state, letters[i]);
            for (std::uint32_t node = nodes_[state].reportFrom; node != 0;
                 node = nodes_[nodes_[node].failure].reportFrom) {
                const Ending& ending = endings_[node];
                const std::size_t start = i + 1 - ending.depth;
                collector.offer(ending.row, start, i + 1, patternOf(ending.row, ending.patterned));
                for (std::uint32_t k = ending.moreRows; k != kNone; k = moreRows_[k].next) {
                    const MoreRow& more = moreRows_[k];
                    collector.offer(more.row, start, i + 1, patternOf(more.row, more.patterned));
                }
            }
        }
    }

private:
    // What a scan reads of every node it passes, kept small and together.
    struct Node {
        std::uint32_t firstChild = 0;  // its children are the next childCount nodes from here
        std::uint32_t childCount = 0;
        std::uint32_t failure = 0;
        // The node itself where some keyword ends there, else the nearest such node on its
        // failure chain; 0 for none.
        std::uint32_t reportFrom = 0;
    };
    // The rows whose letters end at a node.
    struct Ending {
        std::uint32_t row = kNone;  // the first of them
        std::uint32_t depth : 31 = 0;
        std::uint32_t patterned : 1 = 0;  // that row has separators between its letters
        std::uint32_t moreRows = kNone;   // the others, in moreRows_
    };
    struct MoreRow {
        std::uint32_t row;
        std::uint32_t next;
        bool patterned;
    };

    std::u32string_view patternOf(std::uint32_t row, bool patterned) const {
        return patterned ? keywords_.pattern(row) : std::u32string_view();
    }

    std::u16string_view lettersOf(std::uint32_t k) const { return keywords_.letters(rows_[k]); }

    void addEnding(Ending& node, std::uint32_t row) {
        const bool patterned = !keywords_.pattern(row).empty();
        if (node.row == kNone) {
            node.row = row;
            node.patterned = patterned;
        } else {
            moreRows_.push_back({row, node.moreRows, patterned});
            node.moreRows = std::uint32_t(moreRows_.size() - 1);
        }
    }

    void buildTrie() {
        std::vector<std::uint32_t> parent(1, 0);
        unit_.assign(1, 0);
        nodes_.assign(1, Node());
        endings_.assign(1, Ending());
        std::vector<std::uint32_t> at(rows_.size(), 0);  // each keyword's node so far
        std::vector<std::uint32_t> active(rows_.size());
        for (std::uint32_t k = 0; k < active.size(); ++k) {
            active[k] = k;
        }
        std::vector<std::uint32_t> next;
        std::vector<std::uint64_t> keys;
        std::vector<std::uint64_t> scratch;
        // `active` holds the keywords longer than `depth`, grouped by their node, in node order.
        for (std::uint32_t depth = 0; !active.empty(); ++depth) {
            keys.resize(active.size());
            for (std::size_t i = 0; i < active.size(); ++i) {
                keys[i] = std::uint64_t(lettersOf(active[i])[depth]) << 32 | active[i];
            }
            next.clear();
            for (std::size_t groupStart = 0; groupStart < active.size();) {
                const std::uint32_t node = at[active[groupStart]];
                std::size_t groupEnd = groupStart + 1;
                while (groupEnd < active.size() && at[active[groupEnd]] == node) {
                    ++groupEnd;
                }
                SortByUnit(keys.data() + groupStart, keys.data() + groupEnd, scratch);
                for (std::size_t i = groupStart; i < groupEnd; ++i) {
                    const auto k = std::uint32_t(keys[i]);
                    const auto unit = char16_t(keys[i] >> 32);
                    if (i == groupStart || unit != char16_t(keys[i - 1] >> 32)) {
                        parent.push_back(node);
                        unit_.push_back(unit);
                        nodes_.push_back({});
                        endings_.push_back({.depth = depth + 1});
                    }
                    at[k] = std::uint32_t(unit_.size() - 1);
                    if (lettersOf(k).size() == depth + 1) {
                        addEnding(endings_[at[k]], rows_[k]);
                    } else {
                        next.push_back(k);
                    }
                }
                groupStart = groupEnd;
            }
            active.swap(next);
        }
        // Children follow their parents in parent order, so counting them places them all.
        for (std::size_t node = 1; node < parent.size(); ++node) {
            ++nodes_[parent[node]].childCount;
        }
        std::uint32_t first = 1;
        for (Node& node : nodes_) {
            node.firstChild = first;
            first += node.childCount;
        }
        parent_ = std::move(parent);
    }

    // Failures point nearer the root, to lower numbers, so one pass in number order sets them.
    void linkFailures() {
        for (std::uint32_t node = 1; node < nodes_.size(); ++node) {
            if (parent_[node] != 0) {
                nodes_[node].failure = advance(nodes_[parent_[node]].failure, unit_[node]);
            }
            nodes_[node].reportFrom =
                endings_[node].row != kNone ? node : nodes_[nodes_[node].failure].reportFrom;
        }
        parent_ = {};
    }

    std::uint32_t child(std::uint32_t node, char16_t c) const {
        if (node == 0) {
            // Most code units start no keyword: a bit tells so without the larger table.
            return hasRootChild_[c] ? rootChild_[c] : 0;
        }
        std::uint32_t count = nodes_[node].childCount;
        if (count == 0) {
            return 0;
        }
        // Branch-free binary search for the last child whose unit is at most c: the outcome of
        // each comparison is unpredictable, so a jump would cost more than the comparison.
        const char16_t* base = unit_.data() + nodes_[node].firstChild;
        while (count > 1) {
            const std::uint32_t half = count / 2;
            base = base[half] <= c ? base + half : base;
            count -= half;
        }
        return *base == c ? std::uint32_t(base - unit_.data()) : 0;
    }

    std::uint32_t advance(std::uint32_t state, char16_t c) const {
        for (;;) {
            const std::uint32_t next = child(state, c);
            if (next != 0 || state == 0) {
                return next;
            }
            state = nodes_[state].failure;
        }
    }

    const FoldedKeywords& keywords_;
    std::vector<std::uint32_t> rows_;  // by keyword number, while building only
    std::vector<Node> nodes_;
    std::vector<Ending> endings_;  // by node
    std::vector<MoreRow> moreRows_;
    std::vector<char16_t> unit_;            // the code unit on the edge into each node
    std::vector<std::uint32_t> rootChild_;  // the root's children by code unit
    std::vector<bool> hasRootChild_;
    std::vector<std::uint32_t> parent_;  // while building only
};

namespace {

// Which UTF-16 code units occur in a text: one bit for each of the 65536.
class CodeUnitSet {
public:
    explicit CodeUnitSet(std::u16string_view text) : bits_(65536 / 64) {
        for (const char16_t c : text) {
            bits_[c >> 6] |= std::uint64_t(1) << (c & 63);
        }
    }

    bool containsAll(std::u16string_view text) const {
        return std::all_of(text.begin(), text.end(),
                           [this](char16_t c) { return (bits_[c >> 6] >> (c & 63)) & 1; });
    }

private:
    std::vector<std::uint64_t> bits_;
};

void FindKeywordByKeyword(const FoldedMessage& message, const FoldedKeywords& keywords,
                          NearMissCollector& collector) {
    const std::u16string_view text = message.letters();
    for (std::size_t row = 0; row < keywords.size(); ++row) {
        const std::u16string_view letters = keywords.letters(row);
        if (letters.empty() || collector.skipped(row)) {
            continue;
        }
        for (std::size_t at = text.find(letters); at != std::u16string_view::npos;
             at = text.find(letters, at + 1)) {
            collector.offer(row, at, at + letters.size(), keywords.pattern(row));
        }
    }
}

// Only keywords made of code units that the message's letters have can occur in them.
void FindWithAutomaton(const FoldedMessage& message, const FoldedKeywords& keywords,
                       NearMissCollector& collector) {
    const CodeUnitSet present(message.letters());
    std::vector<std::uint32_t> rows;
    for (std::size_t row = 0; row < keywords.size(); ++row) {
        const std::u16string_view letters = keywords.letters(row);
        if (!letters.empty() && !collector.skipped(row) &&
            letters.size() <= message.letters().size() && present.containsAll(letters)) {
            rows.push_back(std::uint32_t(row));
        }
    }
    FoldedKeywordAutomaton(keywords, std::move(rows)).scan(message, collector);
}

// A hash of a text grown one code unit at a time, so that every stretch of the letters starting
// at one place is hashed in one pass.
constexpr std::uint64_t kHashSeed = 0x9E3779B97F4A7C15ull;
inline std::uint64_t Extend(std::uint64_t hash, char16_t unit) {
    return (hash ^ unit) * 0x100000001B3ull;
}

std::uint64_t HashOf(std::u16string_view text) {
    std::uint64_t hash = kHashSeed;
    for (const char16_t c : text) {
        hash = Extend(hash, c);
    }
    return hash;
}

}  // namespace

NearMisses FindNearMisses(QStringView message, const std::vector<FieldValue>& keywords,
                          const std::vector<bool>& exactHit, MatcherKind kind) {
    if (message.isEmpty()) {
        return {};
    }
    if (kind == MatcherKind::ByLength) {
        kind = message.size() <= kShortMessageLimit ? MatcherKind::KeywordByKeyword
                                                    : MatcherKind::Automaton;
    }
    const FoldedKeywords folded(keywords);
    FoldedMessage foldedMessage(message);
    NearMissCollector collector(foldedMessage, exactHit, keywords.size());
    if (kind == MatcherKind::KeywordByKeyword) {
        FindKeywordByKeyword(foldedMessage, folded, collector);
    } else {
        FindWithAutomaton(foldedMessage, folded, collector);
    }
    return collector.result();
}

QString NearMissLine(QStringView message, const NearMiss& nearMiss, const QString& keyword) {
    const TextRun& written = nearMiss.written;
    return message.sliced(written.start, written.end - written.start).toString() +
           QStringLiteral(u" ≈ ") + keyword;
}

NearMissIndex::NearMissIndex(const std::vector<FieldValue>& keywords)
    : keywords_(std::make_unique<FoldedKeywords>(keywords)),
      nextSameLetters_(keywords.size(), kNone) {
    slots_.resize(std::bit_ceil(2 * keywords.size() + 16));
    const std::size_t mask = slots_.size() - 1;
    // From the last row to the first, so that each chain runs in row order.
    for (std::size_t row = keywords.size(); row-- > 0;) {
        const std::u16string_view letters = keywords_->letters(row);
        if (letters.empty()) {
            continue;
        }
        longest_ = std::max(longest_, letters.size());
        const std::uint64_t hash = HashOf(letters);
        std::size_t at = hash & mask;
        while (slots_[at].firstRow != kNone &&
               (slots_[at].hash != std::uint32_t(hash >> 32) ||
                keywords_->letters(slots_[at].firstRow) != letters)) {
            at = (at + 1) & mask;
        }
        nextSameLetters_[row] = slots_[at].firstRow;
        slots_[at] = {std::uint32_t(hash >> 32), std::uint32_t(row)};
    }
}

NearMissIndex::~NearMissIndex() = default;

std::uint32_t NearMissIndex::find(std::uint64_t hash, std::u16string_view letters) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = hash & mask; slots_[at].firstRow != kNone; at = (at + 1) & mask) {
        if (slots_[at].hash == std::uint32_t(hash >> 32) &&
            keywords_->letters(slots_[at].firstRow) == letters) {
            return slots_[at].firstRow;
        }
    }
    return kNone;
}

NearMisses NearMissIndex::find(QStringView message, const std::vector<bool>& exactHit) {
    if (message.isEmpty()) {
        return {};
    }
    FoldedMessage folded(message);
    NearMissCollector collector(folded, exactHit, keywords_->size());
    if (message.size() > kShortMessageLimit) {
        if (!automaton_) {
            std::vector<std::uint32_t> rows;
            for (std::size_t row = 0; row < keywords_->size(); ++row) {
                if (!keywords_->letters(row).empty()) {
                    rows.push_back(std::uint32_t(row));
                }
            }
            automaton_ = std::make_unique<FoldedKeywordAutomaton>(*keywords_, std::move(rows));
        }
        automaton_->scan(folded, collector);
        return collector.result();
    }
    const std::u16string_view text = folded.letters();
    for (std::size_t start = 0; start < text.size(); ++start) {
        std::uint64_t hash = kHashSeed;
        const std::size_t longest = std::min(longest_, text.size() - start);
        for (std::size_t length = 1; length <= longest; ++length) {
            hash = Extend(hash, text[start + length - 1]);
            for (std::uint32_t row = find(hash, text.substr(start, length)); row != kNone;
                 row = nextSameLetters_[row]) {
                collector.offer(row, start, start + length, keywords_->pattern(row));
            }
        }
    }
    return collector.result();
}

}  // namespace vorelta
