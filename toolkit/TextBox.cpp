#include "toolkit/TextBox.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <mutex>

#include "base/Text.h"

namespace vorelta {

namespace {

constexpr char16_t kCR = u'\r';
constexpr char16_t kLF = u'\n';
constexpr char16_t kLineSeparator = 0x2028;       // what Shift+Enter would type
constexpr char16_t kParagraphSeparator = 0x2029;  // what the document keeps between blocks

// A mark carries the character it stands for in this property of its character format.
constexpr int kStandsForProperty = QTextFormat::UserProperty + 1;
// A block separator with this property in its character format is a soft break: it stands for
// nothing in the text. Being the separator's own, the property goes and comes back with it, in
// deletes, undo and redo alike. (A property of the block after it would not: when the editor
// removes a separator after an empty block, the joined block keeps the format of the block
// after the separator, which then claims a soft break that is no longer there.)
constexpr int kSoftBreakProperty = QTextFormat::UserProperty + 2;

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

QTextCharFormat SoftBreakFormat() {
    QTextCharFormat format;
    format.setProperty(kSoftBreakProperty, true);
    return format;
}

// How far the cursor stands into its line, or into its piece of a line in pieces.
int ColumnInLine(const QTextCursor& cursor) {
    const QString before = cursor.block().text().left(cursor.positionInBlock());
    return int(before.size() - before.lastIndexOf(QChar(kLineSeparator)) - 1);
}

enum class LoneBreaks { ShownAsMarks, BreakTheLine };

// Writes text at a cursor. A CR LF pair (with pasted text, every break character) ends the line:
// short lines share a block, each ended by a line separator inside it, since a document of a
// million lines would take seconds to build as a million blocks; a line that would take the
// block past kPieceLength code units starts a block of its own instead. A line grows a soft break
// after every kPieceLength code units of its own, so that a line no longer than that is never cut.
class PieceWriter {
public:
    PieceWriter(QTextCursor& cursor, LoneBreaks loneBreaks)
        : cursor_(cursor),
          loneBreaks_(loneBreaks),
          column_(ColumnInLine(cursor)),
          blockColumn_(cursor.positionInBlock()) {}

    void write(const QString& text) {
        run_.reserve(std::min<qsizetype>(text.size(), textbox::kPieceLength * 2));
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t c = text[i].unicode();
            if (endsLineAt(text, i)) {
                i += IsPairAt(text, i) ? 1 : 0;
                endLine(text, i + 1);
                continue;
            }
            // Never between the halves of a surrogate pair.
            if (column_ >= textbox::kPieceLength && !QChar::isLowSurrogate(c)) {
                flush();
                cutLine();
            }
            if (IsBreakCharacter(c)) {
                flush();
                QTextCharFormat mark;
                mark.setProperty(kStandsForProperty, int(c));
                cursor_.insertText(QString(QChar(MarkFor(c))), mark);
            } else {
                run_ += QChar(c);
            }
            ++column_;
            ++blockColumn_;
        }
        flush();
    }

    // Where the soft breaks and the line separators went, as document positions.
    const std::vector<int>& softBreaks() const { return softBreaks_; }
    const std::vector<int>& lineSeparators() const { return lineSeparators_; }

private:
    bool endsLineAt(const QString& text, qsizetype i) const {
        return IsPairAt(text, i) ||
               (IsBreakCharacter(text[i].unicode()) && loneBreaks_ == LoneBreaks::BreakTheLine);
    }

    // Whether the line of the text that starts at `from` ends (or the text does) within `room`
    // code units.
    bool lineFits(const QString& text, qsizetype from, int room) const {
        for (qsizetype i = from; i < text.size() && i - from <= room; ++i) {
            if (endsLineAt(text, i)) {
                return true;
            }
        }
        return text.size() - from <= room;
    }

    // The next line shares the block only if all of it fits in there: a longer one, starting a
    // block of its own, is cut into full pieces.
    void endLine(const QString& text, qsizetype next) {
        if (!lineFits(text, next, textbox::kPieceLength - blockColumn_ - 1)) {
            flush();
            insertBreak(QTextCharFormat());
            return;
        }
        lineSeparators_.push_back(cursor_.position() + int(run_.size()));
        run_ += QChar(kLineSeparator);
        column_ = 0;
        ++blockColumn_;
    }

    // At the end of a piece already full, the soft break after it moves to the cursor instead of
    // getting a second one there, which would give what is written a line of its own on the
    // screen; and a caret standing there moves along with what is written.
    void cutLine() {
        if (cursor_.atBlockEnd() && textbox::FollowsSoftBreak(cursor_.block().next())) {
            cursor_.deleteChar();
        }
        softBreaks_.push_back(cursor_.position());
        insertBreak(SoftBreakFormat());
    }

