#pragma once

// The plain search for near-misses, kept as the reference the real one must agree with: fold the
// message and each keyword, then from every folded code point of the message walk the keyword's
// letters one after another, each past the separators a near-miss allows. Slow and plain, for the
// tests and the fuzzer.

#include <QString>
#include <vector>

#include "check/NearMissMatcher.h"
#include "check/TextFolding.h"

namespace vorelta::test {

// The rows whose keyword occurs in the message exactly, an empty one included, in row order.
inline std::vector<std::size_t> ExactRows(const QString& message,
                                          const std::vector<FieldValue>& keywords) {
    std::vector<std::size_t> rows;
    for (std::size_t row = 0; !message.isEmpty() && row < keywords.size(); ++row) {
        if (keywords[row] && message.contains(*keywords[row])) {
            rows.push_back(row);
        }
    }
    return rows;
}

inline std::u32string LettersOf(const QString& keyword) {
    std::u32string letters = FoldText(keyword).units;
    std::erase_if(letters, [](char32_t c) { return IsSeparator(c); });
    return letters;
}

// Whether the separators between folded units `before` and `after` may be passed by a keyword
// of so many letters.
inline bool Passable(const FoldedText& text, std::size_t before, std::size_t after,
                     std::size_t letterCount) {
    if (text.sourceOf[after] - text.sourceOf[before] - 1 > 3) {
        return false;
    }
    for (std::size_t unit = before + 1; unit < after; ++unit) {
        if (KindOf(text.units[unit]) == CodePointKind::Break && letterCount < 3) {
            return false;
        }
    }
    return true;
}

// The next letter of the text after unit `at` (or before it), npos for none.
inline std::size_t NextLetter(const FoldedText& text, std::size_t at, bool forward) {
    while (forward ? ++at < text.units.size() : at-- > 0) {
        if (!IsSeparator(text.units[at])) {
            return at;
        }
    }
    return std::u32string::npos;
}

// Whether a Latin letter or digit at unit `end` of the text is carried on by another one at the
// next letter that way, past no break.
inline bool CarriedOn(const FoldedText& text, std::size_t end, bool forward) {
    const std::size_t next = NextLetter(text, end, forward);
    return KindOf(text.units[end]) == CodePointKind::LatinOrDigit && next != std::u32string::npos &&
           KindOf(text.units[next]) == CodePointKind::LatinOrDigit &&
           Passable(text, std::min(end, next), std::max(end, next), 0);
}

// Where the keyword's letters are met from unit `at`: the last unit, npos if they are not.
inline std::size_t MeetFrom(const FoldedText& text, std::size_t at, const std::u32string& letters) {
    std::size_t last = at;
    for (std::size_t i = 0; i < letters.size(); ++i) {
        const std::size_t unit = i == 0 ? at : NextLetter(text, last, true);
        if (unit == std::u32string::npos || text.units[unit] != letters[i] ||
            (i > 0 && !Passable(text, last, unit, letters.size()))) {
            return std::u32string::npos;
        }
        last = unit;
    }
    const bool carried = CarriedOn(text, at, false) || CarriedOn(text, last, true);
    return carried ? std::u32string::npos : last;
}

// Whether an exact hit's keyword with the same letters stands in the message just there.
inline bool AtExactTwin(const QString& message, TextRun written, const std::u32string& letters,
                        const std::vector<FieldValue>& keywords,
                        const std::vector<std::size_t>& exactRows) {
    for (const std::size_t row : exactRows) {
        const QString& twin = *keywords[row];
        if (LettersOf(twin) != letters) {
            continue;
        }
        const FoldedText folded = FoldText(twin);
        std::size_t first = 0;
        while (IsSeparator(folded.units[first])) {
            ++first;
        }
        std::size_t last = folded.units.size() - 1;
        while (IsSeparator(folded.units[last])) {
            --last;
        }
        const TextRun core = folded.written(first, last);
        const qsizetype from = written.start - core.start;
        if (written.end - written.start == core.end - core.start && from >= 0 &&
            message.mid(from, twin.size()) == twin) {
            return true;
        }
    }
    return false;
}

inline NearMisses PlainNearMisses(const QString& message, const std::vector<FieldValue>& keywords) {
    const std::vector<std::size_t> exactRows = ExactRows(message, keywords);
    const FoldedText text = FoldText(message);
    std::vector<bool> covered(std::size_t(message.size()), false);
    NearMisses result;
    for (std::size_t row = 0; row < keywords.size(); ++row) {
        const std::u32string letters = keywords[row] ? LettersOf(*keywords[row]) : U"";
        if (letters.size() < 2 || std::binary_search(exactRows.begin(), exactRows.end(), row)) {
            continue;
        }
        for (std::size_t at = 0; at < text.units.size(); ++at) {
            const std::size_t last = MeetFrom(text, at, letters);
            if (last == std::u32string::npos) {
                continue;
            }
            const TextRun written = text.written(at, last);
            if (AtExactTwin(message, written, letters, keywords, exactRows)) {
                continue;
            }
            if (result.rows.empty() || result.rows.back().row != row) {
                result.rows.push_back({row, written});
            }
            std::fill(covered.begin() + written.start, covered.begin() + written.end, true);
        }
    }
    for (qsizetype i = 0; i < message.size(); ++i) {
        if (covered[std::size_t(i)] && (result.runs.empty() || result.runs.back().end < i)) {
            result.runs.push_back({i, i});
        }
        if (covered[std::size_t(i)]) {
            result.runs.back().end = i + 1;
        }
    }
    return result;
}

}  // namespace vorelta::test
