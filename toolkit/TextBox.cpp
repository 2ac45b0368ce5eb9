#include "toolkit/TextBox.h"

#include <QKeyEvent>
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
constexpr char16_t kLineSeparator = 0x2028;       // what Shift+Enter would type
constexpr char16_t kParagraphSeparator = 0x2029;  // what the document keeps between blocks
const QString kLineBreak = QStringLiteral("\r\n");

// A mark carries the character it stands for in this property of its character format.
constexpr int kStandsForProperty = QTextFormat::UserProperty + 1;
// A block with this property in its block format follows a soft break: the separator before
// it stands for nothing in the text. The property lives in the document, so undo and redo
// restore it together with the separator.
constexpr int kAfterSoftBreakProperty = QTextFormat::UserProperty + 2;

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

bool IsPairAt(const QString& text, qsizetype i) {
    return text[i] == kCR && i + 1 < text.size() && text[i + 1] == kLF;
}

bool FollowsSoftBreak(const QTextBlock& block) {
    return block.isValid() && block.blockFormat().boolProperty(kAfterSoftBreakProperty);
}

QTextBlockFormat AfterSoftBreakFormat() {
    QTextBlockFormat format;
    format.setProperty(kAfterSoftBreakProperty, true);
    return format;
}

enum class LoneBreaks { ShownAsMarks, BreakTheLine };

// Writes text at a cursor: a CR LF pair becomes a block break (with pasted text, so does every
// other break character), and a line grows a soft break after every kPieceLength code units.
class PieceWriter {
public:
    PieceWriter(QTextCursor& cursor, LoneBreaks loneBreaks)
        : cursor_(cursor), loneBreaks_(loneBreaks), column_(cursor.positionInBlock()) {}

    void write(const QString& text) {
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t c = text[i].unicode();
            const bool pair = IsPairAt(text, i);
            if (pair || (IsBreakCharacter(c) && loneBreaks_ == LoneBreaks::BreakTheLine)) {
                writeRunUpTo(text, i);
                insertBreak(QTextBlockFormat());
                i += pair ? 1 : 0;
                runStart_ = i + 1;
                continue;
            }
            // Never between the halves of a surrogate pair.
            if (column_ >= textbox::kPieceLength && !QChar::isLowSurrogate(c)) {
                writeRunUpTo(text, i);
                softBreaks_.push_back(cursor_.position());
                insertBreak(AfterSoftBreakFormat());
            }
            if (IsBreakCharacter(c)) {
                writeRunUpTo(text, i);
                QTextCharFormat mark;
                mark.setProperty(kStandsForProperty, int(c));
                cursor_.insertText(QString(QChar(MarkFor(c))), mark);
                runStart_ = i + 1;
            }
            ++column_;
        }
        writeRunUpTo(text, text.size());
    }

    // Where the soft breaks went, as document positions of their separators.
    const std::vector<int>& softBreaks() const { return softBreaks_; }

private:
    void insertBreak(const QTextBlockFormat& nextBlock) {
        cursor_.insertBlock(nextBlock, QTextCharFormat());
        column_ = 0;
    }

    void writeRunUpTo(const QString& text, qsizetype end) {
        if (end > runStart_) {
            cursor_.insertText(text.mid(runStart_, end - runStart_), QTextCharFormat());
            runStart_ = end;
        }
    }

    QTextCursor& cursor_;
    const LoneBreaks loneBreaks_;
    qsizetype runStart_ = 0;
    int column_;
    std::vector<int> softBreaks_;
};

