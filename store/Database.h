#pragma once

// Connection and recordset, with the operations the windows use, over the engine of the data
// source (store/Engine.h): a SQLite file such as key.mdb, or a PostgreSQL server.
//
// A keyset recordset reads every row of its statement when it opens and then lets go of the
// database, so no statement stays open while the program waits for the user: another program
// can read and change the database meanwhile. Writes (Update, Delete) outside a transaction are
// single statements and hold their lock only while they run. The rows are kept between actions
// while the connection vouches that nothing has changed them (store/KeptRows.h).

#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/FieldValue.h"
#include "base/RuntimeError.h"
#include "store/FileIdentity.h"
#include "store/KeptRows.h"

namespace vorelta {

enum LockType { adLockReadOnly = 1, adLockOptimistic = 3 };
inline constexpr int adOptionUnspecified = -1;
// Open option: the recordset counts the rows of its statement without keeping them. Rows can
// still be added through it; they are counted, not kept.
inline constexpr int adCountRowsOnly = 0x10000;

// Error numbers of our own, beside SQLite's result codes.
enum DataErrorNumber {
    adErrItemNotFound = 3265,         // no field of that name
    adErrNoCurrentRecord = 3021,      // EOF, or the current row was deleted
    adErrObjectClosed = 3704,         // the connection or recordset is not open
    adErrFeatureNotAvailable = 3251,  // the recordset cannot be changed
    adErrBadConnectionString = 3706,  // no data source named, or named in words that do not do
    adErrFileNotFound = 53,           // no file has the database's name any more
    adErrFileReplaced = 75,           // another file took the database's name during a write
    adErrTextNotStorable = 3421,      // the database has no form for this text
    adErrCancelled = 3712,            // the user cancelled the statement while it ran
};

// What every engine says when a statement waited too long for another program's or desk's lock,
// and when the user cancelled it. A cancel may come after a commit, so it claims nothing.
inline const QString kListBeingChangedText =
    QStringLiteral(u"关键字库正在被其他人修改，请稍后再试。");
inline const QString kCancelledText = QStringLiteral(u"操作已取消。");

class Engine;

// Which database a connection opens.
struct DataSource {
    enum class Kind { File, Server };
    Kind kind = Kind::File;
    // The path of a SQLite file, which must exist and be a database: it is never created here;
    // or a libpq connection string or URI of the server holding the table.
    QString name{};
    // A file only: nothing can be written through the connection.
    bool readOnly = false;
    // A file only: how long each statement waits for a lock another program holds.
    int busyTimeoutMs = 5000;
};

class Connection {
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void Open(const DataSource& source);
    bool IsOpen() const;

    // Called before each statement; does nothing inside a transaction. When the database the
    // name gives is not the one open (another file renamed or copied over key.mdb), it is
    // opened again on what the name holds now; when there is none, the error says so and a
    // later call opens it again once it is back.
    void FollowFile();
    // Goes up each time the connection opens the database: rows read under another number came
    // from a database that is no longer the one open.
    std::uint64_t Generation() const;
    // What the connection vouches for now, for rows kept between actions.
    StoreEvidence Evidence();

    // A transaction on the connection: rows written inside it are stored together at the
    // commit, and other writers wait until it ends.
    void BeginTrans();
    // False when there was no transaction left to commit: the database ended it by itself on a
    // fatal error and nothing of it was stored.
    bool CommitTrans();
    void RollbackTrans();
    // False also after the database ended a transaction by itself on a fatal error.
    bool InTransaction() const;
    // Stops the statement running now on another thread, and every statement after it until
    // ResumeAfterCancel: each fails with adErrCancelled, so that an action of many statements
    // ends at once. Safe to call from any thread, also while the connection opens.
    void Cancel() noexcept;
    // Statements run again; called before a new action, while none runs.
    void ResumeAfterCancel() noexcept;
    // Raises adErrCancelled once Cancel has been called; called between statements.
    void StopIfCancelled() const;

    // The engine the connection is open on, for tools that speak its database's own language
    // (SqliteHandle in store/SqliteEngine.h); raises an error while the connection is closed.
    Engine& OpenEngine();

private:
    friend class Recordset;
    Engine& engine() const;

