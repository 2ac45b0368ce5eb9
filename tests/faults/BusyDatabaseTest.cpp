// Another program holding a write lock on key.mdb while the user checks, inserts or deletes.

#include <sqlite3.h>

#include <QDialog>
#include <QLabel>
#include <QSignalSpy>
#include <chrono>
#include <functional>
#include <thread>

#include "store/SqliteEngine.h"
#include "tests/faults/FaultSession.h"
#include "toolkit/BusyWait.h"

namespace vorelta::test {
namespace {

using namespace std::chrono_literals;
using Rows = std::vector<FieldValue>;

const QString kBusyReport =
    QStringLiteral(u"实时错误 '5':\r\n\r\n关键字库正在被其他人修改，请稍后再试。");

// Another program's write transaction on key.mdb: while it is open nobody else can read.
class ForeignWriteLock {
public:
    explicit ForeignWriteLock(const QString& path) {
        sqlite3_open_v2(path.toUtf8().constData(), &db_, SQLITE_OPEN_READWRITE, nullptr);
        EXPECT_EQ(sqlite3_exec(db_, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
    }
    ~ForeignWriteLock() {
        if (releaser_.joinable()) {
            releaser_.join();
        } else {
            sqlite3_exec(db_, "rollback", nullptr, nullptr, nullptr);
        }
        sqlite3_close(db_);
    }
    // Ends the transaction from another thread after a while, as the other program would,
    // while this thread is inside the statement that waits.
    void releaseAfter(std::chrono::milliseconds delay) {
        releaser_ = std::thread([this, delay] {
            std::this_thread::sleep_for(delay);
            sqlite3_exec(db_, "commit", nullptr, nullptr, nullptr);
        });
    }

private:
    sqlite3* db_ = nullptr;
    std::thread releaser_;
};

// One user action and what it leaves behind, with and without success.
struct Action {
    const char* name;
    std::function<void(FaultSession&)> run;
    // Checks the outcome; `succeeded` tells which is expected.
    std::function<void(FaultSession&, bool succeeded)> verify;
};

const QString kStored = QStringLiteral(u"中奖");
const QString kTypedMessage = QStringLiteral(u" 恭喜 中奖 ");
const QString kTypedKeywords = QStringLiteral(u"发票\r\n代开");

std::vector<Action> Actions() {
    return {
        {"check", [](FaultSession& s) { s.check(kTypedMessage); },
         [](FaultSession& s, bool succeeded) {
             EXPECT_EQ(s.message(), QStringLiteral(u"恭喜中奖"));
             const QString verdict = s.checker->Label2->caption();
             EXPECT_EQ(verdict.contains(kStored), succeeded) << verdict.toStdString();
             if (!succeeded) {  // nor the clean verdict of the message checked before
                 EXPECT_EQ(verdict, kCheckFailedText);
                 EXPECT_FALSE(s.checker->Command4->isVisibleTo(s.checker.get()));
             }
         }},
        {"insert", [](FaultSession& s) { s.insert(kTypedKeywords); },
         [](FaultSession& s, bool succeeded) {
             EXPECT_EQ(s.manager->key->text(), kTypedKeywords);
             const Rows expected =
                 succeeded ? Rows{kStored, QStringLiteral(u"发票"), QStringLiteral(u"代开")}
                           : Rows{kStored};
             EXPECT_EQ(s.dir.storedKeys(), expected);
             EXPECT_EQ(s.state.KeyCount, int(expected.size()));
             EXPECT_EQ(s.listed().size(), qsizetype(expected.size()));
             EXPECT_FALSE(s.state.KeyConnection.InTransaction());
         }},
        {"delete", [](FaultSession& s) { s.deleteKeyword(kStored); },
         [](FaultSession& s, bool succeeded) {
             EXPECT_EQ(s.dir.storedKeys(), succeeded ? Rows{} : Rows{kStored});
             EXPECT_EQ(s.state.KeyCount, succeeded ? 0 : 1);
         }},
    };
}

TEST(BusyDatabaseTest, ALockReleasedWithinTheWaitOnlyDelaysTheAction) {
    for (const Action& action : Actions()) {
        SCOPED_TRACE(action.name);
        FaultSession s;
        s.startUp({kStored});  // the program's own wait of 5 s
        {
            ForeignWriteLock lock(s.dir.keyDatabase());
            lock.releaseAfter(100ms);
            action.run(s);
        }
        EXPECT_TRUE(s.boxes.prompts.isEmpty()) << s.boxes.prompts.join(u'|').toStdString();
        action.verify(s, true);
    }
}

TEST(BusyDatabaseTest, ALockHeldPastTheWaitIsReportedInWordsAndLosesNothing) {
    for (const Action& action : Actions()) {
        SCOPED_TRACE(action.name);
        FaultSession s;
        s.startUp({kStored}, {.busyTimeoutMs = 50});
        s.check(QStringLiteral(u"你好朋友"));  // clean, with the copy button
        {
            ForeignWriteLock lock(s.dir.keyDatabase());
            action.run(s);
        }
        EXPECT_EQ(s.boxes.prompts, QStringList{kBusyReport});
        action.verify(s, false);
        // Once the other program is done, the same action goes through.
        s.boxes.prompts.clear();
        action.run(s);
        EXPECT_TRUE(s.boxes.prompts.isEmpty());
        action.verify(s, true);
    }
}

// A lock held longer than anyone would wait: the panel says what is waited for while the
// windows take no other input, and its cancel (the button, or Esc) ends the wait; the action
// then stores nothing and says so, and goes through once the other program is done.
TEST(BusyDatabaseTest, ThePanelsCancelEndsAWaitForALockAndLosesNothing) {
    const struct {
        QString panelLine;
        bool byEscape;
        QStringList prompts;  // what the window says after the cancel
    } cases[] = {
        {QStringLiteral(u"正在读取关键字…"), false, {}},  // the result label says it
        {QStringLiteral(u"正在保存关键字…"), true, {QStringLiteral(u"操作已取消。")}},
        {QStringLiteral(u"正在删除关键字…"), false, {QStringLiteral(u"操作已取消。")}},
    };
    const std::vector<Action> actions = Actions();
    for (std::size_t i = 0; i < actions.size(); ++i) {
        SCOPED_TRACE(actions[i].name);
        FaultSession s;
        s.startUp({kStored}, {.busyTimeoutMs = 60000});  // only a cancel ends it soon
        s.check(QStringLiteral(u"你好朋友"));
        s.checker->show();
        QSignalSpy presses(s.checker->Command2, &QPushButton::clicked);
        QStringList panelLines;
        bool verdictBeside = false;  // the earlier message's, while the new one waits
        BusyWait::setPanelShownHook([&](QDialog& panel) {
            panelLines << panel.findChild<QLabel*>()->text();
            verdictBeside =
                s.checker->Command4->isVisible() || s.checker->Label2->caption() == kCleanVerdict;
            QTest::mouseClick(s.checker->Command2, Qt::LeftButton);  // a second press
            if (cases[i].byEscape) {
                QTest::keyClick(&panel, Qt::Key_Escape);
            } else {
                QTest::mouseClick(panel.findChild<QPushButton*>(), Qt::LeftButton);
            }
        });
        {
            ForeignWriteLock lock(s.dir.keyDatabase());
            actions[i].run(s);
        }
        BusyWait::setPanelShownHook({});
        EXPECT_EQ(panelLines, QStringList{cases[i].panelLine});
        const bool checking = actions[i].name == std::string("check");
        EXPECT_EQ(presses.count(), checking ? 1 : 0);
        EXPECT_EQ(verdictBeside, !checking);
        EXPECT_EQ(s.boxes.prompts, cases[i].prompts);
        actions[i].verify(s, false);
        s.boxes.prompts.clear();
        actions[i].run(s);
        EXPECT_TRUE(s.boxes.prompts.isEmpty());
        actions[i].verify(s, true);
    }
}

// Counts the separate waits: SQLite calls the handler with attempt 0 when a wait begins.
// It gives up after a few attempts, so the test takes no time.
int CountWaits(void* waits, int attempt) {
    if (attempt == 0) {
        ++*static_cast<int*>(waits);
    }
    return attempt < 3;
}

TEST(BusyDatabaseTest, ALockHeldPastTheWaitCostsOneWaitPerAction) {
    for (const Action& action : Actions()) {
        SCOPED_TRACE(action.name);
        FaultSession s;
        s.startUp({kStored});
        int waits = 0;
        sqlite3_busy_handler(SqliteHandle(s.state.KeyConnection), CountWaits, &waits);
        {
            ForeignWriteLock lock(s.dir.keyDatabase());
            action.run(s);
        }
        EXPECT_EQ(waits, 1);
        EXPECT_EQ(s.boxes.prompts, QStringList{kBusyReport});
    }
}

// Another program reading: SQLite must wait for it before writing to the file. A large insert
// waits once, not again each time its page cache spills; when the reader stays past that wait,
// nothing is stored and nothing is claimed.
TEST(BusyDatabaseTest, AReaderHeldPastTheWaitCostsABulkInsertOneWaitAndStoresNothing) {
    FaultSession s;
    s.startUp({kStored});
    int waits = 0;
    sqlite3_busy_handler(SqliteHandle(s.state.KeyConnection), CountWaits, &waits);
    QStringList lines;  // far more than SQLite's page cache holds
    for (int i = 0; i < 40000; ++i) {
        lines << QStringLiteral(u"新关键字%1").arg(i).leftJustified(60, u'长');
    }
    sqlite3* reader = nullptr;
    sqlite3_open(s.dir.keyDatabase().toUtf8().constData(), &reader);
    sqlite3_exec(reader, "begin; select count(*) from keys", nullptr, nullptr, nullptr);
    s.insert(lines.join(QStringLiteral("\r\n")));
    EXPECT_EQ(waits, 1);
    EXPECT_EQ(s.boxes.prompts, QStringList{kBusyReport});
    EXPECT_EQ(s.manager->Label2->caption(), QStringLiteral(u"成功添加0条关键字"));
    EXPECT_EQ(s.dir.storedKeys(), Rows{kStored});
    sqlite3_close_v2(reader);  // its read transaction ends with it
    s.insert(lines.join(QStringLiteral("\r\n")));
    EXPECT_EQ(s.state.KeyCount, 40001);
}

}  // namespace
}  // namespace vorelta::test
