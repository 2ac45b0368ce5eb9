#pragma once

// Text rules every window follows.

#include <QString>
#include <QStringView>
#include <algorithm>
#include <vector>

namespace vorelta {

// A line break in every text of the program: CR LF.
inline const QString kLineBreak = QStringLiteral("\r\n");

// A blank is U+0020 only: full-width and other spaces are kept as the user typed them.
inline constexpr char16_t kBlank = u' ';

// The text without the blanks at its start and at its end.
inline QStringView TrimBlanks(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == kBlank) {
        ++begin;
    }
    while (end > begin && text[end - 1] == kBlank) {
        --end;
    }
    return text.mid(begin, end - begin);
}

// A stretch of a text: the code units from `start` up to, not including, `end`.
struct TextRun {
    qsizetype start = 0;
    qsizetype end = 0;
    bool operator==(const TextRun&) const = default;
};

// The pieces of a text between its CR LF pairs; an empty text has none, a text ending in CR LF
// an empty last one. A lone CR or LF stays inside its piece.
inline std::vector<QStringView> SplitAtLineBreaks(QStringView text) {
    std::vector<QStringView> lines;
    if (text.isEmpty()) {
        return lines;
    }
    qsizetype start = 0;
    for (qsizetype at; (at = text.indexOf(kLineBreak, start)) >= 0; start = at + 2) {
        lines.push_back(text.sliced(start, at - start));
    }
    lines.push_back(text.sliced(start));
    return lines;
}

// ---- Code points ----
// A text is walked by code point in UTF-16: a high surrogate followed by a low one is one code
// point; half of a pair standing alone is a code point of its own, which no encoding of Unicode
// can write.

struct CodePoint {
    char32_t value;
    qsizetype size;  // in code units: 2 for a pair, else 1
};

// The code point that starts at `at`, which lies inside the text.
inline CodePoint CodePointAt(QStringView text, qsizetype at) {
    const char16_t unit = text[at].unicode();
    if (QChar::isHighSurrogate(unit) && at + 1 < text.size() && text[at + 1].isLowSurrogate()) {
        return {QChar::surrogateToUcs4(unit, text[at + 1].unicode()), 2};
    }
    return {unit, 1};
}

// Calls visit(code point, where it starts) for each code point of a text in turn.
template <class Visit>
void ForEachCodePoint(QStringView text, Visit visit) {
    for (qsizetype at = 0; at < text.size();) {
        const CodePoint point = CodePointAt(text, at);
        visit(point.value, at);
        at += point.size;
    }
}

// Where the first half of a pair that stands alone is, from `from` on, or -1.
inline qsizetype LoneSurrogateAt(QStringView text, qsizetype from = 0) {
    for (qsizetype at = from; at < text.size();) {
        const CodePoint point = CodePointAt(text, at);
        if (QChar::isSurrogate(point.value)) {
            return at;
        }
        at += point.size;
    }
    return -1;
}

// Where a text of at most `length` code units may end without parting a pair.
inline qsizetype CodePointBoundaryBefore(QStringView text, qsizetype length) {
    if (length <= 0 || length >= text.size()) {
        return std::clamp<qsizetype>(length, 0, text.size());
    }
    return CodePointAt(text, length - 1).size == 2 ? length - 1 : length;
}

}  // namespace vorelta