    void insertBreak(const QTextCharFormat& separator) {
        cursor_.insertBlock(QTextBlockFormat(), separator);
        column_ = blockColumn_ = 0;
    }

    void flush() {
        if (!run_.isEmpty()) {
            cursor_.insertText(run_, QTextCharFormat());
            run_.clear();
        }
    }

    QTextCursor& cursor_;
    const LoneBreaks loneBreaks_;
    QString run_;      // written but not yet in the document
    int column_;       // in the line, or in its piece
    int blockColumn_;  // in the block, which short lines share
    std::vector<int> softBreaks_;
    std::vector<int> lineSeparators_;
};

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

// How long the line around a document position is, counted only until it is longer than a piece.
int LineLengthAround(const QTextDocument& document, int position) {
    const QTextBlock at = document.findBlock(position);
    const int column = position - at.position();
    int length = 0;
    QString part = at.text().left(column);
    for (QTextBlock block = at; length <= textbox::kPieceLength;
         block = block.previous(), part = block.text()) {
        const qsizetype start = part.lastIndexOf(QChar(kLineSeparator)) + 1;
        length += int(part.size() - start);
        if (start > 0 || !textbox::FollowsSoftBreak(block)) {
            break;
        }
    }
    part = at.text().mid(column);
    for (QTextBlock block = at; length <= textbox::kPieceLength;
         block = block.next(), part = block.text()) {
        const qsizetype end = part.indexOf(QChar(kLineSeparator));
        length += int(end < 0 ? part.size() : end);
        if (end >= 0 || !textbox::FollowsSoftBreak(block.next())) {
            break;
        }
    }
    return length;
}

// The characters of one block between two document positions, marks read as what they stand for
// and line separators as CR LF; notes the positions of the line separators.
void AppendCharacters(const QTextBlock& block, int from, int to, QString& out,
                      std::vector<int>& lineSeparators) {
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
        if (standsFor.isValid()) {
            // Marks are told from typed look-alikes by their character format.
            const auto original = char16_t(standsFor.toInt());
            for (const QChar c : chars) {
                out += c == MarkFor(original) ? QChar(original) : c;
            }
            continue;
        }
        for (qsizetype i = 0, runStart = 0; i <= chars.size(); ++i) {
            if (i == chars.size() || chars[i] == QChar(kLineSeparator)) {
                out += QStringView(chars).sliced(runStart, i - runStart);
                if (i < chars.size()) {
                    out += kLineBreak;
                    lineSeparators.push_back(start + int(i));
                }
                runStart = i + 1;
            }
        }
    }
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

// A stretch of a text around an offset, wide enough to find the character, word, sentence or line
// at, before or after the offset: the generic search takes the whole text it is given, which for a
// megabyte line would cost milliseconds a query.
class Excerpt : public QAccessibleTextInterface {
public:
    Excerpt(const QString& text, int offset, QAccessible::TextBoundaryType boundary) {
        offset = std::clamp<int>(offset == -1 ? text.size() : offset, 0, text.size());
        if (boundary == QAccessible::NoBoundary) {
            to_ = text.size();
        } else if (boundary == QAccessible::LineBoundary ||
                   boundary == QAccessible::ParagraphBoundary) {
            // The line with the offset and those on either side of it, each ending with its LF.
            const qsizetype start = LineStart(text, offset);
            from_ = start == 0 ? 0 : LineStart(text, start - 1);
            const qsizetype next = text.indexOf(kLF, offset);
            to_ = next < 0 ? text.size() : LineEnd(text, next + 1);
        } else {
            // Words and sentences longer than this are cut at its edges.
            constexpr int kReach = textbox::kPieceLength;
            from_ = std::max(offset - kReach, 0);
            to_ = std::min<qsizetype>(offset + kReach, text.size());
        }
        text_ = text.mid(from_, to_ - from_);
    }

    using Query = QString (QAccessibleTextInterface::*)(int, QAccessible::TextBoundaryType, int*,
                                                        int*) const;
    // The query answered in the excerpt, with offsets in the whole text.
    QString ask(Query query, int offset, QAccessible::TextBoundaryType boundary, int* start,
                int* end) const {
        const int inside = offset == -1 ? int(to_ - from_) : offset - int(from_);
        const QString found = (this->*query)(inside, boundary, start, end);
        *start += *start >= 0 ? int(from_) : 0;
        *end += *end >= 0 ? int(from_) : 0;
        return found;
    }

