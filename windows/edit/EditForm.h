#pragma once

#include "store/Module1.h"
#include "toolkit/Form.h"
#include "toolkit/Runtime.h"

namespace vorelta {

// The keyword manager: lists the stored keywords with the tracked count, inserts the keywords
// typed one per line, and deletes the selected one. The main window opens it modally, and
// each opening builds and loads it anew.
class edit : public ModalForm {
    Q_OBJECT

public:
    edit(Module1& state, MessageBoxes& boxes, QWidget* parent = nullptr);

    // Fills the list and the count line before the window is shown.
    void Form_Load();

private:
    void Command1_Click();
    void Command2_Click();
    void RefreshKeyList();
    void ShowInsertResult(std::int32_t added, bool rereadList);

    Module1& state_;
    MessageBoxes& boxes_;

public:
    // The controls, as the window's layout table creates them.
    Label* Label3 = nullptr;
    TextBox* key = nullptr;
    Label* Label1 = nullptr;
    QPushButton* Command1 = nullptr;
    Label* Label2 = nullptr;
    ListBox* List1 = nullptr;
    QPushButton* Command2 = nullptr;
};

}  // namespace vorelta
