#pragma once

// Building a window from its layout table, and the look every window shares.

#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QPushButton>
#include <array>
#include <span>
#include <type_traits>
#include <variant>
#include <vector>

#include "toolkit/Geometry.h"
#include "toolkit/Label.h"
#include "toolkit/Line.h"
#include "toolkit/ListBox.h"
#include "toolkit/ScrollingLabel.h"
#include "toolkit/TextBox.h"

class QCoreApplication;

namespace vorelta {

// The member of a window that receives one of its controls.
template <class Form>
using ControlMember = std::variant<QPushButton * Form::*, TextBox * Form::*, Label * Form::*,
                                   ScrollingLabel * Form::*, ListBox * Form::*>;

// One control of a window: the member it is stored in and its name (also its object name),
// its caption (a text box's text), its rectangle in twips and its tab index. The kind of control
// follows from the member's type, so a row cannot name a control the window does not have.
template <class Form>
struct ControlDef {
    ControlMember<Form> member;
    const char* name;
    const char16_t* caption;
    TwipsRect twips;
    int tabIndex;
};

// A table row's member and its name, written once: VORELTA_CONTROL(edit, List1).
#define VORELTA_CONTROL(Form, member) &Form::member, #member

namespace form_detail {
void SetCaption(QPushButton* button, const QString& caption);
void SetCaption(TextBox* box, const QString& caption);
void SetCaption(Label* label, const QString& caption);
void SetCaption(ScrollingLabel* label, const QString& caption);
void SetCaption(ListBox* list, const QString& caption);
// Names and places a new control beneath those made before it.
void Place(QWidget* control, const char* name, TwipsRect twips);
// Chains the controls that take the focus in the order of their tab indexes.
void OrderFocus(std::vector<std::pair<int, QWidget*>> focusOrder);
}  // namespace form_detail

// Creates the controls of `form` from its table, listed from front to back: where two
// rectangles overlap, the earlier row is drawn above. Each control is stored in its member.
// Controls that take the focus get it in the order of their tab indexes; labels never take it.
template <class Form>
void BuildControls(Form* form, std::span<const ControlDef<Form>> controls) {
    std::vector<std::pair<int, QWidget*>> focusOrder;
    for (const ControlDef<Form>& def : controls) {
        std::visit(
            [&](auto member) {
                using Control =
                    std::remove_pointer_t<std::remove_reference_t<decltype(form->*member)>>;
                auto* control = new Control(form);
                form_detail::SetCaption(control, QString::fromUtf16(def.caption));
                form_detail::Place(control, def.name, def.twips);
                // Labels are not reached by Tab.
                if constexpr (!std::is_same_v<Control, Label> &&
                              !std::is_same_v<Control, ScrollingLabel>) {
                    focusOrder.emplace_back(def.tabIndex, control);
                }
                form->*member = control;
            },
            def.member);
    }
    form_detail::OrderFocus(std::move(focusOrder));
}

// One line of a window's control array of lines: the array member, the index, the ends in
// twips, the colour and the width in pixels.
template <class Form, std::size_t N>
struct LineDef {
    std::array<Line*, N> Form::*array;
    std::size_t index;
    TwipsPoint from;
    TwipsPoint to;
    OleColour colour;
    int width;
};

// Draws the lines of `form` from its table, beneath every control.
template <class Form, std::size_t N>
void BuildLines(Form* form, std::span<const LineDef<Form, N>> lines) {
    for (const LineDef<Form, N>& def : lines) {
        auto* line = new Line(form, def.from, def.to, def.colour, def.width);
        line->lower();
        (form->*def.array)[def.index] = line;
    }
}

// A window shown modally. Enter clicks the focused button, or else the default button if the
// window has one; Esc clicks the cancel button if it has one. Without them both do nothing, so
// neither closes the window by itself.
class ModalForm : public QDialog {
    Q_OBJECT

public:
    explicit ModalForm(QWidget* parent = nullptr, Qt::WindowFlags flags = {});

    void setDefaultButton(QPushButton* button);
    void setCancelButton(QPushButton* button) { cancel_ = button; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPushButton* default_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

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
