// The keyword list on a PostgreSQL server shared by several programs: changed by anyone, on a
// server that stops and starts, for a role that may only read, by inserts racing each other,
// with lines the server cannot store; start-ups that cannot reach it.

#include <libpq-fe.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <latch>
#include <thread>

#include "tests/faults/FaultSession.h"
#include "tests/support/PgCluster.h"
#include "tests/support/RowByRowScan.h"
#include "toolkit/Colour.h"
#include "windows/edit/KeywordInsert.h"

namespace vorelta::test {
namespace {

using namespace Qt::StringLiterals;

const QString kUnreachable = u"无法连接关键字服务器"_s;
const QString kOld = u"旧词"_s;
const QString kNew = u"新词"_s;
const QString kEditorPassword = u"Kennwort des Editors"_s;

// The shared server, with the login role the programs edit the keywords as.
PgCluster& Server() {
    static PgCluster& cluster = []() -> PgCluster& {
        PgCluster& shared = SharedPgCluster();
        shared.addLoginRole(u"editor"_s, kEditorPassword, u"vorelta_editor"_s);
        return shared;
    }();
    return cluster;
}

// A statement waiting for a lock a program forgot to let go of fails instead of hanging.
void Sql(const QString& statements) {
    Server().runSql(u"set lock_timeout = '20s'; "_s + statements);
}

// The table as the setup script makes it, with these rows.
void FreshKeys(const QString& rows) {
    Sql(u"drop table if exists keys"_s);
    Server().applySetupScript();
    Sql(u"insert into keys values "_s + rows);
}

// What a check of the message reports over the rows a fresh `select * from keys` gives.
QString FreshReport(const QString& message) {
    std::vector<FieldValue> rows;
    for (const QString& keyword : Server().keys()) {
        rows.push_back(keyword.isNull() ? FieldValue() : keyword);
    }
    const std::vector<std::size_t> hits = RowByRowHits(message, rows);
    return hits.empty() ? kCleanVerdict : HitReport(rows, hits);
}

void WriteConf(const TempProgramDir& dir, const QString& conninfo) {
    QFile conf(dir.path() + u"/vorelta.conf"_s);
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("[keywords]\ndatabase=" + conninfo.toUtf8() + '\n');
}

// The program's two windows over the list that vorelta.conf in the program folder names.
struct ServerSession : FaultSession {
    explicit ServerSession(const QString& conninfo = Server().loginConninfo(u"editor"_s)) {
        WriteConf(dir, conninfo);
        startUpOverExistingFile({});
    }
    // The manager's list read anew; its error, should it fail.
    QStringList listedAnew() try {
        manager->Form_Load();
        return listed();
    } catch (const RuntimeError& error) {
        return {error.description()};
    }
};

// The check and the list answer as a fresh read does. The server tells other sessions of a
// change a moment after its commit: they are asked again while they differ, for up to 2 s.
void ExpectAnswersAsAFreshRead(ServerSession& s, const QString& message) {
    const QString report = FreshReport(message);
    const QStringList keys = Server().keys();
    QString checked = s.check(message);
    QStringList listed = s.listedAnew();
    for (QDeadlineTimer deadline(2000);
         (checked != report || listed != keys) && !deadline.hasExpired();) {
        QTest::qWait(20);
        checked = s.check(message), listed = s.listedAnew();
    }
    EXPECT_EQ(checked, report);
    EXPECT_EQ(listed, keys);
}

// Whatever another session or the other program does between two actions, the check and the
// list of both programs then answer as a fresh read does; their own inserts and deletes mixed in.
TEST(ServerStoreTest, AfterAnyChangeByAnyoneBothProgramsAnswerAsAFreshRead) {
    const auto sql = [](const char* statements) {
        return [=](ServerSession&, ServerSession&) { Sql(QString::fromUtf8(statements)); };
    };
    const auto script = [](const char* before, const char* after) {
        return [=](ServerSession&, ServerSession&) {
            Sql(QString::fromUtf8(before));
            Server().applySetupScript();
            Sql(QString::fromUtf8(after));
        };
    };
    const struct {
        const char* what;
        std::function<void(ServerSession& own, ServerSession& other)> change;
    } steps[] = {
        {"insert", sql("insert into keys values ('新词'), ('乙')")},
        {"the other's insert", [](auto&, auto& other) { other.insert(u"甲\r\n二版"_s); }},
        {"own delete", [](auto& own, auto&) { own.deleteKeyword(kOld); }},
        {"update", sql("update keys set keyname = '丁' where keyname = '新词'")},
        {"the other's delete", [](auto&, auto& other) { other.deleteKeyword(u"乙"_s); }},
        {"delete", sql("delete from keys where keyname = '甲'")},
        {"null and empty rows", sql("insert into keys values (null), ('')")},
        {"one transaction of two statements",
         sql("begin; insert into keys values ('乙'); delete from keys where keyname = ''; commit")},
        {"another column",
         sql("alter table keys add column note text; insert into keys values ('二版', 'x')")},
        {"truncate", sql("truncate keys; insert into keys values ('乙')")},
        {"own insert", [](auto& own, auto&) { own.insert(u"旧词\r\n新词"_s); }},
        {"dropped and made again by the setup script", script("drop table keys", "select")},
        {"the other's insert after it", [](auto&, auto& other) { other.insert(u"甲"_s); }},
        {"dropped and made again with rows",
         script("drop table keys", "insert into keys values ('丙'), ('丁')")},
        {"made again as the script does while its event trigger was off",
         sql("alter event trigger vorelta_keys_ddl disable; drop table keys; "
             "create table keys (keyname text); insert into keys values ('旧词'); "
             "grant select, insert, update, delete on keys to vorelta_editor; "
             "create trigger vorelta_keys_changed after insert or update or delete or truncate "
             "on keys for each statement execute function vorelta_keys_notify(); "
             "alter table keys enable always trigger vorelta_keys_changed; "
             "alter event trigger vorelta_keys_ddl enable always")},
        {"a child table", sql("create table keys_child () inherits (keys); "
                              "insert into keys_child values ('丁')")},
        {"rows of the child table", sql("insert into keys_child values ('二版')")},
        {"the child table dropped", sql("drop table keys_child")},
        {"made again partitioned",
         sql("drop table keys; create table keys (keyname text) partition by list (keyname); "
             "create table keys_rest partition of keys default; "
             "grant select, insert, update, delete on keys to vorelta_editor; "
             "insert into keys values ('丙')")},
        {"rows of a partition", sql("insert into keys_rest values ('甲')")},
        {"made again plain", script("drop table keys", "insert into keys values ('丙'), ('丁')")},
        // As a logical replication subscriber applies its publisher's changes.
        {"a session that fires no triggers",
         sql("set session_replication_role = replica; insert into keys values ('甲')")},
        {"the trigger disabled", sql("alter table keys disable trigger vorelta_keys_changed; "
                                     "insert into keys values ('二版')")},
        {"made again without the trigger",
         sql("drop table keys; create table keys (keyname text); "
             "grant select, insert, update, delete on keys to vorelta_editor; "
             "insert into keys values ('二版'), ('乙')")},
        {"insert nobody is told of", sql("insert into keys values ('丁')")},
        {"the other's insert", [](auto&, auto& other) { other.insert(kNew); }},
        {"own delete", [](auto& own, auto&) { own.deleteKeyword(u"乙"_s); }},
        {"update nobody is told of", sql("update keys set keyname = '甲' where keyname = '二版'")},
        {"the setup script applied again", script("select", "insert into keys values ('旧词')")},
        {"own insert", [](auto& own, auto&) { own.insert(u"乙\r\n丁"_s); }},
    };
    const QString message = u"旧词甲乙新词丙二版丁"_s;
    FreshKeys(u"('旧词'), ('丙')"_s);
    ServerSession own, other;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        for (ServerSession* s : {&own, &other}) {
            s->check(message);  // the keywords are kept from here
            s->manager->Form_Load();
        }
        step.change(own, other);
        ExpectAnswersAsAFreshRead(own, message);
        ExpectAnswersAsAFreshRead(other, message);
    }
    EXPECT_EQ(own.boxes.prompts + other.boxes.prompts, QStringList());
}

// Rows read once are kept while nothing changed: with another desk holding the table, so that a
// read would wait, the checks answer as a fresh read did.
TEST(ServerStoreTest, RowsReadOnceAreKeptWhileNothingChanged) {
    const struct {
        const char* after;
        std::function<void(ServerSession&)> change;
        int checksBeforeTheLock;
    } rows[] = {
        {"start-up", [](auto&) {}, 0},
        {"another desk's insert", [](auto&) { Sql(u"insert into keys values ('新词')"_s); }, 1},
        {"a delete of its own", [](ServerSession& s) { s.deleteKeyword(u"丙"_s); }, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.after);
        FreshKeys(u"('旧词'), ('丙')"_s);
        ServerSession s;  // the manager's list is read here
        row.change(s);
        const QString report = FreshReport(kOld + kNew);
        for (int i = 0; i < row.checksBeforeTheLock; ++i) {
            EXPECT_EQ(s.check(kOld + kNew), report);
        }
        PgConnection other = ConnectPg(Server().conninfo());
        PQclear(PQexec(other.get(), "begin; lock table keys in access exclusive mode"));
        EXPECT_EQ(s.check(kOld + kNew), report);
        EXPECT_EQ(s.check(kOld + kNew), report);
        EXPECT_EQ(s.boxes.prompts, QStringList());
    }
}

// The server stopped between two actions: an action meanwhile says so and changes nothing; once
// it runs again, the next action connects anew by itself.
TEST(ServerStoreTest, AStoppedServerIsReportedAndTheNextActionAfterItsStartReconnects) {
    const auto check = [](ServerSession& s) { s.check(kOld); };
    const auto insert = [](ServerSession& s) { s.insert(u"加词"_s); };
    // A failed action leaves the manager's list without the keyword: the user opens it again.
    const auto remove = [](ServerSession& s) {
        if (!s.listed().contains(kOld)) {
            s.listedAnew();
        }
        s.deleteKeyword(kOld);
    };
    const struct {
        const char* action;
        std::function<void(ServerSession&)> act;
        bool whileStopped;      // else only after the start, on a connection the server ended
        QStringList keysAfter;  // with 新词 inserted by another session after the start
    } rows[] = {
        {"check", check, true, {kOld, kNew}},
        {"check after a restart", check, false, {kOld, kNew}},
        {"insert", insert, true, {kOld, kNew, u"加词"_s}},
        {"insert after a restart", insert, false, {kOld, kNew, u"加词"_s}},
        {"delete", remove, true, {kNew}},
        {"delete after a restart", remove, false, {kNew}},
    };
    const QString message = u"旧词新词加词"_s;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.action);
        FreshKeys(u"('旧词')"_s);
        ServerSession s;
        s.check(message);
        s.manager->Form_Load();
        s.manager->key->setText(u"加词"_s);
        Server().stop();
        if (row.whileStopped) {
            row.act(s);
            ASSERT_EQ(s.boxes.prompts.size(), 1);
            EXPECT_TRUE(s.boxes.prompts[0].contains(kUnreachable))
                << s.boxes.prompts[0].toStdString();
            // The program goes on: a check fails the same way, with no verdict.
            EXPECT_EQ(s.check(message), kCheckFailedText);
            EXPECT_EQ(s.checker->Label2->foreColor(), kRed);
            EXPECT_FALSE(s.checker->Command4->isVisibleTo(s.checker.get()));
        }
        EXPECT_EQ(s.manager->key->text(), u"加词"_s);  // what was typed stays for the retry
        Server().start();
        Sql(u"insert into keys values ('新词')"_s);
        s.boxes.prompts.clear();
        row.act(s);
        EXPECT_EQ(s.boxes.prompts, QStringList());
        EXPECT_EQ(Server().keys(), row.keysAfter);
        ExpectAnswersAsAFreshRead(s, message);
    }
}

