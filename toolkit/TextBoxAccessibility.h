#pragma once

class QAccessibleInterface;
class QObject;
class QString;

namespace vorelta {

// The factory that gives a text box its accessible interface, for QAccessible::installFactory.
// Assistive technology is told a box's text as text() gives it, with offsets counted in that
// text, so that a line laid out in pieces reads as the one line it is. The editor's own
// interface would read each soft break as a line break.
QAccessibleInterface* CreateTextBoxAccessible(const QString& className, QObject* object);

}  // namespace vorelta
