#pragma once

// Typing as a user types. QTest::keyClicks aborts on characters outside ASCII, so every
// character goes as its own key event carrying the text; line breaks go as Enter.

#include <QTest>
#include <QWidget>

namespace vorelta::test {

inline void Type(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        if (c == u'\n') {
            QTest::keyClick(widget, Qt::Key_Return);
        } else if (c != u'\r') {
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), {});
        }
    }
}

}  // namespace vorelta::test
