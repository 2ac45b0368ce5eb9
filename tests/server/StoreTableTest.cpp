// The store's connection and recordsets over each engine: key.mdb, and the table keys on a
// throwaway PostgreSQL server. Every case runs on both; where the engines rightly differ, the
// case says what each gives.

#include <gtest/gtest.h>
#include <malloc.h>
#include <sqlite3.h>

#include <functional>
#include <memory>
#include <ostream>

#include "store/Module1.h"
#include "tests/support/ErrorNumber.h"
#include "tests/support/KeyDatabase.h"
#include "tests/support/PgCluster.h"

namespace vorelta {

namespace {

using namespace Qt::StringLiterals;
using test::ErrorNumberOf;
using test::TempProgramDir;

enum class StoreKind { KeyMdb, Server };

// How test lists name the engine, instead of the enum's bytes.
void PrintTo(StoreKind kind, std::ostream* out) {
    *out << (kind == StoreKind::KeyMdb ? "key.mdb" : "server");
}

// The server's error number for a table it does not have.
constexpr int kServerMissingTable = 3078;

// A text as an SQL literal that both engines read alike.
std::string Literal(const FieldValue& value) {
    return value ? "'" + QString(*value).replace(u'\'', u"''"_s).toStdString() + "'" : "null";
}

std::string InsertSql(const std::vector<FieldValue>& rows) {
    std::string sql;
    for (const FieldValue& row : rows) {
        sql += (sql.empty() ? "insert into keys (keyname) values (" : ", (") + Literal(row) + ")";
    }
    return sql;
}

// Each case on a database of its own, made afresh: key.mdb in a program folder of its own, or a
// database on the test server set up as an administrator would. Beside the program's connection
// there is another program's way in, to change and read the table behind the program's back.
class StoreTableTest : public testing::TestWithParam<StoreKind> {
protected:
    bool onServer() const { return GetParam() == StoreKind::Server; }
    static test::PgCluster& server() { return test::SharedPgCluster(); }

    // A fresh database with the table keys (keyname text), then what the statements make of it.
    void create(const std::string& sql) {
        if (onServer()) {
            server().createDatabase(kDatabase);
            server().applySetupScript(kDatabase);
            run(sql);
        } else {
            dir = std::make_unique<TempProgramDir>();
            dir->exec("create table keys (keyname text);" + sql);
        }
    }
    DataSource source() const {
        return onServer() ? DataSource{DataSource::Kind::Server, server().conninfo(kDatabase)}
                          : KeyDataSource(dir->path());
    }
    // A fresh table holding these rows in this order, and the connection open on it.
    void open(const std::vector<FieldValue>& rows) { openWith(InsertSql(rows)); }
    void openWith(const std::string& sql) {
        create(sql);
        connection.Open(source());
    }

    // Statements another program runs.
    void run(const std::string& sql) {
        if (!onServer()) {
            dir->exec(sql);
        } else if (!sql.empty()) {
            server().runSql(QString::fromStdString(sql), kDatabase);
        }
    }
    // The first column of every row the query gives, as another program reads it.
    std::vector<FieldValue> read(const std::string& sql) const {
        if (!onServer()) {
            return dir->column(sql);
        }
        std::vector<FieldValue> values;
        for (const QString& value : server().column(QString::fromStdString(sql), kDatabase)) {
            values.push_back(value.isNull() ? FieldValue() : value);
        }
        return values;
    }
    std::vector<FieldValue> stored() const { return read("select keyname from keys"); }

    template <typename T>
    T onEngine(T forKeyMdb, T forServer) const {
        return onServer() ? forServer : forKeyMdb;
    }

    // Every keyname the recordset delivers, walking it the way the windows do.
    static std::vector<FieldValue> walk(Recordset& recordset) {
        std::vector<FieldValue> values;
        for (; !recordset.Eof(); recordset.MoveNext()) {
            values.push_back(recordset.Fields(kKeynameField).Value());
        }
        return values;
    }

