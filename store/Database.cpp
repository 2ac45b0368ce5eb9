#include "store/Database.h"

#include <sqlite3.h>

#include <QRegularExpression>
#include <QStringList>
#include <memory>

#include "store/TextCodec.h"

namespace vorelta {

namespace {

// How long a statement waits for another program's lock on the file before it gives up.
constexpr int kBusyTimeoutMs = 5000;

struct StatementDeleter {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

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

// Binds the text in its stored form. The bytes are kept in `bytes`, which must outlive the
// statement's next step: SQLite reads them there instead of copying them.
void BindText(sqlite3* db, sqlite3_stmt* statement, int index, const FieldValue& value,
              std::string& bytes) {
    int rc;
    if (value) {
        bytes.clear();
        AppendStoredText(*value, bytes);
        rc = sqlite3_bind_text(statement, index, bytes.data(), int(bytes.size()), SQLITE_STATIC);
    } else {
        rc = sqlite3_bind_null(statement, index);
    }
    if (rc != SQLITE_OK) {
        throw SqliteError(db, rc);
    }
}

// Runs a statement that returns no rows.
void Execute(sqlite3* db, sqlite3_stmt* statement) {
    const int rc = sqlite3_step(statement);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
        throw SqliteError(db, rc);
    }
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

// The columns a table really has, hidden ones included.
QStringList ColumnsOf(sqlite3* db, const QString& table) {
    Statement info =
        Prepare(db, QStringLiteral("pragma table_xinfo(%1)").arg(QuoteIdentifier(table)));
    QStringList names;
    int rc;
    while ((rc = sqlite3_step(info.get())) == SQLITE_ROW) {
        names << QString::fromUtf8(
            reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 1)));
    }
    if (rc != SQLITE_DONE) {
        throw SqliteError(db, rc);
    }
    return names;
}

// A name for the table's row id that no column of its own shadows; empty when every one is
// taken, and the rows then cannot be told apart.
QString RowIdNameOf(sqlite3* db, const QString& table) {
    const QStringList columns = ColumnsOf(db, table);
    for (const char* alias : {"_rowid_", "rowid", "oid"}) {
        if (!columns.contains(QLatin1String(alias), Qt::CaseInsensitive)) {
            return QLatin1String(alias);
        }
    }
    return {};
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

}  // namespace

// ---------------------------------------------------------------------------------------------
// Connection

Connection::~Connection() {
    sqlite3_close_v2(db_);
}

void Connection::Open(const QString& connectionString, const QString& /*userId*/,
                      const QString& /*password*/, int /*options*/) {
    if (db_) {
        throw ObjectOpen();
    }
    const ConnectionSettings settings = SettingsOf(connectionString);
    const QString& path = settings.dataSource;
    if (path.isEmpty()) {
        throw BadConnectionString(QStringLiteral(u"连接字符串中没有指定数据源。"));
    }
    const int busyTimeoutMs = BusyTimeoutOf(settings.busyTimeout);
    // No SQLITE_OPEN_CREATE: a missing file is an error, never a new empty database.
    const int flags = IsReadOnlyMode(settings.mode) ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.toUtf8().constData(), &db, flags, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, busyTimeoutMs);
        // Opening is lazy; reading the schema is what tells a database from any other file.
        // The journal mode stays as the file has it: the rollback journal of a file made by
        // us leaves nothing beside key.mdb once a transaction ends, and a file that another
        // program keeps in WAL mode is that program's choice (SQLite folds the WAL back into
        // the file when the last connection closes).
        rc = sqlite3_exec(db, "select count(*) from sqlite_master", nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK) {
        const RuntimeError error = SqliteError(db, rc);
        sqlite3_close_v2(db);
        throw error;
    }
    db_ = db;
}

void Connection::BeginTrans() {
    // Immediate: the write lock is taken (or waited for) now, not halfway through the work.
    execute("begin immediate");
}

void Connection::CommitTrans() {
    execute("commit");
}

void Connection::RollbackTrans() {
    execute("rollback");
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
                     LockType lockType, int /*options*/, const std::vector<QString>& parameters) {
    if (IsOpen()) {
        throw ObjectOpen();
    }
    sqlite3* db = activeConnection.handle();
    Statement statement = Prepare(db, source);
    QString table;
    QString rowIdName;
    if (lockType != adLockReadOnly) {
        table = TableBehind(statement.get(), source);
        rowIdName = table.isEmpty() ? QString() : RowIdNameOf(db, table);
    }
    if (!rowIdName.isEmpty()) {
        statement = PrepareKeyed(db, WithRowId(source, rowIdName));
        if (!statement) {
            statement = Prepare(db, source);
            rowIdName.clear();
        }
    }
    std::vector<std::string> bytes(parameters.size());
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        BindText(db, statement.get(), int(i + 1), parameters[i], bytes[i]);
    }
    readRows(statement.get(), !rowIdName.isEmpty());
    connection_ = &activeConnection;
    lockType_ = lockType;
    table_ = rowIdName.isEmpty() ? QString() : table;
    rowIdName_ = rowIdName;
}

