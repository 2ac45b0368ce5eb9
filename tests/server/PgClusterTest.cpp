#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <poll.h>

#include <QDir>
#include <QFile>

#include "tests/support/PgCluster.h"

namespace vorelta::test {
namespace {

// The next notification as "channel|payload"; "none" when nothing came for half a minute.
std::string NextNotification(PGconn* listener) {
    for (int attempt = 0; attempt < 300; ++attempt) {
        PQconsumeInput(listener);
        if (PGnotify* notify = PQnotifies(listener)) {
            const std::string seen = std::string(notify->relname) + '|' + notify->extra;
            PQfreemem(notify);
            return seen;
        }
        pollfd socket{PQsocket(listener), POLLIN, 0};
        poll(&socket, 1, 100);
    }
    return "none";
}

// The SQLSTATE of the statement run as the role, "" when it succeeded.
std::string SqlStateAs(const PgCluster& cluster, const char* user, const char* statement) {
    PgConnection connection = ConnectPg(cluster.loginConninfo(QString::fromUtf8(user)));
    if (PQstatus(connection.get()) != CONNECTION_OK) {
        return PQerrorMessage(connection.get());
    }
    PGresult* result = PQexec(connection.get(), statement);
    const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    const std::string sqlState = state ? state : "";
    PQclear(result);
    return sqlState;
}

TEST(PgClusterTest, SetupScriptMakesTheTableAndGroupRolesAndMayRunAgain) {
    PgCluster& cluster = SharedPgCluster();
    cluster.createDatabase(QStringLiteral("second"));  // the roles exist already
    for (const QString& db : {QStringLiteral("vorelta"), QStringLiteral("second")}) {
        cluster.applySetupScript(db);
        EXPECT_EQ(cluster.column("select column_name || ' ' || data_type from "
                                 "information_schema.columns where table_name = 'keys'",
                                 db),
                  QStringList{"keyname text"});
    }
    EXPECT_EQ(cluster.column("select rolname || ' ' || rolcanlogin from pg_roles "
                             "where rolname like 'vorelta%' order by 1"),
              (QStringList{"vorelta_editor false", "vorelta_reader false"}));
}

TEST(PgClusterTest, EveryStatementOnKeysNotifiesOnce) {
    PgCluster& cluster = SharedPgCluster();
    PgConnection listener = ConnectPg(cluster.conninfo());
    PQclear(PQexec(listener.get(), "listen vorelta_keys"));
    const char* statements[] = {
        "insert into keys values ('a'), ('b')",
        "update keys set keyname = 'c'",
        "delete from keys where keyname = 'c'",
        "delete from keys where false",  // no row: the trigger is statement-level
        "truncate keys",
    };
    for (const char* statement : statements) {
        cluster.runSql(QString::fromUtf8(statement));
        EXPECT_EQ(NextNotification(listener.get()), "vorelta_keys|") << statement;
    }
    // Delivered in commit order: a second notification of any statement would come first.
    cluster.runSql(QStringLiteral("notify vorelta_keys, 'end'"));
    EXPECT_EQ(NextNotification(listener.get()), "vorelta_keys|end");
}

TEST(PgClusterTest, GroupRolesGrantWhatTheirNamesSay) {
    PgCluster& cluster = SharedPgCluster();
    cluster.addLoginRole(QStringLiteral("ed"), QStringLiteral("ed's: pass\\"),
                         QStringLiteral("vorelta_editor"));
    cluster.addLoginRole(QStringLiteral("rea"), QStringLiteral("rea pass"),
                         QStringLiteral("vorelta_reader"));
    const struct {
        const char* user;
        const char* statement;
        const char* sqlState;
    } rows[] = {
        {"rea", "select * from keys", ""},
        {"rea", "insert into keys values ('r')", "42501"},
        {"rea", "update keys set keyname = 'r'", "42501"},
        {"rea", "delete from keys", "42501"},
        {"ed", "insert into keys values ('e')", ""},
        {"ed", "update keys set keyname = 'f'", ""},
        {"ed", "select * from keys", ""},
        {"ed", "delete from keys", ""},
        {"ed", "truncate keys", "42501"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(SqlStateAs(cluster, row.user, row.statement), row.sqlState)
            << row.user << ": " << row.statement;
    }
}

TEST(PgClusterTest, LoginRolesNeedTheirPassword) {
    PgCluster& cluster = SharedPgCluster();
    cluster.addLoginRole(QStringLiteral("pw"), QStringLiteral("right"),
                         QStringLiteral("vorelta_reader"));
    const QString noPassFile = QStringLiteral(" passfile=/nonexistent");
    const struct {
        QString conninfo;
        bool connects;
    } rows[] = {
        {cluster.loginConninfo(QStringLiteral("pw")), true},
        {cluster.conninfo("vorelta", "pw") + noPassFile + " password=right", true},
        {cluster.conninfo("vorelta", "pw") + noPassFile + " password=wrong", false},
        {cluster.conninfo("vorelta", "pw") + noPassFile, false},
        {cluster.conninfo("vorelta", "vorelta_reader") + noPassFile + " password=x", false},
    };
    for (const auto& row : rows) {
        PgConnection connection = ConnectPg(row.conninfo);
        EXPECT_EQ(PQstatus(connection.get()) == CONNECTION_OK, row.connects)
            << row.conninfo.toStdString() << ": " << PQerrorMessage(connection.get());
    }
}

TEST(PgClusterTest, StopThenStartKeepsTheKeywords) {
    PgCluster& cluster = SharedPgCluster();
    cluster.runSql("truncate keys; insert into keys values ('中奖'), (null), (e'two\\nlines')");
    cluster.stop();
    EXPECT_THROW(cluster.keys(), PgError);
    cluster.start();
    const QStringList keys = cluster.keys();
    EXPECT_EQ(keys, (QStringList{"中奖", "", "two\nlines"}));
    EXPECT_TRUE(keys.value(1).isNull());
}

// A test that dies leaves neither a server nor files: the watchdog stops and removes them.
TEST(PgClusterDeathTest, NothingOutlivesTheTestProcess) {
    const QString record = QDir::tempPath() + QStringLiteral("/vorelta-pg-dead-cluster");
    EXPECT_EXIT(
        {
            PgCluster cluster;
            QFile file(record);
            file.open(QIODevice::WriteOnly);
            file.write(QFile::encodeName(cluster.socketDir()));
            file.close();
            _exit(3);
        },
        testing::ExitedWithCode(3), "");
    QFile file(record);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString folder = QFile::decodeName(file.readAll());
    file.remove();
    for (int attempt = 0; attempt < 600 && QDir(folder).exists(); ++attempt) {
        poll(nullptr, 0, 100);
    }
    EXPECT_FALSE(QDir(folder).exists()) << folder.toStdString();
}

}  // namespace
}  // namespace vorelta::test
