#include "toolkit/Line.h"

#include <QPainter>

namespace vorelta {

Line::Line(QWidget* parent, TwipsPoint from, TwipsPoint to, OleColour colour, int width)
    : QWidget(parent), from_(from.toPixels()), to_(to.toPixels()), colour_(colour), width_(width) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    // The widget covers the line and its width, and nothing more.
    const QRect ends = QRect(from_, to_).normalized();
    setGeometry(ends.adjusted(0, 0, width_, width_));
}

void Line::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QPoint origin = geometry().topLeft();
    // A line of width w covers the w pixels from its coordinate downwards or rightwards.
    painter.fillRect(
        QRect(from_ - origin, to_ - origin).normalized().adjusted(0, 0, width_ - 1, width_ - 1),
        ToQColor(colour_));
}

}  // namespace vorelta
