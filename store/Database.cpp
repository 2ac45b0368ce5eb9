#include "store/Database.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>

#include "store/TextCodec.h"

namespace vorelta {

namespace {

// How long a statement waits for another program's lock on the file before it gives up.
constexpr int kBusyTimeoutMs = 5000;

QString DescribeResultCode(int primaryCode) {
    switch (primaryCode) {
        case SQLITE_ERROR:
            return QStringLiteral(u"数据库语句执行失败");
        case SQLITE_PERM:
            return QStringLiteral(u"没有访问数据库文件的权限。");
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return QStringLiteral(u"数据库文件正被其他程序使用，请稍后再试。");
        case SQLITE_NOMEM:
            return QStringLiteral(u"内存不足。");
        case SQLITE_READONLY:
            return QStringLiteral(u"数据库文件是只读的，无法保存更改。");
        case SQLITE_IOERR:
            return QStringLiteral(u"读写数据库文件时出错。");
        case SQLITE_CORRUPT:
            return QStringLiteral(u"数据库文件已损坏。");
        case SQLITE_FULL:
            return QStringLiteral(u"磁盘已满，无法保存更改。");
        case SQLITE_CANTOPEN:
            return QStringLiteral(u"无法打开数据库文件。");
        case SQLITE_CONSTRAINT:
            return QStringLiteral(u"违反数据库约束");
        case SQLITE_MISMATCH:
            return QStringLiteral(u"数据类型不匹配");
        case SQLITE_NOTADB:
            return QStringLiteral(u"文件不是有效的数据库。");
        default:
            return QStringLiteral(u"数据库错误");
    }
}

// Causes a user can act on are told in words alone; for the others SQLite's own detail (such
// as the name of a missing table) follows.
bool DetailHelps(int primaryCode) {
    switch (primaryCode) {
        case SQLITE_ERROR:
        case SQLITE_CONSTRAINT:
        case SQLITE_MISMATCH:
            return true;
        default:
            return false;
    }
}

RuntimeError SqliteError(sqlite3* db, int resultCode) {
    const int code = db ? sqlite3_extended_errcode(db) : resultCode;
    QString description = DescribeResultCode(code & 0xff);
    if (DetailHelps(code & 0xff) || description == QStringLiteral(u"数据库错误")) {
        const char* detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(resultCode);
        description += QStringLiteral(u"：") + QString::fromUtf8(detail);
    }
    return RuntimeError(code, description);
}

RuntimeError ObjectClosed() {
    return RuntimeError(adErrObjectClosed, QStringLiteral(u"对象关闭时，不允许操作。"));
}

RuntimeError ObjectOpen() {
    return RuntimeError(3705, QStringLiteral(u"对象打开时，不允许操作。"));
}

RuntimeError RowGone() {
    return RuntimeError(adErrNoCurrentRecord,
                        QStringLiteral(u"要删除的记录已被其他程序删除或更改。"));
}

RuntimeError NoCurrentRecord() {
    return RuntimeError(adErrNoCurrentRecord,
                        QStringLiteral(u"BOF 或 EOF 中有一个是“真”，或者当前的记录已被删除。"));
}

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

Statement Prepare(sqlite3* db, const QString& sql) {
    sqlite3_stmt* raw = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    const int rc = sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &raw, nullptr);
    Statement statement(raw);
    if (rc != SQLITE_OK) {
        throw SqliteError(db, rc);
    }
    return statement;
}

// A UTF-16 text that starts like a byte order mark gets one more in front: SQLite takes the
// first unit of bound UTF-16 for one (dropping U+FEFF, or reading the rest byte-swapped after
// U+FFFE) and removes only that one.
bool LooksLikeByteOrderMark(QStringView text) {
    return !text.isEmpty() && (text.front() == QChar(0xFEFF) || text.front() == QChar(0xFFFE));
}

// Binds the text in the database's own encoding, so that SQLite converts nothing. The bytes are
// kept in `bytes`, which must outlive the statement's next step: SQLite reads them there
// instead of copying them.
void BindText(sqlite3* db, sqlite3_stmt* statement, int index, const FieldValue& value,
              TextEncoding encoding, std::string& bytes) {
    int rc;
    bytes.clear();
    if (!value) {
        rc = sqlite3_bind_null(statement, index);
    } else if (encoding == TextEncoding::Utf8) {
        AppendStoredText(*value, bytes);
        rc = sqlite3_bind_text(statement, index, bytes.data(), int(bytes.size()), SQLITE_STATIC);
    } else {
        if (LooksLikeByteOrderMark(*value)) {
            const char16_t mark = 0xFEFF;
            bytes.append(reinterpret_cast<const char*>(&mark), sizeof mark);
        }
        bytes.append(reinterpret_cast<const char*>(value->utf16()),
                     std::size_t(value->size()) * sizeof(char16_t));
        rc = sqlite3_bind_text16(statement, index, bytes.data(), int(bytes.size()), SQLITE_STATIC);
    }
    if (rc != SQLITE_OK) {
        throw SqliteError(db, rc);
    }
}

// A column of the current row as text, read in the database's own encoding so that SQLite
// converts nothing: every character is read as it was stored. Numbers and blobs read as the
// text SQLite gives for them; Null stays Null.
FieldValue ReadText(sqlite3_stmt* statement, int column, TextEncoding encoding) {
    if (encoding == TextEncoding::Utf8) {
        // No text for Null alone (and an empty blob): the type is asked only then, which saves
        // a call for every other row of a read of the whole table.
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        if (!text && sqlite3_column_type(statement, column) == SQLITE_NULL) {
            return std::nullopt;
        }
        return ReadStoredText(text, sqlite3_column_bytes(statement, column));
    }
    if (sqlite3_column_type(statement, column) == SQLITE_NULL) {
        return std::nullopt;
    }
    // Not QString::fromUtf16, which would take a leading U+FEFF or U+FFFE for a byte order mark.
    const auto* units = static_cast<const QChar*>(sqlite3_column_text16(statement, column));
    return QString(units, sqlite3_column_bytes16(statement, column) / qsizetype(sizeof(QChar)));
}

// Binds each '?' of the statement to the next parameter, as text.
void BindParameters(sqlite3* db, sqlite3_stmt* statement, const std::vector<QString>& parameters,
                    TextEncoding encoding, std::vector<std::string>& bytes) {
    bytes.resize(parameters.size());
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        BindText(db, statement, int(i + 1), parameters[i], encoding, bytes[i]);
    }
}

