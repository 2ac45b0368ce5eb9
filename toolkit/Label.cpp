#include "toolkit/Label.h"

#include <QMouseEvent>

namespace vorelta {

Label::Label(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWordWrap(true);
    setFocusPolicy(Qt::NoFocus);
}

OleColour Label::foreColor() const {
    return TextColourOf(*this, QPalette::WindowText);
}

void Label::setForeColor(OleColour colour) {
    SetTextColour(*this, QPalette::WindowText, colour);
}

void Label::mouseDoubleClickEvent(QMouseEvent* event) {
    QLabel::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) {
        Q_EMIT DblClick();
    }
}

}  // namespace vorelta