    QString text(int start, int end) const override { return text_.mid(start, end - start); }
    int characterCount() const override { return int(text_.size()); }
    // An excerpt is only read: it has no caret, selection, geometry or attributes.
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* start, int* end) const override {
        *start = *end = -1;
        return {};
    }

private:
    static qsizetype LineStart(const QString& text, qsizetype offset) {
        return offset == 0 ? 0 : text.lastIndexOf(kLF, offset - 1) + 1;
    }
    static qsizetype LineEnd(const QString& text, qsizetype offset) {
        const qsizetype lf = text.indexOf(kLF, offset);
        return lf < 0 ? text.size() : lf + 1;
    }

    qsizetype from_ = 0;
    qsizetype to_ = 0;
    QString text_;
};

}  // namespace

// What assistive technology is told of a text box: its text as text() gives it, with offsets
// counted in that text, so that a line laid out in pieces reads as the one line it is. The
// editor's own interface would read each soft break as a line break.
class TextBoxAccessible : public QAccessibleWidget,
                          public QAccessibleTextInterface,
                          public QAccessibleEditableTextInterface {
public:
    explicit TextBoxAccessible(TextBox* box) : QAccessibleWidget(box, QAccessible::EditableText) {}

    static QAccessibleInterface* Create(const QString& /*className*/, QObject* object) {
        auto* box = qobject_cast<TextBox*>(object);
        return box ? new TextBoxAccessible(box) : nullptr;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) {
            return static_cast<QAccessibleTextInterface*>(this);
        }
        if (type == QAccessible::EditableTextInterface) {
            return static_cast<QAccessibleEditableTextInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text type) const override {
        return type == QAccessible::Value ? box()->text() : QAccessibleWidget::text(type);
    }
    void setText(QAccessible::Text type, const QString& text) override {
        if (type == QAccessible::Value) {
            replaceText(0, characterCount(), text);
        }
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.multiLine = state.selectableText = true;
        state.readOnly = box()->isReadOnly();
        state.editable = !state.readOnly;
        return state;
    }

    QString text(int start, int end) const override {
        return box()->text().mid(start, end - start);
    }
    int characterCount() const override { return int(box()->text().size()); }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int* start,
                             int* end) const override {
        return Excerpt(box()->text(), offset, boundary)
            .ask(&QAccessibleTextInterface::textBeforeOffset, offset, boundary, start, end);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int* start,
                            int* end) const override {
        return Excerpt(box()->text(), offset, boundary)
            .ask(&QAccessibleTextInterface::textAfterOffset, offset, boundary, start, end);
    }
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int* start,
                         int* end) const override {
        return Excerpt(box()->text(), offset, boundary)
            .ask(&QAccessibleTextInterface::textAtOffset, offset, boundary, start, end);
    }

    int cursorPosition() const override { return offsetOf(box()->textCursor().position()); }
    void setCursorPosition(int position) override { setSelection(0, position, position); }
    int selectionCount() const override { return box()->textCursor().hasSelection() ? 1 : 0; }
    void selection(int index, int* start, int* end) const override {
        const QTextCursor cursor = box()->textCursor();
        const bool selected = index == 0 && cursor.hasSelection();
        *start = selected ? offsetOf(cursor.selectionStart()) : 0;
        *end = selected ? offsetOf(cursor.selectionEnd()) : 0;
    }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int index) override {
        if (index == 0) {
            setCursorPosition(cursorPosition());
        }
    }
    void setSelection(int index, int start, int end) override {
        if (index != 0) {
            return;
        }
        QTextCursor cursor = box()->textCursor();
        cursor.setPosition(box()->documentPosition(start));
        cursor.setPosition(box()->documentPosition(end), QTextCursor::KeepAnchor);
        box()->setTextCursor(cursor);
    }

    QRect characterRect(int offset) const override {
        QTextCursor cursor(box()->document());
        cursor.setPosition(box()->documentPosition(offset));
        const QRect caret = box()->cursorRect(cursor);
        const int width = box()->fontMetrics().horizontalAdvance(text(offset, offset + 1));
        return {box()->viewport()->mapToGlobal(caret.topLeft()), QSize(width, caret.height())};
    }
    int offsetAtPoint(const QPoint& point) const override {
        const QPoint inside = box()->viewport()->mapFromGlobal(point);
        return offsetOf(box()->cursorForPosition(inside).position());
    }
    // As with the editor's own interface, nothing scrolls without the caret moving.
    void scrollToSubstring(int /*start*/, int /*end*/) override {}
    // Every character of a text box looks alike.
    QString attributes(int /*offset*/, int* start, int* end) const override {
        *start = 0;
        *end = characterCount();
        return {};
    }

    void deleteText(int start, int end) override { replaceText(start, end, {}); }
    void insertText(int offset, const QString& text) override { replaceText(offset, offset, text); }
    void replaceText(int start, int end, const QString& text) override {
        box()->replaceText(start, end, text);
    }

