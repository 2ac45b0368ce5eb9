#include "check/NearMissMatcher.h"

#include <QChar>
#include <algorithm>
#include <memory>
#include <unordered_map>

#include "check/AhoCorasick.h"
#include "check/TextFolding.h"

namespace vorelta {

namespace {

// At most this many code points may stand between two consecutive letters of a near-miss.
constexpr std::int32_t kMostSeparators = 3;
// Keywords of fewer letters are not near-missed: one letter alone is met everywhere.
constexpr std::size_t kFewestLetters = 2;
// Keywords of this many letters or more are met across a break as well.
constexpr std::size_t kBridgingLetters = 3;

void AppendUtf16(char32_t c, std::u16string& text) {
    if (QChar::requiresSurrogates(c)) {
        text += QChar::highSurrogate(c);
        text += QChar::lowSurrogate(c);
    } else {
        text += char16_t(c);
    }
}

bool IsLatinOrDigit(char32_t c) {
    return FoldingTable::Get().kind(c) == CodePointKind::LatinOrDigit;
}

}  // namespace

// The folded keywords side by side. What is searched for is a keyword's letters: its folded code
// points that are no separators, wherever they stand in it, so "免-费" and "法 轮 功" are searched
// as "免费" and "法轮功". A keyword of fewer than two letters has none.
class FoldedKeywords {
public:
    enum Flag : std::uint8_t {
        kLatinFirst = 1,  // its first letter is a Latin letter or a digit
        kLatinLast = 2,   // its last one is
        kBridging = 4,    // it has enough letters to be met across a break
        kShared = 8,      // another row has the same letters
        kChanged = 16,    // its letters are not just its text
    };

    explicit FoldedKeywords(const std::vector<FieldValue>& keywords) : flags_(keywords.size(), 0) {
        letterStart_.reserve(keywords.size() + 1);
        const FoldingTable& table = FoldingTable::Get();
        // Most keywords are their own letters already: code units below kDroppedBreak are none.
        const auto ownLetter = [&table](QChar c) {
            return c.unicode() > FoldingTable::kDroppedBreak && table.simpleForm(c.unicode()) == c;
        };
        std::u32string folded;
        for (std::size_t row = 0; row < keywords.size(); ++row) {
            letterStart_.push_back(std::uint32_t(letters_.size()));
            const FieldValue& keyword = keywords[row];
            if (!keyword) {
                continue;
            }
            folded.clear();
            const bool plain = std::all_of(keyword->begin(), keyword->end(), ownLetter);
            if (plain) {
                for (const QChar c : *keyword) {
                    folded += char32_t(c.unicode());
                }
            } else {
                AppendFolded(*keyword, folded);
                std::erase_if(folded, [&table](char32_t c) { return table.isSeparator(c); });
            }
            add(row, folded);
            flags_[row] |= plain ? 0 : kChanged;
        }
        letterStart_.push_back(std::uint32_t(letters_.size()));
        letters_.shrink_to_fit();
    }

    std::size_t size() const { return letterStart_.size() - 1; }
    std::size_t units() const { return letters_.size(); }

    // Empty: the row never has a near-miss.
    std::u16string_view letters(std::size_t row) const {
        return {letters_.data() + letterStart_[row], letterStart_[row + 1] - letterStart_[row]};
    }

    std::uint8_t flags(std::size_t row) const { return flags_[row]; }

    // Marks the rows whose letters another row has too, where the caller has not found them.
    void markShared(std::size_t row) { flags_[row] |= kShared; }

private:
    void add(std::size_t row, std::u32string_view letters) {
        if (letters.size() < kFewestLetters) {
            return;
        }
        for (const char32_t letter : letters) {
            AppendUtf16(letter, letters_);
        }
        flags_[row] = std::uint8_t((IsLatinOrDigit(letters.front()) ? kLatinFirst : 0) |
                                   (IsLatinOrDigit(letters.back()) ? kLatinLast : 0) |
                                   (letters.size() >= kBridgingLetters ? kBridging : 0));
    }

