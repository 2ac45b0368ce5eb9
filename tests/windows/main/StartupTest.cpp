#include <QApplication>
#include <QSignalSpy>

#include "tests/support/Input.h"
#include "tests/windows/main/MainWindowFixture.h"
#include "toolkit/Colour.h"

namespace vorelta::test {
namespace {

using StartupTest = MainWindowTest;

// The program counts on a second thread while it builds the window; Load then gives what it
// gives when it opens key.mdb itself.
void StartOpeningIf(bool inBackground, Module1& state, const TempProgramDir& dir) {
    if (inBackground) {
        StartOpeningKeyStore(state, KeyDataSource(dir.path()));
    }
}

TEST_F(StartupTest, TheCountLineShowsHowManyKeywordsAreStored) {
    const struct {
        int count;
        bool inBackground;
    } cases[] = {{0, false}, {25, false}, {32768, false}, {0, true}, {32768, true}};
    for (const auto& [count, inBackground] : cases) {
        TempProgramDir own;
        own.createKeys(NumberedKeywords(count));
        Module1 shared;
        StartOpeningIf(inBackground, shared, own);
        vorelta::main window(shared, own.path(), boxes, files, starter, registry);
        ASSERT_TRUE(window.Load());
        EXPECT_EQ(shared.KeyCount, count);
        EXPECT_EQ(window.Label2->caption(), QStringLiteral(u"当前数据库中有%1条关键字").arg(count));
    }
    EXPECT_TRUE(boxes.prompts.isEmpty());
}

TEST_F(StartupTest, EqualAndNullRowsAreEachCounted) {
    dir.createKeys({QStringLiteral("win"), QStringLiteral("win"), std::nullopt, QString("")});
    ASSERT_TRUE(load());
    EXPECT_EQ(Label2()->caption(), QStringLiteral(u"当前数据库中有4条关键字"));
}

// Each case: what is at the key.mdb path, and the error number it must report.
struct BrokenDatabase {
    const char* what;
    std::function<void(TempProgramDir&)> make;
    int number;
    bool inBackground = false;
};

TEST_F(StartupTest, AnUnusableDatabaseIsReportedWithItsPathAndNothingIsCreated) {
    const BrokenDatabase cases[] = {
        {"missing", [](TempProgramDir&) {}, 14},
        {"not a database", [](TempProgramDir& d) { d.writeFile(QByteArray(2048, 'x')); }, 26},
        {"no table keys", [](TempProgramDir& d) { d.createWithSql("create table other (x)"); }, 1},
        {"missing, opened in the background", [](TempProgramDir&) {}, 14, true},
        {"not a database, opened in the background",
         [](TempProgramDir& d) { d.writeFile(QByteArray(2048, 'x')); }, 26, true},
    };
    for (const BrokenDatabase& broken : cases) {
        TempProgramDir own;
        broken.make(own);
        const bool existed = own.hasKeyDatabase();
        RecordingMessageBoxes prompts;
        Module1 shared;
        StartOpeningIf(broken.inBackground, shared, own);
        vorelta::main window(shared, own.path(), prompts, files, starter, registry);

        EXPECT_FALSE(window.Load()) << broken.what;
        ASSERT_EQ(prompts.prompts.size(), 1) << broken.what;
        const QString& prompt = prompts.prompts.front();
        EXPECT_TRUE(prompt.startsWith(QStringLiteral(u"实时错误 '%1':").arg(broken.number)))
            << broken.what << ": " << prompt.toStdString();
        EXPECT_TRUE(prompt.endsWith(own.keyDatabase())) << broken.what;
        EXPECT_EQ(own.hasKeyDatabase(), existed) << broken.what;
    }
}

TEST_F(StartupTest, TheWindowIsLaidOutAsDesigned) {
    open({});
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Vorelta"));
    EXPECT_EQ(window->size(), QSize(483, 298));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);

    struct Expected {
        const char* name;
        QRect pixels;
        QString caption;
    };
    const Expected expected[] = {
        {"Command4", {24, 120, 137, 25}, QStringLiteral(u"复制内容到剪切板")},
        {"Command3", {376, 243, 89, 25}, QStringLiteral(u"关于本软件")},
        {"Command2", {15, 200, 243, 37}, QStringLiteral(u"开 始 检 测")},
        {"Command1", {269, 243, 97, 25}, QStringLiteral(u"管理关键字库")},
        {"smsmsg", {16, 32, 241, 121}, QString()},
        {"Label2", {280, 24, 193, 201}, QStringLiteral(u"当前数据库中有0条关键字")},
        {"lrs", {16, 168, 281, 17}, QStringLiteral(u"请输入")},
        {"Label1", {24, 16, 193, 49}, QStringLiteral(u"输入要检测的内容:")},
    };
    for (const Expected& e : expected) {
        QWidget* widget = control<QWidget>(e.name);
        EXPECT_EQ(widget->geometry(), e.pixels) << e.name;
        if (auto* b = qobject_cast<QPushButton*>(widget)) {
            EXPECT_EQ(b->text(), e.caption) << e.name;
        } else if (auto* l = qobject_cast<Label*>(widget)) {
            EXPECT_EQ(l->caption(), e.caption) << e.name;
        } else {
            EXPECT_EQ(qobject_cast<TextBox*>(widget)->text(), e.caption) << e.name;
        }
    }
    EXPECT_FALSE(button("Command4")->isVisible());
    EXPECT_EQ(lrs()->foreColor(), kDarkBlue);
    EXPECT_DOUBLE_EQ(smsmsg()->font().pointSizeF(), 10.5);
    EXPECT_DOUBLE_EQ(Label2()->font().pointSizeF(), 10.5);
}

TEST_F(StartupTest, OverlappingControlsAreStackedFrontToBack) {
    open({});
    button("Command4")->show();
    const auto topAt = [&](const char* name, QPoint inside) {
        QWidget* top = window->childAt(control<QWidget>(name)->geometry().topLeft() + inside);
        return top == control<QWidget>(name) || control<QWidget>(name)->isAncestorOf(top);
    };
    EXPECT_TRUE(topAt("Command4", {5, 5}));  // over the lower part of the message box
    // Inside both the message box and the prompt, which reaches under its top edge.
    const QPoint overlap = control<QWidget>("smsmsg")->geometry().topLeft() + QPoint(20, 10);
    ASSERT_TRUE(control<QWidget>("Label1")->geometry().contains(overlap));
    EXPECT_TRUE(topAt("smsmsg", {20, 10}));
}

TEST_F(StartupTest, TheFocusStartsInTheMessageAndTabWalksTheVisibleButtons) {
    open({});
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_TRUE(smsmsg()->hasFocus());

    QStringList order;
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(order, QStringList({"Command1", "Command2", "Command3", "smsmsg"}));
}

TEST_F(StartupTest, EnterInTheMessageStartsANewLineAndPressesNoButton) {
    open({});
    std::vector<std::unique_ptr<QSignalSpy>> clicks;
    for (const char* name : {"Command1", "Command2", "Command3", "Command4"}) {
        clicks.push_back(std::make_unique<QSignalSpy>(button(name), &QPushButton::clicked));
    }
    Type(smsmsg(), QStringLiteral(u"第一行\n第二行"));
    EXPECT_EQ(smsmsg()->text(), QStringLiteral(u"第一行\r\n第二行"));
    for (const auto& spy : clicks) {
        EXPECT_EQ(spy->count(), 0);
    }
}

}  // namespace
}  // namespace vorelta::test
