// key.mdb alone: what only a file can do or suffer. The cases every engine shares run over
// key.mdb and the server alike in tests/server/StoreTableTest.cpp.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <functional>

#include "store/Module1.h"
#include "tests/support/ErrorNumber.h"
#include "tests/support/KeyDatabase.h"

namespace vorelta {

namespace {

using test::ErrorNumberOf;
using test::TempProgramDir;

class StoreTest : public testing::Test {
protected:
    void open(const std::vector<FieldValue>& rows) {
        dir.createKeys(rows);
        connection.Open(KeyDataSource(dir.path()));
    }

    // Every keyname the recordset delivers, walking it the way the windows do.
    static std::vector<FieldValue> walk(Recordset& recordset) {
        std::vector<FieldValue> values;
        for (; !recordset.Eof(); recordset.MoveNext()) {
            values.push_back(recordset.Fields(kKeynameField).Value());
        }
        return values;
    }

    std::vector<FieldValue> selectAll() {
        Recordset recordset;
        recordset.Open(sql::kSelectAllKeys, connection, adLockOptimistic);
        return walk(recordset);
    }

    TempProgramDir dir;
    Connection connection;
};

TEST(KeyDataSourceTest, IsKeyMdbInTheProgramDirectory) {
    const DataSource source = KeyDataSource(QStringLiteral("/opt/vorelta"));
    EXPECT_EQ(source.kind, DataSource::Kind::File);
    EXPECT_EQ(source.name, KeyDatabasePath(QStringLiteral("/opt/vorelta")));
    EXPECT_TRUE(
        KeyDatabasePath(QStringLiteral("/opt/vorelta")).endsWith(QStringLiteral("key.mdb")));
}

TEST_F(StoreTest, OpeningNeverCreatesTheFile) {
    EXPECT_EQ(ErrorNumberOf([&] { connection.Open(KeyDataSource(dir.path())); }), SQLITE_CANTOPEN);
    EXPECT_FALSE(dir.hasKeyDatabase());
    EXPECT_FALSE(connection.IsOpen());
}

TEST_F(StoreTest, AFileThatIsNoDatabaseIsRefusedAndLeftAlone) {
    const QByteArray bytes("Standard Jet DB\0 this is not SQLite at all, just some bytes.", 60);
    dir.writeFile(bytes);
    EXPECT_EQ(ErrorNumberOf([&] { connection.Open(KeyDataSource(dir.path())); }), SQLITE_NOTADB);
    QFile file(dir.keyDatabase());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), bytes);
}