    std::u16string letters_;
    std::vector<std::uint32_t> letterStart_;  // per row, and one more
    std::vector<std::uint8_t> flags_;         // per row
};

// The arrays a folded message fills, kept from one message to the next by whoever checks many,
// so that a short message's search allocates nothing.
struct FoldingBuffers {
    std::u16string letters;
    std::vector<std::int32_t> starts;
    std::vector<std::uint8_t> gaps;
    std::vector<std::size_t> wideGapBefore;
    std::vector<std::size_t> changed;
    std::vector<std::size_t> droppedBefore;
};

namespace {

// What stands between a letter of the message and the letter before it.
enum Gap : std::uint8_t {
    kBridged,      // up to three separators, no break among them: passed by every keyword
    kBreakBefore,  // up to three with a break among them: passed by longer keywords only
    kWide,         // more: passed by none
};

// A message folded for the search: its letters, the folded code points that are no separators,
// in UTF-16, and for each code unit of them where the code point it came from was written and
// what stands before it.
class FoldedMessage {
public:
    FoldedMessage(QStringView message, FoldingBuffers& buffers)
        : message_(message),
          letters_(buffers.letters),
          starts_(buffers.starts),
          gaps_(buffers.gaps),
          wideGapBefore_(buffers.wideGapBefore),
          changed_(buffers.changed),
          droppedBefore_(buffers.droppedBefore) {
        wideGapBefore_.clear();
        changed_.clear();
        droppedBefore_.clear();
        const FoldingTable& table = FoldingTable::Get();
        // Room for every code unit: enough unless some code point folds to more than itself.
        letters_.resize(std::size_t(message.size()));
        starts_.resize(std::size_t(message.size()));
        gaps_.resize(std::size_t(message.size()));
        Position next;
        while (next.at < message.size()) {
            const char16_t simple = table.simpleForm(message[next.at].unicode());
            if (simple == FoldingTable::kLookUp) {
                foldLookingUp(table, next);
                continue;
            }
            // Most code units; whether one is kept or dropped is told without a jump, as a
            // separator now and then would make the jump hard to foresee.
            const bool kept = simple > FoldingTable::kDroppedBreak;
            const Gap gap = gapBefore(next);
            if (kept & (gap == kWide)) {
                wideGapBefore_.push_back(next.count);
            }
            if (kept & (simple != message[next.at].unicode())) {
                changed_.push_back(next.count);
            }
            if (kept & (next.point - next.lastLetterPoint > 1)) {
                droppedBefore_.push_back(next.count);
            }
            next.lastLetterPoint = kept ? next.point : next.lastLetterPoint;
            next.breakSeen = (!kept) & (next.breakSeen | (simple == FoldingTable::kDroppedBreak));
            letters_[next.count] = simple;
            starts_[next.count] = std::int32_t(next.at);
            gaps_[next.count] = gap;
            next.count += kept;
            ++next.at;
            ++next.point;
        }
        letters_.resize(next.count);
        starts_.resize(next.count);
        gaps_.resize(next.count);
    }

    QStringView text() const { return message_; }
    std::u16string_view letters() const { return letters_; }

    // In order, the letters that are not just the code unit written there, and those with some
    // code point dropped before them. A stretch of letters with neither the one in it nor the
    // other after its first is written exactly as its letters: a keyword that is its own letters
    // and is met there occurs there exactly.
    const std::vector<std::size_t>& changed() const { return changed_; }
    const std::vector<std::size_t>& droppedBefore() const { return droppedBefore_; }

    // Where letters [start, end) were written.
    TextRun written(std::size_t start, std::size_t end) const {
        const qsizetype last = starts_[end - 1];
        return {starts_[start], last + CodePointAt(message_, last).size};
    }

    // Whether letters [start, end) make a near-miss of a keyword with these flags: no gap
    // between them too wide for it, and for a keyword of Latin letters or digits no such letter
    // that would carry the word on past either end, past separators but no break.
    bool meets(std::size_t start, std::size_t end, std::uint8_t flags) const {
        const bool bridging = flags & FoldedKeywords::kBridging;
        if (wideGapWithin(start, end) || (!bridging && breakWithin(start, end))) {
            return false;
        }
        // A break ends a word, whatever the keyword's length.
        const auto joined = [&](std::size_t letter) {
            return gaps_[letter] == kBridged && IsLatinOrDigit(letters_[letter - 1]) &&
                   IsLatinOrDigit(letters_[letter]);
        };
        return !((flags & FoldedKeywords::kLatinFirst) && start > 0 && joined(start)) &&
               !((flags & FoldedKeywords::kLatinLast) && end < letters_.size() && joined(end));
    }

private:
    struct Position {
        qsizetype at = 0;        // in the message
        std::int32_t point = 0;  // the code point there
        std::size_t count = 0;   // letter code units so far
        std::int32_t lastLetterPoint = -1;
        bool breakSeen = false;  // since the last letter
    };