// The characters of one block between two document positions, marks read as what they stand for.
void AppendCharacters(const QTextBlock& block, int from, int to, QString& out) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        const int start = std::max(from, fragment.position());
        const int end = std::min(to, fragment.position() + fragment.length());
        if (fragment.position() >= to) {
            break;
        }
        if (start >= end) {
            continue;
        }
        const QString chars = fragment.text().mid(start - fragment.position(), end - start);
        const QVariant standsFor = fragment.charFormat().property(kStandsForProperty);
        if (!standsFor.isValid()) {
            out += chars;
            continue;
        }
        // Marks are told from typed look-alikes by their character format.
        const auto original = char16_t(standsFor.toInt());
        for (const QChar c : chars) {
            out += c == MarkFor(original) ? QChar(original) : c;
        }
    }
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
    connect(document(), &QTextDocument::contentsChange, this, &TextBox::onContentsChange);
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
    QTextDocument* document = this->document();
    // Turning undo off drops the history, and nothing of the write enters it.
    document->setUndoRedoEnabled(false);
    setPlainText(QString());
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    PieceWriter writer(cursor, LoneBreaks::ShownAsMarks);
    writer.write(text);
    cursor.endEditBlock();
    document->setUndoRedoEnabled(true);
    softBreaks_ = writer.softBreaks();
    blockCount_ = document->blockCount();
    emptyPieceLeft_ = false;
    setTextCursor(cursor);
}

// Brings the text in step with one edit of the document, in time proportional to the edit:
// document positions before `position` are unchanged, and the soft breaks that the edit
// removed are the ones recorded inside the removed range.
void TextBox::onContentsChange(int position, int removed, int added) {
    ++edits_;
    if (rendering_) {
        return;
    }
    const auto firstRemoved = std::lower_bound(softBreaks_.begin(), softBreaks_.end(), position);
    const auto endRemoved = std::lower_bound(firstRemoved, softBreaks_.end(), position + removed);
    const int softRemoved = int(endRemoved - firstRemoved);

    int breaksAdded = 0;
    std::vector<int> softAdded;
    const QString addedText = readRange(position, position + added, breaksAdded, softAdded);
    const int blockCount = document()->blockCount();
    const int breaksRemoved = breaksAdded - (blockCount - blockCount_);
    const qsizetype start = textOffsetOf(position);
    const qsizetype removedUnits =
        std::min<qsizetype>(removed + breaksRemoved - 2 * softRemoved, text_.size() - start);

    const auto kept = softBreaks_.erase(firstRemoved, endRemoved);
    std::for_each(kept, softBreaks_.end(), [&](int& at) { at += added - removed; });
    softBreaks_.insert(kept, softAdded.begin(), softAdded.end());
    blockCount_ = blockCount;

    const QTextBlock edited = document()->findBlock(position);
    if (edited.length() == 1 && (FollowsSoftBreak(edited) || FollowsSoftBreak(edited.next()))) {
        emptyPieceLeft_ = true;
        QMetaObject::invokeMethod(this, &TextBox::removeEmptyPieces, Qt::QueuedConnection);
    }
    if (QStringView(text_).mid(start, removedUnits) == addedText) {
        return;
    }
    text_.replace(start, removedUnits, addedText);
    Q_EMIT Change();
}

// The text that the document range [from, to) stands for; counts the block separators in it
// and notes which of them are soft breaks.
QString TextBox::readRange(int from, int to, int& breaks, std::vector<int>& softBreaks) const {
    QString result;
    to = std::min(to, document()->characterCount() - 1);
    for (QTextBlock block = document()->findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        const int separator = block.position() + block.length() - 1;
        AppendCharacters(block, std::max(from, block.position()), std::min(to, separator), result);
        if (separator >= to || !block.next().isValid()) {
            break;
        }
        ++breaks;
        if (FollowsSoftBreak(block.next())) {
            softBreaks.push_back(separator);
        } else {
            result += kLineBreak;
        }
    }
    return result;
}

// Every document character stands for one code unit, every hard break for two (CR LF) and
// every soft break for none.
qsizetype TextBox::textOffsetOf(int position) const {
    const int separators = document()->findBlock(position).blockNumber();
    const auto soft = std::lower_bound(softBreaks_.begin(), softBreaks_.end(), position);
    return qsizetype(position) + separators - 2 * (soft - softBreaks_.begin());
}

