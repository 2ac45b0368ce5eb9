#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QFontInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <functional>
#include <thread>

#include "tests/support/RecordingMessageBoxes.h"
#include "toolkit/BusyWait.h"
#include "toolkit/ErrorReport.h"
#include "toolkit/Form.h"
#include "toolkit/Label.h"
#include "toolkit/ListBox.h"
#include "toolkit/Runtime.h"

namespace vorelta {
namespace {

TEST(GeometryTest, FifteenTwipsMakeAPixel) {
    EXPECT_EQ(TwipsToPixels(7245), 483);
    EXPECT_EQ(TwipsToPixels(4470), 298);
    EXPECT_EQ((TwipsRect{360, 1800, 2055, 375}.toPixels()), QRect(24, 120, 137, 25));
    EXPECT_EQ(TwipsToPixels(7), 0);
    EXPECT_EQ(TwipsToPixels(8), 1);
}

TEST(ColourTest, ValuesAreLaidOutBlueGreenRed) {
    EXPECT_EQ(ToQColor(kRed), QColor(255, 0, 0));
    EXPECT_EQ(ToQColor(kDarkBlue), QColor(0, 0, 0xC0));
    EXPECT_EQ(FromQColor(QColor(0x12, 0x34, 0x56)), 0x00563412u);
}

TEST(LabelTest, CaptionReadsBackAsWrittenAndColourAsSet) {
    Label label;
    const QString caption = QStringLiteral(u"找到关键字:\r\nwin\r\n检测到1条关键字,请更改\rx");
    label.setCaption(caption);
    EXPECT_EQ(label.caption(), caption);
    label.setForeColor(kRed);
    EXPECT_EQ(label.foreColor(), kRed);
    EXPECT_EQ(label.focusPolicy(), Qt::NoFocus);
}

TEST(LabelTest, ADoubleClickIsReported) {
    Label label;
    label.resize(100, 20);
    label.show();
    QSignalSpy doubleClicks(&label, &Label::DblClick);
    QTest::mouseDClick(&label, Qt::LeftButton);
    EXPECT_EQ(doubleClicks.count(), 1);
}

TEST(ErrorReportTest, EachKindOfErrorIsShownWithItsNumberAndGoesNoFurther) {
    const struct {
        std::function<void()> fail;
        QString report;
    } cases[] = {
        {[] { throw RuntimeError(3021, QStringLiteral(u"没有当前记录。")); },
         QStringLiteral(u"实时错误 '3021':\r\n\r\n没有当前记录。")},
        {[] { throw std::bad_alloc(); }, QStringLiteral(u"实时错误 '7':\r\n\r\n内存溢出")},
        {[] { throw std::logic_error("boom"); },
         QStringLiteral(u"实时错误 '51':\r\n\r\n内部错误：boom")},
    };
    for (const auto& c : cases) {
        test::RecordingMessageBoxes boxes;
        int stepsRun = 0;
        RunHandler(boxes, [&] {
            ++stepsRun;
            c.fail();
            ++stepsRun;  // never reached: the handler ends at its error
        });
        EXPECT_EQ(stepsRun, 1);
        EXPECT_EQ(boxes.prompts, QStringList{c.report});
    }
}

TEST(ErrorReportTest, AWiredHandlerReportsItsErrorAndTheWindowLivesOn) {
    test::RecordingMessageBoxes boxes;
    struct Window : QWidget {
        void Fail_Click() { throw std::runtime_error("boom"); }
    } window;
    auto* button = new QPushButton(&window);
    WireHandler(boxes, button, &QPushButton::clicked, &window, &Window::Fail_Click);
    window.show();
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(boxes.prompts.size(), 2);
    EXPECT_TRUE(boxes.prompts.front().contains(QStringLiteral("boom")));
}

TEST(ModalTest, AModalWindowBlocksTheOthersUntilItCloses) {
    QWidget owner;
    owner.show();
    QDialog dialog;
    bool blockedWhileOpen = false;
    QTimer::singleShot(0, &dialog, [&] {
        blockedWhileOpen = QApplication::activeModalWidget() == &dialog;
        dialog.close();
    });
    ShowModal(dialog);
    EXPECT_TRUE(blockedWhileOpen);
    EXPECT_FALSE(dialog.isVisible());
}

// The work runs on another thread and its error comes back as if it had run in line. A wait
// that only a cancel ends shows the panel; meanwhile the other windows take no input, and the
// list keeps showing the items in view while their source changes.
TEST(BusyWaitTest, WorkRunsOffTheWindowsThreadUntilItEndsOrIsCancelled) {
    QPushButton other(QStringLiteral("other"));
    other.show();
    QSignalSpy otherClicks(&other, &QPushButton::clicked);
    ListBox list;
    ListBox::Items items{QStringLiteral(u"中奖"), QStringLiteral(u"发票")};
    list.ShowItems([&items] { return &items; });
    list.show();
    std::atomic<bool> cancelled = false;
    BusyWait wait(QStringLiteral(u"正在读取关键字…"), [&cancelled] { cancelled = true; });
    BusyWait::setPanelShownHook([&](QDialog& panel) {
        QTest::mouseClick(&other, Qt::LeftButton);
        EXPECT_EQ(list.List(1), QStringLiteral(u"发票"));
        QTest::mouseClick(panel.findChild<QPushButton*>(), Qt::LeftButton);
    });
    std::thread::id worker;
    EXPECT_THROW(wait.run([&] {
        worker = std::this_thread::get_id();
        throw RuntimeError(5, QStringLiteral("busy"));
    }),
                 RuntimeError);
    EXPECT_NE(worker, std::this_thread::get_id());
    cancelled = false;
    list.HoldItems();
    wait.run([&] {
        items.clear();  // the rows read anew, while the list paints
        while (!cancelled) {
            std::this_thread::yield();
        }
    });
    BusyWait::setPanelShownHook({});
    EXPECT_TRUE(wait.cancelled());
    EXPECT_EQ(otherClicks.count(), 0);
    list.ShowItems([&items] { return &items; });
    EXPECT_EQ(list.ListCount(), 0);
}

TEST(RuntimeTest, DirNamesAFileOrNothing) {
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("MSINFO32.EXE")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_EQ(Dir(dir.filePath(QStringLiteral("MSINFO32.EXE"))), QStringLiteral("MSINFO32.EXE"));
    EXPECT_EQ(Dir(dir.filePath(QStringLiteral("missing.exe"))), QString());
    EXPECT_EQ(Dir(dir.path()), QString());  // a directory is no file
}

TEST(RuntimeTest, AProgramThatCannotStartIsAnError) {
    QtProcessStarter starter;
    EXPECT_THROW(starter.Shell(QString(), vbNormalFocus), RuntimeError);
    EXPECT_THROW(starter.Shell(QStringLiteral("/nonexistent/msinfo32"), vbNormalFocus),
                 RuntimeError);
}

TEST(RuntimeTest, TheClipboardTakesPlainTextWithItsLineBreaks) {
    Clipboard::SetText(QStringLiteral(u"剪贴板\r\n测试"));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral(u"剪贴板\r\n测试"));
    Clipboard::Clear();
    EXPECT_EQ(QApplication::clipboard()->text(), QString());
}

TEST(LookTest, SongFontResolvesToASongStyleChineseFace) {
    const QFontInfo info(SongFont(10.5));
    const QString family = info.family();
    EXPECT_TRUE(family.contains(QStringLiteral("SimSun")) ||
                family.contains(QStringLiteral("CJK")) || family.contains(QStringLiteral("UMing")))
        << family.toStdString();
    EXPECT_DOUBLE_EQ(SongFont(10.5).pointSizeF(), 10.5);
}

TEST(LookTest, QtsOwnTextsAreChinese) {
    QMessageBox box(QMessageBox::NoIcon, App::Title, QStringLiteral("x"), QMessageBox::Ok);
    EXPECT_EQ(box.button(QMessageBox::Ok)->text(), QStringLiteral(u"确定"));
}

TEST(LookTest, TheIconIsAYellowSignWithABlackMarkOnWhite) {
    const QImage image = ApplicationIcon().pixmap(32, 32).toImage();
    ASSERT_EQ(image.size(), QSize(32, 32));
    EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(10, 15), QColor(255, 255, 0));
    EXPECT_EQ(image.pixelColor(16, 12), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(16, 22), QColor(Qt::black));
}

}  // namespace
}  // namespace vorelta
