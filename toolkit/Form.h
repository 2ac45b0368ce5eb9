#pragma once

// Building a window from its layout table, and the look every window shares.

#include <QFont>
#include <QIcon>
#include <span>

#include "toolkit/Geometry.h"

class QCoreApplication;
class QDialog;
class QWidget;

namespace vorelta {

enum class ControlKind { CommandButton, TextBox, Label };

// One control of a window: its name (also its object name), kind, caption (a text box's text),
// rectangle in twips and tab index.
struct ControlDef {
    const char* name;
    ControlKind kind;
    const char16_t* caption;
    TwipsRect twips;
    int tabIndex;
};

// Creates the controls of `form` from its table, listed from front to back: where two
// rectangles overlap, the earlier row is drawn above. Controls that take the focus get it in
// the order of their tab indexes; labels never take it.
void BuildControls(QWidget* form, std::span<const ControlDef> controls);

// Shows the window modally and returns once it has been closed; meanwhile the other windows
// take no input.
void ShowModal(QDialog& form);

// Gives the window a client area of this size that the user cannot change.
void FixClientSize(QWidget* form, TwipsSize size);

// "宋体" at the given size: SimSun on Windows, a Song-style CJK face elsewhere.
QFont SongFont(qreal pointSize);

// The application icon: a yellow diamond warning sign with a black edge and a black
// exclamation mark, on white, 32 x 32.
QIcon ApplicationIcon();

// Qt's own texts (message box buttons, the text box's menu) in Simplified Chinese.
void InstallChineseTranslations(QCoreApplication& app);

// The window font, the icon and the translations, for the whole program.
void ApplyApplicationLook(QCoreApplication& app);

}  // namespace vorelta
