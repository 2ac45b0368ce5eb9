// key.mdb stays one whole file: after a clean exit nothing lies beside it, and a process
// killed in the middle of a bulk insert leaves exactly the clicks it committed.

#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tests/faults/FaultSession.h"
#include "windows/edit/KeywordInsert.h"

namespace vorelta::test {
namespace {

using Rows = std::vector<FieldValue>;

constexpr int kClicks = 40;
constexpr int kKeywordsPerClick = 400;

QString ClickText(int click) {
    QStringList lines;
    for (int i = 0; i < kKeywordsPerClick; ++i) {
        lines << QStringLiteral(u"第%1次关键字%2").arg(click).arg(i);
    }
    return lines.join(QStringLiteral("\r\n"));
}

Rows RowsOfClicks(int clicks) {
    Rows rows;
    for (int click = 0; click < clicks; ++click) {
        for (const QString& line : ClickText(click).split(QStringLiteral("\r\n"))) {
            rows.emplace_back(line);
        }
    }
    return rows;
}

// In a child process: opens key.mdb as the program does and inserts click after click, as the
// insert button does, writing one byte to `report` after each commit. Never returns.
[[noreturn]] void InsertClicks(const QString& programDir, int report) {
    Module1 state;
    OpenKeyStore(state, KeyDataSource(programDir));
    for (int click = 0; click < kClicks; ++click) {
        const QString text = ClickText(click);
        std::int32_t added = 0;
        std::vector<std::size_t> refused;
        StoreNewKeywords(state, KeywordLines(text), added, refused);
        if (write(report, "c", 1) != 1) {
            _exit(2);
        }
    }
    _exit(0);
}

std::string IntegrityOf(const QString& path) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* check = nullptr;
    sqlite3_prepare_v2(db, "pragma integrity_check", -1, &check, nullptr);
    std::string result = sqlite3_step(check) == SQLITE_ROW
                             ? reinterpret_cast<const char*>(sqlite3_column_text(check, 0))
                             : sqlite3_errmsg(db);
    sqlite3_finalize(check);
    sqlite3_close(db);
    return result;
}

TEST(CrashSafetyTest, AKilledBulkInsertLeavesExactlyTheCommittedClicks) {
    // Killed after this many commits were seen, and then after a little more time still, so
    // that the kill falls at different points of the next click.
    const struct {
        int seenCommits;
        useconds_t extraMicroseconds;
    } moments[] = {{0, 0}, {1, 300}, {2, 1500}, {5, 700}, {9, 4000}};
    for (const auto& moment : moments) {
        SCOPED_TRACE(moment.seenCommits);
        FaultSession s;
        s.dir.createKeys({});
        int pipeEnds[2];
        ASSERT_EQ(pipe(pipeEnds), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(pipeEnds[0]);
            InsertClicks(s.dir.path(), pipeEnds[1]);
        }
        close(pipeEnds[1]);
        char byte;
        int seen = 0;
        while (seen < moment.seenCommits && read(pipeEnds[0], &byte, 1) == 1) {
            ++seen;
        }
        usleep(moment.extraMicroseconds);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        close(pipeEnds[0]);
        ASSERT_EQ(seen, moment.seenCommits);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the insert ended before it was killed";

        // The program starts over what the killed one left, rolling back its unfinished click.
        ASSERT_TRUE(s.load()) << s.boxes.prompts.join(u'|').toStdString();
        const int committedClicks = s.state.KeyCount / kKeywordsPerClick;
        EXPECT_GE(committedClicks, seen);
        EXPECT_EQ(s.state.KeyCount % kKeywordsPerClick, 0) << "half a click stored";
        EXPECT_EQ(s.dir.storedKeys(), RowsOfClicks(committedClicks));
        EXPECT_EQ(IntegrityOf(s.dir.keyDatabase()), "ok");
    }
}

TEST(CrashSafetyTest, AfterACleanExitKeyMdbIsTheOnlyFile) {
    // The program's own rollback journal, and a file another program keeps in WAL mode: that
    // mode is left as it is, and SQLite folds the WAL back in when the connection closes.
    for (const char* journalMode : {"delete", "wal"}) {
        SCOPED_TRACE(journalMode);
        TempProgramDir dir;
        dir.createWithSql(std::string("pragma journal_mode=") + journalMode +
                          "; create table keys (keyname text)");
        {
            Module1 state;
            ProgramSeams seams;
            ASSERT_TRUE(seams.mainWindow(state, dir.path())->Load());
            edit manager(state, seams.boxes, seams.files);
            manager.Form_Load();
            manager.key->setText(QStringLiteral(u"中奖\r\n发票"));
            QTest::mouseClick(manager.Command1, Qt::LeftButton);
            manager.List1->setListIndex(0);
            QTest::mouseClick(manager.Command2, Qt::LeftButton);
            EXPECT_TRUE(seams.boxes.prompts.isEmpty());
        }  // the program ends: its windows and then its shared state go
        EXPECT_EQ(dir.files(), QStringList{QStringLiteral("key.mdb")});
        EXPECT_EQ(dir.storedKeys(), Rows{QStringLiteral(u"发票")});
    }
}

}  // namespace
}  // namespace vorelta::test
