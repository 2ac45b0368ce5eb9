#pragma once

// Text rules every window follows.

#include <QString>
#include <QStringView>
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

}  // namespace vorelta
