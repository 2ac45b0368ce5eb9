#include "windows/about/AboutForm.h"

#include "toolkit/ErrorReport.h"

namespace vorelta {

namespace {

constexpr TwipsSize kClientSize{5730, 3555};

constexpr ControlDef<frmAbout> kControls[] = {
    {VORELTA_CONTROL(frmAbout, cmdOK), u"确定", {4125, 2625, 1500, 345}, 0},
    {VORELTA_CONTROL(frmAbout, cmdSysInfo), u"系统信息(&S)...", {4140, 3075, 1485, 345}, 1},
    {VORELTA_CONTROL(frmAbout, lblDisclaimer), u"警告: ...", {255, 2625, 3630, 825}, 2},
    {VORELTA_CONTROL(frmAbout, lblTitle), u"数据更新：2008-5-29", {600, 720, 3885, 480}, 3},
    // Below the buttons, as wide as the window less its margins; its height follows its text.
    {VORELTA_CONTROL(frmAbout, lblSource), u"", {255, 3555, 5220, 0}, 4},
};

// Below the source line, as much space as beside it.
constexpr int kBottomMargin = 255;

// A grooved separator above the buttons: a grey line with a white one just below it.
constexpr LineDef<frmAbout, 2> kLines[] = {
    {&frmAbout::Line1, 1, {90, 2445}, {5654, 2445}, kGrey, 1},
    {&frmAbout::Line1, 0, {105, 2460}, {5654, 2460}, kWhite, 2},
};

const QString kUnavailable = QStringLiteral(u"此时系统信息不可用");

}  // namespace

frmAbout::frmAbout(MessageBoxes& boxes, ProcessStarter& starter, sysinfo::Registry& registry,
                   QWidget* parent)
    // A dialog with its owner stays out of the taskbar; it has no minimise or maximise box.
    : ModalForm(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      boxes_(boxes),
      starter_(starter),
      registry_(registry) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral(u"关于应用程序"));
    FixClientSize(this, kClientSize);
    BuildControls<frmAbout>(this, kControls);
    BuildLines<frmAbout, 2>(this, kLines);
    lblDisclaimer->setForeColor(kBlack);
    lblTitle->setForeColor(kBlack);
    lblSource->setForeColor(kBlack);
    setDefaultButton(cmdOK);
    setCancelButton(cmdOK);
    cmdOK->setFocus();

    WireHandler(boxes_, cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    WireHandler(boxes_, cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
}

void frmAbout::Form_Load() {
    setWindowTitle(QStringLiteral(u"关于 ") + App::Title);
}

void frmAbout::ShowKeywordSource(const QString& description) {
    lblSource->setCaption(description);
    lblSource->resize(lblSource->width(), lblSource->heightForWidth(lblSource->width()));
    setFixedSize(width(), lblSource->geometry().bottom() + 1 + TwipsToPixels(kBottomMargin));
}

void frmAbout::cmdOK_Click() {
    close();
}

void frmAbout::cmdSysInfo_Click() {
    StartSysInfo();
}

void frmAbout::StartSysInfo() {
    QString ToolPath;
    // Any failure on the way, an error inside the lookup included, ends in the one message.
    try {
        if (GetKeyValue(sysinfo::kHkeyLocalMachine, QString::fromLatin1(sysinfo::kMsinfoKey),
                        QString::fromLatin1(sysinfo::kMsinfoValue), ToolPath)) {
            // The value is the tool's whole path, used without looking for the file first.
            starter_.Shell(ToolPath, vbNormalFocus);
            return;
        }
        const QString file = QString::fromLatin1(sysinfo::kMsinfoFile);
        if (GetKeyValue(sysinfo::kHkeyLocalMachine, QString::fromLatin1(sysinfo::kLocationKey),
                        QString::fromLatin1(sysinfo::kLocationValue), ToolPath) &&
            !Dir(ToolPath + file).isEmpty()) {
            starter_.Shell(ToolPath + file, vbNormalFocus);
            return;
        }
    } catch (const std::exception&) {
    }
    boxes_.MsgBox(kUnavailable);
}

bool frmAbout::GetKeyValue(std::uint32_t KeyRoot, const QString& KeyName, const QString& SubKeyRef,
                           QString& KeyVal) {
    // The registry speaks the system's 8-bit code page.
    std::string value = KeyVal.toLocal8Bit().toStdString();
    const bool found = sysinfo::GetKeyValue(registry_, KeyRoot, KeyName.toLocal8Bit().toStdString(),
                                            SubKeyRef.toLocal8Bit().toStdString(), value);
    KeyVal = QString::fromLocal8Bit(value);
    return found;
}

}  // namespace vorelta