    inline static const QString kDatabase = QStringLiteral("store_table");
    std::unique_ptr<TempProgramDir> dir;
    Connection connection;
};

INSTANTIATE_TEST_SUITE_P(BothEngines, StoreTableTest,
                         testing::Values(StoreKind::KeyMdb, StoreKind::Server),
                         [](const testing::TestParamInfo<StoreKind>& info) {
                             return info.param == StoreKind::KeyMdb ? "KeyMdb" : "Server";
                         });

TEST_P(StoreTableTest, AMissingTableIsAnErrorOfTheRecordset) {
    openWith("drop table keys; create table other (keyname text)");
    Recordset recordset;
    EXPECT_EQ(
        ErrorNumberOf([&] { recordset.Open(sql::kSelectAllKeys, connection, adLockOptimistic); }),
        onEngine(SQLITE_ERROR, kServerMissingTable));
    EXPECT_FALSE(recordset.IsOpen());
}

TEST_P(StoreTableTest, AnEmptyTableIsAtEofAtOnce) {
    open({});
    Recordset recordset;
    recordset.Open(sql::kSelectAllKeys, connection, adLockOptimistic);
    EXPECT_EQ(recordset.RecordCount(), 0);
    EXPECT_TRUE(recordset.Eof());
}

TEST_P(StoreTableTest, RowsComeInTableOrderWithNullKeptApartFromEmpty) {
    const std::vector<FieldValue> rows = {u"win"_s, u""_s, std::nullopt, u"win"_s, u"中奖"_s};
    open(rows);
    Recordset recordset;
    recordset.Open(sql::kSelectAllKeys, connection, adLockOptimistic);
    EXPECT_EQ(recordset.RecordCount(), 5);
    EXPECT_EQ(walk(recordset), rows);
}

TEST_P(StoreTableTest, ExtraColumnsAreToleratedAndFieldNamesIgnoreCase) {
    openWith(
        "alter table keys add column id integer; alter table keys add column note text;"
        "insert into keys values ('cash', 1, 'x'), ('prize', 2, null)");
    Recordset recordset;
    recordset.Open(sql::kSelectAllKeys, connection, adLockReadOnly);
    EXPECT_EQ(recordset.RecordCount(), 2);
    EXPECT_EQ(recordset.Fields(u"KEYNAME"_s).Value(), u"cash"_s);
    EXPECT_EQ(recordset.Fields(u"id"_s).Value(), u"1"_s);
    EXPECT_EQ(ErrorNumberOf([&] { recordset.Fields(u"missing"_s); }), adErrItemNotFound);
}

TEST_P(StoreTableTest, ARowAddedThroughTheSharedRecordsetIsSeenByTheNextStatement) {
    open({u"cash"_s});
    Recordset shared;
    shared.Open(sql::kSelectAllKeys, connection, adLockOptimistic);
    shared.AddNew();
    shared.Fields(kKeynameField).SetValue(u"prize"_s);
    shared.Update();

    EXPECT_EQ(shared.RecordCount(), 2);
    EXPECT_EQ(shared.Fields(kKeynameField).Value(), u"prize"_s);
    const std::vector<FieldValue> both = {u"cash"_s, u"prize"_s};
    Recordset next;
    next.Open(sql::kSelectAllKeys, connection, adLockOptimistic);
    EXPECT_EQ(walk(next), both);
    EXPECT_EQ(stored(), both);  // and another program sees it too
}

TEST_P(StoreTableTest, UserTextIsBoundAndNeverPartOfTheStatement) {
    open({u"it's"_s, u"cash"_s, u"?"_s});
    const auto lookup = [&](const QString& keyword,
                            const QString& source = test::kSelectByKeyname) {
        Recordset recordset;
        recordset.Open(source, connection, adLockReadOnly, adOptionUnspecified, {keyword});
        return recordset.RecordCount();
    };
    EXPECT_EQ(lookup(u"it's"_s), 1);
    EXPECT_EQ(lookup(u"' or '1'='1"_s), 0);
    EXPECT_EQ(lookup(u"CASH"_s), 0);  // the comparison is exact
    // A '?' quoted in the statement is text, not a parameter.
    EXPECT_EQ(lookup(u"cash"_s, u"select * from keys where keyname = '?' or keyname=?"_s), 2);
}

// The row removed is the current one, told apart from rows of the same keyword by its other
// columns, and of two rows alike only one goes.
TEST_P(StoreTableTest, DeleteRemovesOnlyTheCurrentRow) {
    openWith(
        "alter table keys add column note text;"
        "insert into keys values ('win', 'a'), ('win', 'b'), ('win', 'b'), ('cash', null)");
    Recordset recordset;
    recordset.Open(test::kSelectByKeyname, connection, adLockOptimistic, adOptionUnspecified,
                   {u"win"_s});
    ASSERT_EQ(recordset.RecordCount(), 3);
    recordset.MoveNext();
    recordset.Delete();
    EXPECT_EQ(ErrorNumberOf([&] { recordset.Fields(kKeynameField).Value(); }),
              adErrNoCurrentRecord);
    recordset.MoveNext();
    EXPECT_EQ(recordset.Fields(u"note"_s).Value(), u"b"_s);

    EXPECT_EQ(read("select note from keys"),
              (std::vector<FieldValue>{u"a"_s, u"b"_s, std::nullopt}));
}

TEST_P(StoreTableTest, DeleteWithoutACurrentRowFailsAndChangesNothing) {
    open({u"cash"_s});
    Recordset recordset;
    recordset.Open(test::kSelectByKeyname, connection, adLockOptimistic, adOptionUnspecified,
                   {u"gone"_s});
    EXPECT_TRUE(recordset.Eof());
    EXPECT_EQ(ErrorNumberOf([&] { recordset.Delete(); }), adErrNoCurrentRecord);
    EXPECT_EQ(stored().size(), 1u);
}

// Neither a read-only recordset nor one over a view, whose rows cannot be told apart.
TEST_P(StoreTableTest, ARecordsetThatCannotChangeTheTableRefusesToAddOrDelete) {
    const struct {
        const char* what;
        const char* sql;
        LockType lock;
    } cases[] = {
        {"read-only", "insert into keys values ('cash')", adLockReadOnly},
        {"a view",
         "drop table keys; create table real (rowid text, keyname text);"
         "create view keys as select * from real; insert into real values ('1', 'cash')",
         adLockOptimistic},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Connection own;
        create(c.sql);
        own.Open(source());
        Recordset recordset;
        recordset.Open(sql::kSelectAllKeys, own, c.lock);
        EXPECT_EQ(ErrorNumberOf([&] { recordset.AddNew(); }), adErrFeatureNotAvailable);
        EXPECT_EQ(ErrorNumberOf([&] { recordset.Delete(); }), adErrFeatureNotAvailable);
        EXPECT_EQ(stored().size(), 1u);
    }
}

TEST_P(StoreTableTest, AClosedRecordsetRefusesWorkAndCanBeOpenedAgain) {
    open({u"cash"_s});
    Recordset recordset;
    EXPECT_EQ(ErrorNumberOf([&] { recordset.RecordCount(); }), adErrObjectClosed);
    recordset.Open(sql::kSelectAllKeys, connection, adLockReadOnly);
    recordset.Close();
    EXPECT_EQ(ErrorNumberOf([&] { recordset.Eof(); }), adErrObjectClosed);
    recordset.Open(sql::kSelectAllKeys, connection, adLockReadOnly);
    EXPECT_EQ(recordset.RecordCount(), 1);
}

// Another program inserts one row and deletes another while a recordset is open: the recordset
// keeps the rows it read until Requery, and cannot delete the row that is gone.
TEST_P(StoreTableTest, AnotherProgramsChangeIsReadAtRequeryAndItsDeleteIsNotDoneTwice) {
    open({u"cash"_s, u"prize"_s});
    Recordset shared;
    shared.Open(sql::kSelectAllKeys, connection, adLockOptimistic);
    run("insert into keys values ('win'); delete from keys where keyname = 'cash'");

    EXPECT_EQ(walk(shared), (std::vector<FieldValue>{u"cash"_s, u"prize"_s}));
    shared.MoveFirst();
    EXPECT_EQ(ErrorNumberOf([&] { shared.Delete(); }), adErrNoCurrentRecord);
    const std::vector<FieldValue> now = {u"prize"_s, u"win"_s};
    EXPECT_EQ(stored(), now);
    shared.Requery();
    EXPECT_EQ(walk(shared), now);
}

// The shared recordset lives as long as the program: it counts the table and takes the
// inserts without keeping a row of either (the rows as text would take 14 MB here).
TEST_P(StoreTableTest, TheSharedRecordsetCountsAndTakesInsertsWithoutKeepingThem) {
    const auto heap = [] { return std::int64_t(mallinfo2().uordblks); };
    if (heap() == 0) {
        GTEST_SKIP() << "a sanitizer keeps a heap of its own";
    }
    create(InsertSql(test::NumberedKeywords(200000)));
    Module1 state;
    const std::int64_t before = heap();
    OpenKeyStore(state, source());
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