    static Gap gapBefore(const Position& next) {
        return next.point - next.lastLetterPoint - 1 > kMostSeparators ? kWide
               : next.breakSeen                                        ? kBreakBefore
                                                                       : kBridged;
    }

    bool wideGapWithin(std::size_t start, std::size_t end) const {
        const auto gap = std::upper_bound(wideGapBefore_.begin(), wideGapBefore_.end(), start);
        return gap != wideGapBefore_.end() && *gap < end;
    }

    // Asked for short keywords only: a few code units.
    bool breakWithin(std::size_t start, std::size_t end) const {
        return std::any_of(gaps_.begin() + std::ptrdiff_t(start) + 1,
                           gaps_.begin() + std::ptrdiff_t(end),
                           [](std::uint8_t gap) { return gap != kBridged; });
    }

    // A code point whose form takes reading the whole table.
    void foldLookingUp(const FoldingTable& table, Position& next) {
        const auto [c, length] = CodePointAt(message_, next.at);
        const std::u32string_view form = table.changedForm(c);
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
            gaps_.resize(2 * room);
        }
        for (const char32_t folded : form.empty() ? std::u32string_view(&c, 1) : form) {
            const CodePointKind kind = table.kind(folded);
            if (kind < CodePointKind::Separator) {
                addLetter(folded, next);
            } else {
                next.breakSeen |= kind == CodePointKind::Break;
            }
        }
        next.at += length;
        ++next.point;
    }

    void addLetter(char32_t letter, Position& next) {
        // Letters folded from one code point stand side by side: no code point between them.
        const Gap gap = gapBefore(next);
        if (gap == kWide) {
            wideGapBefore_.push_back(next.count);
        }
        changed_.push_back(next.count);
        droppedBefore_.push_back(next.count);
        next.lastLetterPoint = next.point;
        next.breakSeen = false;
        if (QChar::requiresSurrogates(letter)) {
            push(QChar::highSurrogate(letter), gap, next);
            push(QChar::lowSurrogate(letter), kBridged, next);
        } else {
            push(char16_t(letter), gap, next);
        }
    }

    void push(char16_t unit, Gap gap, Position& next) {
        letters_[next.count] = unit;
        starts_[next.count] = std::int32_t(next.at);
        gaps_[next.count++] = gap;
    }

    QStringView message_;
    std::u16string& letters_;
    std::vector<std::int32_t>& starts_;  // for each code unit of the letters: where it was written
    std::vector<std::uint8_t>& gaps_;    // for each code unit of the letters: the Gap before it
    // The letters before which too many separators stand (the first too, harmlessly).
    std::vector<std::size_t>& wideGapBefore_;
    std::vector<std::size_t>& changed_;
    std::vector<std::size_t>& droppedBefore_;
};

// Hashes of every stretch of a text, from the hashes of its beginnings: polynomial, modulo the
// prime 2^61 - 1, so that two stretches are compared in constant time however long they are.
class StretchHashes {
public:
    explicit StretchHashes(QStringView text)
        : prefix_(std::size_t(text.size()) + 1, 0), power_(std::size_t(text.size()) + 1, 1) {
        for (std::size_t i = 0; i < std::size_t(text.size()); ++i) {
            prefix_[i + 1] = Add(Multiply(prefix_[i], kBase), text[qsizetype(i)].unicode() + 1u);
            power_[i + 1] = Multiply(power_[i], kBase);
        }
    }

    std::uint64_t of(std::size_t start, std::size_t length) const {
        return Add(prefix_[start + length], kPrime - Multiply(prefix_[start], power_[length]));
    }

    static std::uint64_t Of(QStringView text) { return StretchHashes(text).of(0, text.size()); }

private:
    static constexpr std::uint64_t kPrime = (std::uint64_t(1) << 61) - 1;
    static constexpr std::uint64_t kBase = 0x1F3A5C7E9B;

    static std::uint64_t Add(std::uint64_t a, std::uint64_t b) {
        const std::uint64_t sum = a + b;
        return sum >= kPrime ? sum - kPrime : sum;
    }
    static std::uint64_t Multiply(std::uint64_t a, std::uint64_t b) {
        __extension__ typedef unsigned __int128 Wide;
        const Wide product = Wide(a) * b;
        return Add(std::uint64_t(product & kPrime), std::uint64_t(product >> 61));
    }