TextEncoding EncodingOf(sqlite3* db) {
    Statement pragma = Prepare(db, QStringLiteral("pragma encoding"));
    if (sqlite3_step(pragma.get()) != SQLITE_ROW) {
        throw SqliteError(db, sqlite3_errcode(db));
    }
    const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(pragma.get(), 0));
    return qstrcmp(name, "UTF-8") == 0 ? TextEncoding::Utf8 : TextEncoding::Utf16;
}

bool IsEmptyDatabase(sqlite3* db) {
    const Statement pages = Prepare(db, QStringLiteral("pragma page_count"));
    return sqlite3_step(pages.get()) == SQLITE_ROW && sqlite3_column_int64(pages.get(), 0) == 0;
}

std::int64_t Nanoseconds(const timespec& time) {
    return std::int64_t(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

// The identity of the file the name holds now; errno tells why there is none.
std::optional<FileIdentity> IdentityOf(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return std::nullopt;
    }
    return FileIdentity{std::uint64_t(info.st_dev), std::uint64_t(info.st_ino),
                        std::int64_t(info.st_size), Nanoseconds(info.st_mtim),
                        Nanoseconds(info.st_ctim)};
}

// File times are stamped from a clock that advances in ticks of a few milliseconds. A time that
// is not older than the current tick may be shared by a later write in the same tick, which
// the file's identity would then not show: such an identity proves nothing.
bool MayChangeUnseen(const FileIdentity& identity) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    const std::int64_t tick = Nanoseconds(now);
    return identity.modifiedNs >= tick || identity.changedNs >= tick;
}

