#include <gtest/gtest.h>
#include <malloc.h>
#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <algorithm>
#include <functional>

#include "store/Module1.h"
#include "tests/support/KeyDatabase.h"

namespace vorelta {

namespace sql {
// Lookup of one keyword; the keyword is bound to the parameter, never pasted into the text.
inline const QString kSelectByKeyname = QStringLiteral("select * from keys where keyname=?");
}  // namespace sql

namespace {

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

int ErrorNumberOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const RuntimeError& error) {
        EXPECT_FALSE(error.description().isEmpty());
        return error.number();
    }
    return 0;
}

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

TEST_F(StoreTest, AMissingTableIsAnErrorOfTheRecordset) {
    dir.createWithSql("create table other (keyname text)");
    connection.Open(KeyDataSource(dir.path()));
    Recordset recordset;
    EXPECT_EQ(
        ErrorNumberOf([&] { recordset.Open(sql::kSelectAllKeys, connection, adLockOptimistic); }),
        SQLITE_ERROR);
    EXPECT_FALSE(recordset.IsOpen());
}

TEST_F(StoreTest, AnEmptyTableIsAtEofAtOnce) {
    open({});
    Recordset recordset;
    recordset.Open(sql::kSelectAllKeys, connection, adLockOptimistic);
    EXPECT_EQ(recordset.RecordCount(), 0);
    EXPECT_TRUE(recordset.Eof());
}

TEST_F(StoreTest, RowsComeInTableOrderWithNullKeptApartFromEmpty) {
    const std::vector<FieldValue> rows = {QStringLiteral("win"), QString(""), std::nullopt,
                                          QStringLiteral("win"), QStringLiteral(u"中奖")};
    open(rows);
    Recordset recordset;
    recordset.Open(sql::kSelectAllKeys, connection, adLockOptimistic);
    EXPECT_EQ(recordset.RecordCount(), 5);
    EXPECT_EQ(walk(recordset), rows);
}

TEST_F(StoreTest, ExtraColumnsAreToleratedAndFieldNamesIgnoreCase) {
    dir.createWithSql(
        "create table keys (id integer primary key, keyname text, note text);"
        "insert into keys (keyname, note) values ('cash', 'x'), ('prize', null);");
    connection.Open(KeyDataSource(dir.path()));
    Recordset recordset;
    recordset.Open(sql::kSelectAllKeys, connection, adLockReadOnly);
    EXPECT_EQ(recordset.RecordCount(), 2);
    EXPECT_EQ(recordset.Fields(QStringLiteral("KEYNAME")).Value(), QStringLiteral("cash"));
    EXPECT_EQ(recordset.Fields(QStringLiteral("id")).Value(), QStringLiteral("1"));
    EXPECT_EQ(ErrorNumberOf([&] { recordset.Fields(QStringLiteral("missing")); }),
              adErrItemNotFound);
}

TEST_F(StoreTest, ARowAddedThroughTheSharedRecordsetIsSeenByTheNextStatement) {
    open({QStringLiteral("cash")});
    Recordset shared;
    shared.Open(sql::kSelectAllKeys, connection, adLockOptimistic);
    shared.AddNew();
    shared.Fields(kKeynameField).SetValue(QStringLiteral("prize"));
    shared.Update();

    EXPECT_EQ(shared.RecordCount(), 2);
    EXPECT_EQ(shared.Fields(kKeynameField).Value(), QStringLiteral("prize"));
    EXPECT_EQ(selectAll(),
              (std::vector<FieldValue>{QStringLiteral("cash"), QStringLiteral("prize")}));
    EXPECT_EQ(dir.storedKeys().size(), 2u);  // and another program sees it too
}

TEST_F(StoreTest, UserTextIsBoundAndNeverPartOfTheStatement) {
    open({QStringLiteral("it's"), QStringLiteral("cash")});
    const auto lookup = [&](const QString& keyword) {
        Recordset recordset;
        recordset.Open(sql::kSelectByKeyname, connection, adLockReadOnly, adOptionUnspecified,
                       {keyword});
        return recordset.RecordCount();
    };
    EXPECT_EQ(lookup(QStringLiteral("it's")), 1);
    EXPECT_EQ(lookup(QStringLiteral("' or '1'='1")), 0);
    EXPECT_EQ(lookup(QStringLiteral("CASH")), 0);  // the comparison is exact
}