private:
    TextBox* box() const { return static_cast<TextBox*>(widget()); }
    int offsetOf(int position) const { return int(box()->textOffsetOf(position)); }
};

bool textbox::FollowsSoftBreak(const QTextBlock& block) {
    // A block's character format is that of the separator before it.
    return block.isValid() && block.charFormat().boolProperty(kSoftBreakProperty);
}

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
    static std::once_flag accessible;
    std::call_once(accessible, [] { QAccessible::installFactory(&TextBoxAccessible::Create); });
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
    lineSeparators_ = writer.lineSeparators();
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
    if (!marks_.empty()) {
        marks_.clear();
        viewport()->update();
    }
    int breaksAdded = 0;
    std::vector<int> softAdded;
    std::vector<int> separatorsAdded;
    const QString addedText =
        readRange(position, position + added, breaksAdded, softAdded, separatorsAdded);
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
        if ((textbox::FollowsSoftBreak(block) && isNeedlessSoftBreak(block.position() - 1)) ||
            (textbox::FollowsSoftBreak(block.next()) &&
             isNeedlessSoftBreak(block.position() + block.length() - 1))) {
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

// The text that the document range [from, to) stands for; counts the block separators in it
// and notes which of them are soft breaks.
QString TextBox::readRange(int from, int to, int& breaks, std::vector<int>& softBreaks,
                           std::vector<int>& lineSeparators) const {
    QString result;
    to = std::min(to, document()->characterCount() - 1);
    for (QTextBlock block = document()->findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        const int separator = block.position() + block.length() - 1;
        AppendCharacters(block, std::max(from, block.position()), std::min(to, separator), result,
                         lineSeparators);
        if (separator >= to || !block.next().isValid()) {
            break;
        }
        ++breaks;
        if (textbox::FollowsSoftBreak(block.next())) {
            softBreaks.push_back(separator);
        } else {
            result += kLineBreak;
        }
    }
    return result;
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

// The document position `units` characters after (or, when negative, before) the position, as the
// line is shown: a soft break takes no room. The document is asked, not softBreaks_, which an
// edit still open has not brought up to date.
int TextBox::stepAlongLine(int position, int units) const {
    const auto softBreakAt = [this](int at) {
        const QTextBlock block = document()->findBlock(at);
        return at == block.position() + block.length() - 1 &&
               textbox::FollowsSoftBreak(block.next());
    };
    const int step = units < 0 ? -1 : 1;
    const int end = document()->characterCount() - 1;
    for (int left = std::abs(units); left > 0 && position + step >= 0 && position + step <= end;
         --left) {
        // Soft breaks can meet around a piece that the edit has just emptied.
        while (softBreakAt(step < 0 ? position - 1 : position)) {
            position += step;
        }
        position += step;
    }
    return std::clamp(position, 0, end);
}

void TextBox::setMarks(std::vector<TextRun> runs) {
    marks_ = std::move(runs);
    viewport()->update();
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
    if (!marks_.empty()) {
        paintMarks(event->rect());
    }
    QPlainTextEdit::paintEvent(event);
}

// Only the marks of the pieces on screen are painted.
void TextBox::paintMarks(const QRect& area) {
    static const QColor kMarkColour(255, 200, 200);
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
        auto run = std::upper_bound(marks_.begin(), marks_.end(), start,
                                    [](qsizetype at, const TextRun& r) { return at < r.end; });
        for (; run != marks_.end() && run->start < end; ++run) {
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
                                     kMarkColour);
                }
            }
        }
    }
}

// A soft break only cuts a line in two: beside an empty piece or a line separator it would show
// a line that the text does not have, and a line that fits in a piece is shown whole.
bool TextBox::isNeedlessSoftBreak(int separator) const {
    const QTextBlock before = document()->findBlock(separator);
    return before.length() == 1 || before.next().length() == 1 ||
           document()->characterAt(separator - 1) == QChar(kLineSeparator) ||
           document()->characterAt(separator + 1) == QChar(kLineSeparator) ||
           LineLengthAround(*document(), separator) <= textbox::kPieceLength;
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
    const QChar separator(kLineSeparator);
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
        if (!isNeedlessSoftBreak(separator)) {
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
    const int start = stepAlongLine(cursor.position(), event->replacementStart());
    cursor.setPosition(start);
    cursor.setPosition(stepAlongLine(start, event->replacementLength()), QTextCursor::KeepAnchor);
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
    PieceWriter writer(cursor, LoneBreaks::BreakTheLine);
    writer.write(text);
}

}  // namespace vorelta
