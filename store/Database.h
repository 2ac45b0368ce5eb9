#pragma once

// Connection and recordset over SQLite, with the operations the windows use.
//
// A keyset recordset reads every row of its statement when it opens and then lets go of the
// database, so no statement stays open while the program waits for the user: another program
// can read and change the file meanwhile. Writes (Update, Delete) are single statements in
// autocommit mode and hold their lock only while they run.

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/RuntimeError.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vorelta {

// A field's value as text; Null stays distinct from the empty text.
using FieldValue = std::optional<QString>;

enum CursorType { adOpenKeyset = 1 };
enum LockType { adLockReadOnly = 1, adLockOptimistic = 3 };
enum AffectEnum { adAffectCurrent = 1 };
inline constexpr int adOptionUnspecified = -1;

// Error numbers of our own, beside SQLite's result codes.
enum DataErrorNumber {
    adErrItemNotFound = 3265,         // no field of that name
    adErrNoCurrentRecord = 3021,      // EOF, or the current row was deleted
    adErrObjectClosed = 3704,         // the connection or recordset is not open
    adErrFeatureNotAvailable = 3251,  // the recordset cannot be changed
    adErrBadConnectionString = 3706,  // no data source in the connection string
};

class Connection {
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens the database named by "Data Source=" in the connection string, which is its last
    // setting: the path is the whole rest of the string. The file must exist and be a
    // database: it is never created here. Two settings more are understood:
    // "Mode=Read" opens the file for reading only, and "Busy Timeout=<ms>" sets how long each
    // statement waits for a lock another program holds (5000 ms when not given).
    void Open(const QString& connectionString, const QString& userId = {},
              const QString& password = {}, int options = adOptionUnspecified);
    bool IsOpen() const { return db_ != nullptr; }

    // A transaction on the connection: rows written inside it are stored together at the
    // commit. Begin waits for another program's write lock like any statement.
    void BeginTrans();
    void CommitTrans();
    void RollbackTrans();
    // False also after SQLite ended a transaction by itself on a fatal error.
    bool InTransaction() const;

    // The open database; raises an error when the connection is not open.
    sqlite3* handle() const;

private:
    void execute(const char* sql);

    sqlite3* db_ = nullptr;
};

class Recordset;

// The field of one column at the recordset's current row (or of the row being added).
class Field {
public:
    const FieldValue& Value() const;
    void SetValue(const QString& value);

private:
    friend class Recordset;
    Field(Recordset& recordset, int column) : recordset_(recordset), column_(column) {}
    Recordset& recordset_;
    int column_;
};

class Recordset {
public:
    Recordset() = default;
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    // Runs the statement and reads all its rows. Each '?' in the source takes the next of
    // `parameters`, bound as text: user text never becomes part of the SQL.
    void Open(const QString& source, Connection& activeConnection, CursorType cursorType,
              LockType lockType, int options = adOptionUnspecified,
              const std::vector<QString>& parameters = {});
    void Close();
    bool IsOpen() const { return connection_ != nullptr; }

    int RecordCount() const;
    // True once past the last row, and at once for an empty result. (EOF is a C macro.)
    bool Eof() const;
    void MoveNext();
    Field Fields(const QString& name);

    // Starts a new row; its fields are set through Fields(...).SetValue, and Update stores it.
    void AddNew();
    void Update();
    // Removes the current row from the table at once. Only a recordset over one table whose
    // rows can be told apart (by their row id) can add or remove rows; over a view it cannot.
    void Delete(AffectEnum affectRecords = adAffectCurrent);

    // Every row's value of one column, in the order delivered: for scans that test all rows.
    const std::vector<FieldValue>& Column(const QString& name) const;

private:
    friend class Field;

    void requireOpen() const;
    void requireUpdatable() const;
    void requireCurrentRow() const;
    int columnIndex(const QString& name) const;
    void readRows(sqlite3_stmt* statement, bool withRowIds);
    sqlite3_stmt* insertStatement(sqlite3* db, const std::vector<int>& setColumns);

    Connection* connection_ = nullptr;
    LockType lockType_ = adLockReadOnly;
    QString table_;      // the table rows are added to and removed from; empty when none
    QString rowIdName_;  // how that table's row id is named in a statement
    std::vector<QString> columnNames_;
    std::vector<std::vector<FieldValue>> columns_;  // column-major: columns_[column][row]
    std::vector<std::int64_t> rowIds_;              // parallel to the rows, when updatable
    std::size_t position_ = 0;
    bool currentDeleted_ = false;
    std::optional<std::vector<std::optional<FieldValue>>>
        pendingRow_;  // set between AddNew and Update
    struct StatementDeleter {
        void operator()(sqlite3_stmt* statement) const;
    };
    std::unique_ptr<sqlite3_stmt, StatementDeleter> insert_;  // kept for rows of one shape
    std::vector<int> insertColumns_;
    struct {
        std::vector<int> columns;
        std::vector<std::string> bytes;
    } insertScratch_;
};

// Runs a statement and hands the first column of each row to `row` as the bytes it is stored
// as (Null rows are skipped), without turning them into text: for reads whose rows are only
// compared, as the database itself compares them.
void ForEachStoredBytes(Connection& connection, const QString& source,
                        const std::function<void(std::string_view)>& row);

}  // namespace vorelta
