// key.mdb changed under the running program by other programs: replaced by a rename, copied
// over in place, deleted and put back, its table changed in every way; the keywords the program
// keeps between actions always answer as a fresh read would.

#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <chrono>
#include <cstdio>
#include <thread>

#include "store/SqliteEngine.h"
#include "tests/faults/FaultSession.h"
#include "tests/support/RowByRowScan.h"

namespace vorelta::test {
namespace {

const QString kOld = QStringLiteral(u"旧词");
const QString kNew = QStringLiteral(u"新词");
const QString kAdded = QStringLiteral(u"加词");

// A colleague's list made the same way as the program's: the same size and the same header, so
// SQLite cannot tell the two files apart by what it validates its cache with.
QByteArray ColleaguesList() {
    TempProgramDir other;
    other.createKeys({kNew});
    return other.fileBytes();
}

TEST(ChangedFileTest, EveryActionWorksOnTheFileTheNameHoldsNowOrSaysItIsGone) {
    const QString notFound = QStringLiteral(u"实时错误 '53':\r\n\r\n找不到关键字库文件 ");
    const QString notADatabase =
        QStringLiteral(u"实时错误 '26':\r\n\r\n文件不是有效的数据库。\r\n\r\n");
    const struct {
        const char* how;
        std::function<void(TempProgramDir&)> change;
        // What every action says until the colleague's list is written in its place; nothing
        // when the change itself leaves a keyword list there.
        QString error;
    } cases[] = {
        {"renamed over it, as a sync tool does",
         [](TempProgramDir& d) {
             QFile incoming(d.path() + QStringLiteral("/incoming.mdb"));
             ASSERT_TRUE(incoming.open(QIODevice::WriteOnly));
             incoming.write(ColleaguesList());
             incoming.close();
             ASSERT_EQ(std::rename(QFile::encodeName(incoming.fileName()).constData(),
                                   QFile::encodeName(d.keyDatabase()).constData()),
                       0);
         },
         {}},
        {"copied over it in place", [](TempProgramDir& d) { d.writeFile(ColleaguesList()); }, {}},
        {"deleted", [](TempProgramDir& d) { ASSERT_TRUE(QFile::remove(d.keyDatabase())); },
         notFound},
        {"emptied", [](TempProgramDir& d) { d.writeFile({}); }, notADatabase},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        FaultSession s;
        s.startUp({kOld});
        s.check(kOld);  // the old file's pages are in SQLite's cache now
        ASSERT_EQ(s.check(QStringLiteral(u"你好朋友")), kCleanVerdict);
        const QByteArray changedTo = (c.change(s.dir), s.dir.fileBytes());
        if (!c.error.isEmpty()) {
            // A check that fails leaves no verdict: neither the last message's nor a copy.
            EXPECT_EQ(s.check(QStringLiteral(u"旧 词")), kCheckFailedText);
            EXPECT_FALSE(s.checker->Command4->isVisibleTo(s.checker.get()));
            EXPECT_TRUE(s.checker->smsmsg->marks().empty());
            s.insert(kAdded);
            s.deleteKeyword(kOld);
            EXPECT_EQ(s.boxes.prompts,
                      QStringList(3, c.error + QDir::toNativeSeparators(s.dir.keyDatabase())));
            EXPECT_EQ(s.message(), kOld);  // what was typed stays
            EXPECT_EQ(s.manager->key->text(), kAdded);
            EXPECT_EQ(s.state.KeyCount, 1);
            EXPECT_EQ(s.dir.hasKeyDatabase(), c.error != notFound);  // never created
            EXPECT_EQ(s.dir.fileBytes(), changedTo);                 // nor written into
            s.boxes.prompts.clear();
            s.dir.writeFile(ColleaguesList());
        }
        EXPECT_EQ(s.check(kOld + kNew),
                  QStringLiteral(u"找到关键字:\r\n新词\r\n检测到1条关键字,请更改"));
        s.manager->Form_Load();
        EXPECT_EQ(s.listed(), QStringList{kNew});
        s.insert(kAdded);
        s.deleteKeyword(kNew);
        EXPECT_EQ(s.dir.storedKeys(), std::vector<FieldValue>{kAdded});  // nothing of the old
        EXPECT_TRUE(s.boxes.prompts.isEmpty()) << s.boxes.prompts.join(u'|').toStdString();
    }
}

// A file put in place of key.mdb by a rename, as a sync tool does.
void RenameOver(const QString& from, const QString& keyDatabase) {
    ASSERT_EQ(std::rename(QFile::encodeName(from).constData(),
                          QFile::encodeName(keyDatabase).constData()),
              0);
}

QString ListIn(TempProgramDir& dir, const char* name, const std::vector<FieldValue>& keys) {
    TempProgramDir other;
    other.createKeys(keys);
    const QString file = dir.path() + u'/' + QLatin1String(name);
    QFile::copy(other.keyDatabase(), file);
    return file;
}

// The next action opens a new key.mdb and waits in its first read for another program's lock;
// meanwhile a third file takes the name.
void RenamedOverWhileOpened(FaultSession& s) {
    const QString third = ListIn(s.dir, "third.mdb", {QStringLiteral(u"丙"), kNew});
    RenameOver(ListIn(s.dir, "second.mdb", {QStringLiteral(u"乙")}), s.dir.keyDatabase());
    sqlite3* other = nullptr;
    sqlite3_open(s.dir.keyDatabase().toUtf8().constData(), &other);
    ASSERT_EQ(sqlite3_exec(other, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
    std::thread renamer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        RenameOver(third, s.dir.keyDatabase());
        sqlite3_exec(other, "rollback", nullptr, nullptr, nullptr);
    });
    s.check(kNew);
    renamer.join();
    sqlite3_close(other);
}

// A colleague's list renamed over key.mdb while the insert commits: what the insert stored
// went into the file that lost the name, and the program says so instead of claiming it.
void RenamedOverDuringCommit(FaultSession& s) {
    static QString incoming, keyDatabase;
    incoming = ListIn(s.dir, "incoming.mdb", {kNew});
    keyDatabase = s.dir.keyDatabase();
    sqlite3* db = SqliteHandle(s.state.KeyConnection);
    sqlite3_commit_hook(
        db, [](void*) { return RenameOver(incoming, keyDatabase), 0; }, nullptr);
    s.insert(QStringLiteral(u"存不进\r\n也存不进"));
    sqlite3_commit_hook(db, nullptr, nullptr);
    EXPECT_EQ(s.boxes.prompts,
              QStringList{QStringLiteral(u"实时错误 '75':\r\n\r\n插入期间 key.mdb 被替换，"
                                         u"这些关键字没有存入现在的 key.mdb，请再按一次插入。")});
    EXPECT_EQ(s.manager->Label2->caption(), QStringLiteral(u"成功添加0条关键字"));
    EXPECT_EQ(s.manager->key->text(), QStringLiteral(u"存不进\r\n也存不进"));
    s.boxes.prompts.clear();
}

// Whatever another program does between two actions, the check and the list then answer as a
// fresh read of the file does; the program's own inserts and deletes are mixed in.
TEST(ChangedFileTest, AfterAnyChangeByAnotherProgramTheKeptKeywordsAnswerAsAFreshRead) {
    const QString message = QStringLiteral(u"旧词甲乙新词丙二版");
    const auto sql = [](const char* statements) {
        return [=](FaultSession& s) { s.dir.createWithSql(statements); };
    };
    const auto process = [](const char* program) {
        return [=](FaultSession& s) {
            TempProgramDir other;
            other.createKeys({QStringLiteral(u"丙"), kOld});
            const QString file = s.dir.path() + QStringLiteral("/other.mdb");
            QFile::copy(other.keyDatabase(), file);
            ASSERT_EQ(QProcess::execute(QString::fromLatin1(program), {file, s.dir.keyDatabase()}),
                      0);
        };
    };
    const struct {
        const char* what;
        std::function<void(FaultSession&)> change;
    } steps[] = {
        {"insert", sql("insert into keys values ('新词'), ('乙')")},
        {"own insert", [](FaultSession& s) { s.insert(QStringLiteral(u"甲")); }},
        {"delete", sql("delete from keys where keyname = '乙'")},
        {"own delete", [](FaultSession& s) { s.deleteKeyword(kOld); }},
        {"update", sql("update keys set keyname = '乙' where keyname = '新词'")},
        {"drop and recreate", sql("drop table keys; create table keys (keyname text);"
                                  "insert into keys values ('新词'), ('丙'), ('甲')")},
        {"another column", sql("alter table keys add column note text; "
                               "insert into keys values ('二版', 'x')")},
        {"vacuum after deletes", sql("delete from keys where rowid < 3; vacuum")},
        {"own insert after it", [](FaultSession& s) { s.insert(QStringLiteral(u"乙")); }},
        {"replaced by mv", process("mv")},
        {"copied over by cp", process("cp")},
        {"own delete", [](FaultSession& s) { s.deleteKeyword(QStringLiteral(u"丙")); }},
        {"own insert of more lines than listed",
         [](FaultSession& s) { s.insert(QStringLiteral(u"多一\r\n多二\r\n多三\r\n多四")); }},
        {"own deletes from the lines listed before and after it",
         [](FaultSession& s) {
             s.deleteKeyword(QStringLiteral(u"多三"));
             s.deleteKeyword(kOld);
             s.deleteKeyword(QStringLiteral(u"多一"));
         }},
        {"a write-ahead log", sql("pragma journal_mode = wal; insert into keys values ('甲')")},
        // Only the log changes: the file looks the same, SQLite's data version tells.
        {"a commit held in the log", sql("insert into keys values ('乙')")},
        {"a trigger on inserts", sql("create trigger copy after insert on keys "
                                     "when new.keyname = '丁' begin insert into keys "
                                     "values ('二版'); end")},
        {"own insert firing it", [](FaultSession& s) { s.insert(QStringLiteral(u"丁")); }},
        {"own insert rolled back, nobody told",
         [](FaultSession& s) {
             s.state.KeyConnection.BeginTrans();
             s.state.KeyRecordset.AddNew();
             s.state.KeyRecordset.Fields(kKeynameField).SetValue(QStringLiteral(u"回滚"));
             s.state.KeyRecordset.Update();
             s.state.KeyConnection.RollbackTrans();
         }},
        {"own DDL through the raw handle",
         [](FaultSession& s) {
             sqlite3_exec(SqliteHandle(s.state.KeyConnection),
                          "drop table keys; create table keys (keyname text)", nullptr, nullptr,
                          nullptr);
         }},
        {"renamed over while being opened", RenamedOverWhileOpened},
        {"renamed over during an own insert's commit", RenamedOverDuringCommit},
        {"a table that replaces on conflict",
         sql("drop table keys; create table keys "
             "(keyname text collate nocase unique on conflict replace); "
             "insert into keys values ('abc'), ('丙')")},
        {"own insert of a case variant", [](FaultSession& s) { s.insert(QStringLiteral("ABC")); }},
    };
    FaultSession s;
    s.startUp({kOld, QStringLiteral(u"丙")});
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        // Within a second of a change the program reads everything anew anyway (a file system
        // may keep one-second times). Past it, only what it keeps can tell it of a change.
        QTest::qWait(1010);
        s.check(message);  // the keywords are kept from here
        s.manager->Form_Load();
        step.change(s);
        Connection fresh;
        fresh.Open(KeyDataSource(s.dir.path()));
        const ScanResult expected = RowByRowScan(fresh, message);
        EXPECT_EQ(s.check(message), expected.report.isEmpty() ? kCleanVerdict : expected.report);
        s.manager->Form_Load();
        QStringList listed;
        for (const FieldValue& keyword : s.dir.storedKeys()) {
            listed << keyword.value_or(QString());
        }
        EXPECT_EQ(s.listed(), listed);
    }
    EXPECT_TRUE(s.boxes.prompts.isEmpty()) << s.boxes.prompts.join(u'|').toStdString();
}

}  // namespace
}  // namespace vorelta::test