// A role that may only read, and a hot standby (named directly or reached through a host list
// that prefers one): checks and lists follow the primary, changes are refused in words.
TEST(ServerStoreTest, AReaderOrAStandbyChecksButMayNotChangeTheKeywords) {
    Server().addLoginRole(u"reader"_s, u"reader's"_s, u"vorelta_reader"_s);
    Server().startStandby();
    const auto insert = [](ServerSession& s) { s.insert(s.manager->key->text()); };
    const auto remove = [](ServerSession& s) { s.deleteKeyword(kOld); };
    const QString standby =
        Server().loginConninfo(u"editor"_s) + u" port=%1"_s.arg(PgCluster::standbyPort());
    const QString hostList =
        Server().loginConninfo(u"editor"_s) +
        u" host='%1,%1' port=%2,%3 target_session_attrs=prefer-standby"_s.arg(Server().socketDir())
            .arg(Server().port())
            .arg(PgCluster::standbyPort());
    const QString port = QString::number(PgCluster::standbyPort());
    const struct {
        const char* what;
        QString conninfo;
        std::function<void(ServerSession&)> act;
        QStringList said;
    } rows[] = {
        {"reader's insert",
         Server().loginConninfo(u"reader"_s),
         insert,
         {u"没有修改关键字库的权限"_s}},
        {"reader's delete",
         Server().loginConninfo(u"reader"_s),
         remove,
         {u"没有修改关键字库的权限"_s}},
        {"insert on a standby", standby, insert, {u"只读"_s, port}},
        {"delete on a standby", standby, remove, {u"只读"_s, port}},
        {"insert through a host list", hostList, insert, {u"只读"_s, port}},
    };
    const QString typed = u"新词\r\n加词"_s;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Sql(u"truncate keys; insert into keys values ('旧词'), ('丙')"_s);
        ServerSession s(row.conninfo);
        Sql(u"insert into keys values ('新词')"_s);
        ExpectAnswersAsAFreshRead(s, kOld + kNew);
        Sql(u"delete from keys where keyname = '新词'"_s);
        ExpectAnswersAsAFreshRead(s, kOld + kNew);
        s.manager->key->setText(typed);
        row.act(s);
        ASSERT_EQ(s.boxes.prompts.size(), 1);
        for (const QString& part : row.said) {
            EXPECT_TRUE(s.boxes.prompts[0].contains(part)) << s.boxes.prompts[0].toStdString();
        }
        EXPECT_EQ(Server().keys(), (QStringList{kOld, u"丙"_s}));
        EXPECT_EQ(s.listedAnew(), Server().keys());
        EXPECT_EQ(s.state.KeyCount, 2);
        EXPECT_EQ(s.manager->key->text(), typed);
    }
}

