#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <memory>

#include "check/MessageCheck.h"
#include "store/Module1.h"
#include "tests/support/Input.h"
#include "tests/support/KeyDatabase.h"
#include "tests/support/ProgramSeams.h"
#include "windows/edit/EditForm.h"
#include "windows/main/MainForm.h"

namespace vorelta::test {
namespace {

using Rows = std::vector<FieldValue>;

// Every unit as written: QString::fromUtf16 would take a U+FEFF at the start for a byte order mark.
QString Key(const char16_t* text) {
    return QStringView(text).toString();
}

// The keyword manager over a key.mdb of its own, opened after the program's start-up.
class ManagerSession {
public:
    void startUp(const Rows& rows) {
        dir.createKeys(rows);
        OpenKeyStore(state, KeyDataSource(dir.path()));
    }

    void open(const Rows& rows) {
        startUp(rows);
        reopen();
    }

    void reopen() {
        window = std::make_unique<edit>(state, boxes, files);
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

    void clickItem(int index) {
        ListBox* list = window->List1;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualRect(list->model()->index(index, 0)).center());
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
    RecordingFileDialogs files;
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
        OpenKeyStore(s.state, KeyDataSource(s.dir.path()));
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
    clickItem(3);
    deleteItem(2);
    EXPECT_EQ(dir.storedKeys(), (Rows{Key(u"cash"), Key(u"win"), Key(u"it's")}));
    EXPECT_EQ(listed(), (QStringList{Key(u"cash"), Key(u"win"), Key(u"it's")}));
    // Nothing selected nor current, so that a second press deletes nothing unchosen, and one
    // click selects whichever keyword it falls on.
    EXPECT_EQ(window->List1->ListIndex(), -1);
    EXPECT_FALSE(window->List1->currentIndex().isValid());
    EXPECT_EQ(countLine(), QStringLiteral(u"当前数据库共有3记录"));
    clickItem(2);
    EXPECT_EQ(window->List1->ListIndex(), 2);

    deleteItem(2);
    EXPECT_EQ(dir.storedKeys(), (Rows{Key(u"cash"), Key(u"win")}));
    EXPECT_EQ(state.KeyCount, 2);
    EXPECT_TRUE(boxes.prompts.isEmpty());
}

// A keyword of millions of characters is listed by its beginning, never laid out whole, and a
// delete still removes the whole of it.
TEST(ManagerListTest, AKeywordOfAnyLengthIsListedByItsBeginningAndDeletedWhole) {
    for (const QString& unit : {Key(u"长"), Key(u"😀")}) {
        ManagerSession s;
        const QString huge = unit.repeated(3'500'000 / unit.size());
        s.open({huge, Key(u"cash")});
        const QString shown = s.window->List1->model()->index(0, 0).data().toString();
        EXPECT_LT(shown.size(), 5000);
        EXPECT_TRUE(shown.endsWith(QChar(0x2026)));
        EXPECT_TRUE(huge.startsWith(shown.chopped(1)));
        EXPECT_FALSE(shown.chopped(1).back().isHighSurrogate());
        EXPECT_EQ(s.listed().front(), huge);
        s.deleteItem(0);
        EXPECT_EQ(s.dir.storedKeys(), Rows{Key(u"cash")});
    }
}

TEST_F(EditWindowTest, ADeleteWithNothingToDeleteChangesNothing) {
    open({Key(u"  "), std::nullopt, Key(u"cash")});
    deleteItem(-1);  // no selection
    deleteItem(0);   // a blank item
    deleteItem(1);   // the empty item of a row without a keyword
    dir.createWithSql("delete from keys where keyname = 'cash'");
    deleteItem(2);  // removed by another program since the list was read
    EXPECT_EQ(dir.storedKeys(), (Rows{Key(u"  "), std::nullopt}));
    EXPECT_EQ(state.KeyCount, 2);                               // the rows listed
    EXPECT_EQ(listed(), (QStringList{Key(u"  "), QString()}));  // reread all the same
    EXPECT_TRUE(boxes.prompts.isEmpty());
}

// The list and the count line show the table's rows as a fresh read gives them, whatever
// changed them: another program, or a change of this window's that failed or was undone.
TEST_F(EditWindowTest, TheListAndTheCountLineShowTheTablesRows) {
    const auto trigger = [](const char* when, const char* raise) {
        return QStringLiteral(
                   "create trigger refuse before %1 on keys begin "
                   "select raise(%2, 'refused'); end")
            .arg(QLatin1String(when), QLatin1String(raise))
            .toStdString();
    };
    const struct {
        const char* name;
        std::function<void(ManagerSession&)> change;
    } cases[] = {
        {"added elsewhere",
         [](auto& s) {
             s.dir.insertKeys({Key(u"别处")});
             s.reopen();
         }},
        {"added elsewhere, then an insert",
         [](auto& s) {
             s.dir.insertKeys({Key(u"别处")});
             s.insert(Key(u"新"));
         }},
        {"removed elsewhere, then a delete",
         [](auto& s) {
             s.dir.createWithSql("delete from keys");
             s.deleteItem(0);
         }},
        {"insert undone",
         [&](auto& s) {
             s.dir.createWithSql(trigger("insert", "rollback"));
             s.insert(Key(u"新"));
         }},
        {"insert refused",
         [&](auto& s) {
             s.dir.createWithSql(trigger("insert", "abort"));
             s.insert(Key(u"新"));
         }},
        {"delete refused",
         [&](auto& s) {
             s.dir.createWithSql(trigger("delete", "abort"));
             s.deleteItem(0);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ManagerSession s;
        s.open({Key(u"cash"), Key(u"win")});
        c.change(s);
        QStringList stored;
        for (const FieldValue& row : s.dir.storedKeys()) {
            stored << row.value_or(QString());
        }
        EXPECT_EQ(s.listed(), stored);
        EXPECT_EQ(s.countLine(), QStringLiteral(u"当前数据库共有%1记录").arg(stored.size()));
        EXPECT_EQ(s.state.KeyCount, stored.size());
    }
}

// Files dropped on the box (or picked in the import dialog) add their lines for review; storing
// them then stores what typing the same lines would. A file that is no text changes nothing.
TEST_F(EditWindowTest, ImportedFilesAddTheirLinesAsIfTyped) {
    open({Key(u"旧词")});
    const auto file = [&](const char* name, const QByteArray& bytes) {
        QFile f(dir.path() + u'/' + QLatin1String(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    };
    const QString listA = file("a.txt", "\xEF\xBB\xBF  中奖\r\n旧词\n\n发票 \r");
    const QString listB = file("b.txt", QStringLiteral(u"代开").toUtf8());
    const QString binary = file("c.bin", QByteArray("x\0y", 3));
    const QString badBytes = file("d.txt", "\xEF\xBB\xBF\xE7\xA8\x8E\xFF");  // 税, a bad byte

    window->key->setText(Key(u"已打"));
    auto* drop = new QMimeData;
    drop->setUrls({QUrl::fromLocalFile(listA), QUrl::fromLocalFile(listB)});
    QDragEnterEvent entered(QPoint(5, 5), Qt::CopyAction, drop, Qt::LeftButton, {});
    QApplication::sendEvent(window->key->viewport(), &entered);
    QDropEvent dropped(QPointF(5, 5), Qt::CopyAction, drop, Qt::LeftButton, {});
    QApplication::sendEvent(window->key->viewport(), &dropped);
    EXPECT_EQ(window->key->text(), Key(u"已打\r\n  中奖\r\n旧词\r\n\r\n发票 \r\n代开"));
    delete drop;

    for (const QStringList& picked :
         {QStringList{listB, binary}, {listB, dir.path()}, {badBytes}}) {
        files.openAnswer = picked;
        window->ImportKeywordFiles();
    }
    EXPECT_EQ(
        boxes.prompts,
        (QStringList{
            QStringLiteral(u"“%1”不是文本文件。").arg(QDir::toNativeSeparators(binary)),
            QStringLiteral(u"“%1”是文件夹，不是文本文件。")
                .arg(QDir::toNativeSeparators(dir.path())),
            QStringLiteral(u"导入的内容中有1行含有无法识别的字节，已显示为 �，请检查后再插入。")}));
    QTest::mouseClick(window->Command1, Qt::LeftButton);
    EXPECT_EQ(dir.storedKeys(), (Rows{Key(u"旧词"), Key(u"已打"), Key(u"中奖"), Key(u"发票"),
                                      Key(u"代开"), Key(u"税\uFFFD")}));
}

// What the export writes, imported into an empty key.mdb and stored, gives back every keyword
// but those the export counts.
TEST_F(EditWindowTest, AnExportImportedAgainGivesBackAllButWhatItCounts) {
    const struct {
        Rows stored;
        QString typed = {};  // stored by the window: the test's own writes would not keep it
    } cases[] = {
        {{Key(u"中奖"), Key(u"两\r\n行"), Key(u" 空格"), std::nullopt, Key(u""), Key(u"中奖"),
          Key(u"😀"), Key(u"\uFEFF前"), Key(u"it's")}},
        {{QStringView(u"k\0k", 3).toString(), Key(u"k\uFFFDk"), Key(u"发票")}},
        {{Key(u"\uFFFDx")}, Key(u"\xD800x\r\nx\xDC00")},
        {{Key(u"a\nb"), Key(u"a\rb"), Key(u"a"), Key(u"b\r\nc")}},
        {{Key(u" 前"), Key(u"前"), Key(u"后 "), Key(u"\u3000全角\u3000")}},
        {{Key(u"\uFEFF前"), Key(u"\uFEFF前"), Key(u"后")}},
        {{std::nullopt, Key(u""), Key(u"  ")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        ManagerSession s, fresh;
        s.open(c.stored);
        if (!c.typed.isEmpty()) {
            s.insert(c.typed);
        }
        const QString path = s.files.saveAnswer = s.dir.path() + QStringLiteral("/export.txt");
        s.window->ExportKeywords();
        fresh.open({});
        fresh.files.openAnswer = {path};
        fresh.window->ImportKeywordFiles();
        QTest::mouseClick(fresh.window->Command1, Qt::LeftButton);
        // Each keyword stored gives back one exported keyword of its text.
        const QStringList exported = s.listed(), stored = fresh.listed();
        QSet<QString> back(stored.begin(), stored.end());
        const auto notBack =
            exported.size() - std::count_if(exported.begin(), exported.end(),
                                            [&](auto& k) { return back.remove(k); });
        QString report = QStringLiteral(u"已导出%1条关键字到“%2”。")
                             .arg(exported.size())
                             .arg(QDir::toNativeSeparators(path));
        if (notBack > 0) {
            report += QStringLiteral(
                          u"其中%1条关键字含换行、首尾空格等，或与前面的重复，"
                          u"从这个文件导入时不会照原样保存。")
                          .arg(notBack);
        }
        EXPECT_EQ(s.boxes.prompts, QStringList{report});
        EXPECT_EQ(fresh.boxes.prompts, QStringList());
    }
}

// The find field over the list: from the selected item on, round at both ends.
TEST_F(EditWindowTest, TheFindFieldSelectsEachKeywordContainingTheText) {
    open({Key(u"中奖"), Key(u"发票"), Key(u"大奖"), Key(u"代开发票"), Key(u"奖金")});
    QTest::keyClick(window.get(), Qt::Key_F, Qt::ControlModifier);
    ListFinder* find = window->finder();
    ASSERT_TRUE(find->isVisible());
    EXPECT_EQ(find->geometry().bottom(), window->List1->geometry().bottom());
    const struct {
        std::function<void()> keys;
        int selected;
        QString where;
    } steps[] = {
        {[&] { Type(find->field(), Key(u"奖")); }, 0, QStringLiteral("1/3")},
        {[&] { QTest::keyClick(find->field(), Qt::Key_Return); }, 2, QStringLiteral("2/3")},
        {[&] { QTest::keyClick(find->field(), Qt::Key_F3); }, 4, QStringLiteral("3/3")},
        {[&] { QTest::keyClick(find->field(), Qt::Key_F3); }, 0, QStringLiteral("1/3")},
        {[&] { QTest::keyClick(find->field(), Qt::Key_F3, Qt::ShiftModifier); }, 4,
         QStringLiteral("3/3")},
        {[&] { Type(find->field(), Key(u"金")); }, 4, QStringLiteral("1/1")},  // 奖金 still
        {[&] { Type(find->field(), Key(u"x")); }, 4, QStringLiteral(u"无匹配")},
        {[&] { QTest::keyClick(find->field(), Qt::Key_Escape); }, 4, QStringLiteral(u"无匹配")},
    };
    for (const auto& step : steps) {
        step.keys();
        EXPECT_EQ(window->List1->ListIndex(), step.selected);
        EXPECT_EQ(find->where(), step.where);
    }
    EXPECT_FALSE(find->isVisible());
    QTest::mouseClick(window->Command2, Qt::LeftButton);  // deletes what was found
    EXPECT_EQ(listed(), (QStringList{Key(u"中奖"), Key(u"发票"), Key(u"大奖"), Key(u"代开发票")}));
}

// The manager as the main window opens it: modal, loaded afresh at every opening.
class ManagerFromMainWindowTest : public testing::Test, protected ProgramSeams {
protected:
    // Clicks "管理关键字库" and runs `use` on the manager while it is open, then closes it.
    void withManager(const std::function<void(edit&)>& use) {
        bool opened = false;
        // Timers also run while the manager reads its list, before it is shown.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* manager = qobject_cast<edit*>(QApplication::activeModalWidget());
            if (!manager || opened) {
                return;
            }
            opened = true;
            use(*manager);
            manager->close();
        });
        poll.start(0);
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
