#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <memory>

#include "store/Module1.h"
#include "tests/support/Input.h"
#include "tests/support/KeyDatabase.h"
#include "tests/support/ProgramSeams.h"
#include "windows/edit/EditForm.h"
#include "windows/main/MainForm.h"
#include "windows/main/MessageCheck.h"

namespace vorelta::test {
namespace {

using Rows = std::vector<FieldValue>;

QString Key(const char16_t* text) {
    return QString::fromUtf16(text);
}

// The keyword manager over a key.mdb of its own, opened after the program's start-up.
class ManagerSession {
public:
    void startUp(const Rows& rows) {
        dir.createKeys(rows);
        OpenKeyStore(state, ConnectionString(dir.path()));
    }

    void open(const Rows& rows) {
        startUp(rows);
        reopen();
    }

    void reopen() {
        window = std::make_unique<edit>(state, boxes);
        window->Form_Load();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    void insert(const QString& text) {
        window->key->setText(text);
        QTest::mouseClick(window->Command1, Qt::LeftButton);
    }

    void deleteItem(int index) {
        window->List1->setListIndex(index);
        QTest::mouseClick(window->Command2, Qt::LeftButton);
    }

    QStringList listed() const {
        QStringList items;
        for (int i = 0; i < window->List1->ListCount(); ++i) {
            items << window->List1->List(i);
        }
        return items;
    }

    QString countLine() const { return window->Label1->caption(); }

    TempProgramDir dir;
    Module1 state;
    RecordingMessageBoxes boxes;
    std::unique_ptr<edit> window;
};

class EditWindowTest : public testing::Test, protected ManagerSession {};

TEST_F(EditWindowTest, TheWindowIsLaidOutAsDesignedAndKeepsItsLayoutWhenResized) {
    open({Key(u"中奖"), std::nullopt, Key(u"中奖")});
    EXPECT_EQ(window->windowTitle(), QStringLiteral(u"非法字管理"));
    EXPECT_EQ(window->size(), QSize(483, 298));
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(listed(), (QStringList{Key(u"中奖"), QString(), Key(u"中奖")}));
    EXPECT_EQ(countLine(), QStringLiteral(u"当前数据库共有3记录"));
    EXPECT_EQ(window->Label2->caption(), QString());

    const struct {
        QWidget* control;
        QRect pixels;
    } expected[] = {
        {window->Label3, {16, 16, 201, 33}},    {window->key, {16, 38, 153, 160}},
        {window->Label1, {16, 184, 201, 25}},   {window->Command1, {16, 216, 129, 41}},
        {window->Label2, {16, 264, 209, 25}},   {window->List1, {272, 16, 113, 256}},
        {window->Command2, {400, 120, 73, 33}},
    };
    window->resize(800, 600);
    for (const auto& e : expected) {
        EXPECT_EQ(e.control->geometry(), e.pixels) << e.control->objectName().toStdString();
    }
    EXPECT_EQ(window->Label3->caption(), QStringLiteral(u"关键字之间用回车符隔开"));
    EXPECT_EQ(window->Command1->text(), QStringLiteral(u"插入关键字到数据库"));
    EXPECT_EQ(window->Command2->text(), QStringLiteral(">>删除"));
    EXPECT_EQ(window->key->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(window->List1->selectionMode(), QAbstractItemView::SingleSelection);

    // The text box is drawn over the top of the count line.
    const QPoint overlap(20, 190);
    QWidget* top = window->childAt(overlap);
    EXPECT_TRUE(top == window->key || window->key->isAncestorOf(top));
}

TEST_F(EditWindowTest, TheFocusStartsOnTheInsertButtonAndEnterInTheBoxStartsALine) {
    open({});
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_TRUE(window->Command1->hasFocus());
    QStringList order;
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(order, QStringList({"key", "List1", "Command2", "Command1"}));

    window->key->setFocus();
    QTest::keyClicks(window->key, "ab");
    QTest::keyClick(window->key, Qt::Key_Return);
    QTest::keyClick(window->List1, Qt::Key_Return);  // no default button
    QTest::keyClick(window->List1, Qt::Key_Escape);  // no cancel button either
    EXPECT_EQ(window->key->text(), QStringLiteral("ab\r\n"));
    EXPECT_EQ(window->Label2->caption(), QString());
    EXPECT_TRUE(window->isVisible());
}

TEST_F(EditWindowTest, AnInsertStoresEachNewTrimmedLineOnce) {
    const struct {
        Rows stored;
        QString typed;
        Rows after;  // the table afterwards, in row order
        int added;
    } cases[] = {
        {{}, QStringLiteral("abc\r\n"), {Key(u"abc")}, 1},
        {{}, QStringLiteral("abc\r\nabc"), {Key(u"abc")}, 1},
        {{}, QStringLiteral("  abc  "), {Key(u"abc")}, 1},
        {{}, QStringLiteral(" abc\r\nabc "), {Key(u"abc")}, 1},
        {{Key(u"abc")}, QStringLiteral("abc\r\nx"), {Key(u"abc"), Key(u"x")}, 1},
        {{}, QStringLiteral("\r\n  \r\n\r\n"), {}, 0},
        {{}, QStringLiteral("a\nb\rc"), {Key(u"a\nb\rc")}, 1},
        {{}, QStringLiteral(u"\u3000全角\u3000"), {Key(u"\u3000全角\u3000")}, 1},
        {{},
         QStringLiteral("it's\r\n'; drop table keys; --"),
         {Key(u"it's"), Key(u"'; drop table keys; --")},
         2},
    };
    for (const auto& c : cases) {
        ManagerSession s;
        s.open(c.stored);
        const int before = s.state.KeyCount;

        s.insert(c.typed);
        EXPECT_EQ(s.dir.storedKeys(), c.after) << c.typed.toStdString();
        EXPECT_EQ(s.state.KeyCount, before + c.added);
        EXPECT_EQ(s.window->Label2->caption(), QStringLiteral(u"成功添加%1条关键字").arg(c.added));
        EXPECT_EQ(s.window->List1->ListCount(), int(c.after.size()));
        EXPECT_EQ(s.countLine(), QStringLiteral(u"当前数据库共有%1记录").arg(c.after.size()));
        EXPECT_EQ(s.window->key->text(), c.typed);  // the text stays for another press
        EXPECT_TRUE(s.boxes.prompts.isEmpty());
    }
}

TEST_F(EditWindowTest, TheSameInputTwiceStoresNothingTheSecondTime) {
    open({});
    insert(QStringLiteral("cash\r\nprize"));
    insert(QStringLiteral("cash\r\nprize"));
    EXPECT_EQ(window->Label2->caption(), QStringLiteral(u"成功添加0条关键字"));
    EXPECT_EQ(dir.storedKeys().size(), 2u);
    EXPECT_EQ(state.KeyCount, 2);
}

TEST_F(EditWindowTest, AnEmptyInputIsRefusedAndChangesNothing) {
    open({});
    insert(QStringLiteral("cash"));
    dir.insertKeys({Key(u"by another program")});
    insert(QString());
    EXPECT_EQ(boxes.prompts, QStringList{QStringLiteral(u"至少输入一条内容!")});
    EXPECT_EQ(window->Label2->caption(), QStringLiteral(u"成功添加1条关键字"));
    EXPECT_EQ(listed(), QStringList{Key(u"cash")});  // not reread
}

TEST_F(EditWindowTest, AnErrorHalfwayKeepsTheRowsStoredBeforeItAndSaysHowMany) {
    // A trigger refuses one keyword: ABORT undoes only that row, ROLLBACK the whole insert.
    const struct {
        const char* raise;
        Rows after;
    } cases[] = {
        {"abort", {Key(u"a"), Key(u"b")}},
        {"rollback", {}},
    };
    for (const auto& c : cases) {
        ManagerSession s;
        s.open({});
        s.dir.createWithSql(
            "create trigger refuse before insert on keys "
            "when new.keyname = 'boom' begin select raise(" +
            std::string(c.raise) + ", 'refused'); end;");

        s.insert(QStringLiteral("a\r\nb\r\nboom\r\nc"));
        EXPECT_EQ(s.dir.storedKeys(), c.after) << c.raise;
        EXPECT_EQ(s.state.KeyCount, int(c.after.size()));
        EXPECT_EQ(s.window->Label2->caption(),
                  QStringLiteral(u"成功添加%1条关键字").arg(c.after.size()));
        EXPECT_EQ(s.window->List1->ListCount(), int(c.after.size()));
        ASSERT_EQ(s.boxes.prompts.size(), 1);
        EXPECT_TRUE(s.boxes.prompts.front().contains(QStringLiteral("refused")));
        EXPECT_EQ(s.window->key->text(), QStringLiteral("a\r\nb\r\nboom\r\nc"));
        EXPECT_FALSE(s.state.KeyConnection.InTransaction());
    }
}

// Tables that would not keep a typed line as typed: a row the table drops is not counted, and
// a column that stores text as a number refuses the insert while checks and deletes still work.
TEST_F(EditWindowTest, AnInsertCountsOnlyRowsTheTableKeepsAsTyped) {
    const QString numeric = QStringLiteral(
        u"实时错误 '3251':\r\n\r\n关键字不能添加：列 keyname 会把文字存成数字（如 007 存成 7）。");
    const struct {
        const char* schema;
        Rows after;
        int added;
        QString prompt;
    } cases[] = {
        {"create table keys (keyname text); create trigger drop_x before insert on keys "
         "when new.keyname = 'x' begin select raise(ignore); end",
         {Key(u"词"), Key(u"007")},
         1,
         {}},
        {"create table keys (keyname text collate nocase unique on conflict ignore)",
         {Key(u"词"), Key(u"007")},
         1,
         {}},
        {"create table keys (keyname integer)", {Key(u"词")}, 0, numeric},
        {"create table keys (keyname real)", {Key(u"词")}, 0, numeric},
        {"create table keys (keyname numeric(10))", {Key(u"词")}, 0, numeric},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.schema);
        ManagerSession s;
        s.dir.createWithSql(std::string(c.schema) + "; insert into keys values ('词'), ('X')");
        OpenKeyStore(s.state, ConnectionString(s.dir.path()));
        s.reopen();
        s.insert(QStringLiteral("007\r\nx"));
        s.deleteItem(1);  // X: a delete works whatever the column's type
        EXPECT_EQ(s.dir.storedKeys(), c.after);
        EXPECT_EQ(s.window->Label2->caption(), QStringLiteral(u"成功添加%1条关键字").arg(c.added));
        EXPECT_EQ(s.state.KeyCount, 1 + c.added);
        EXPECT_EQ(s.boxes.prompts, c.prompt.isEmpty() ? QStringList() : QStringList{c.prompt});
    }
}

TEST_F(EditWindowTest, ADeleteRemovesOneRowOfTheSelectedKeyword) {
    open({Key(u"win"), Key(u"cash"), Key(u"win"), Key(u"it's")});
    deleteItem(2);
    EXPECT_EQ(dir.storedKeys(), (Rows{Key(u"cash"), Key(u"win"), Key(u"it's")}));
    EXPECT_EQ(listed(), (QStringList{Key(u"cash"), Key(u"win"), Key(u"it's")}));
    EXPECT_EQ(window->List1->ListIndex(), -1);
    EXPECT_EQ(countLine(), QStringLiteral(u"当前数据库共有3记录"));

    deleteItem(2);
    EXPECT_EQ(dir.storedKeys(), (Rows{Key(u"cash"), Key(u"win")}));
    EXPECT_EQ(state.KeyCount, 2);
    EXPECT_TRUE(boxes.prompts.isEmpty());
}

TEST_F(EditWindowTest, ADeleteWithNothingToDeleteChangesNothing) {
    open({Key(u"  "), std::nullopt, Key(u"cash")});
    deleteItem(-1);  // no selection
    deleteItem(0);   // a blank item
    deleteItem(1);   // the empty item of a row without a keyword
    dir.createWithSql("delete from keys where keyname = 'cash'");
    deleteItem(2);  // removed by another program since the list was read
    EXPECT_EQ(dir.storedKeys(), (Rows{Key(u"  "), std::nullopt}));
    EXPECT_EQ(state.KeyCount, 3);
    EXPECT_EQ(listed(), (QStringList{Key(u"  "), QString()}));  // reread all the same
    EXPECT_TRUE(boxes.prompts.isEmpty());
}

TEST_F(EditWindowTest, TheCountLineFollowsThisRunNotTheTable) {
    startUp({});
    dir.insertKeys({Key(u"added elsewhere")});
    reopen();
    EXPECT_EQ(countLine(), QStringLiteral(u"当前数据库共有0记录"));
    deleteItem(0);
    EXPECT_EQ(countLine(), QStringLiteral(u"当前数据库共有-1记录"));
}

// The manager as the main window opens it: modal, loaded afresh at every opening.
class ManagerFromMainWindowTest : public testing::Test, protected ProgramSeams {
protected:
    // Clicks "管理关键字库" and runs `use` on the manager while it is open, then closes it.
    void withManager(const std::function<void(edit&)>& use) {
        bool opened = false;
        QTimer::singleShot(0, [&] {
            auto* manager = qobject_cast<edit*>(QApplication::activeModalWidget());
            ASSERT_NE(manager, nullptr);
            opened = true;
            use(*manager);
            manager->close();
        });
        QTest::mouseClick(window->Command1, Qt::LeftButton);
        EXPECT_TRUE(opened);
    }