QStringList Numbered(int from, int to) {
    QStringList lines;
    for (int i = from; i < to; ++i) {
        lines << u"词%1"_s.arg(i);
    }
    return lines;
}

// Two operators storing lines at once, each in one transaction: every line is stored once, and
// the two counts add up to the lines that were new.
TEST(ServerStoreTest, ConcurrentInsertsStoreEachLineOnce) {
    const struct {
        const char* lines;
        QStringList first, second;
    } rows[] = {
        {"the same", Numbered(0, 300), Numbered(0, 300)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.lines);
        FreshKeys(u"('词0'), ('词1'), ('旧词')"_s);
        TempProgramDir dir;
        WriteConf(dir, Server().loginConninfo(u"editor"_s));
        Module1 states[2];
        for (Module1& state : states) {
            OpenKeyStore(state, KeyDataSource(dir.path()));
        }
        const QString texts[2] = {row.first.join(u"\r\n"_s), row.second.join(u"\r\n"_s)};
        std::int32_t added[2] = {0, 0};
        std::vector<std::size_t> refused[2];
        QString errors[2];
        std::latch ready(2);
        const auto insert = [&](int i) {
            ready.arrive_and_wait();
            try {
                StoreNewKeywords(states[i], KeywordLines(texts[i]), added[i], refused[i]);
            } catch (const std::exception& error) {
                errors[i] = QString::fromUtf8(error.what());
            }
        };
        std::jthread(insert, 0), std::jthread(insert, 1);
        EXPECT_EQ(errors[0] + errors[1], QString());
        QStringList keys = Server().keys(), expected = row.first + row.second << kOld;
        EXPECT_EQ(added[0] + added[1], keys.size() - 3);
        expected.removeDuplicates();
        std::sort(keys.begin(), keys.end()), std::sort(expected.begin(), expected.end());
        EXPECT_EQ(keys, expected);
    }
}