    std::vector<std::uint64_t> prefix_;
    std::vector<std::uint64_t> power_;
};

// A row with an exact hit whose keyword has the same letters as others: where the message holds
// it exactly, their near-misses are that hit itself and are not told again. Its letters run
// from code unit `lead` of the keyword for `core` code units.
struct ExactTwin {
    std::size_t length;
    std::size_t lead;
    std::size_t core;
    std::uint64_t hash;
};

ExactTwin TwinOf(const QString& keyword) {
    const FoldingTable& table = FoldingTable::Get();
    qsizetype first = -1;
    qsizetype end = 0;
    ForEachCodePoint(keyword, [&](char32_t c, qsizetype at) {
        const std::u32string_view form = table.changedForm(c);
        const auto letter = [&table](char32_t unit) { return !table.isSeparator(unit); };
        if (form.empty() ? letter(c) : std::any_of(form.begin(), form.end(), letter)) {
            first = first < 0 ? at : first;
            end = at + (QChar::requiresSurrogates(c) ? 2 : 1);
        }
    });
    return {std::size_t(keyword.size()), std::size_t(first), std::size_t(end - first),
            StretchHashes::Of(keyword)};
}

// A set of rows: a sorted list while few are asked about, as for a short message, else one bit
// a row.
class RowSet {
public:
    RowSet(std::size_t rowCount, bool dense) : bits_(dense ? rowCount / 64 + 1 : 0) {}

    bool contains(std::size_t row) const {
        return bits_.empty() ? std::binary_search(few_.begin(), few_.end(), row)
                             : (bits_[row / 64] >> (row % 64)) & 1;
    }

    // Whether the row was new to the set.
    bool insert(std::size_t row) {
        if (bits_.empty()) {
            const auto at = std::lower_bound(few_.begin(), few_.end(), row);
            if (at != few_.end() && *at == row) {
                return false;
            }
            few_.insert(at, row);
            return true;
        }
        const bool added = !contains(row);
        bits_[row / 64] |= std::uint64_t(1) << (row % 64);
        return added;
    }

private:
    std::vector<std::uint64_t> bits_;
    std::vector<std::size_t> few_;
};

// Gathers the finds of the letters of the keywords, checks each against the rules of a
// near-miss, and keeps the first of each row and the runs of them all.
class NearMissCollector {
public:
    NearMissCollector(const FoldedMessage& message, const FoldedKeywords& folded,
                      const std::vector<FieldValue>& keywords,
                      const std::vector<std::size_t>& exactRows)
        : message_(message),
          folded_(folded),
          keywords_(keywords),
          exactRows_(exactRows),
          exact_(folded.size(), exactRows.size() > kFewRows),
          listed_(folded.size(), message.text().size() > kShortMessageLimit) {
        for (const std::size_t row : exactRows) {
            exact_.insert(row);
        }
    }

    bool skipped(std::size_t row) const { return exact_.contains(row); }

    // The row's letters occur at [start, end) of the message's letters. A row's finds come in
    // text order, so its first near-miss is the first that passes.
    void offer(std::size_t row, std::size_t start, std::size_t end) {
        if (skipped(row) || !message_.meets(start, end, folded_.flags(row))) {
            return;
        }
        const TextRun written = message_.written(start, end);
        if ((folded_.flags(row) & FoldedKeywords::kShared) && atExactTwin(row, written)) {
            return;
        }
        if (listed_.insert(row)) {
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
    // Whether the message holds, exactly there, a row with an exact hit and the same letters.
    bool atExactTwin(std::size_t row, TextRun written) {
        if (exactByLetters_.empty()) {
            for (const std::size_t exact : exactRows_) {
                exactByLetters_[folded_.letters(exact)].push_back(exact);
            }
        }
        auto twins = twinsOfRow_.find(row);
        if (twins == twinsOfRow_.end()) {
            std::vector<ExactTwin> found;
            const auto same = exactByLetters_.find(folded_.letters(row));
            if (same != exactByLetters_.end()) {
                for (const std::size_t twin : same->second) {
                    found.push_back(TwinOf(*keywords_[twin]));
                }
            }
            twins = twinsOfRow_.emplace(row, std::move(found)).first;
        }
        const auto start = std::size_t(written.start);
        const std::size_t size = std::size_t(message_.text().size());
        for (const ExactTwin& twin : twins->second) {
            if (std::size_t(written.end) - start != twin.core || start < twin.lead ||
                start - twin.lead + twin.length > size) {
                continue;
            }
            if (!hashes_) {
                hashes_ = std::make_unique<StretchHashes>(message_.text());
            }
            if (hashes_->of(start - twin.lead, twin.length) == twin.hash) {
                return true;
            }
        }
        return false;
    }

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

    const FoldedMessage& message_;
    const FoldedKeywords& folded_;
    const std::vector<FieldValue>& keywords_;
    static constexpr std::size_t kFewRows = 64;

    const std::vector<std::size_t>& exactRows_;
    RowSet exact_;
    std::unordered_map<std::u16string_view, std::vector<std::size_t>> exactByLetters_;
    std::unordered_map<std::size_t, std::vector<ExactTwin>> twinsOfRow_;
    std::unique_ptr<StretchHashes> hashes_;
    RowSet listed_;
    std::vector<NearMiss> firsts_;
    std::vector<TextRun> runs_;
    std::vector<TextRun> outOfOrder_;
};

constexpr std::uint32_t kNone = 0xFFFFFFFF;

}  // namespace

namespace {

// Walks a sorted list of letters along with a scan: one past the last of them up to a letter.
class LastBefore {
public:
    explicit LastBefore(const std::vector<std::size_t>& letters) : letters_(letters) {}

