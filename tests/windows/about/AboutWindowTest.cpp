#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "tests/support/KeyDatabase.h"
#include "tests/support/MemoryRegistry.h"
#include "tests/support/ProgramSeams.h"
#include "tests/support/RecordingMessageBoxes.h"
#include "tests/support/RecordingProcessStarter.h"
#include "toolkit/Colour.h"
#include "windows/about/AboutForm.h"
#include "windows/main/MainForm.h"

namespace vorelta::test {
namespace {

using sysinfo::kLocationKey;
using sysinfo::kLocationValue;
using sysinfo::kMsinfoKey;
using sysinfo::kMsinfoValue;

const QString kUnavailable = QStringLiteral(u"此时系统信息不可用");

class AboutWindowTest : public testing::Test {
protected:
    void open() {
        window = std::make_unique<frmAbout>(boxes, starter, registry);
        window->Form_Load();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    RecordingMessageBoxes boxes;
    RecordingProcessStarter starter;
    MemoryRegistry registry;
    std::unique_ptr<frmAbout> window;
};

TEST_F(AboutWindowTest, TheWindowIsLaidOutAsDesigned) {
    open();
    EXPECT_EQ(window->windowTitle(), QStringLiteral(u"关于 Vorelta"));
    EXPECT_EQ(window->size(), QSize(382, 237));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMinMaxButtonsHint);
    EXPECT_TRUE(window->cmdOK->isDefault());

    const struct {
        QWidget* control;
        QRect pixels;
        QString text;
    } expected[] = {
        {window->cmdOK, {275, 175, 100, 23}, QStringLiteral(u"确定")},
        {window->cmdSysInfo, {276, 205, 99, 23}, QStringLiteral(u"系统信息(&S)...")},
        {window->lblDisclaimer, {17, 175, 242, 55}, QStringLiteral(u"警告: ...")},
        {window->lblTitle, {40, 48, 259, 32}, QStringLiteral(u"数据更新：2008-5-29")},
    };
    for (const auto& e : expected) {
        EXPECT_EQ(e.control->geometry(), e.pixels) << e.text.toStdString();
        if (auto* label = qobject_cast<Label*>(e.control)) {
            EXPECT_EQ(label->caption(), e.text);
            EXPECT_EQ(label->foreColor(), kBlack);
        } else {
            EXPECT_EQ(qobject_cast<QPushButton*>(e.control)->text(), e.text);
        }
    }