TEST_F(StoreTest, ADirectoryWithASemicolonInItsNameStillOpens) {
    TempProgramDir parent;
    const QString odd = parent.path() + QStringLiteral("/a;b");
    ASSERT_TRUE(QDir().mkpath(odd));
    {
        sqlite3* db = nullptr;
        sqlite3_open(KeyDatabasePath(odd).toUtf8().constData(), &db);
        sqlite3_exec(db, "create table keys (keyname text)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    connection.Open(KeyDataSource(odd));
    EXPECT_TRUE(connection.IsOpen());
}

// Tables whose own columns take the row id's names, and sources whose rows cannot be told apart.
TEST(RowIdentityTest, ADeleteRemovesExactlyTheRowItFoundOrRefusesClearly) {
    // Every shadowing column holds the same value in all three rows, so it tells nothing apart.
    const struct {
        const char* schema;
        const char* table;
        const char* shadow;  // the columns that take the row id's names
        bool updatable;
    } cases[] = {
        {"create table keys (rowid text, keyname text)", "keys", "rowid", true},
        {"create table keys (oid text, _rowid_ text, keyname text)", "keys", "oid, _rowid_", true},
        {"create table keys (rowid text, oid text, _rowid_ text, keyname text)", "keys",
         "rowid, oid, _rowid_", false},
        {"create table keys (id integer primary key, rowid text, keyname text)", "keys", "rowid",
         true},
        {"create table keys (keyname text primary key, rowid text) without rowid", "keys", "rowid",
         false},
    };
    for (const auto& c : cases) {
        TempProgramDir dir;
        std::string fill = std::string(c.schema) + "; insert into " + c.table +
                           " (keyname) values ('win'), ('cash'), ('zwin');";
        for (const QString& column : QString::fromLatin1(c.shadow).split(QStringLiteral(", "))) {
            fill += "update " + std::string(c.table) + " set " + column.toStdString() + " = '1';";
        }
        dir.createWithSql(fill);
        Connection connection;
        connection.Open(KeyDataSource(dir.path()));
        Recordset row;
        row.Open(test::kSelectByKeyname, connection, adLockOptimistic, adOptionUnspecified,
                 {QStringLiteral("cash")});
        ASSERT_EQ(row.RecordCount(), 1) << c.schema;

        const int deleted = ErrorNumberOf([&] { row.Delete(); });
        Recordset all;
        all.Open(sql::kSelectAllKeys, connection, adLockReadOnly);
        QStringList left;
        for (const FieldValue& keyword : all.Column(kKeynameField)) {
            left << keyword.value_or(QStringLiteral("(Null)"));
        }
        left.sort();
        if (c.updatable) {
            EXPECT_EQ(deleted, 0) << c.schema;
            EXPECT_EQ(left, (QStringList{QStringLiteral("win"), QStringLiteral("zwin")}))
                << c.schema;
        } else {
            EXPECT_EQ(deleted, adErrFeatureNotAvailable) << c.schema;
            EXPECT_EQ(left.size(), 3u) << c.schema;
            Recordset shared;
            shared.Open(sql::kSelectAllKeys, connection, adLockOptimistic);
            EXPECT_EQ(ErrorNumberOf([&] { shared.AddNew(); }), adErrFeatureNotAvailable);
        }
    }
}

// Another list renamed over key.mdb while rows are kept, as a sync tool does: a row added then
// goes into the new file, and no row of the old list removes a row of the new one by its id.
TEST_F(StoreTest, RowsOfAReplacedFileNeverRemoveRowsOfTheNewOne) {
    open({QStringLiteral("win"), QStringLiteral("cash"), QStringLiteral("prize")});
    Recordset recordset;
    recordset.Open(sql::kSelectAllKeys, connection, adLockOptimistic);
    TempProgramDir other;
    other.createKeys({QStringLiteral("alpha"), QStringLiteral("beta"), QStringLiteral("gamma")});
    ASSERT_EQ(std::rename(QFile::encodeName(other.keyDatabase()).constData(),
                          QFile::encodeName(dir.keyDatabase()).constData()),
              0);
    recordset.AddNew();
    recordset.Fields(kKeynameField).SetValue(QStringLiteral("new"));
    recordset.Update();
    recordset.MoveFirst();
    recordset.Find(kKeynameField, QStringLiteral("cash"));
    EXPECT_NE(ErrorNumberOf([&] { recordset.Delete(); }), 0);
    EXPECT_EQ(dir.storedKeys(),
              (std::vector<FieldValue>{QStringLiteral("alpha"), QStringLiteral("beta"),
                                       QStringLiteral("gamma"), QStringLiteral("new")}));
}

TEST_F(StoreTest, NoLockIsHeldWhileTheProgramIsIdle) {
    open({QStringLiteral("cash")});
    Recordset shared;
    shared.Open(sql::kSelectAllKeys, connection, adLockOptimistic);

    // Another program writes while our recordsets are open.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(dir.keyDatabase().toUtf8().constData(), &other), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(other, "begin immediate; insert into keys values ('x'); commit", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(other);

    EXPECT_EQ(selectAll().size(), 2u);
    EXPECT_EQ(shared.RecordCount(), 1);  // a keyset keeps the rows it read
}

}  // namespace
}  // namespace vorelta
