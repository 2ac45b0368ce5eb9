#pragma once

#include <QLabel>

#include "toolkit/Colour.h"

namespace vorelta {

// A label whose caption reads back exactly as written. CR LF breaks the shown line, and the
// text wraps at the label's width. It takes no keyboard focus.
class Label : public QLabel {
    Q_OBJECT

public:
    explicit Label(QWidget* parent = nullptr);

    QString caption() const { return text(); }
    void setCaption(const QString& caption) { setText(caption); }

    OleColour foreColor() const;
    void setForeColor(OleColour colour);

Q_SIGNALS:
    void DblClick();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

}  // namespace vorelta
