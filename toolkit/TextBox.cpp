#include "toolkit/TextBox.h"

#include <QMimeData>
#include <QScopedValueRollback>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

namespace vorelta {

namespace {

constexpr char16_t kCR = u'\r';
constexpr char16_t kLF = u'\n';
constexpr char16_t kLineSeparator = 0x2028;       // what Shift+Enter types
constexpr char16_t kParagraphSeparator = 0x2029;  // what the document keeps between lines
const QString kLineBreak = QStringLiteral("\r\n");

// A mark carries the character it stands for in this property of its character format.
constexpr int kStandsForProperty = QTextFormat::UserProperty + 1;

bool IsBreakCharacter(char16_t c) {
    return c == kCR || c == kLF || c == kLineSeparator || c == kParagraphSeparator;
}

// The visible mark shown for a break character that is not part of a CR LF pair.
char16_t MarkFor(char16_t c) {
    switch (c) {
        case kCR:
            return 0x240D;  // ␍
        case kLF:
            return 0x240A;  // ␊
        default:
            return 0x2424;  // ␤
    }
}

bool IsMark(char16_t c) {
    return c == 0x240D || c == 0x240A || c == 0x2424;
}

bool IsPairAt(const QString& text, qsizetype i) {
    return text[i] == kCR && i + 1 < text.size() && text[i + 1] == kLF;
}

}  // namespace

bool textbox::HasOnlyPairedBreaks(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (IsPairAt(text, i)) {
            ++i;
        } else if (IsBreakCharacter(text[i].unicode())) {
            return false;
        }
    }
    return true;
}

TextBox::TextBox(QWidget* parent) : QPlainTextEdit(parent) {
    // Tab moves on to the next control, as in any dialog; it never types a tab.
    setTabChangesFocus(true);
    connect(this, &QPlainTextEdit::textChanged, this, &TextBox::onDocumentChanged);
}

void TextBox::setText(const QString& text) {
    if (text == text_) {
        return;
    }
    text_ = text;
    render(text);
    Q_EMIT Change();
}

void TextBox::render(const QString& text) {
    const QScopedValueRollback guard(rendering_, true);
    if (textbox::HasOnlyPairedBreaks(text)) {
        setPlainText(QString(text).replace(kLineBreak, QStringLiteral("\n")));
        moveCursor(QTextCursor::End);
        return;
    }
    clear();
    QTextCursor cursor(document());
    const QTextCharFormat plain;
    qsizetype runStart = 0;
    const auto insertRunUpTo = [&](qsizetype end) {
        if (end > runStart) {
            cursor.insertText(text.mid(runStart, end - runStart), plain);
        }
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (!IsBreakCharacter(c)) {
            continue;
        }
        insertRunUpTo(i);
        if (IsPairAt(text, i)) {
            cursor.insertBlock();
            ++i;
        } else {
            QTextCharFormat mark;
            mark.setProperty(kStandsForProperty, int(c));
            cursor.insertText(QString(QChar(MarkFor(c))), mark);
        }
        runStart = i + 1;
    }
    insertRunUpTo(text.size());
    setTextCursor(cursor);
}

QString TextBox::readDocument() const {
    const QString raw = document()->toRawText();
    const bool hasMarks =
        std::any_of(raw.cbegin(), raw.cend(), [](QChar c) { return IsMark(c.unicode()); });
    if (!hasMarks) {
        return QString(raw)
            .replace(QChar(kParagraphSeparator), kLineBreak)
            .replace(QChar(kLineSeparator), kLineBreak);
    }
    QString result;
    result.reserve(raw.size() + document()->blockCount());
    // Slow path: marks are told from typed look-alikes by their character format.
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        if (block != document()->begin()) {
            result += kLineBreak;
        }
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QVariant standsFor = fragment.charFormat().property(kStandsForProperty);
            const char16_t original = standsFor.isValid() ? char16_t(standsFor.toInt()) : 0;
            for (const QChar c : fragment.text()) {
                if (original && c == MarkFor(original)) {
                    result += QChar(original);
                } else if (c == kLineSeparator) {
                    result += kLineBreak;
                } else {
                    result += c;
                }
            }
        }
    }
    return result;
}

void TextBox::onDocumentChanged() {
    if (rendering_) {
        return;
    }
    QString current = readDocument();
    if (current == text_) {
        return;
    }
    text_ = std::move(current);
    Q_EMIT Change();
}

void TextBox::insertFromMimeData(const QMimeData* source) {
    if (!source || !source->hasText()) {
        return;
    }
    // Pasted text arrives as plain characters; each CR LF, CR or LF becomes one line break.
    QTextCursor cursor = textCursor();
    cursor.insertText(source->text(), QTextCharFormat());
    setTextCursor(cursor);
    ensureCursorVisible();
}

}  // namespace vorelta