void Recordset::readRows(sqlite3_stmt* statement, bool withRowIds) {
    const int first = withRowIds ? 1 : 0;
    const int columnCount = sqlite3_column_count(statement) - first;
    columnNames_.clear();
    for (int c = 0; c < columnCount; ++c) {
        columnNames_.push_back(QString::fromUtf8(sqlite3_column_name(statement, first + c)));
    }
    columns_.assign(std::size_t(columnCount), {});
    rowIds_.clear();
    position_ = 0;
    currentDeleted_ = false;
    pendingRow_.reset();

    sqlite3* db = sqlite3_db_handle(statement);
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        if (withRowIds) {
            rowIds_.push_back(sqlite3_column_int64(statement, 0));
        }
        for (int c = 0; c < columnCount; ++c) {
            const int column = first + c;
            if (sqlite3_column_type(statement, column) == SQLITE_NULL) {
                columns_[c].emplace_back(std::nullopt);
                continue;
            }
            const auto* text =
                reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
            columns_[c].emplace_back(ReadStoredText(text, sqlite3_column_bytes(statement, column)));
        }
    }
    if (rc != SQLITE_DONE) {
        columns_.clear();
        throw SqliteError(db, rc);
    }
}

void Recordset::Close() {
    requireOpen();
    connection_ = nullptr;
    columnNames_.clear();
    columns_.clear();
    rowIds_.clear();
    table_.clear();
    rowIdName_.clear();
    position_ = 0;
    currentDeleted_ = false;
    pendingRow_.reset();
    insert_.reset();
    insertColumns_.clear();
}

int Recordset::RecordCount() const {
    requireOpen();
    return columns_.empty() ? 0 : int(columns_.front().size());
}

bool Recordset::Eof() const {
    requireOpen();
    return position_ >= std::size_t(RecordCount());
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

void Recordset::AddNew() {
    requireUpdatable();
    pendingRow_.emplace(columnNames_.size());
}

void Recordset::Update() {
    requireOpen();
    if (!pendingRow_) {
        return;
    }
    // Whatever happens, the new row is no longer being edited afterwards.
    auto pending = std::move(*pendingRow_);
    pendingRow_.reset();

    // Scratch kept between rows: a bulk insert allocates nothing per row for the statement.
    std::vector<int>& setColumns = insertScratch_.columns;
    setColumns.clear();
    for (std::size_t c = 0; c < pending.size(); ++c) {
        if (pending[c]) {
            setColumns.push_back(int(c));
        }
    }
    sqlite3* db = connection_->handle();
    sqlite3_stmt* insert = insertStatement(db, setColumns);
    std::vector<std::string>& bytes = insertScratch_.bytes;
    bytes.resize(setColumns.size());
    for (std::size_t i = 0; i < setColumns.size(); ++i) {
        BindText(db, insert, int(i + 1), *pending[std::size_t(setColumns[i])], bytes[i]);
    }
    const int rc = sqlite3_step(insert);
    sqlite3_reset(insert);
    sqlite3_clear_bindings(insert);
    if (rc != SQLITE_DONE) {
        throw SqliteError(db, rc);
    }

    for (std::size_t c = 0; c < columns_.size(); ++c) {
        columns_[c].push_back(pending[c] ? *pending[c] : FieldValue());
    }
    rowIds_.push_back(sqlite3_last_insert_rowid(db));
    position_ = std::size_t(RecordCount()) - 1;
    currentDeleted_ = false;
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
    sqlite3* db = connection_->handle();
    Statement statement = Prepare(
        db, QStringLiteral("delete from %1 where %2 = ?").arg(QuoteIdentifier(table_), rowIdName_));
    sqlite3_bind_int64(statement.get(), 1, rowIds_[position_]);
    Execute(db, statement.get());
    // The row id names exactly one row; none removed means another program removed it first.
    if (sqlite3_changes(db) != 1) {
        throw RuntimeError(adErrNoCurrentRecord,
                           QStringLiteral(u"要删除的记录已被其他程序删除或更改。"));
    }

    const auto row = std::ptrdiff_t(position_);
    for (auto& column : columns_) {
        column.erase(column.begin() + row);
    }
    rowIds_.erase(rowIds_.begin() + row);
    currentDeleted_ = true;
}

void Recordset::StatementDeleter::operator()(sqlite3_stmt* statement) const {
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

void ForEachStoredBytes(Connection& connection, const QString& source,
                        const std::function<void(std::string_view)>& row) {
    sqlite3* db = connection.handle();
    Statement statement = Prepare(db, source);
    int rc;
    while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
        if (sqlite3_column_type(statement.get(), 0) != SQLITE_NULL) {
            const auto* bytes =
                reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0));
            row({bytes, std::size_t(sqlite3_column_bytes(statement.get(), 0))});
        }
    }
    if (rc != SQLITE_DONE) {
        throw SqliteError(db, rc);
    }
}

}  // namespace vorelta
