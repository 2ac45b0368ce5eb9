#pragma once

#include "toolkit/Colour.h"
#include "toolkit/TextBox.h"

namespace vorelta {

// A label for long texts. A text that fits looks exactly as in a Label: no frame, the window's
// background, CR LF breaking the line and words wrapping at the label's width. A text taller
// than the label scrolls inside the same rectangle: a vertical scroll bar appears at its right
// edge, and the mouse wheel and, once the label has been clicked, the keyboard scroll it. The
// text can be selected and copied, with CR LF line breaks. It is not reached by Tab.
//
// The lines are laid out only as they come into view, so a text of many thousand lines costs
// no more to show than the screenful seen.
class ScrollingLabel : public TextBox {
    Q_OBJECT

public:
    explicit ScrollingLabel(QWidget* parent = nullptr);

    const QString& caption() const { return text(); }
    void setCaption(const QString& caption);

    OleColour foreColor() const;
    void setForeColor(OleColour colour);

    // The line of the last LineClick, counting lines separated by CR LF from 0.
    int ClickedLine() const { return clickedLine_; }

Q_SIGNALS:
    // A click on a line that selects nothing, or Enter on the line of the caret.
    void LineClick();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool isTallerThanItself() const;
    void showScrollBarIfTaller();
    void clickLineAt(qsizetype offset);

    QPoint pressedAt_;
    int clickedLine_ = -1;
};

}  // namespace vorelta
