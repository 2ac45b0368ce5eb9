#pragma once

#include <array>
#include <cstdint>

#include "toolkit/Form.h"
#include "toolkit/Runtime.h"
#include "windows/about/SysInfoRegistry.h"

namespace vorelta {

// The About window: the application title in its caption, the data revision and a warning,
// the launcher of the system's information tool, and under them where the keywords come from. The
// main window opens it modally, and each opening builds and loads it anew.
class frmAbout : public ModalForm {
    Q_OBJECT

public:
    frmAbout(MessageBoxes& boxes, ProcessStarter& starter, sysinfo::Registry& registry,
             QWidget* parent = nullptr);

    void Form_Load();

    // Shows where the keywords come from (KeywordSource::description) under the buttons; the
    // window grows to fit it.
    void ShowKeywordSource(const QString& description);

    // Starts the system-information tool, or says that it is not available.
    void StartSysInfo();
    // Reads one registry value as text; true when it was read.
    bool GetKeyValue(std::uint32_t KeyRoot, const QString& KeyName, const QString& SubKeyRef,
                     QString& KeyVal);

private:
    void cmdOK_Click();
    void cmdSysInfo_Click();

    MessageBoxes& boxes_;
    ProcessStarter& starter_;
    sysinfo::Registry& registry_;

public:
    // The controls, as the window's layout tables create them.
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdSysInfo = nullptr;
    Label* lblDisclaimer = nullptr;
    Label* lblTitle = nullptr;
    Label* lblSource = nullptr;
    std::array<Line*, 2> Line1{};
};

}  // namespace vorelta