    // Asked with i never decreasing.
    std::size_t upTo(std::size_t i) {
        while (next_ < letters_.size() && letters_[next_] <= i) {
            last_ = letters_[next_++] + 1;
        }
        return last_;
    }

private:
    const std::vector<std::size_t>& letters_;
    std::size_t next_ = 0;
    std::size_t last_ = 0;
};

}  // namespace

// The near-miss search over the automaton, over the letters of some of the folded keywords. Each
// node's mark is where its chain of endings starts: the node itself where some keyword ends
// there, else the nearest such node on its failure chain; 0 for none.
class FoldedKeywordAutomaton {
public:
    FoldedKeywordAutomaton(const FoldedKeywords& keywords, const std::vector<std::uint32_t>& rows)
        : keywords_(keywords),
          core_(
              std::uint32_t(rows.size()),
              [&](std::uint32_t k) { return keywords.letters(rows[k]); },
              [&](std::uint32_t k, std::uint32_t node) { addEnding(node, rows[k]); }) {
        endings_.resize(core_.size());
        for (std::uint32_t node = 1; node < core_.size(); ++node) {
            if (endings_[node].row != kNone) {
                core_.setMark(node, node);
            }
        }
        core_.inheritMarks();
        measureChains();
    }

    // Finds of keywords that are their own letters, in a stretch written exactly as its letters,
    // are exact occurrences, whose rows the collector skips: they are not reported.
    void scan(const FoldedMessage& message, NearMissCollector& collector) const {
        const std::u16string_view letters = message.letters();
        LastBefore changed(message.changed());
        LastBefore dropped(message.droppedBefore());
        std::uint32_t state = AhoCorasickCore::kRoot;
        for (std::size_t i = 0; i < letters.size(); ++i) {
            state = core_.advance(state, letters[i]);
            const std::uint32_t reportFrom = core_.mark(state);
            if (reportFrom == 0) {
                continue;
            }
            // The finds here start from i + 1 - deepest on.
            const Chain chain = chains_[reportFrom];
            const std::size_t earliest = i + 1 - chain.deepest;
            if (!chain.changed && changed.upTo(i) <= earliest && dropped.upTo(i) <= earliest + 1) {
                continue;
            }
            for (std::uint32_t node = reportFrom; node != 0;
                 node = core_.mark(core_.failure(node))) {
                const Ending& ending = endings_[node];
                const std::size_t start = i + 1 - ending.depth;
                collector.offer(ending.row, start, i + 1);
                for (std::uint32_t k = ending.moreRows; k != kNone; k = moreRows_[k].next) {
                    collector.offer(moreRows_[k].row, start, i + 1);
                }
            }
        }
    }

private:
    // The rows whose letters end at a node.
    struct Ending {
        std::uint32_t row = kNone;  // the first of them
        std::uint32_t depth = 0;
        std::uint32_t moreRows = kNone;  // the others, in moreRows_
    };
    struct MoreRow {
        std::uint32_t row;
        std::uint32_t next;
    };
    // What a node's chain of endings holds: the depth of its deepest, and whether any of its
    // keywords is more than its text.
    struct Chain {
        std::uint32_t deepest : 31 = 0;
        std::uint32_t changed : 1 = 0;
    };

