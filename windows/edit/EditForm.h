#pragma once

#include <functional>

#include "store/Module1.h"
#include "toolkit/Form.h"
#include "toolkit/ListFinder.h"
#include "toolkit/Runtime.h"

namespace vorelta {

// The keyword manager: lists the stored keywords with the tracked count, inserts the keywords
// typed one per line, and deletes the selected one. The main window opens it modally, and
// each opening builds and loads it anew.
class edit : public ModalForm {
    Q_OBJECT

public:
    edit(Module1& state, MessageBoxes& boxes, FileDialogs& files, QWidget* parent = nullptr);

    // Fills the list and the count line before the window is shown.
    void Form_Load();

    // Beyond the list and the two buttons: the find field over the list (Ctrl+F, "查找…" in
    // the list's menu), keyword files dropped on `key` or picked with "从文件导入…" in its
    // menu, and "导出到文件…" in the list's menu.
    void FindInList();
    void ImportKeywordFiles();
    void ExportKeywords();
    ListFinder* finder() const { return finder_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ImportFiles(const QStringList& paths);
    void ShowKeyMenu(const QPoint& at);
    void ShowListMenu(const QPoint& at);
    void Command1_Click();
    void Command2_Click();
    void RefreshKeyList();
    void RunOnStore(const QString& what, const std::function<void()>& work);
    // The list shows the shared recordset's rows as they are kept now.
    void ListKeptKeywords();
    void ShowRowsAfterFailure();
    void ReportCancelOrRethrow();

    Module1& state_;
    MessageBoxes& boxes_;
    FileDialogs& files_;
    ListFinder* finder_ = nullptr;

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