TEST_F(StoreTest, DeleteRemovesOnlyTheCurrentRow) {
    open({QStringLiteral("win"), QStringLiteral("win"), QStringLiteral("cash")});
    Recordset recordset;
    recordset.Open(sql::kSelectByKeyname, connection, adLockOptimistic, adOptionUnspecified,
                   {QStringLiteral("win")});
    ASSERT_EQ(recordset.RecordCount(), 2);
    recordset.Delete();
    EXPECT_EQ(ErrorNumberOf([&] { recordset.Fields(kKeynameField).Value(); }),
              adErrNoCurrentRecord);
    recordset.MoveNext();
    EXPECT_EQ(recordset.Fields(kKeynameField).Value(), QStringLiteral("win"));

    EXPECT_EQ(dir.storedKeys(),
              (std::vector<FieldValue>{QStringLiteral("win"), QStringLiteral("cash")}));
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
        {"create table real (rowid text, keyname text); create view keys as select * from real",
         "real", "rowid", false},
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
        row.Open(sql::kSelectByKeyname, connection, adLockOptimistic, adOptionUnspecified,
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

TEST_F(StoreTest, DeleteWithoutACurrentRowFailsAndChangesNothing) {
    open({QStringLiteral("cash")});
    Recordset recordset;
    recordset.Open(sql::kSelectByKeyname, connection, adLockOptimistic, adOptionUnspecified,
                   {QStringLiteral("gone")});
    EXPECT_TRUE(recordset.Eof());
    EXPECT_EQ(ErrorNumberOf([&] { recordset.Delete(); }), adErrNoCurrentRecord);
    EXPECT_EQ(dir.storedKeys().size(), 1u);
}

TEST_F(StoreTest, AReadOnlyRecordsetCannotChangeTheTable) {
    open({QStringLiteral("cash")});
    Recordset recordset;
    recordset.Open(sql::kSelectAllKeys, connection, adLockReadOnly);
    EXPECT_EQ(ErrorNumberOf([&] { recordset.AddNew(); }), adErrFeatureNotAvailable);
    EXPECT_EQ(ErrorNumberOf([&] { recordset.Delete(); }), adErrFeatureNotAvailable);
    EXPECT_EQ(dir.storedKeys().size(), 1u);
}

TEST_F(StoreTest, AClosedRecordsetRefusesWorkAndCanBeOpenedAgain) {
    open({QStringLiteral("cash")});
    Recordset recordset;
    EXPECT_EQ(ErrorNumberOf([&] { recordset.RecordCount(); }), adErrObjectClosed);
    recordset.Open(sql::kSelectAllKeys, connection, adLockReadOnly);
    recordset.Close();
    EXPECT_EQ(ErrorNumberOf([&] { recordset.Eof(); }), adErrObjectClosed);
    recordset.Open(sql::kSelectAllKeys, connection, adLockReadOnly);
    EXPECT_EQ(recordset.RecordCount(), 1);
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

// The shared recordset lives as long as the program: it counts the table and takes the
// inserts without keeping a row of either (the rows as text would take 14 MB here).
TEST(SharedRecordsetTest, CountsTheTableAndTakesInsertsWithoutKeepingThem) {
    const auto heap = [] { return std::int64_t(mallinfo2().uordblks); };
    if (heap() == 0) {
        GTEST_SKIP() << "a sanitizer keeps a heap of its own";
    }
    TempProgramDir dir;
    dir.createKeys(test::NumberedKeywords(200000));
    Module1 state;
    const std::int64_t before = heap();
    OpenKeyStore(state, KeyDataSource(dir.path()));
    state.KeyConnection.BeginTrans();
    for (int i = 0; i < 50000; ++i) {
        state.KeyRecordset.AddNew();
        state.KeyRecordset.Fields(kKeynameField).SetValue(QStringLiteral(u"新词%1").arg(i));
        state.KeyRecordset.Update();
    }
    state.KeyConnection.CommitTrans();
    EXPECT_EQ(state.KeyCount, 200000);
    EXPECT_EQ(state.KeyRecordset.RecordCount(), 250000);
    EXPECT_LT(heap() - before, 4'000'000);  // SQLite's page cache takes up to 2 MB
}

}  // namespace
}  // namespace vorelta
