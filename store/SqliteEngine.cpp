#include "store/SqliteEngine.h"

#include <algorithm>
#include <iterator>

#include "store/SourceSql.h"
#include "store/SqliteStatement.h"

namespace vorelta {

namespace {

// A running statement looks for a cancel this often: at a million rows read, a thousand times
// a second or more, for a cost too small to measure.
constexpr int kStepsBetweenCancelChecks = 1000;

// Between two tries for another program's lock, as SQLite's own busy timeout waits.
constexpr std::chrono::milliseconds kLockRetryDelays[] = {
    std::chrono::milliseconds(1),  std::chrono::milliseconds(2),  std::chrono::milliseconds(5),
    std::chrono::milliseconds(10), std::chrono::milliseconds(15), std::chrono::milliseconds(20),
    std::chrono::milliseconds(25), std::chrono::milliseconds(25), std::chrono::milliseconds(25),
    std::chrono::milliseconds(50), std::chrono::milliseconds(50), std::chrono::milliseconds(100)};

// What a statement stopped by a cancel fails with: interrupted while it worked, or given up
// while it waited for a lock.
bool StoppedByCancel(const RuntimeError& error) {
    const int primary = error.number() & 0xff;
    return primary == SQLITE_INTERRUPT || primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

}  // namespace

template <class Operation>
auto SqliteEngine::cancellable(Operation operation) -> decltype(operation()) {
    try {
        return operation();
    } catch (const RuntimeError& error) {
        if (cancelled_ && StoppedByCancel(error)) {
            throw Cancelled();
        }
        throw;
    }
}

SqliteEngine::SqliteEngine(QString path, bool readOnly, int busyTimeoutMs)
    : path_(std::move(path)), readOnly_(readOnly), busyTimeoutMs_(busyTimeoutMs) {
    openFile();
}

SqliteEngine::~SqliteEngine() {
    close();
}

void SqliteEngine::openFile() {
    // Another program may rename a file over the name while SQLite opens it, the schema read
    // waiting seconds for a lock: the file SQLite opened is known only when the name held the
    // same file before and after.
    constexpr int kAttempts = 5;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (openFileOnce()) {
            return;
        }
    }
    throw FileKeptChanging(path_);
}

bool SqliteEngine::openFileOnce() {
    const std::optional<FileIdentity> before = IdentityOf(path_);
    // No SQLITE_OPEN_CREATE: a missing file is an error, never a new empty database.
    // One thread uses the connection: SQLite need not lock it around every call.
    const int flags =
        (readOnly_ ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path_.toUtf8().constData(), &db, flags, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_handler(db, &SqliteEngine::waitForLock, this);
        sqlite3_progress_handler(db, kStepsBetweenCancelChecks, &SqliteEngine::stopWhenCancelled,
                                 this);
        // Opening is lazy; reading the schema is what tells a database from any other file.
        // The journal mode stays as the file has it: the rollback journal of a file made by
        // us leaves nothing beside key.mdb once a transaction ends, and a file that another
        // program keeps in WAL mode is that program's choice (SQLite folds the WAL back into
        // the file when the last connection closes).
        rc = sqlite3_exec(db, "select count(*) from sqlite_master", nullptr, nullptr, nullptr);
    }
    if (rc == SQLITE_OK && IsEmptyDatabase(db)) {
        // SQLite takes an empty file for an empty database, and the first transaction would
        // write one into it. It holds no keywords: it is not key.mdb, whatever its name.
        rc = SQLITE_NOTADB;
    }
    if (rc != SQLITE_OK) {
        const RuntimeError error = SqliteError(rc == SQLITE_NOTADB ? nullptr : db, rc);
        sqlite3_close_v2(db);
        throw error;
    }
    const std::optional<FileIdentity> after = IdentityOf(path_);
    if (!before || !after || !before->sameFileAs(*after)) {
        sqlite3_close_v2(db);
        return false;
    }
    db_ = db;
    encoding_ = EncodingOf(db);
    identity_ = *after;
    identityUnproven_ = MayChangeUnseen(identity_);
    timesProve_ = TimesProveIdentity(path_);
    ++generation_;
    ++stamp_;
    return true;
}

// Another program's lock is waited for until the busy timeout has passed since the first try,
// in steps that grow as SQLite's own do; a cancel ends the wait at once.
int SqliteEngine::waitForLock(void* engine, int attempt) {
    auto& self = *static_cast<SqliteEngine*>(engine);
    const auto now = std::chrono::steady_clock::now();
    if (attempt == 0) {
        self.waitStart_ = now;
    }
    const auto deadline = self.waitStart_ + std::chrono::milliseconds(self.busyTimeoutMs_);
    if (now >= deadline || self.cancelled_) {
        return 0;
    }
    const auto delay = kLockRetryDelays[std::min<std::size_t>(std::size_t(attempt),
                                                              std::size(kLockRetryDelays) - 1)];
    std::unique_lock lock(self.cancelMutex_);
    self.cancelSignal_.wait_until(lock, std::min(now + delay, deadline),
                                  [&self] { return self.cancelled_.load(); });
    return self.cancelled_ ? 0 : 1;
}

int SqliteEngine::stopWhenCancelled(void* engine) {
    return static_cast<SqliteEngine*>(engine)->cancelled_ ? 1 : 0;
}

// No sqlite3_interrupt: its mark stays on the connection when no statement runs, and would stop
// the first statement of the next action. The progress handler looks at the cancel instead.
void SqliteEngine::cancel() noexcept {
    {
        const std::lock_guard lock(cancelMutex_);
        cancelled_ = true;
    }
    cancelSignal_.notify_all();
}

void SqliteEngine::resume() noexcept {
    cancelled_ = false;
}

void SqliteEngine::close() {
    // A statement still alive (a recordset's prepared insert) keeps the old file open until it
    // is finalized; the recordset notices the new generation and lets it go.
    dataVersion_.reset();
    insert_.reset();
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

void SqliteEngine::follow() {
    return cancellable([&] {
        if (db_ && !sqlite3_get_autocommit(db_)) {
            return;
        }
        if (path_.isEmpty()) {
            throw ObjectClosed();
        }
        const std::optional<FileIdentity> now = IdentityOf(path_);
        if (!now) {
            const int error = errno;
            close();
            throw FileGone(path_, error);
        }
        if (db_ && *now == identity_) {
            if (identityUnproven_) {
                // The file may have been rewritten in the tick of its last change without showing
                // it: nothing cached from it is used, the pages are read again.
                sqlite3_db_release_memory(db_);
                ++stamp_;
                recordIdentity();
            }
            return;
        }
        close();
        try {
            openFile();
        } catch (const RuntimeError& error) {
            // Whatever now has the name is not a keyword database: say which file that is.
            throw RuntimeError(error.number(),
                               error.description() + QStringLiteral("\r\n\r\n") + path_);
        }
    });
}

void SqliteEngine::prepareWrite() {
    sqlite3_db_release_memory(db_);
}

// The file as this connection left it, when the name still holds the file written to. A change
// by another program within the same tick as this write is not looked for: it would be a copy
// written over the file at the very moment Vorelta writes it, and no page cached before the
// write is written back (prepareWrite).
bool SqliteEngine::noteOwnWrite() {
    const std::optional<FileIdentity> now = IdentityOf(path_);
    if (now && now->sameFileAs(identity_)) {
        identity_ = *now;
        identityUnproven_ = false;
        return true;
    }
    // Written into a file that has lost the name: nothing kept is vouched for, and the next
    // statement opens what the name holds now.
    identity_ = {};
    ++stamp_;
    return false;
}

int SqliteEngine::stepWrite(sqlite3_stmt* statement) {
    const bool ownTransaction = !inTransaction();
    if (ownTransaction) {
        prepareWrite();
    }
    const int rc = sqlite3_step(statement);
    if (ownTransaction && !noteOwnWrite() && rc == SQLITE_DONE) {
        throw WrittenToAReplacedFile(path_);
    }
    return rc;
}

void SqliteEngine::recordIdentity() {
    identity_ = IdentityOf(path_).value_or(FileIdentity{});
    identityUnproven_ = MayChangeUnseen(identity_);
}

StoreEvidence SqliteEngine::evidence() {
    // The data version is read under a read lock, which waits for another program's writes.
    return cancellable([this] {
        return StoreEvidence{stamp_, dataVersion(), totalChanges(), timesProve_};
    });
}

std::uint64_t SqliteEngine::dataVersion() {
    sqlite3* db = SqliteEngine::db();
    if (!dataVersion_) {
        dataVersion_.reset(Prepare(db, QStringLiteral("pragma data_version")).release());
    }
    const int rc = sqlite3_step(dataVersion_.get());
    const auto version = std::uint64_t(sqlite3_column_int64(dataVersion_.get(), 0));
    sqlite3_reset(dataVersion_.get());
    if (rc != SQLITE_ROW) {
        throw SqliteError(db, rc);
    }
    return version;
}

std::int64_t SqliteEngine::totalChanges() const {
    return sqlite3_total_changes64(db());
}

void SqliteEngine::begin() {
    return cancellable([&] {
        follow();
        prepareWrite();
        // Exclusive: the one wait for other programs' locks is here, readers' included. A write
        // lock taken without it would wait again, for the full time, each time SQLite's page cache
        // spills to the file while another program reads, and again at the commit.
        execute("begin exclusive");
    });
}

bool SqliteEngine::commit() {
    return cancellable([&] {
        if (!inTransaction()) {
            ++stamp_;
            ++undone_;  // whatever was kept of the transaction's rows was undone
            return false;
        }
        try {
            execute("commit");
        } catch (...) {
            ++stamp_;
            ++undone_;
            throw;
        }
        if (!noteOwnWrite()) {
            throw WrittenToAReplacedFile(path_);
        }
        return true;
    });
}

void SqliteEngine::rollback() {
    // First: the rows kept may hold what is undone now, whether or not the rollback succeeds.
    ++stamp_;
    ++undone_;
    execute("rollback");
    noteOwnWrite();
}

bool SqliteEngine::inTransaction() const {
    return db_ && !sqlite3_get_autocommit(db_);
}

void SqliteEngine::execute(const char* sql) {
    sqlite3* db = SqliteEngine::db();
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        throw SqliteError(db, rc);
    }
}

sqlite3* SqliteEngine::db() const {
    if (!db_) {
        throw ObjectClosed();
    }
    return db_;
}

sqlite3* SqliteEngine::handle() {
    sqlite3* open = db();
    ++stamp_;
    return open;
}

sqlite3* SqliteHandle(Connection& connection) {
    auto* sqlite = dynamic_cast<SqliteEngine*>(&connection.OpenEngine());
    if (!sqlite) {
        throw ObjectClosed();
    }
    return sqlite->handle();
}

// ---------------------------------------------------------------------------------------------
// Sources

Statement SqliteEngine::prepareSource(const QString& source, const std::vector<QString>& parameters,
                                      bool updatable, SourceShape& shape,
                                      std::vector<std::string>& bytes) {
    sqlite3* db = SqliteEngine::db();
    Statement statement = Prepare(db, source);
    shape = {};
    shape.sourceTable = TableBehind(statement.get(), source);
    const QString table = updatable ? shape.sourceTable : QString();
    QString rowIdName;
    TableColumns tableColumns;
    if (!table.isEmpty()) {
        tableColumns = ColumnsOf(db, table);
        rowIdName = RowIdNameOf(tableColumns);
    }
    for (int c = 0; c < sqlite3_column_count(statement.get()); ++c) {
        shape.columns.push_back(QString::fromUtf8(sqlite3_column_name(statement.get(), c)));
    }
    if (!rowIdName.isEmpty()) {
        Statement keyed = PrepareKeyed(db, WithRowId(source, rowIdName));
        if (keyed) {
            statement = std::move(keyed);
        } else {
            rowIdName.clear();
        }
    }
    shape.table = rowIdName.isEmpty() ? QString() : table;
    shape.rowIdName = rowIdName;
    shape.numeric = NumericColumnsOf(tableColumns, shape.columns);
    shape.generation = generation_;
    BindParameters(db, statement.get(), parameters, encoding_, bytes);
    return statement;
}

SourceShape SqliteEngine::describe(const QString& source, const std::vector<QString>& parameters,
                                   bool updatable) {
    return cancellable([&] {
        SourceShape shape;
        std::vector<std::string> bytes;
        prepareSource(source, parameters, updatable, shape, bytes);
        return shape;
    });
}

SourceTraits SqliteEngine::read(const QString& source, const std::vector<QString>& parameters,
                                bool updatable, std::size_t expectedRows, SourceShape& shape,
                                SourceRows rows) {
    return cancellable([&] {
        std::vector<std::string> bytes;
        const Statement statement = prepareSource(source, parameters, updatable, shape, bytes);
        const bool withRowIds = !shape.rowIdName.isEmpty();
        const int first = withRowIds ? 1 : 0;
        const std::size_t columnCount = shape.columns.size();
        rows.columns.assign(columnCount, {});
        rows.rowIds.clear();
        for (auto& column : rows.columns) {
            column.reserve(expectedRows);
        }
        if (withRowIds) {
            rows.rowIds.reserve(expectedRows);
        }
        int rc;
        std::size_t read = 0;
        for (; (rc = sqlite3_step(statement.get())) == SQLITE_ROW; ++read) {
            if (withRowIds) {
                rows.rowIds.push_back(sqlite3_column_int64(statement.get(), 0));
            }
            for (std::size_t c = 0; c < columnCount; ++c) {
                rows.columns[c].push_back(ReadText(statement.get(), first + int(c), encoding_));
            }
        }
        if (rc != SQLITE_DONE) {
            rows.columns.clear();
            throw SqliteError(db_, rc);
        }
        // A table much smaller than expected keeps no room for the rows it had.
        if (read < expectedRows / 2) {
            for (auto& column : rows.columns) {
                column.shrink_to_fit();
            }
            rows.rowIds.shrink_to_fit();
        }
        const bool isTable = !shape.sourceTable.isEmpty();
        return SourceTraits{isTable, AddsAtTheEnd(db_, source),
                            isTable && CountsEveryChange(db_, shape.sourceTable)};
    });
}

// The number of rows the source delivers, counted by the database without reading them.
int SqliteEngine::count(const QString& source, const std::vector<QString>& parameters) {
    return cancellable([&] {
        sqlite3* db = SqliteEngine::db();
        Statement count = Prepare(db, QStringLiteral("select count(*) from (%1)").arg(source));
        std::vector<std::string> bytes;
        BindParameters(db, count.get(), parameters, encoding_, bytes);
        const int rc = sqlite3_step(count.get());
        if (rc != SQLITE_ROW) {
            throw SqliteError(db, rc);
        }
        return sqlite3_column_int(count.get(), 0);
    });
}

bool SqliteEngine::insert(const SourceShape& shape, const std::vector<int>& setColumns,
                          const std::vector<std::optional<FieldValue>>& row, std::int64_t& rowId) {
    return cancellable([&] {
        sqlite3* db = SqliteEngine::db();
        sqlite3_stmt* insert = insertStatement(shape, setColumns);
        insertBytes_.resize(setColumns.size());
        for (std::size_t i = 0; i < setColumns.size(); ++i) {
            BindText(db, insert, int(i + 1), *row[std::size_t(setColumns[i])], encoding_,
                     insertBytes_[i]);
        }
        const int rc = stepWrite(insert);
        sqlite3_reset(insert);  // every parameter is bound again for the next row
        if (rc != SQLITE_DONE) {
            throw SqliteError(db, rc);
        }
        if (sqlite3_changes(db) == 0) {
            return false;
        }
        rowId = sqlite3_last_insert_rowid(db);
        return true;
    });
}

// The insert for rows that set these columns, prepared once and kept while rows of the same
// shape follow: a bulk insert then costs one step per row, not one compilation.
sqlite3_stmt* SqliteEngine::insertStatement(const SourceShape& shape,
                                            const std::vector<int>& setColumns) {
    if (insertFits(shape, setColumns)) {
        return insert_.get();
    }
    insert_.reset();  // no statement is kept for names it does not set
    QStringList names;
    QStringList placeholders;
    insertColumns_.clear();
    for (const int c : setColumns) {
        insertColumns_.push_back(shape.columns[std::size_t(c)]);
        names << QuoteIdentifier(insertColumns_.back());
        placeholders << QStringLiteral("?");
    }
    const QString sql =
        names.isEmpty()
            ? QStringLiteral("insert into %1 default values").arg(QuoteIdentifier(shape.table))
            : QStringLiteral("insert into %1 (%2) values (%3)")
                  .arg(QuoteIdentifier(shape.table), names.join(u", "), placeholders.join(u", "));
    insert_.reset(Prepare(db(), sql).release());
    insertTable_ = shape.table;
    return insert_.get();
}

// The kept insert sets the same columns by name: another source may order them otherwise.
// Compared without building anything, once a row.
bool SqliteEngine::insertFits(const SourceShape& shape, const std::vector<int>& setColumns) const {
    if (!insert_ || insertTable_ != shape.table || insertColumns_.size() != setColumns.size()) {
        return false;
    }
    for (std::size_t i = 0; i < setColumns.size(); ++i) {
        if (insertColumns_[i] != shape.columns[std::size_t(setColumns[i])]) {
            return false;
        }
    }
    return true;
}

void SqliteEngine::remove(const SourceShape& shape, SourceRows rows, std::size_t row) {
    return cancellable([&] {
        sqlite3* db = SqliteEngine::db();
        Statement statement = Prepare(db, QStringLiteral("delete from %1 where %2 = ?")
                                              .arg(QuoteIdentifier(shape.table), shape.rowIdName));
        sqlite3_bind_int64(statement.get(), 1, rows.rowIds.at(row));
        const int rc = stepWrite(statement.get());
        if (rc != SQLITE_DONE) {
            throw SqliteError(db, rc);
        }
        // The row id names exactly one row; none removed means another program removed it first.
        if (sqlite3_changes(db) != 1) {
            throw RowGone();
        }
    });
}

}  // namespace vorelta