    // Called while the core is built, before endings_ has a place for every node.
    void addEnding(std::uint32_t node, std::uint32_t row) {
        if (node >= endings_.size()) {
            endings_.resize(node + 1);
        }
        Ending& ending = endings_[node];
        if (ending.row == kNone) {
            ending.row = row;
            ending.depth = std::uint32_t(keywords_.letters(row).size());
        } else {
            moreRows_.push_back({row, ending.moreRows});
            ending.moreRows = std::uint32_t(moreRows_.size() - 1);
        }
    }

    // A failure lies nearer the root, so its chain is known before the node's.
    void measureChains() {
        chains_.assign(core_.size(), Chain());
        for (std::uint32_t node = 1; node < core_.size(); ++node) {
            const Ending& ending = endings_[node];
            if (ending.row == kNone) {
                continue;
            }
            bool changed = chains_[core_.mark(core_.failure(node))].changed;
            changed |= keywords_.flags(ending.row) & FoldedKeywords::kChanged;
            for (std::uint32_t k = ending.moreRows; k != kNone; k = moreRows_[k].next) {
                changed |= keywords_.flags(moreRows_[k].row) & FoldedKeywords::kChanged;
            }
            chains_[node] = {.deepest = ending.depth, .changed = changed};
        }
    }

    const FoldedKeywords& keywords_;
    // Filled while the core is built, so declared before it.
    std::vector<Ending> endings_;  // by node
    std::vector<MoreRow> moreRows_;
    AhoCorasickCore core_;
    std::vector<Chain> chains_;  // by node, for those where keywords end
};

QString NearMissLine(QStringView message, const NearMiss& nearMiss, const QString& keyword) {
    const TextRun& written = nearMiss.written;
    return message.sliced(written.start, written.end - written.start).toString() +
           QStringLiteral(u" ≈ ") + keyword;
}

std::u16string_view NearMissIndex::LettersOfRow::operator()(std::uint32_t row) const {
    return keywords->letters(row);
}

NearMissIndex::NearMissIndex(const std::vector<FieldValue>& keywords)
    : keywords_(std::make_unique<FoldedKeywords>(keywords)),
      table_(keywords.size(), keywords_->units(), LettersOfRow{keywords_.get()}),
      buffers_(std::make_unique<FoldingBuffers>()) {
    for (std::size_t row = keywords.size(); row-- > 0;) {
        if (keywords_->letters(row).empty()) {
            continue;
        }
        const std::uint32_t sameLetters = table_.add(std::uint32_t(row));
        if (sameLetters != table_.kNone) {
            keywords_->markShared(row);
            keywords_->markShared(sameLetters);
        }
    }
}

NearMissIndex::~NearMissIndex() = default;

NearMisses NearMissIndex::find(QStringView message, const std::vector<FieldValue>& keywords,
                               const std::vector<std::size_t>& exactRows) {
    if (message.isEmpty()) {
        return {};
    }
    if (message.size() > kShortMessageLimit) {
        return scan(message, keywords, exactRows);
    }
    const FoldedMessage folded(message, *buffers_);
    NearMissCollector collector(folded, *keywords_, keywords, exactRows);
    // Every keyword has two letters at least: a stretch of one is never looked up.
    const std::u16string_view text = folded.letters();
    for (std::size_t start = 0; start + 1 < text.size(); ++start) {
        table_.forEachAtStart(text.substr(start), 2, [&](std::uint32_t row, std::size_t length) {
            collector.offer(row, start, start + length);
        });
    }
    return collector.result();
}

NearMisses NearMissIndex::scan(QStringView message, const std::vector<FieldValue>& keywords,
                               const std::vector<std::size_t>& exactRows) {
    if (message.isEmpty()) {
        return {};
    }
    // A long message's arrays are not kept: they would hold its size for every message after.
    FoldingBuffers buffers;
    const FoldedMessage folded(message, buffers);
    NearMissCollector collector(folded, *keywords_, keywords, exactRows);
    if (!automaton_) {
        std::vector<std::uint32_t> rows;
        for (std::size_t row = 0; row < keywords_->size(); ++row) {
            if (!keywords_->letters(row).empty()) {
                rows.push_back(std::uint32_t(row));
            }
        }
        automaton_ = std::make_unique<FoldedKeywordAutomaton>(*keywords_, rows);
    }
    automaton_->scan(folded, collector);
    return collector.result();
}

}  // namespace vorelta
