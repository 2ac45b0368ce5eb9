#include "toolkit/TextBoxAccessibility.h"

#include <QAccessibleWidget>
#include <QTextCursor>
#include <algorithm>

#include "toolkit/TextBox.h"
#include "toolkit/TextBoxDocument.h"

namespace vorelta {

namespace {

constexpr char16_t kLF = u'\n';

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

// Not in the anonymous namespace: it is the friend that TextBox names, so that it can map the
// offsets it answers in to document positions and back, and edit by offsets.
class TextBoxAccessible : public QAccessibleWidget,
                          public QAccessibleTextInterface,
                          public QAccessibleEditableTextInterface {
public:
    explicit TextBoxAccessible(TextBox* box) : QAccessibleWidget(box, QAccessible::EditableText) {}

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

QAccessibleInterface* CreateTextBoxAccessible(const QString& /*className*/, QObject* object) {
    auto* box = qobject_cast<TextBox*>(object);
    return box ? new TextBoxAccessible(box) : nullptr;
}

}  // namespace vorelta
