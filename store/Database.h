#pragma once

// Connection and recordset over SQLite, with the operations the windows use.
//
// A keyset recordset reads every row of its statement when it opens and then lets go of the
// database, so no statement stays open while the program waits for the user: another program
// can read and change the file meanwhile. Writes (Update, Delete) are single statements in
// autocommit mode and hold their lock only while they run.
//
// The connection follows its file name: before each statement outside a transaction it makes
// sure that the file it has open is still the one the name holds, unchanged but for its own
// writes, and otherwise opens the name again (see Connection::FollowFile).

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/RuntimeError.h"
#include "store/FileIdentity.h"
#include "store/KeptRows.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vorelta {

// A field's value as text; Null stays distinct from the empty text.
using FieldValue = std::optional<QString>;

enum CursorType { adOpenKeyset = 1 };
enum LockType { adLockReadOnly = 1, adLockOptimistic = 3 };
enum AffectEnum { adAffectCurrent = 1 };
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
    adErrBadConnectionString = 3706,  // no data source in the connection string
    adErrFileNotFound = 53,           // no file has the database's name any more
    adErrFileReplaced = 75,           // another file took the database's name during a write
};

// A prepared statement, finalized when its holder goes.
struct StatementDeleter {
    void operator()(sqlite3_stmt* statement) const;
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

// How the database stores text; text is bound and read in that form, so nothing is converted.
enum class TextEncoding { Utf8, Utf16 };

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

    // Called before each statement; does nothing inside a transaction. When another file now
    // has the name (a copy renamed over it), or the file was rewritten by anything but this
    // connection (a copy written into it), the connection is opened again on what the name
    // holds now, so that neither a verdict nor a write ever rests on SQLite's cached pages of
    // another file. When no file has the name any more, the connection is closed and the error
    // names the path; a later call opens the file again once it is back.
    void FollowFile();
    // Goes up each time the connection opens a file: rows read under another number came from
    // a file that is no longer the one open.
    std::uint64_t Generation() const { return generation_; }
    TextEncoding Encoding() const { return encoding_; }
    // What the connection vouches for now, for rows kept between actions: the file it has open
    // unchanged but for its own writes (and, where file times cannot prove that, nothing), no
    // other connection's commit since (SQLite's data version), and its own rows written.
    StoreEvidence Evidence();

    // A transaction on the connection: rows written inside it are stored together at the
    // commit. Begin waits once for other programs' locks, readers' included, and then holds
    // the file alone until the end: the transaction never waits again however much it writes.
    void BeginTrans();
    // False when there was no transaction left to commit: SQLite ended it by itself on a fatal
    // error and nothing of it was stored. A file renamed over key.mdb while the transaction
    // ran is an error: what it stored went into the file that no longer has the name.
    bool CommitTrans();
    void RollbackTrans();
    // False also after SQLite ended a transaction by itself on a fatal error.
    bool InTransaction() const;

    // The open database, for statements of the caller's own; raises an error when the
    // connection is not open. What is done through it is not seen by the store: every row
    // kept so far is read anew.
    sqlite3* handle();

private:
    friend class Recordset;

    sqlite3* db() const;
    void openFile();
    // One attempt: false when another file took the name while SQLite opened it.
    bool openFileOnce();
    void close();
    // SQLite's count of commits by other connections as this one sees them.
    std::uint64_t dataVersion();
    // Rows this connection has written since it opened, triggers' rows included.
    std::int64_t totalChanges() const;
    void execute(const char* sql);
    // Before a write outside a transaction or at its start: pages cached from the file as it
    // was are dropped, so that none of them is ever written back over what is there now.
    void prepareWrite();
    // After a write of this connection's own: the file as it now is counts as unchanged, when
    // it is the file written to. When another file has taken the name meanwhile, the write went
    // into the file that lost it: an error, and the next statement opens the name again.
    bool noteOwnWrite();
    // Steps a statement that writes: outside a transaction, between prepareWrite and
    // noteOwnWrite. Returns SQLite's result code.
    int stepWrite(sqlite3_stmt* statement);
    // Takes the file's identity now. One taken within the tick of another program's last change
    // may miss a change in the same tick: the next statement then reads no page from the cache.
    void recordIdentity();

    sqlite3* db_ = nullptr;
    QString path_;
    bool readOnly_ = false;
    int busyTimeoutMs_ = 0;
    FileIdentity identity_;
    bool identityUnproven_ = false;
    bool timesProve_ = true;  // whether the file system's times can prove the file unchanged
    std::uint64_t generation_ = 0;
    std::uint64_t stamp_ = 0;
    TextEncoding encoding_ = TextEncoding::Utf8;
    Statement dataVersion_;
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
    // The next Requery reads the rows anew: rows added through this recordset were undone.
    void Forget();

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
    void Delete(AffectEnum affectRecords = adAffectCurrent);

    // Every row's value of one column, in the order delivered: for scans that test all rows.
    const std::vector<FieldValue>& Column(const QString& name) const;
    // The same while rows are kept; null when the recordset is closed, keeps no rows or has no
    // such column. For views of the rows that outlive an action.
    const std::vector<FieldValue>* KeptColumn(const QString& name) const noexcept;

private:
    friend class Field;

    void requireOpen() const;
    void requireUpdatable() const;
    void requireCurrentRow() const;
    int columnIndex(const QString& name) const;
    sqlite3_stmt* prepareSource(sqlite3* db, const std::vector<QString>& parameters,
                                std::vector<std::string>& boundBytes);
    void startRows();
    void readAnew();
    void readRows(sqlite3_stmt* statement, bool withRowIds);
    void noteOwnChange(KeptRowsRule::OwnChange change);
    void describeSource();
    void countRows(sqlite3* db);
    sqlite3_stmt* insertStatement(sqlite3* db, const std::vector<int>& setColumns);

    Connection* connection_ = nullptr;
    QString source_;
    LockType lockType_ = adLockReadOnly;
    bool keepsRows_ = true;
    std::uint64_t generation_ = 0;  // the connection's, when the rows were read
    QString table_;                 // the table rows are added to and removed from; empty when none
    QString rowIdName_;             // how that table's row id is named in a statement
    std::vector<QString> columnNames_;
    std::vector<bool> numericColumns_;  // parallel to the names: would store text as a number
    std::vector<std::vector<FieldValue>> columns_;  // column-major: columns_[column][row]
    std::vector<std::int64_t> rowIds_;              // parallel to the rows, when updatable
    int countedRows_ = 0;                           // when the rows are not kept
    std::vector<QString> parameters_;
    std::size_t position_ = 0;
    bool currentDeleted_ = false;
    // Whether the rows kept are still those a fresh read would give.
    KeptRowsRule kept_;
    QString sourceTable_;  // the table the source reads directly; empty for a view
    std::uint64_t version_ = 0;
    std::optional<std::vector<std::optional<FieldValue>>>
        pendingRow_;    // set between AddNew and Update
    Statement insert_;  // kept for rows of one shape
    std::vector<int> insertColumns_;
    struct {
        std::vector<int> columns;
        std::vector<std::string> bytes;
    } insertScratch_;
};

}  // namespace vorelta