RuntimeError FileGone(const QString& path, int error) {
    if (error == ENOENT || error == ENOTDIR) {
        return RuntimeError(adErrFileNotFound, QStringLiteral(u"找不到关键字库文件 ") + path);
    }
    return RuntimeError(adErrFileNotFound, QStringLiteral(u"无法访问关键字库文件 ") + path);
}

// What a column's declared type makes of text stored in it: integer, real and numeric
// affinity turn "007" into 7, text and blob affinity keep it. The rules are SQLite's own.
bool StoresTextAsNumber(const QString& declaredType) {
    const QString type = declaredType.toUpper();
    if (type.contains(u"INT")) {
        return true;
    }
    if (type.contains(u"CHAR") || type.contains(u"CLOB") || type.contains(u"TEXT") ||
        type.contains(u"BLOB") || type.trimmed().isEmpty()) {
        return false;
    }
    return true;  // REAL, FLOA, DOUB and everything else: real or numeric
}

QString QuoteIdentifier(QString name) {
    return QChar(u'"') + name.replace(QChar(u'"'), QStringLiteral("\"\"")) + QChar(u'"');
}

// The table or view a "select ... from <name> ..." statement reads, unquoted; empty when the
// source has no such form.
QString SourceObjectOf(const QString& source) {
    static const QRegularExpression from(
        QStringLiteral(R"re(\bfrom\s+(?:"((?:[^"]|"")+)"|\[([^\]]+)\]|`([^`]+)`|(\w+)))re"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = from.match(source);
    if (!match.hasMatch()) {
        return {};
    }
    for (int group = 1; group <= 4; ++group) {
        if (match.hasCaptured(group)) {
            return match.captured(group).replace(QStringLiteral("\"\""), QStringLiteral("\""));
        }
    }
    return {};
}

struct TableColumns {
    QStringList names;
    QStringList declaredTypes;
};

// The columns a table really has, hidden ones included, with their declared types.
TableColumns ColumnsOf(sqlite3* db, const QString& table) {
    Statement info =
        Prepare(db, QStringLiteral("pragma table_xinfo(%1)").arg(QuoteIdentifier(table)));
    TableColumns columns;
    int rc;
    const auto text = [&](int field) {
        return QString::fromUtf8(
            reinterpret_cast<const char*>(sqlite3_column_text(info.get(), field)));
    };
    while ((rc = sqlite3_step(info.get())) == SQLITE_ROW) {
        columns.names << text(1);
        columns.declaredTypes << text(2);
    }
    if (rc != SQLITE_DONE) {
        throw SqliteError(db, rc);
    }
    return columns;
}

// A name for the table's row id that no column of its own shadows; empty when every one is
// taken, and the rows then cannot be told apart.
QString RowIdNameOf(const TableColumns& columns) {
    for (const char* alias : {"_rowid_", "rowid", "oid"}) {
        if (!columns.names.contains(QLatin1String(alias), Qt::CaseInsensitive)) {
            return QLatin1String(alias);
        }
    }
    return {};
}

// For each of the statement's columns, whether the table would store text put into it as a
// number.
std::vector<bool> NumericColumnsOf(const TableColumns& table, const std::vector<QString>& names) {
    std::vector<bool> numeric;
    for (const QString& name : names) {
        bool isNumeric = false;
        for (qsizetype c = 0; c < table.names.size(); ++c) {
            if (table.names[c].compare(name, Qt::CaseInsensitive) == 0) {
                isNumeric = StoresTextAsNumber(table.declaredTypes[c]);
                break;
            }
        }
        numeric.push_back(isNumeric);
    }
    return numeric;
}

// The statement with the row id selected in front of its columns, so that a row read now can
// be found again for Delete.
QString WithRowId(const QString& source, const QString& rowIdName) {
    const QString trimmed = source.trimmed();
    static const QString select = QStringLiteral("select ");
    return select + rowIdName + QStringLiteral(", ") + trimmed.mid(select.size());
}

// The table whose rows the statement delivers, when it reads one table directly (not through a
// view) and every row of it can be found again; empty otherwise.
QString TableBehind(sqlite3_stmt* statement, const QString& source) {
    if (sqlite3_column_count(statement) == 0 ||
        !source.trimmed().startsWith(QStringLiteral("select "), Qt::CaseInsensitive)) {
        return {};
    }
    const char* origin = sqlite3_column_table_name(statement, 0);
    const QString table = origin ? QString::fromUtf8(origin) : QString();
    // Behind a view the origin is the view's own table, which is not what the source names.
    return table.compare(SourceObjectOf(source), Qt::CaseInsensitive) == 0 ? table : QString();
}

// The keyed form of a statement; null when the table has no row ids at all (WITHOUT ROWID).
// Any other failure, a lock held too long above all, is an error and is not tried twice.
Statement PrepareKeyed(sqlite3* db, const QString& keyed) {
    try {
        return Prepare(db, keyed);
    } catch (const RuntimeError& error) {
        if ((error.number() & 0xff) != SQLITE_ERROR) {
            throw;
        }
        return {};
    }
}

// Whether rows added to the table come last in what the source delivers: true of a plain scan
// of a table, not of one that SQLite answers from an index, in the index's order.
bool AddsAtTheEnd(sqlite3* db, const QString& source) {
    Statement plan = Prepare(db, QStringLiteral("explain query plan ") + source);
    bool plainScan = true;
    while (sqlite3_step(plan.get()) == SQLITE_ROW) {
        const auto* detail = reinterpret_cast<const char*>(sqlite3_column_text(plan.get(), 3));
        plainScan = plainScan && detail && !std::strstr(detail, "INDEX");
    }
    return plainScan;
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
    db_ = db;
    encoding_ = EncodingOf(db);
    recordIdentity(false);
    ++generation_;
    ++stamp_;
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
            recordIdentity(false);
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

// The file as this connection left it. A change by another program within the same tick as
// this write is not looked for: it would be a copy written over the file at the very moment
// Vorelta writes it, and no page cached before the write is written back (prepareWrite).
void Connection::noteOwnWrite() {
    recordIdentity(true);
}

int Connection::stepWrite(sqlite3_stmt* statement) {
    const bool ownTransaction = !InTransaction();
    if (ownTransaction) {
        prepareWrite();
    }
    const int rc = sqlite3_step(statement);
    if (ownTransaction) {
        noteOwnWrite();
    }
    return rc;
}

void Connection::recordIdentity(bool ownWrite) {
    identity_ = IdentityOf(path_).value_or(FileIdentity{});
    identityUnproven_ = !ownWrite && MayChangeUnseen(identity_);
}

std::uint64_t Connection::DataVersion() {
    sqlite3* db = handle();
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

std::int64_t Connection::TotalChanges() const {
    return sqlite3_total_changes64(handle());
}

void Connection::BeginTrans() {
    FollowFile();
    prepareWrite();
    // Exclusive: the one wait for other programs' locks is here, readers' included. A write
    // lock taken without it would wait again, for the full time, each time SQLite's page cache
    // spills to the file while another program reads, and again at the commit.
    execute("begin exclusive");
}

void Connection::CommitTrans() {
    execute("commit");
    noteOwnWrite();
}

void Connection::RollbackTrans() {
    execute("rollback");
    noteOwnWrite();
}

bool Connection::InTransaction() const {
    return db_ && !sqlite3_get_autocommit(db_);
}

void Connection::execute(const char* sql) {
    sqlite3* db = handle();
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        throw SqliteError(db, rc);
    }
}

sqlite3* Connection::handle() const {
    if (!db_) {
        throw ObjectClosed();
    }
    return db_;
}

// ---------------------------------------------------------------------------------------------
// Field

const FieldValue& Field::Value() const {
    if (recordset_.pendingRow_) {
        static const FieldValue kNull;
        const auto& pending = (*recordset_.pendingRow_)[column_];
        return pending ? *pending : kNull;
    }
    recordset_.requireCurrentRow();
    return recordset_.columns_[column_][recordset_.position_];
}

void Field::SetValue(const QString& value) {
    if (!recordset_.pendingRow_) {
        throw RuntimeError(adErrFeatureNotAvailable,
                           QStringLiteral(u"只能为新添加的记录设置字段值。"));
    }
    (*recordset_.pendingRow_)[column_] = FieldValue(value);
}

// ---------------------------------------------------------------------------------------------
// Recordset

void Recordset::Open(const QString& source, Connection& activeConnection, CursorType /*cursor*/,
                     LockType lockType, int options, const std::vector<QString>& parameters) {
    if (IsOpen()) {
        throw ObjectOpen();
    }
    activeConnection.FollowFile();
    connection_ = &activeConnection;
    source_ = source;
    parameters_ = parameters;
    lockType_ = lockType;
    keepsRows_ = options != adCountRowsOnly;
    try {
        if (keepsRows_) {
            readAnew();
        } else {
            describeSource();
            countRows(activeConnection.handle());
        }
    } catch (...) {
        connection_ = nullptr;
        throw;
    }
}

// Prepares the source with its parameters bound, finds out what its rows can be written back
// to and which columns it has. When the rows can be told apart, the statement also selects
// their row ids, in front of the columns.
sqlite3_stmt* Recordset::prepareSource(sqlite3* db, const std::vector<QString>& parameters,
                                       std::vector<std::string>& boundBytes) {
    Statement statement = Prepare(db, source_);
    QString table;
    QString rowIdName;
    TableColumns tableColumns;
    if (lockType_ != adLockReadOnly) {
        table = TableBehind(statement.get(), source_);
        if (!table.isEmpty()) {
            tableColumns = ColumnsOf(db, table);
            rowIdName = RowIdNameOf(tableColumns);
        }
    }
    columnNames_.clear();
    for (int c = 0; c < sqlite3_column_count(statement.get()); ++c) {
        columnNames_.push_back(QString::fromUtf8(sqlite3_column_name(statement.get(), c)));
    }
    if (!rowIdName.isEmpty()) {
        Statement keyed = PrepareKeyed(db, WithRowId(source_, rowIdName));
        if (keyed) {
            statement = std::move(keyed);
        } else {
            rowIdName.clear();
        }
    }
    table_ = rowIdName.isEmpty() ? QString() : table;
    rowIdName_ = rowIdName;
    numericColumns_ = NumericColumnsOf(tableColumns, columnNames_);
    generation_ = connection_->Generation();
    insert_.reset();
    insertColumns_.clear();

    BindParameters(db, statement.get(), parameters, connection_->Encoding(), boundBytes);
    return statement.release();
}

void Recordset::readRows(sqlite3_stmt* statement, bool withRowIds) {
    const int first = withRowIds ? 1 : 0;
    const auto columnCount = columnNames_.size();
    // Most likely as many rows as last time: room for them at once, instead of moving the rows
    // read so far each time the room runs out.
    const auto expectedRows = std::size_t(RecordCount());
    startRows();
    for (auto& column : columns_) {
        column.reserve(expectedRows);
    }
    if (withRowIds) {
        rowIds_.reserve(expectedRows);
    }

    sqlite3* db = sqlite3_db_handle(statement);
    const TextEncoding encoding = connection_->Encoding();
    int rc;
    std::size_t rows = 0;
    for (; (rc = sqlite3_step(statement)) == SQLITE_ROW; ++rows) {
        if (withRowIds) {
            rowIds_.push_back(sqlite3_column_int64(statement, 0));
        }
        for (std::size_t c = 0; c < columnCount; ++c) {
            columns_[c].push_back(ReadText(statement, first + int(c), encoding));
        }
    }
    if (rc != SQLITE_DONE) {
        columns_.clear();
        throw SqliteError(db, rc);
    }
    // A table much smaller than last time keeps no room for the rows it had.
    if (rows < expectedRows / 2) {
        for (auto& column : columns_) {
            column.shrink_to_fit();
        }
        rowIds_.shrink_to_fit();
    }
}

void Recordset::Requery() {
    requireOpen();
    connection_->FollowFile();
    if (keepsRows_ && readUnder_.valid && readUnder_.stamp == connection_->Stamp() &&
        readUnder_.dataVersion == connection_->DataVersion() &&
        readUnder_.totalChanges == connection_->TotalChanges()) {
        MoveFirst();
        return;
    }
    // A recordset that only counted its rows reads them now, with room for as many.
    readAnew();
    keepsRows_ = true;
}

void Recordset::Forget() {
    readUnder_.valid = false;
}

void Recordset::MoveFirst() {
    requireOpen();
    position_ = 0;
    currentDeleted_ = false;
}

// Reads every row of the source and notes what they were read under. The data version is taken
// before the reading: a commit during it shows as a change at the next Requery.
void Recordset::readAnew() {
    sqlite3* db = connection_->handle();
    const std::uint64_t dataVersion = connection_->DataVersion();
    std::vector<std::string> boundBytes;
    const Statement statement(prepareSource(db, parameters_, boundBytes));
    readRows(statement.get(), !rowIdName_.isEmpty());
    readUnder_ = {true, connection_->Stamp(), dataVersion, connection_->TotalChanges(),
                  AddsAtTheEnd(db, source_)};
    readVersion_ = ++version_;
    changes_.clear();
}

void Recordset::noteOwnChange(Change change) {
    readUnder_.totalChanges += 1;
    ++version_;
    // A row added where the source does not deliver it last: the rows must be read anew.
    if (change.kind == Change::Kind::Added && !readUnder_.addsAtTheEnd) {
        readUnder_.valid = false;
    }
    if (!changes_.empty()) {
        Change& last = changes_.back().second;
        if (change.kind == Change::Kind::Added && last.kind == Change::Kind::Added &&
            change.row == last.row + last.count) {
            last.count += change.count;
            return;
        }
    }
    changes_.emplace_back(version_, change);
}

bool Recordset::ChangesSince(std::uint64_t version, std::vector<Change>& changes) const {
    if (version < readVersion_ || version > version_) {
        return false;
    }
    changes.clear();
    for (const auto& [started, change] : changes_) {
        if (started > version) {
            changes.push_back(change);
        } else if (started + change.count - 1 > version) {
            return false;  // `version` saw part of it
        }
    }
    return true;
}

// The source's columns and the table behind it, without running it.
void Recordset::describeSource() {
    std::vector<std::string> noBytes;
    const Statement unread(prepareSource(connection_->handle(), {}, noBytes));
}

// The number of rows the source delivers, counted by the database without reading them.
void Recordset::countRows(sqlite3* db) {
    Statement count = Prepare(db, QStringLiteral("select count(*) from (%1)").arg(source_));
    std::vector<std::string> bytes;
    BindParameters(db, count.get(), parameters_, connection_->Encoding(), bytes);
    const int rc = sqlite3_step(count.get());
    if (rc != SQLITE_ROW) {
        throw SqliteError(db, rc);
    }
    startRows();
    countedRows_ = sqlite3_column_int(count.get(), 0);
}

// No rows read yet, none current, none being added.
void Recordset::startRows() {
    columns_.assign(columnNames_.size(), {});
    rowIds_.clear();
    countedRows_ = 0;
    position_ = 0;
    currentDeleted_ = false;
    pendingRow_.reset();
}

void Recordset::Close() {
    requireOpen();
    connection_ = nullptr;
    source_.clear();
    columnNames_.clear();
    numericColumns_.clear();
    startRows();
    readUnder_ = {};
    changes_.clear();
    table_.clear();
    rowIdName_.clear();
    insert_.reset();
    insertColumns_.clear();
}

int Recordset::RecordCount() const {
    requireOpen();
    if (!keepsRows_) {
        return countedRows_;
    }
    return columns_.empty() ? 0 : int(columns_.front().size());
}

bool Recordset::Eof() const {
    requireOpen();
    // Rows that are only counted are not there to be walked.
    return !keepsRows_ || position_ >= std::size_t(RecordCount());
}

void Recordset::MoveNext() {
    requireOpen();
    if (currentDeleted_) {
        // The next row has already moved up into the deleted row's place.
        currentDeleted_ = false;
        return;
    }
    if (Eof()) {
        throw NoCurrentRecord();
    }
    ++position_;
}

Field Recordset::Fields(const QString& name) {
    return Field(*this, columnIndex(name));
}

const std::vector<FieldValue>& Recordset::Column(const QString& name) const {
    return columns_[std::size_t(columnIndex(name))];
}

void Recordset::Find(const QString& name, const FieldValue& value) {
    const std::vector<FieldValue>& column = columns_[std::size_t(columnIndex(name))];
    if (!keepsRows_ || position_ >= column.size()) {
        return;
    }
    const auto from = column.begin() + std::ptrdiff_t(position_);
    position_ = std::size_t(std::find(from, column.end(), value) - column.begin());
    currentDeleted_ = false;
}

void Recordset::AddNew() {
    requireUpdatable();
    if (connection_->Generation() != generation_) {
        // key.mdb is another file now: what the rows go into is looked up there anew.
        describeSource();
        requireUpdatable();
    }
    pendingRow_.emplace(columnNames_.size());
}

void Recordset::ReserveRows(std::size_t more) {
    requireOpen();
    if (!keepsRows_) {
        return;
    }
    for (auto& column : columns_) {
        column.reserve(column.size() + more);
    }
    rowIds_.reserve(rowIds_.size() + more);
}

bool Recordset::Update() {
    requireOpen();
    if (!pendingRow_) {
        return false;
    }
    // Whatever happens, the new row is no longer being edited afterwards.
    auto pending = std::move(*pendingRow_);
    pendingRow_.reset();

    // Scratch kept between rows: a bulk insert allocates nothing per row for the statement.
    std::vector<int>& setColumns = insertScratch_.columns;
    setColumns.clear();
    for (std::size_t c = 0; c < pending.size(); ++c) {
        if (pending[c]) {
            if (numericColumns_[c]) {
                throw RuntimeError(
                    adErrFeatureNotAvailable,
                    QStringLiteral(u"关键字不能添加：列 %1 会把文字存成数字（如 007 存成 7）。")
                        .arg(columnNames_[c]));
            }
            setColumns.push_back(int(c));
        }
    }
    sqlite3* db = connection_->handle();
    sqlite3_stmt* insert = insertStatement(db, setColumns);
    std::vector<std::string>& bytes = insertScratch_.bytes;
    bytes.resize(setColumns.size());
    for (std::size_t i = 0; i < setColumns.size(); ++i) {
        BindText(db, insert, int(i + 1), *pending[std::size_t(setColumns[i])],
                 connection_->Encoding(), bytes[i]);
    }
    const int rc = connection_->stepWrite(insert);
    sqlite3_reset(insert);  // every parameter is bound again for the next row
    if (rc != SQLITE_DONE) {
        throw SqliteError(db, rc);
    }
    if (sqlite3_changes(db) == 0) {
        return false;
    }

    if (!keepsRows_) {
        ++countedRows_;
        return true;
    }
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        columns_[c].push_back(pending[c] ? std::move(*pending[c]) : FieldValue());
    }
    rowIds_.push_back(sqlite3_last_insert_rowid(db));
    position_ = std::size_t(RecordCount()) - 1;
    currentDeleted_ = false;
    noteOwnChange({Change::Kind::Added, position_, 1});
    return true;
}

// The insert for rows that set these columns, prepared once and kept while rows of the same
// shape follow: a bulk insert then costs one step per row, not one compilation.
sqlite3_stmt* Recordset::insertStatement(sqlite3* db, const std::vector<int>& setColumns) {
    if (insert_ && insertColumns_ == setColumns) {
        return insert_.get();
    }
    QStringList names;
    QStringList placeholders;
    for (const int c : setColumns) {
        names << QuoteIdentifier(columnNames_[std::size_t(c)]);
        placeholders << QStringLiteral("?");
    }
    const QString sql =
        names.isEmpty()
            ? QStringLiteral("insert into %1 default values").arg(QuoteIdentifier(table_))
            : QStringLiteral("insert into %1 (%2) values (%3)")
                  .arg(QuoteIdentifier(table_), names.join(u", "), placeholders.join(u", "));
    insert_.reset(Prepare(db, sql).release());
    insertColumns_ = setColumns;
    return insert_.get();
}

void Recordset::Delete(AffectEnum /*affectRecords*/) {
    requireUpdatable();
    requireCurrentRow();
    connection_->FollowFile();
    // A row read from a file that no longer has the name is not in the one that has it now.
    if (connection_->Generation() != generation_) {
        throw RowGone();
    }
    sqlite3* db = connection_->handle();
    Statement statement = Prepare(
        db, QStringLiteral("delete from %1 where %2 = ?").arg(QuoteIdentifier(table_), rowIdName_));
    sqlite3_bind_int64(statement.get(), 1, rowIds_[position_]);
    const int rc = connection_->stepWrite(statement.get());
    if (rc != SQLITE_DONE) {
        throw SqliteError(db, rc);
    }
    // The row id names exactly one row; none removed means another program removed it first.
    if (sqlite3_changes(db) != 1) {
        throw RowGone();
    }

    const auto row = std::ptrdiff_t(position_);
    for (auto& column : columns_) {
        column.erase(column.begin() + row);
    }
    rowIds_.erase(rowIds_.begin() + row);
    currentDeleted_ = true;
    noteOwnChange({Change::Kind::Removed, position_, 1});
}

void StatementDeleter::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

void Recordset::requireOpen() const {
    if (!IsOpen()) {
        throw ObjectClosed();
    }
}

void Recordset::requireUpdatable() const {
    requireOpen();
    if (lockType_ == adLockReadOnly) {
        throw RuntimeError(adErrFeatureNotAvailable,
                           QStringLiteral(u"当前记录集是只读的，不支持更新。"));
    }
    if (table_.isEmpty()) {
        throw RuntimeError(
            adErrFeatureNotAvailable,
            QStringLiteral(u"关键字不能添加或删除：数据来自视图或无法区分各条记录的表。"));
    }
}

void Recordset::requireCurrentRow() const {
    if (Eof() || currentDeleted_) {
        throw NoCurrentRecord();
    }
}

int Recordset::columnIndex(const QString& name) const {
    requireOpen();
    for (std::size_t c = 0; c < columnNames_.size(); ++c) {
        if (columnNames_[c] == name || columnNames_[c].compare(name, Qt::CaseInsensitive) == 0) {
            return int(c);
        }
    }
    throw RuntimeError(adErrItemNotFound,
                       QStringLiteral(u"在对应所需名称或序数的集合中，未找到项目。"));
}

}  // namespace vorelta
