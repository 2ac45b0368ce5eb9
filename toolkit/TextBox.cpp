#include "toolkit/TextBox.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "base/Text.h"
#include "toolkit/TextBoxAccessibility.h"
#include "toolkit/TextBoxDocument.h"

namespace vorelta {

namespace {

// Selects what Backspace takes before the cursor (one code point) or Delete after it (one
// grapheme), as the editor's own keys would.
void SelectWhatTheKeyTakes(QTextCursor& cursor, bool backspace) {
    if (!backspace) {
        cursor.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
        return;
    }
    const int at = cursor.position();
    const QTextDocument& document = *cursor.document();
    const bool pair = QChar::isLowSurrogate(document.characterAt(at - 1).unicode()) &&
                      QChar::isHighSurrogate(document.characterAt(at - 2).unicode());
    cursor.setPosition(std::max(at - (pair ? 2 : 1), 0), QTextCursor::KeepAnchor);
}

// Brings the ascending document positions in `positions` in step with an edit at `position`:
// those in the removed range go, those after it move, and those in the added range come in.
// Returns how many went.
int ReplaceInRange(std::vector<int>& positions, int position, int removed, int added,
                   const std::vector<int>& addedPositions) {
    const auto first = std::lower_bound(positions.begin(), positions.end(), position);
    const auto end = std::lower_bound(first, positions.end(), position + removed);
    const int gone = int(end - first);
    const auto kept = positions.erase(first, end);
    std::for_each(kept, positions.end(), [&](int& at) { at += added - removed; });
    positions.insert(kept, addedPositions.begin(), addedPositions.end());
    return gone;
}

}  // namespace

TextBox::TextBox(QWidget* parent) : QPlainTextEdit(parent) {
    // Tab moves on to the next control, as in any dialog; it never types a tab.
    setTabChangesFocus(true);
    connect(document(), &QTextDocument::contentsChange, this, &TextBox::onContentsChange);
    static std::once_flag accessible;
    std::call_once(accessible, [] { QAccessible::installFactory(&CreateTextBoxAccessible); });
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
    marks_.clear();
    secondMarks_.clear();
    QTextDocument* document = this->document();
    // Turning undo off drops the history, and nothing of the write enters it.
    document->setUndoRedoEnabled(false);
    setPlainText(QString());
    QTextCursor cursor(document);
    cursor.beginEditBlock();
    textbox::WrittenBreaks written =
        textbox::WriteText(cursor, text, textbox::LoneBreaks::ShownAsMarks);
    cursor.endEditBlock();
    document->setUndoRedoEnabled(true);
    softBreaks_ = std::move(written.softBreaks);
    lineSeparators_ = std::move(written.lineSeparators);
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
    if (!marks_.empty() || !secondMarks_.empty()) {
        marks_.clear();
        secondMarks_.clear();
        viewport()->update();
    }
    int breaksAdded = 0;
    std::vector<int> softAdded;
    std::vector<int> separatorsAdded;
    const QString addedText = textbox::ReadRange(*document(), position, position + added,
                                                 breaksAdded, softAdded, separatorsAdded);
    const int blockCount = document()->blockCount();
    const int breaksRemoved = breaksAdded - (blockCount - blockCount_);
    const qsizetype start = textOffsetOf(position);
    const int softRemoved = ReplaceInRange(softBreaks_, position, removed, added, softAdded);
    const int separatorsRemoved =
        ReplaceInRange(lineSeparators_, position, removed, added, separatorsAdded);
    const qsizetype removedUnits = std::min<qsizetype>(
        removed + breaksRemoved - 2 * softRemoved + separatorsRemoved, text_.size() - start);
    blockCount_ = blockCount;

    // A piece can be left empty anywhere in the range changed, not only where it starts: one edit
    // block can remove and write in several places (a commit replacing text beside a selection).
    for (QTextBlock block = document()->findBlock(position);
         block.isValid() && block.position() <= position + added; block = block.next()) {
        if ((textbox::FollowsSoftBreak(block) &&
             textbox::IsNeedlessSoftBreak(*document(), block.position() - 1)) ||
            (textbox::FollowsSoftBreak(block.next()) &&
             textbox::IsNeedlessSoftBreak(*document(), block.position() + block.length() - 1))) {
            emptyPieceLeft_ = true;
            QMetaObject::invokeMethod(this, &TextBox::removeEmptyPieces, Qt::QueuedConnection);
            break;
        }
    }
    if (QStringView(text_).mid(start, removedUnits) == addedText) {
        return;
    }
    text_.replace(start, removedUnits, addedText);
    Q_EMIT Change();
}

// Every document character stands for one code unit, but a line separator for two (CR LF);
// every hard break stands for two and every soft break for none.
qsizetype TextBox::textOffsetOf(int position) const {
    const int separators = document()->findBlock(position).blockNumber();
    const auto soft = std::lower_bound(softBreaks_.begin(), softBreaks_.end(), position);
    const auto lines = std::lower_bound(lineSeparators_.begin(), lineSeparators_.end(), position);
    return qsizetype(position) + separators - 2 * (soft - softBreaks_.begin()) +
           (lines - lineSeparators_.begin());
}

// The last document position that stands at the offset in the text: at a soft break the start
// of the next piece, inside a CR LF pair the end of the line.
int TextBox::documentPosition(qsizetype textOffset) const {
    int low = 0;
    int high = document()->characterCount() - 1;
    while (low < high) {
        const int middle = low + (high - low + 1) / 2;
        if (textOffsetOf(middle) <= textOffset) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    return low;
}

void TextBox::setMarks(std::vector<TextRun> runs, std::vector<TextRun> secondRuns) {
    marks_ = std::move(runs);
    secondMarks_ = std::move(secondRuns);
    viewport()->update();
}

void TextBox::setTextColour(TextRun run, const QColor& colour) {
    const QScopedValueRollback guard(rendering_, true);
    QTextDocument* document = this->document();
    document->setUndoRedoEnabled(false);
    QTextCursor cursor(document);
    cursor.setPosition(documentPosition(run.start));
    cursor.setPosition(documentPosition(run.end), QTextCursor::KeepAnchor);
    QTextCharFormat format;
    format.setForeground(colour);
    cursor.mergeCharFormat(format);
    document->setUndoRedoEnabled(true);
}

TextRun TextBox::selection() const {
    const QTextCursor cursor = textCursor();
    return {textOffsetOf(cursor.selectionStart()), textOffsetOf(cursor.selectionEnd())};
}

void TextBox::select(TextRun run) {
    QTextCursor cursor = textCursor();
    cursor.setPosition(documentPosition(run.start));
    cursor.setPosition(documentPosition(run.end), QTextCursor::KeepAnchor);
    setTextCursor(cursor);
    ensureCursorVisible();
}

void TextBox::scrollTo(qsizetype offset) {
    const QTextCursor caret = textCursor();
    select({offset, offset});
    const int top = verticalScrollBar()->value();
    const int left = horizontalScrollBar()->value();
    setTextCursor(caret);
    verticalScrollBar()->setValue(top);
    horizontalScrollBar()->setValue(left);
}

qsizetype TextBox::offsetAt(const QPoint& point) const {
    return textOffsetOf(cursorForPosition(point).position());
}

void TextBox::paintEvent(QPaintEvent* event) {
    static const QColor kMarkColour(255, 200, 200);
    static const QColor kSecondMarkColour(255, 220, 170);
    if (!marks_.empty()) {
        paintMarks(event->rect(), marks_, kMarkColour);
    }
    if (!secondMarks_.empty()) {
        paintMarks(event->rect(), secondMarks_, kSecondMarkColour);
    }
    QPlainTextEdit::paintEvent(event);
}

// Only the marks of the pieces on screen are painted.
void TextBox::paintMarks(const QRect& area, const std::vector<TextRun>& marks,
                         const QColor& colour) {
    QPainter painter(viewport());
    QPointF offset = contentOffset();
    for (QTextBlock block = firstVisibleBlock(); block.isValid() && offset.y() <= area.bottom();
         block = block.next()) {
        const QRectF box = blockBoundingRect(block).translated(offset);
        offset.ry() += box.height();
        if (!block.isVisible() || box.bottom() < area.top()) {
            continue;
        }
        const qsizetype start = textOffsetOf(block.position());
        const qsizetype end = textOffsetOf(block.position() + block.length() - 1);
        const QTextLayout* layout = block.layout();
        const QPointF origin = box.topLeft() + layout->position();
        auto run = std::upper_bound(marks.begin(), marks.end(), start,
                                    [](qsizetype at, const TextRun& r) { return at < r.end; });
        for (; run != marks.end() && run->start < end; ++run) {
            const int from = documentPosition(std::max(run->start, start)) - block.position();
            const int to = documentPosition(std::min(run->end, end)) - block.position();
            for (int i = 0; i < layout->lineCount(); ++i) {
                const QTextLine line = layout->lineAt(i);
                const int left = std::max(from, line.textStart());
                const int right = std::min(to, line.textStart() + line.textLength());
                if (left < right) {
                    const qreal x = line.cursorToX(left);
                    painter.fillRect(QRectF(origin.x() + x, origin.y() + line.y(),
                                            line.cursorToX(right) - x, line.height()),
                                     colour);
                }
            }
        }
    }
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
    } else if (!isReadOnly() && deleteCharacter(event)) {
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
        // Nor does a selection of a soft break alone hold anything.
        QTextCursor cursor = textCursor();
        if (std::abs(cursor.anchor() - cursor.position()) == 1 &&
            isSoftBreakAt(std::min(cursor.anchor(), cursor.position()))) {
            cursor.clearSelection();
            setTextCursor(cursor);
        }
    }
    removeEmptyPieces();
}

// Enter and Shift+Enter both end the line with CR LF, with a separator that is no soft break
// whatever the character format at the cursor (the editor's own Enter would take that on).
void TextBox::insertLineBreak() {
    QTextCursor cursor = textCursor();
    cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    setTextCursor(cursor);
    ensureCursorVisible();
}

// Backspace at the start of a piece and Delete at its end take the character beyond the soft
// break, as they would inside one line. A character whose going leaves a soft break needless
// (the piece's last one, or one beside a line separator) goes together with that break:
// removing the break afterwards would be an undo step of its own, as the editor joins nothing
// to a lone delete, and undoing that step would only bring the needless break back.
bool TextBox::deleteCharacter(const QKeyEvent* event) {
    QTextCursor cursor = textCursor();
    const bool backspace =
        event->key() == Qt::Key_Backspace && !(event->modifiers() & ~Qt::ShiftModifier);
    if (cursor.hasSelection() || !(backspace || event->matches(QKeySequence::Delete))) {
        return false;
    }
    const bool across = isSoftBreakAt(cursor.position() - (backspace ? 1 : 0));
    cursor.setPosition(cursor.position() + (across ? (backspace ? -1 : 1) : 0));
    const int position = cursor.position();
    SelectWhatTheKeyTakes(cursor, backspace);
    const int from = cursor.selectionStart();
    const int to = cursor.selectionEnd();
    const QTextBlock piece = document()->findBlock(from);
    const int pieceEnd = piece.position() + piece.length() - 1;
    const QChar separator(textbox::kLineSeparator);
    // What is left of the piece would start or end with nothing or a line separator beside its
    // soft break: the break goes too.
    const bool leavesStart = textbox::FollowsSoftBreak(piece) && from == piece.position() &&
                             (to == pieceEnd || document()->characterAt(to) == separator);
    const bool leavesEnd =
        textbox::FollowsSoftBreak(piece.next()) && to == pieceEnd &&
        (from == piece.position() || document()->characterAt(from - 1) == separator);
    if (from < to && (leavesStart || leavesEnd)) {
        cursor.setPosition(leavesStart ? from - 1 : from);
        cursor.setPosition(leavesStart ? to : to + 1, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    } else if (across) {
        cursor.setPosition(position);
        backspace ? cursor.deletePreviousChar() : cursor.deleteChar();
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
        if (!textbox::IsNeedlessSoftBreak(*document(), separator)) {
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
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    writeOver(cursor, source->text());
    cursor.endEditBlock();
    setTextCursor(cursor);
    ensureCursorVisible();
    removeEmptyPieces();
}

// An input method's commit goes in as pasted text does. The range it replaces, given relative to
// the caret, counts the characters of the line as shown: a soft break is not one of them.
void TextBox::inputMethodEvent(QInputMethodEvent* event) {
    if (isReadOnly() || (event->commitString().isEmpty() && event->replacementLength() == 0)) {
        QPlainTextEdit::inputMethodEvent(event);
        return;
    }
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    // The composition is drawn in the caret's block, which the commit may leave for a piece or
    // block of its own: the editor takes the composition down there first.
    QInputMethodEvent endComposition;
    QPlainTextEdit::inputMethodEvent(&endComposition);
    cursor.removeSelectedText();
    const int start =
        textbox::StepAlongLine(*document(), cursor.position(), event->replacementStart());
    cursor.setPosition(start);
    cursor.setPosition(textbox::StepAlongLine(*document(), start, event->replacementLength()),
                       QTextCursor::KeepAnchor);
    writeOver(cursor, event->commitString());
    cursor.endEditBlock();
    // The caret has moved with the edit as the editor's own would. What is left of the event is the
    // text still being composed.
    QInputMethodEvent composing(event->preeditString(), event->attributes());
    QPlainTextEdit::inputMethodEvent(&composing);
    event->accept();
    ensureCursorVisible();
    removeEmptyPieces();
}

// Assistive technology edits the text by offsets in text().
void TextBox::replaceText(qsizetype from, qsizetype to, const QString& text) {
    if (isReadOnly()) {
        return;
    }
    from = std::clamp<qsizetype>(from, 0, text_.size());
    to = std::clamp<qsizetype>(to, from, text_.size());
    QTextCursor cursor(document());
    cursor.setPosition(documentPosition(from));
    cursor.setPosition(documentPosition(to), QTextCursor::KeepAnchor);
    cursor.beginEditBlock();
    writeOver(cursor, text);
    cursor.endEditBlock();
    removeEmptyPieces();
}

// Text from outside arrives as plain characters; each CR LF, CR or LF becomes one line break.
void TextBox::writeOver(QTextCursor& cursor, const QString& text) {
    cursor.removeSelectedText();
    textbox::WriteText(cursor, text, textbox::LoneBreaks::BreakTheLine);
}

}  // namespace vorelta