    void check(const QString& message) {
        window->smsmsg->setText(message);
        QTest::mouseClick(window->Command2, Qt::LeftButton);
    }

    TempProgramDir dir;
    Module1 state;
    std::unique_ptr<vorelta::main> window;
};

TEST_F(ManagerFromMainWindowTest, AChangeTakesEffectAtTheNextCheckAndEachOpeningStartsAfresh) {
    dir.createKeys({Key(u"cash")});
    window = mainWindow(state, dir.path());
    ASSERT_TRUE(window->Load());
    window->show();

    withManager([&](edit& manager) {
        EXPECT_FALSE(window->isEnabled() && QApplication::activeModalWidget() != &manager);
        manager.key->setText(Key(u"中奖"));
        QTest::mouseClick(manager.Command1, Qt::LeftButton);
    });
    EXPECT_EQ(window->Label2->caption(), QStringLiteral(u"当前数据库中有1条关键字"));
    check(Key(u"恭喜中奖"));
    EXPECT_EQ(window->Label2->caption(),
              QStringLiteral(u"找到关键字:\r\n中奖\r\n检测到1条关键字,请更改"));

    withManager([&](edit& manager) {
        EXPECT_EQ(manager.key->text(), QString());
        EXPECT_EQ(manager.Label2->caption(), QString());
        EXPECT_EQ(manager.Label1->caption(), QStringLiteral(u"当前数据库共有2记录"));
        manager.List1->setListIndex(1);
        QTest::mouseClick(manager.Command2, Qt::LeftButton);
    });
    check(Key(u"恭喜中奖"));
    EXPECT_EQ(window->Label2->caption(), kCleanVerdict);
    EXPECT_TRUE(boxes.prompts.isEmpty());
}

}  // namespace
}  // namespace vorelta::test
