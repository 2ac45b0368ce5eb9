#include "toolkit/ScrollingLabel.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextDocument>

#include "base/Text.h"

namespace vorelta {

ScrollingLabel::ScrollingLabel(QWidget* parent) : TextBox(parent) {
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setFocusPolicy(Qt::ClickFocus);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // As a label wraps: at word boundaries only, a long word running past the edge.
    setWordWrapMode(QTextOption::WordWrap);
    document()->setDocumentMargin(0);
    QPalette p = palette();
    p.setBrush(QPalette::Base, p.brush(QPalette::Window));
    setPalette(p);
}

void ScrollingLabel::setCaption(const QString& caption) {
    setText(caption);
    verticalScrollBar()->setValue(0);
    showScrollBarIfTaller();
}

OleColour ScrollingLabel::foreColor() const {
    return TextColourOf(*this, QPalette::Text);
}

void ScrollingLabel::setForeColor(OleColour colour) {
    SetTextColour(*this, QPalette::Text, colour);
}

// Each line takes at least one line's height, so a text of more lines than fit is taller at
// once, however long it is; only a text of a few lines is laid out to see whether it wraps into
// more than fit.
bool ScrollingLabel::isTallerThanItself() const {
    const qsizetype lines = caption().count(kLineBreak) + 1;
    if (lines * fontMetrics().lineSpacing() > height()) {
        return true;
    }
    QTextDocument laidOut;
    laidOut.setDocumentMargin(0);
    laidOut.setDefaultFont(font());
    QTextOption option = laidOut.defaultTextOption();
    option.setWrapMode(QTextOption::WordWrap);
    laidOut.setDefaultTextOption(option);
    laidOut.setPlainText(caption());
    laidOut.setTextWidth(width());
    return laidOut.size().height() > height();
}

void ScrollingLabel::showScrollBarIfTaller() {
    setVerticalScrollBarPolicy(isTallerThanItself() ? Qt::ScrollBarAlwaysOn
                                                    : Qt::ScrollBarAlwaysOff);
}

void ScrollingLabel::resizeEvent(QResizeEvent* event) {
    TextBox::resizeEvent(event);
    showScrollBarIfTaller();
}

void ScrollingLabel::mousePressEvent(QMouseEvent* event) {
    pressedAt_ = event->position().toPoint();
    TextBox::mousePressEvent(event);
}

void ScrollingLabel::mouseReleaseEvent(QMouseEvent* event) {
    TextBox::mouseReleaseEvent(event);
    const bool dragged = (event->position().toPoint() - pressedAt_).manhattanLength() >=
                         QApplication::startDragDistance();
    if (event->button() == Qt::LeftButton && !dragged && !textCursor().hasSelection()) {
        clickLineAt(offsetAt(event->position().toPoint()));
    }
}

void ScrollingLabel::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        clickLineAt(selection().start);
        return;
    }
    TextBox::keyPressEvent(event);
}

void ScrollingLabel::clickLineAt(qsizetype offset) {
    clickedLine_ = int(QStringView(caption()).left(offset).count(kLineBreak));
    Q_EMIT LineClick();
}

}  // namespace vorelta