    // The grooved separator: grey above, white below, both under every control.
    const QImage shot = window->grab().toImage();
    EXPECT_EQ(shot.pixelColor(200, 163), ToQColor(kGrey));
    EXPECT_EQ(shot.pixelColor(200, 164), ToQColor(kWhite));
    EXPECT_EQ(shot.pixelColor(200, 165), ToQColor(kWhite));
    EXPECT_EQ(window->Line1[1]->from(), QPoint(6, 163));
    EXPECT_EQ(window->Line1[0]->to(), QPoint(377, 164));
    EXPECT_EQ(window->childAt(200, 163), nullptr);  // lines take no input
}

TEST_F(AboutWindowTest, EnterAndEscCloseTheWindowAndAltSIsTheLaunchersKey) {
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        open();
        QTest::keyClick(window.get(), key);
        EXPECT_FALSE(window->isVisible()) << key;
    }
    open();
    // Alt+S is the launcher's access key. Offscreen no shortcut reaches a window, so the key is
    // checked here and pressed for real under X by the screenshot script.
    EXPECT_EQ(window->cmdSysInfo->shortcut(), QKeySequence(QStringLiteral("Alt+S")));
    QTest::mouseClick(window->cmdSysInfo, Qt::LeftButton);
    EXPECT_EQ(boxes.prompts, QStringList{kUnavailable});  // an empty registry: nothing found
    EXPECT_TRUE(window->isVisible());
}

// Each case fills the registry (and maybe a folder) and names what is started, if anything.
struct LaunchCase {
    const char* what;
    std::function<void(MemoryRegistry&, RecordingProcessStarter&, const QString& dir)> set;
    std::function<QString(const QString& dir)> started;  // empty: the message instead
};

TEST_F(AboutWindowTest, TheLauncherStartsTheToolItFindsOrSaysItIsUnavailable) {
    const auto none = [](const QString&) { return QString(); };
    const LaunchCase cases[] = {
        {"first value, used as it is",
         [](auto& r, auto&, auto&) { r.SetText(kMsinfoKey, kMsinfoValue, "/opt/msinfo32"); },
         [](auto&) { return QStringLiteral("/opt/msinfo32"); }},
        {"first value naming nothing that starts",
         [](auto& r, auto& s, auto&) {
             r.SetText(kMsinfoKey, kMsinfoValue, "/gone/msinfo32");
             s.missing << QStringLiteral("/gone/msinfo32");
         },
         none},
        {"second value, with the tool in its folder",
         [](auto& r, auto&, const QString& dir) {
             r.SetText(kLocationKey, kLocationValue, dir.toStdString());
             QFile tool(dir + QStringLiteral("\\MSINFO32.EXE"));
             ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
         },
         [](const QString& dir) { return dir + QStringLiteral("\\MSINFO32.EXE"); }},
        {"second value, without the tool",
         [](auto& r, auto&, const QString& dir) {
             r.SetText(kLocationKey, kLocationValue, dir.toStdString());
         },
         none},
        {"neither value", [](auto&, auto&, auto&) {}, none},
        {"a first key that refuses to open",
         [](auto& r, auto&, auto&) { r.AddKey(sysinfo::kHkeyLocalMachine, kMsinfoKey, 5); }, none},
        {"a first value of another type: an empty path",
         [](auto& r, auto&, auto&) {
             r.SetValue(sysinfo::kHkeyLocalMachine, kMsinfoKey, kMsinfoValue, {3, "\x01\x02"});
         },
         none},
        {"a first value longer than the buffer",
         [](auto& r, auto&, auto&) {
             r.SetText(kMsinfoKey, kMsinfoValue, "/" + std::string(1100, 'x'));
         },
         none},
        {"a first value of size 0: an error inside the lookup",
         [](auto& r, auto&, auto&) {
             r.SetValue(sysinfo::kHkeyLocalMachine, kMsinfoKey, kMsinfoValue,
                        {sysinfo::kRegSz, ""});
         },
         none},
    };
    for (const LaunchCase& c : cases) {
        QTemporaryDir temporary;
        // Inside the temporary folder: "folder\MSINFO32.EXE" is a file name of its own here.
        const QString folder = temporary.filePath(QStringLiteral("tools"));
        RecordingMessageBoxes prompts;
        RecordingProcessStarter processes;
        MemoryRegistry keys;
        c.set(keys, processes, folder);
        frmAbout about(prompts, processes, keys);
        about.Form_Load();
        about.show();

        for (int click = 0; click < 2; ++click) {  // the window stays usable after the message
            QTest::mouseClick(about.cmdSysInfo, Qt::LeftButton);
        }
        const QString started = c.started(folder);
        if (started.isEmpty()) {
            EXPECT_EQ(prompts.prompts, QStringList({kUnavailable, kUnavailable})) << c.what;
            EXPECT_TRUE(processes.started.isEmpty()) << c.what;
        } else {
            EXPECT_EQ(processes.started, QStringList({started, started})) << c.what;
            EXPECT_EQ(processes.styles.front(), vbNormalFocus);
            EXPECT_TRUE(prompts.prompts.isEmpty()) << c.what;
        }
        EXPECT_TRUE(about.isVisible()) << c.what;
        EXPECT_EQ(keys.openKeys(), 0u) << c.what;  // every key opened was closed
        for (const MemoryRegistry::Opening& opening : keys.openings) {
            EXPECT_EQ(opening.access, 0x2003Fu);
        }
    }
}

TEST(AboutFromMainWindowTest, EachOpeningIsModalAndSetsTheCaption) {
    TempProgramDir dir;
    dir.createKeys({});
    Module1 state;
    ProgramSeams seams;
    const std::unique_ptr<vorelta::main> window = seams.mainWindow(state, dir.path());
    ASSERT_TRUE(window->Load());
    window->show();
    for (int opening = 0; opening < 2; ++opening) {
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto* about = qobject_cast<frmAbout*>(QApplication::activeModalWidget());
            ASSERT_NE(about, nullptr);
            seen = true;
            EXPECT_EQ(about->windowTitle(), QStringLiteral(u"关于 Vorelta"));
            // Under the buttons, whole inside the window: where the keywords come from.
            EXPECT_EQ(about->lblSource->caption(),
                      QStringLiteral(u"关键字库：程序目录中的 key.mdb\n文件：") +
                          KeyDatabasePath(dir.path()));
            EXPECT_GT(about->lblSource->y(), about->cmdSysInfo->geometry().bottom());
            EXPECT_GE(about->lblSource->height(), about->lblSource->heightForWidth(348));
            EXPECT_LT(about->lblSource->geometry().bottom(), about->height());
            about->setWindowTitle(QStringLiteral("changed"));  // the next opening starts afresh
            QTest::mouseClick(about->cmdOK, Qt::LeftButton);
        });
        QTest::mouseClick(window->Command3, Qt::LeftButton);
        EXPECT_TRUE(seen);
    }
}

}  // namespace
}  // namespace vorelta::test