    std::unique_ptr<Engine> engine_;
    // For Cancel on another thread: the engine once it is open, and whether a cancel came.
    std::atomic<Engine*> cancellable_{nullptr};
    std::atomic<bool> cancelled_{false};
};

class Recordset;
struct SourceShape;

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
    Recordset();
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    // Runs the statement and reads all its rows. Each '?' in the source takes the next of
    // `parameters`, bound as text: user text never becomes part of the SQL.
    void Open(const QString& source, Connection& activeConnection, LockType lockType,
              int options = adOptionUnspecified, const std::vector<QString>& parameters = {});
    void Close();
    bool IsOpen() const { return connection_ != nullptr; }

    int RecordCount() const;
    // True once past the last row, and at once for an empty result. (EOF is a C macro.)
    bool Eof() const;
    void MoveNext();
    Field Fields(const QString& name);

    // Moves to the first row, from the current one on, whose field reads as `value`: the row
    // is found by what it reads as, whatever type or byte form it is stored in. EOF when none.
    void Find(const QString& name, const FieldValue& value);
    void MoveFirst();

    // Brings the rows up to date, reading them anew unless nothing can have changed them since
    // they were read: the connection still vouches for its file, no other connection has
    // committed since (SQLite's data version), and this connection has written nothing but
    // through this recordset's own Update and Delete, which keep the rows in step. A recordset
    // that only counted its rows keeps them from here on. The current row is the first.
    void Requery();

    // Goes up with every change of the rows: a reading, a row added, a row deleted.
    std::uint64_t Version() const { return version_; }
    // Starts a new row; its fields are set through Fields(...).SetValue, and Update stores it.
    void AddNew();
    // Makes room for this many more rows, so that adding them moves no row already kept.
    void ReserveRows(std::size_t more);
    // False when the database dropped the row (a trigger or a conflict clause that ignores
    // it): nothing was added. Text for a column whose type would turn it into a number
    // (integer, real or numeric affinity) is refused with an error: "007" would be stored as 7.
    bool Update();
    // Removes the current row from the table at once. Only a recordset over one table whose
    // rows can be told apart (by their row id) can add or remove rows; over a view it cannot.
    void Delete();

    // Every row's value of one column, in the order delivered: for scans that test all rows.
    const std::vector<FieldValue>& Column(const QString& name) const;
    // The same while rows are kept; null when the recordset is closed, keeps no rows, has no
    // such column, or its rows may hold what was undone since. For views of the rows that
    // outlive an action.
    const std::vector<FieldValue>* KeptColumn(const QString& name) const noexcept;

private:
    friend class Field;

    void requireOpen() const;
    void requireUpdatable() const;
    void requireCurrentRow() const;
    int columnIndex(const QString& name) const;
    void startRows();
    // `before`: what the connection vouched for just before.
    void readAnew(const StoreEvidence& before);
    void describeSource();
    void describeNewDatabase();
    void noteOwnChange(KeptRowsRule::OwnChange change);

    Connection* connection_ = nullptr;
    QString source_;
    LockType lockType_ = adLockReadOnly;
    bool keepsRows_ = true;
    std::unique_ptr<SourceShape> shape_;            // what the source reads, as last described
    std::vector<std::vector<FieldValue>> columns_;  // column-major: columns_[column][row]
    std::vector<std::int64_t> rowIds_;              // parallel to the rows, when updatable
    int countedRows_ = 0;                           // when the rows are not kept
    std::vector<QString> parameters_;
    std::size_t position_ = 0;
    bool currentDeleted_ = false;
    // Whether the rows kept are still those a fresh read would give.
    KeptRowsRule kept_;
    std::uint64_t undoneAtRead_ = 0;  // the engine's count of undone writes at the last reading
    std::uint64_t version_ = 0;
    std::optional<std::vector<std::optional<FieldValue>>>
        pendingRow_;               // set between AddNew and Update
    std::vector<int> setColumns_;  // scratch for Update: a bulk insert allocates nothing per row
};

}  // namespace vorelta