// Another session's insert is pending while the program reads the list, and the program's insert
// of the same lines then waits for it: each line is stored once.
TEST(ServerStoreTest, AnInsertThatWaitsForAnotherSessionsCommitStoresEachLineOnce) {
    FreshKeys(u"('旧词')"_s);
    ServerSession s;
    PgConnection other = ConnectPg(Server().conninfo() + u" client_encoding=UTF8"_s);
    PQclear(PQexec(other.get(), "begin; insert into keys values ('甲')"));
    s.check(u"甲乙"_s);           // the list as it is before that commit
    std::jthread committer([&] {  // commits once the program's insert waits for the lock
        for (QDeadlineTimer deadline(10000);
             !deadline.hasExpired() &&
             Server().column(u"select count(*) from pg_locks where not granted"_s) ==
                 QStringList{u"0"_s};) {
            QThread::msleep(10);
        }
        PQclear(PQexec(other.get(), "commit"));
    });
    s.insert(u"甲\r\n乙"_s);
    committer.join();
    EXPECT_EQ(Server().keys(), (QStringList{kOld, u"甲"_s, u"乙"_s}));
    EXPECT_EQ(s.manager->Label2->caption(), u"成功添加1条关键字"_s);
}

// A wait ends without the program freezing: on another desk's lock (a forgotten COMMIT, an ALTER
// TABLE still open) after the lock wait or when cancelled from another thread, as the busy
// indicator does, changing nothing and keeping the typed lines; on a synchronous standby that
// never answers when an administrator ends the session or the user cancels, with the lines
// told as stored, for they are.
TEST(ServerStoreTest, AWaitEndsByItselfOrByCancelAndTellsWhatWasStored) {
    const auto insert = [](ServerSession& s) { s.insert(s.manager->key->text()); };
    const auto check = [](ServerSession& s) { s.check(kNew); };
    const auto remove = [](ServerSession& s) { s.deleteKeyword(kOld); };
    const auto cancel = [](ServerSession& s, const QString&) { s.state.KeyConnection.Cancel(); };
    const auto terminate = [](ServerSession&, const QString& pid) {
        Sql(u"select pg_terminate_backend(%1)"_s.arg(pid));
    };
    const char* const kSynchronous = "-csynchronous_commit=on";
    const QString busy = u"关键字库正在被其他人修改，请稍后再试"_s, cancelled = u"操作已取消"_s;
    const QStringList unchanged{kOld, kNew}, stored{kOld, kNew, u"甲"_s, u"乙"_s};
    const struct {
        const char* what;
        std::function<void(ServerSession&)> act;
        std::function<void(ServerSession&, const QString& pid)> end;  // none: the wait ends
        const char* options;  // the program's session settings; none: the wait is on the lock
        QString said;  // empty: a check says it did not finish, an insert says it stored the two
        QStringList keys;
    } rows[] = {
        {"insert", insert, nullptr, "", busy, unchanged},
        {"delete", remove, nullptr, "", busy, unchanged},
        {"check after a change, cancelled", check, cancel, "", {}, unchanged},
        {"insert, cancelled", insert, cancel, "", cancelled, unchanged},
        {"commit ended by an administrator", insert, terminate, kSynchronous, {}, stored},
        // The server's warning that it committed does not come: the server is asked.
        {"commit ended, no warnings sent",
         insert,
         terminate,
         "-csynchronous_commit=on -cclient_min_messages=error",
         {},
         stored},
        {"commit cancelled", insert, cancel, kSynchronous, {}, stored},
    };
    Server().runSql(u"alter system set synchronous_standby_names = 'nobody'"_s);
    Server().runSql(u"select pg_reload_conf()"_s);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        FreshKeys(u"('旧词')"_s);
        ServerSession s(Server().loginConninfo(u"editor"_s) +
                        u" options='%1'"_s.arg(QLatin1String(row.options)));
        s.check(kNew);
        s.manager->key->setText(u"甲\r\n乙"_s);
        PgConnection other = ConnectPg(Server().conninfo() + u" client_encoding=UTF8"_s);
        PQclear(PQexec(other.get(), "insert into keys values ('新词')"));
        if (!*row.options) {
            PQclear(PQexec(other.get(), "begin; lock table keys in access exclusive mode"));
        }
        std::jthread ender([&] {
            const QString waiting =
                *row.options ? u"select pid from pg_stat_activity where wait_event = 'SyncRep'"_s
                             : u"select pid from pg_locks where not granted"_s;
            for (QDeadlineTimer deadline(10000); row.end && !deadline.hasExpired();
                 QThread::msleep(10)) {
                if (const QStringList pids = Server().column(waiting); !pids.isEmpty()) {
                    return row.end(s, pids[0]);
                }
            }
        });
        QElapsedTimer waited;
        waited.start();
        row.act(s);
        EXPECT_LT(waited.elapsed(), row.end ? 4000 : 15000);
        ender.join();
        PQclear(PQexec(other.get(), "commit"));
        if (row.said.isEmpty()) {
            EXPECT_EQ(s.boxes.prompts, QStringList());
            if (row.keys == stored) {
                EXPECT_EQ(s.manager->Label2->caption(), u"成功添加2条关键字"_s);
            } else {  // a cancelled check needs no box: its result says it did not finish
                EXPECT_EQ(s.checker->Label2->caption(), kCheckFailedText);
            }
        } else {
            ASSERT_EQ(s.boxes.prompts.size(), 1);
            EXPECT_TRUE(s.boxes.prompts[0].contains(row.said)) << s.boxes.prompts[0].toStdString();
            EXPECT_EQ(s.manager->key->text(), u"甲\r\n乙"_s);
        }
        EXPECT_EQ(Server().keys(), row.keys);
        s.boxes.prompts.clear();
        ExpectAnswersAsAFreshRead(s, kOld + kNew);
    }
    Server().runSql(u"alter system reset synchronous_standby_names"_s);
    Server().runSql(u"select pg_reload_conf()"_s);
}

