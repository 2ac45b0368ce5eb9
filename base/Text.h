#pragma once

// Text rules every window follows.

#include <QString>
#include <QStringView>

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

}  // namespace vorelta