bool TextBox::isSoftBreakAt(int position) const {
    return std::binary_search(softBreaks_.begin(), softBreaks_.end(), position);
}

void TextBox::keyPressEvent(QKeyEvent* event) {
    const bool lineBreak = event->matches(QKeySequence::InsertParagraphSeparator) ||
                           event->matches(QKeySequence::InsertLineSeparator);
    if (lineBreak && !isReadOnly()) {
        insertLineBreak();
        event->accept();
    } else if (!isReadOnly() && deleteAcrossSoftBreak(event)) {
        event->accept();
    } else {
        const int before = textCursor().position();
        const int edits = edits_;
        QPlainTextEdit::keyPressEvent(event);
        const int after = textCursor().position();
        // Both sides of a soft break are the same place in the text: a caret that only
        // crossed one has not moved yet, so the key takes it one step further.
        if (edits == edits_ && std::abs(after - before) == 1 &&
            isSoftBreakAt(std::min(before, after))) {
            QPlainTextEdit::keyPressEvent(event);
        }
    }
    removeEmptyPieces();
}

// Enter and Shift+Enter both end the line with CR LF. The new block must not take on the
// soft-break property of the block it splits, as the editor's own Enter would make it.
void TextBox::insertLineBreak() {
    QTextCursor cursor = textCursor();
    cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    setTextCursor(cursor);
    ensureCursorVisible();
}

// Backspace at the start of a piece and Delete at its end take the character beyond the soft
// break, as they would inside one line.
bool TextBox::deleteAcrossSoftBreak(const QKeyEvent* event) {
    QTextCursor cursor = textCursor();
    if (cursor.hasSelection()) {
        return false;
    }
    const int position = cursor.position();
    const bool backspace =
        event->key() == Qt::Key_Backspace && !(event->modifiers() & ~Qt::ShiftModifier);
    if (backspace && isSoftBreakAt(position - 1)) {
        cursor.setPosition(position - 1);
        cursor.deletePreviousChar();
    } else if (event->matches(QKeySequence::Delete) && isSoftBreakAt(position)) {
        cursor.setPosition(position + 1);
        cursor.deleteChar();
    } else {
        return false;
    }
    setTextCursor(cursor);
    return true;
}

// An emptied piece would show as a blank line inside one line of text: its soft break goes,
// as part of the edit that emptied it, so that one undo restores both.
void TextBox::removeEmptyPieces() {
    if (!emptyPieceLeft_) {
        return;
    }
    emptyPieceLeft_ = false;
    QTextCursor cursor(document());
    cursor.joinPreviousEditBlock();
    // From the back, so that removing a separator moves none of those still to be looked at.
    for (auto i = softBreaks_.size(); i-- > 0;) {
        const int separator = softBreaks_[i];
        const QTextBlock before = document()->findBlock(separator);
        if (before.length() > 1 && before.next().length() > 1) {
            continue;
        }
        cursor.setPosition(separator);
        cursor.setPosition(separator + 1, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    cursor.endEditBlock();
}

QMimeData* TextBox::createMimeDataFromSelection() const {
    // What is copied is the text itself: CR LF for a line break, nothing for a soft break, the
    // character a mark stands for.
    const QTextCursor cursor = textCursor();
    const qsizetype from = textOffsetOf(cursor.selectionStart());
    const qsizetype to = textOffsetOf(cursor.selectionEnd());
    auto* data = new QMimeData;
    data->setText(text_.mid(from, to - from));
    return data;
}

void TextBox::insertFromMimeData(const QMimeData* source) {
    if (!source || !source->hasText()) {
        return;
    }
    // Pasted text arrives as plain characters; each CR LF, CR or LF becomes one line break.
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    PieceWriter writer(cursor, LoneBreaks::BreakTheLine);
    writer.write(source->text());
    cursor.endEditBlock();
    setTextCursor(cursor);
    ensureCursorVisible();
    removeEmptyPieces();
}

}  // namespace vorelta
