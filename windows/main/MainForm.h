#pragma once

#include <QWidget>

#include "check/MessageCheck.h"
#include "store/Module1.h"
#include "toolkit/Runtime.h"
#include "windows/about/SysInfoRegistry.h"
#include "windows/main/KeywordScanner.h"

class QPushButton;

namespace vorelta {

class Label;
class ScrollingLabel;
class TextBox;

// The main window: the message box, its length label, the check and its result, and the
// buttons that open the keyword manager and the About window.
class main : public QWidget {
    Q_OBJECT

public:
    main(Module1& state, QString appPath, MessageBoxes& boxes, FileDialogs& files,
         ProcessStarter& starter, sysinfo::Registry& registry, QWidget* parent = nullptr);

    // Runs the start-up sequence before the window is shown. False when key.mdb cannot be
    // used; the reason, with the file's full path, has then been reported.
    bool Load();

private:
    void Form_Load();
    void reportStartupFailure(const RuntimeError& error);
    void Command1_Click();
    void Command3_Click();
    void smsmsg_Change();
    void lrs_DblClick();
    void Command2_Click();
    void Command4_Click();
    void Label2_LineClick();
    void showNearMisses(const ScanResult& result);
    void markInMessage(std::vector<TextRun> hits, std::vector<TextRun> nearMisses);
    void showCheckFailed();
    void putAwayVerdict();
    const QString* reportedKeywordAt(int clickedLine) const;

    Module1& state_;
    const QString appPath_;
    MessageBoxes& boxes_;
    FileDialogs& files_;
    ProcessStarter& starter_;
    sysinfo::Registry& registry_;
    // The keywords the report in Label2 lists, in its order; empty while it shows no report.
    std::vector<QString> reportedKeywords_;
    // The near-misses the report lists, as written in the message, from this line on.
    std::vector<QString> nearMissesWritten_;
    std::vector<QString> nearMissKeywords_;  // the stored keyword of each
    int firstNearMissLine_ = 0;
    KeywordScanner scanner_;

public:
    // The controls, as the window's layout table creates them.
    QPushButton* Command4 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command1 = nullptr;
    TextBox* smsmsg = nullptr;
    ScrollingLabel* Label2 = nullptr;
    Label* lrs = nullptr;
    Label* Label1 = nullptr;
};

}  // namespace vorelta
