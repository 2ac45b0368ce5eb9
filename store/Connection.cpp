#include <sqlite3.h>

#include "store/Database.h"
#include "store/FileIdentity.h"
#include "store/SqliteStatement.h"

namespace vorelta {

namespace {

// How long a statement waits for another program's lock on the file before it gives up.
constexpr int kBusyTimeoutMs = 5000;

struct ConnectionSettings {
    QString dataSource;
    QString mode;
    QString busyTimeout;
};

// A connection string is "name=value" pieces separated by ';'. "Data Source" comes last and
// its value is all the rest, so that a path may hold ';', '=' or text that looks like another
// setting. Pieces of other names are ignored, as are pieces without '='.
ConnectionSettings SettingsOf(const QString& connectionString) {
    ConnectionSettings settings;
    for (qsizetype start = 0; start < connectionString.size();) {
        const qsizetype equals = connectionString.indexOf(u'=', start);
        qsizetype end = connectionString.indexOf(u';', start);
        if (end < 0) {
            end = connectionString.size();
        }
        if (equals < 0 || equals > end) {
            start = end + 1;
            continue;
        }
        const QString name = connectionString.mid(start, equals - start).trimmed();
        if (name.compare(u"Data Source", Qt::CaseInsensitive) == 0) {
            settings.dataSource = connectionString.mid(equals + 1);
            break;
        }
        const QString value = connectionString.mid(equals + 1, end - equals - 1);
        if (name.compare(u"Mode", Qt::CaseInsensitive) == 0) {
            settings.mode = value;
        } else if (name.compare(u"Busy Timeout", Qt::CaseInsensitive) == 0) {
            settings.busyTimeout = value;
        }
        start = end + 1;
    }
    return settings;
}

RuntimeError BadConnectionString(const QString& why) {
    return RuntimeError(adErrBadConnectionString, why);
}

// "Mode=Read" opens the file for reading only: nothing can be written through the connection.
bool IsReadOnlyMode(const QString& mode) {
    return mode.trimmed().compare(u"Read", Qt::CaseInsensitive) == 0;
}

// "Busy Timeout=<ms>" sets how long a statement waits for another program's lock.
int BusyTimeoutOf(const QString& setting) {
    if (setting.isNull()) {
        return kBusyTimeoutMs;
    }
    bool ok = false;
    const int milliseconds = setting.trimmed().toInt(&ok);
    if (!ok || milliseconds < 0) {
        throw BadConnectionString(QStringLiteral(u"连接字符串中的等待时间无效。"));
    }
    return milliseconds;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Connection

Connection::~Connection() {
    close();
}

void Connection::Open(const QString& connectionString, const QString& /*userId*/,
                      const QString& /*password*/, int /*options*/) {
    if (db_) {
        throw ObjectOpen();
    }
    const ConnectionSettings settings = SettingsOf(connectionString);
    if (settings.dataSource.isEmpty()) {
        throw BadConnectionString(QStringLiteral(u"连接字符串中没有指定数据源。"));
    }
    busyTimeoutMs_ = BusyTimeoutOf(settings.busyTimeout);
    readOnly_ = IsReadOnlyMode(settings.mode);
    path_ = settings.dataSource;
    openFile();
}

void Connection::openFile() {
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

bool Connection::openFileOnce() {
    const std::optional<FileIdentity> before = IdentityOf(path_);
    // No SQLITE_OPEN_CREATE: a missing file is an error, never a new empty database.
    // One thread uses the connection: SQLite need not lock it around every call.
    const int flags =
        (readOnly_ ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path_.toUtf8().constData(), &db, flags, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, busyTimeoutMs_);
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

void Connection::close() {
    // A statement still alive (a recordset's prepared insert) keeps the old file open until it
    // is finalized; the recordset notices the new generation and lets it go.
    dataVersion_.reset();
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

void Connection::FollowFile() {
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
}

void Connection::prepareWrite() {
    sqlite3_db_release_memory(db_);
}

// The file as this connection left it, when the name still holds the file written to. A change
// by another program within the same tick as this write is not looked for: it would be a copy
// written over the file at the very moment Vorelta writes it, and no page cached before the
// write is written back (prepareWrite).
bool Connection::noteOwnWrite() {
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

int Connection::stepWrite(sqlite3_stmt* statement) {
    const bool ownTransaction = !InTransaction();
    if (ownTransaction) {
        prepareWrite();
    }
    const int rc = sqlite3_step(statement);
    if (ownTransaction && !noteOwnWrite() && rc == SQLITE_DONE) {
        throw WrittenToAReplacedFile(path_);
    }
    return rc;
}

void Connection::recordIdentity() {
    identity_ = IdentityOf(path_).value_or(FileIdentity{});
    identityUnproven_ = MayChangeUnseen(identity_);
}

StoreEvidence Connection::Evidence() {
    return {stamp_, dataVersion(), totalChanges(), timesProve_};
}

std::uint64_t Connection::dataVersion() {
    sqlite3* db = Connection::db();
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

std::int64_t Connection::totalChanges() const {
    return sqlite3_total_changes64(db());
}

void Connection::BeginTrans() {
    FollowFile();
    prepareWrite();
    // Exclusive: the one wait for other programs' locks is here, readers' included. A write
    // lock taken without it would wait again, for the full time, each time SQLite's page cache
    // spills to the file while another program reads, and again at the commit.
    execute("begin exclusive");
}

bool Connection::CommitTrans() {
    if (!InTransaction()) {
        ++stamp_;  // whatever was kept of the transaction's rows was undone
        return false;
    }
    try {
        execute("commit");
    } catch (...) {
        ++stamp_;
        throw;
    }
    if (!noteOwnWrite()) {
        throw WrittenToAReplacedFile(path_);
    }
    return true;
}

void Connection::RollbackTrans() {
    // First: the rows kept may hold what is undone now, whether or not the rollback succeeds.
    ++stamp_;
    execute("rollback");
    noteOwnWrite();
}

bool Connection::InTransaction() const {
    return db_ && !sqlite3_get_autocommit(db_);
}

void Connection::execute(const char* sql) {
    sqlite3* db = Connection::db();
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        throw SqliteError(db, rc);
    }
}

sqlite3* Connection::db() const {
    if (!db_) {
        throw ObjectClosed();
    }
    return db_;
}

sqlite3* Connection::handle() {
    sqlite3* open = db();
    ++stamp_;
    return open;
}

}  // namespace vorelta