// vorelta.conf names a server that cannot give the list: one box says so, with libpq's reason
// and the server, never the password; no key.mdb appears in the server's place. A host list
// (commas in the value) goes to libpq whole.
TEST(ServerStoreTest, AStartUpThatCannotReachTheListSaysWhyInOneBox) {
    const QString dir = Server().socketDir(), port = QString::number(Server().port());
    const QString db = u"vorelta"_s, none = u"nokeys"_s;
    Server().createDatabase(none);
    // Every password here has this word in it, and no box may show it.
    const QString secret = u"Kennwort"_s;
    const auto at = [](const QString& hosts, const QString& ports, const QString& database,
                       const QString& password = kEditorPassword) {
        return u"host='%1' port=%2 dbname=%3 user=editor passfile=/nonexistent password='%4'"_s.arg(
            hosts, ports, database, password);
    };
    const struct {
        const char* what;
        QString conninfo;
        QStringList said;  // empty when the start-up succeeds
    } rows[] = {
        {"no server on the port", at(dir, u"1"_s, db), {dir + u"/.s.PGSQL.1"_s, db}},
        {"a wrong password",
         at(dir, port, db, secret + u" falsch"_s),
         {u"password authentication failed"_s, dir, port, db}},
        {"no table keys", at(dir, port, none), {u"keys"_s, dir, port, none}},
        {"a list of hosts", at(dir + u',' + dir, port + u',' + port, db), {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        FaultSession s;
        WriteConf(s.dir, row.conninfo);
        EXPECT_EQ(s.load(), row.said.isEmpty());
        EXPECT_FALSE(s.dir.hasKeyDatabase());
        if (row.said.isEmpty()) {
            EXPECT_EQ(s.boxes.prompts, QStringList());
            continue;
        }
        ASSERT_EQ(s.boxes.prompts.size(), 1);
        const QString& box = s.boxes.prompts[0];
        EXPECT_TRUE(box.startsWith(u"实时错误 '"_s) && box.contains(u"':\r\n\r\n"_s + kUnreachable))
            << box.toStdString();
        for (const QString& part : row.said) {
            EXPECT_TRUE(box.contains(part)) << part.toStdString() << " in " << box.toStdString();
        }
        EXPECT_FALSE(box.contains(secret)) << box.toStdString();
    }
}

// Text the server cannot hold (not Unicode, or not in the encoding of a database that is not
// UTF-8) is refused by line number, and the other lines of the same insert are stored. The
// setup script refuses such a database.
TEST(ServerStoreTest, ALineTheServerCannotHoldIsRefusedByNameAndTheOthersStored) {
    const QString euc = u"euc_cn"_s;
    Server().runSql(u"drop database if exists euc_cn"_s, u"postgres"_s);
    Server().runSql(u"create database euc_cn encoding 'EUC_CN' template template0"_s,
                    u"postgres"_s);
    EXPECT_THROW(Server().applySetupScript(euc), PgError);
    Server().runSql(u"create table keys (keyname text); grant all on keys to editor"_s, euc);
    const struct {
        const char* what;
        QString line;
        QString db = u"vorelta"_s;
        QString last = u"😀乙"_s;
    } rows[] = {
        {"a lone high surrogate", u"坏"_s + QChar(0xD800) + u"词"_s},
        {"a lone low surrogate at the start", QChar(0xDC00) + u"坏词"_s},
        {"a low surrogate before a high one", u"坏词"_s + QChar(0xDC00) + QChar(0xD800)},
        {"a NUL, which no server text holds", u"坏"_s + QChar(0) + u"词"_s},
        {"a character EUC_CN has not", u"坏😀词"_s, euc, u"乙αб"_s},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Sql(u"drop table if exists keys"_s);
        Server().applySetupScript();
        Server().runSql(u"truncate keys; insert into keys values ('旧词')"_s, row.db);
        ServerSession s(Server().loginConninfo(u"editor"_s, row.db));
        s.insert(u"甲\r\n"_s + row.line + u"\r\n"_s + row.last);
        ASSERT_EQ(s.boxes.prompts.size(), 1);
        EXPECT_TRUE(s.boxes.prompts[0].contains(u"第2行"_s)) << s.boxes.prompts[0].toStdString();
        EXPECT_EQ(s.manager->Label2->caption(), u"成功添加2条关键字"_s);
        EXPECT_EQ(Server().keys(row.db), (QStringList{kOld, u"甲"_s, row.last}));
        EXPECT_EQ(s.listedAnew(), Server().keys(row.db));
    }
}

}  // namespace
}  // namespace vorelta::test
