#pragma once

#include <QWidget>

#include "toolkit/Colour.h"
#include "toolkit/Geometry.h"

namespace vorelta {

// A straight line drawn on a window; it takes no input, so clicks go to what lies beneath.
class Line : public QWidget {
    Q_OBJECT

public:
    // From and to are in twips relative to the client area; the width is in pixels.
    Line(QWidget* parent, TwipsPoint from, TwipsPoint to, OleColour colour, int width);

    OleColour borderColor() const { return colour_; }
    int borderWidth() const { return width_; }
    // The ends in pixels relative to the client area.
    QPoint from() const { return from_; }
    QPoint to() const { return to_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPoint from_;
    QPoint to_;
    OleColour colour_;
    int width_;
};

}  // namespace vorelta
