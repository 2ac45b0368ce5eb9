#include "store/PgEngine.h"

#include <libpq-fe.h>
#include <poll.h>

#include <QStringList>
#include <algorithm>
#include <utility>

#include "store/SourceSql.h"
#include "store/SqliteStatement.h"

namespace vorelta {

namespace {

// The channel the server's triggers notify, and the table an insert holds.
constexpr const char* kChannel = "vorelta_keys";
const QString kKeywordTable = QStringLiteral("keys");

// Error numbers as the data-access runtime had them for a server behind ODBC.
constexpr int kConnectionFailed = 3151;
constexpr int kNoPermission = 3033;
constexpr int kServerError = 3146;
constexpr int kMissingTable = 3078;

const QString kUnreachable = QStringLiteral(u"无法连接关键字服务器");

bool IsNumericType(unsigned type) {
    switch (type) {
        case 20:    // int8
        case 21:    // int2
        case 23:    // int4
        case 26:    // oid
        case 700:   // float4
        case 701:   // float8
        case 790:   // money
        case 1700:  // numeric
            return true;
        default:
            return false;
    }
}

// Whether a read of the socket would not wait.
bool Readable(int socket) {
    pollfd watched{socket, POLLIN, 0};
    return socket >= 0 && ::poll(&watched, 1, 0) > 0;
}

// The server's notices (a connection it ends, say) are reported through errors, not printed.
void IgnoreNotice(void*, const char*) {}

// The server stores UTF-8, which has no form for half of a surrogate pair.
bool IsValidUnicode(QStringView text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
        } else if (text[i].isSurrogate() || text[i].isNull()) {
            return false;  // nor for a NUL, which no text of the server holds
        }
    }
    return true;
}

// A value in COPY's text format.
void AppendCopyValue(const FieldValue& value, QByteArray& out) {
    if (!value) {
        out += "\\N";
        return;
    }
    for (const char c : value->toUtf8()) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
}

}  // namespace

namespace {

// Marks the statements of a write, whose refusals are told as such.
struct Writing {
    explicit Writing(bool& flag) : flag_(flag), was_(std::exchange(flag, true)) {}
    ~Writing() { flag_ = was_; }
    bool& flag_;
    bool was_;
};

}  // namespace

// A result that clears itself.
class PgEngine::Result {
public:
    explicit Result(PGresult* result) : result_(result) {}
    Result(Result&& other) noexcept : result_(std::exchange(other.result_, nullptr)) {}
    ~Result() { PQclear(result_); }
    PGresult* get() const { return result_; }
    int rows() const { return PQntuples(result_); }
    FieldValue value(int row, int column) const {
        if (PQgetisnull(result_, row, column)) {
            return std::nullopt;
        }
        return QString::fromUtf8(PQgetvalue(result_, row, column),
                                 PQgetlength(result_, row, column));
    }

private:
    PGresult* result_;
};

PgEngine::PgEngine(QString conninfo) : conninfo_(std::move(conninfo)) {
    connect();
}

PgEngine::~PgEngine() {
    drop();
}

void PgEngine::drop() {
    PQfinish(conn_);
    conn_ = nullptr;
    pendingRows_ = 0;
    pendingData_.clear();
}

// The text is given whole to libpq, a connection string or a URI: TLS, several hosts, the
// password file and the service file work as in every libpq program. The server speaks UTF-8
// to us whatever the user's settings; a server that stops answering is noticed by keepalives
// unless the connection string says otherwise.
void PgEngine::connect() {
    drop();
    QStringList keywords{QStringLiteral("dbname"), QStringLiteral("client_encoding"),
                         QStringLiteral("fallback_application_name")};
    QStringList values{conninfo_, QStringLiteral("UTF8"), QStringLiteral("Vorelta")};
    PQconninfoOption* given = PQconninfoParse(conninfo_.toUtf8().constData(), nullptr);
    if (!given) {
        // libpq's reason would quote the text, which may hold a password.
        lost_ = true;
        throw RuntimeError(kConnectionFailed,
                           kUnreachable + QStringLiteral(u"：vorelta.conf 中的连接字符串无效。"));
    }
    {
        for (const char* keepalive :
             {"keepalives_idle", "keepalives_interval", "keepalives_count"}) {
            bool set = false;
            for (PQconninfoOption* option = given; option->keyword; ++option) {
                set = set || (qstrcmp(option->keyword, keepalive) == 0 && option->val);
            }
            if (!set) {
                keywords << QLatin1String(keepalive);
                values << QLatin1String(qstrcmp(keepalive, "keepalives_count") == 0 ? "3" : "10");
            }
        }
        PQconninfoFree(given);
    }
    std::vector<QByteArray> keywordBytes, valueBytes;
    std::vector<const char*> keywordArray, valueArray;
    for (qsizetype i = 0; i < keywords.size(); ++i) {
        keywordBytes.push_back(keywords[i].toUtf8());
        valueBytes.push_back(values[i].toUtf8());
    }
    for (std::size_t i = 0; i < keywordBytes.size(); ++i) {
        keywordArray.push_back(keywordBytes[i].constData());
        valueArray.push_back(valueBytes[i].constData());
    }
    keywordArray.push_back(nullptr);
    valueArray.push_back(nullptr);
    conn_ = PQconnectdbParams(keywordArray.data(), valueArray.data(), 1);
    if (PQstatus(conn_) != CONNECTION_OK) {
        const RuntimeError error = unreachable();
        drop();
        lost_ = true;
        throw error;
    }
    PQsetNoticeProcessor(conn_, IgnoreNotice, nullptr);
    lost_ = false;
    ++generation_;
    ++stamp_;
    run(QStringLiteral("listen %1").arg(QLatin1String(kChannel)));
}

QString PgEngine::serverName() const {
    if (!conn_) {
        return {};
    }
    const auto text = [](const char* value) { return QString::fromUtf8(value ? value : ""); };
    return QStringLiteral(u"服务器 %1，端口 %2，数据库 %3")
        .arg(text(PQhost(conn_)), text(PQport(conn_)), text(PQdb(conn_)));
}

RuntimeError PgEngine::unreachable() const {
    const QString reason = conn_ ? QString::fromUtf8(PQerrorMessage(conn_)).trimmed() : QString();
    return RuntimeError(kConnectionFailed, kUnreachable + QStringLiteral(u"：") + reason +
                                               QStringLiteral("\r\n") + serverName());
}

RuntimeError PgEngine::errorOf(PGresult* result) const {
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const QString reason =
        QString::fromUtf8(result ? PQresultErrorMessage(result) : PQerrorMessage(conn_)).trimmed();
    if (!state || PQstatus(conn_) != CONNECTION_OK) {
        return unreachable();
    }
    if (qstrcmp(state, "42501") == 0) {
        return RuntimeError(kNoPermission,
                            (writing_ ? QStringLiteral(u"没有修改关键字库的权限：")
                                      : QStringLiteral(u"没有读取关键字库的权限：")) +
                                reason);
    }
    if (qstrcmp(state, "42P01") == 0) {
        return RuntimeError(kMissingTable, kUnreachable +
                                               QStringLiteral(u"上的表：服务器上没有这张表（") +
                                               reason + QStringLiteral(u"）\r\n") + serverName());
    }
    return RuntimeError(kServerError, QStringLiteral(u"关键字服务器报告错误：") + reason);
}

PgEngine::Result PgEngine::run(const QString& sql, const std::vector<QString>& parameters) {
    std::vector<FieldValue> values(parameters.begin(), parameters.end());
    return runOn(sql, values);
}

PgEngine::Result PgEngine::runOn(const QString& sql, const std::vector<FieldValue>& parameters) {
    if (!conn_ || lost_) {
        throw unreachable();
    }
    std::vector<QByteArray> bytes;
    std::vector<const char*> values;
    std::vector<int> lengths;  // a text is never cut at a NUL inside it
    bytes.reserve(parameters.size());
    for (const FieldValue& parameter : parameters) {
        bytes.push_back(parameter ? parameter->toUtf8() : QByteArray());
        values.push_back(parameter ? bytes.back().constData() : nullptr);
        lengths.push_back(int(bytes.back().size()));
    }
    Result result(PQexecParams(conn_, sql.toUtf8().constData(), int(values.size()), nullptr,
                               values.data(), lengths.data(), nullptr, 0));
    const ExecStatusType status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        if (PQstatus(conn_) != CONNECTION_OK) {
            lost_ = true;
            ++stamp_;
        }
        throw errorOf(result.get());
    }
    return result;
}

bool PgEngine::takeNotifications() {
    // A server that shuts down says so and closes the connection: the closing is seen only by a
    // further read, so everything the socket holds is read before the connection is trusted.
    bool alive = conn_ && !lost_ && PQconsumeInput(conn_);
    for (int reads = 0; alive && reads < 4 && Readable(PQsocket(conn_)); ++reads) {
        alive = PQconsumeInput(conn_) && PQstatus(conn_) == CONNECTION_OK;
    }
    if (!alive || PQstatus(conn_) != CONNECTION_OK) {
        lost_ = true;
        ++stamp_;
        return false;
    }
    const int own = PQbackendPID(conn_);
    while (PGnotify* notification = PQnotifies(conn_)) {
        // A change of this session's own is followed by the kept rows themselves.
        if (notification->be_pid != own) {
            ++notifications_;
        }
        PQfreemem(notification);
    }
    return true;
}

void PgEngine::follow() {
    if (inTransaction()) {
        return;
    }
    if (!takeNotifications()) {
        connect();
    }
}

StoreEvidence PgEngine::evidence() {
    takeNotifications();
    return {stamp_, notifications_, ownChanges_, provable_ && !lost_};
}

void PgEngine::begin() {
    follow();
    const Writing writing(writing_);
    run(QStringLiteral("begin"));
    try {
        // Share row exclusive: other inserts and deletes wait, reads go on.
        run(QStringLiteral("lock table %1 in share row exclusive mode").arg(kKeywordTable));
        // While the lock was awaited others may have committed, and a session in a transaction
        // is told of no commit: unless the table's change count says nothing changed since the
        // rows were read, they are read again under the lock.
        const std::optional<std::int64_t> changes = changeCount();
        if (!changes || !changesAtRead_ || *changes != *changesAtRead_) {
            ++stamp_;
        }
    } catch (...) {
        // Never left open: an open transaction would hold the lock from every other desk.
        rollback();
        throw;
    }
}

// The table's committed change count that the setup script's triggers keep; none without it.
std::optional<std::int64_t> PgEngine::changeCount() {
    if (!counted_) {
        return std::nullopt;
    }
    const Result count = run(QStringLiteral("select changes from public.vorelta_keys_version"));
    const FieldValue value = count.rows() == 1 ? count.value(0, 0) : std::nullopt;
    if (!value) {
        return std::nullopt;
    }
    return value->toLongLong();
}

bool PgEngine::commit() {
    if (!inTransaction()) {
        ++stamp_;
        ++undone_;
        pendingRows_ = 0;
        pendingData_.clear();
        return false;
    }
    const Writing writing(writing_);
    try {
        flushPendingRows();
        // The server answers the commit of a failed transaction with a rollback.
        const Result committed = run(QStringLiteral("commit"));
        if (qstrcmp(PQcmdStatus(committed.get()), "COMMIT") != 0) {
            throw RuntimeError(kServerError,
                               QStringLiteral(u"关键字服务器撤销了这次更改，什么也没有存入。"));
        }
    } catch (...) {
        ++stamp_;
        ++undone_;
        pendingRows_ = 0;
        pendingData_.clear();
        throw;
    }
    return true;
}

void PgEngine::rollback() {
    ++stamp_;
    ++undone_;
    pendingRows_ = 0;
    pendingData_.clear();
    if (conn_ && !lost_) {
        run(QStringLiteral("rollback"));
    }
}

bool PgEngine::inTransaction() const {
    if (!conn_ || lost_) {
        return false;
    }
    const PGTransactionStatusType status = PQtransactionStatus(conn_);
    return status == PQTRANS_INTRANS || status == PQTRANS_INERROR || status == PQTRANS_ACTIVE;
}

SourceShape PgEngine::describe(const QString& source, const std::vector<QString>& /*parameters*/,
                               bool updatable) {
    if (!conn_ || lost_) {
        throw unreachable();
    }
    Result prepared(PQprepare(conn_, "", source.toUtf8().constData(), 0, nullptr));
    if (PQresultStatus(prepared.get()) != PGRES_COMMAND_OK) {
        throw errorOf(prepared.get());
    }
    Result described(PQdescribePrepared(conn_, ""));
    if (PQresultStatus(described.get()) != PGRES_COMMAND_OK) {
        throw errorOf(described.get());
    }
    SourceShape shape;
    const int fields = PQnfields(described.get());
    for (int c = 0; c < fields; ++c) {
        shape.columns.push_back(QString::fromUtf8(PQfname(described.get(), c)));
        shape.numeric.push_back(IsNumericType(PQftype(described.get(), c)));
    }
    if (fields > 0 && PQftable(described.get(), 0) != 0) {
        // Only a table read directly keeps its rows; a view's may follow the clock.
        const Result table =
            run(QStringLiteral("select relname from pg_class where oid = $1 and relkind in "
                               "('r', 'p')"),
                {QString::number(PQftable(described.get(), 0))});
        if (table.rows() == 1 &&
            table.value(0, 0)->compare(SourceObjectOf(source), Qt::CaseInsensitive) == 0) {
            shape.sourceTable = *table.value(0, 0);
        }
    }
    // Rows are removed by their values: a ctid a row would be known by costs every reading of
    // a million rows its transfer, and two rows of the same values are the same keyword.
    shape.table = updatable ? shape.sourceTable : QString();
    shape.generation = generation_;
    return shape;
}

// Every change of the table notifies: a statement-level trigger on insert, update, delete and
// truncate that notifies the channel, and an event trigger for a table dropped and made again,
// both enabled always (a session replicating or restoring fires the others not). Also whether
// the triggers count the changes.
void PgEngine::lookForTriggers() {
    const Result triggers = run(QStringLiteral(
        "select exists (select from pg_trigger t join pg_proc p on p.oid = t.tgfoid "
        "where t.tgrelid = to_regclass('keys') and t.tgenabled = 'A' "
        "and t.tgtype & 61 = 60 and p.prosrc like '%vorelta_keys%') "
        "and exists (select from pg_event_trigger e join pg_proc p on p.oid = e.evtfoid "
        "where e.evtenabled = 'A' and e.evtevent = 'ddl_command_end' "
        "and p.prosrc like '%vorelta_keys%'), "
        "to_regclass('public.vorelta_keys_version') is not null"));
    provable_ = triggers.rows() == 1 && triggers.value(0, 0) == QStringLiteral("t");
    counted_ = provable_ && triggers.value(0, 1) == QStringLiteral("t");
}

SourceTraits PgEngine::read(const QString& source, const std::vector<QString>& parameters,
                            bool updatable, std::size_t expectedRows, SourceShape& shape,
                            SourceRows rows) {
    shape = describe(source, parameters, updatable);
    lookForTriggers();
    changesAtRead_ = changeCount();  // before the rows: a change during the reading shows
    const Result result = run(source, parameters);
    const int count = result.rows();
    rows.columns.assign(shape.columns.size(), {});
    rows.rowIds.clear();
    for (auto& column : rows.columns) {
        column.reserve(std::max(expectedRows, std::size_t(count)));
    }
    for (int row = 0; row < count; ++row) {
        for (std::size_t c = 0; c < shape.columns.size(); ++c) {
            rows.columns[c].push_back(result.value(row, int(c)));
        }
    }
    // A row the server adds may land in any free place of the table, not last: the rows are
    // read again after an insert of the program's own.
    return {!shape.sourceTable.isEmpty(), false, true};
}

int PgEngine::count(const QString& source, const std::vector<QString>& parameters) {
    const Result result =
        run(QStringLiteral("select count(*) from (%1) as counted").arg(source), parameters);
    return result.value(0, 0).value_or(QString()).toInt();
}

bool PgEngine::insert(const SourceShape& shape, const std::vector<int>& setColumns,
                      const std::vector<std::optional<FieldValue>>& row, std::int64_t& rowId) {
    const Writing writing(writing_);
    for (const int c : setColumns) {
        const FieldValue& value = *row[std::size_t(c)];
        if (value && !IsValidUnicode(*value)) {
            throw RuntimeError(adErrTextNotStorable,
                               QStringLiteral(u"关键字服务器只能保存有效的 Unicode 文字"));
        }
    }
    const QString& target = targetOf(shape, setColumns);
    ++ownChanges_;
    if (inTransaction() && !setColumns.empty()) {
        if (pendingRows_ > 0 && pendingTarget_ != target) {
            flushPendingRows();
        }
        pendingTarget_ = target;
        for (std::size_t i = 0; i < setColumns.size(); ++i) {
            if (i > 0) {
                pendingData_ += '\t';
            }
            AppendCopyValue(*row[std::size_t(setColumns[i])], pendingData_);
        }
        pendingData_ += '\n';
        ++pendingRows_;
        rowId = 0;
        return true;
    }
    std::vector<FieldValue> values;
    QStringList placeholders;
    for (const int c : setColumns) {
        values.push_back(*row[std::size_t(c)]);
        placeholders << QStringLiteral("$%1").arg(values.size());
    }
    const QString sql =
        setColumns.empty()
            ? QStringLiteral("insert into %1 default values").arg(QuoteIdentifier(shape.table))
            : QStringLiteral("insert into %1 values (%2)").arg(target, placeholders.join(u", "));
    const Result result = runOn(sql, values);
    rowId = 0;
    return QByteArray(PQcmdTuples(result.get())) == "1";
}

// "table (columns)" for rows that set these columns, kept while rows of one shape follow.
const QString& PgEngine::targetOf(const SourceShape& shape, const std::vector<int>& setColumns) {
    if (target_.isEmpty() || targetTable_ != shape.table || targetColumns_ != setColumns) {
        QStringList names;
        for (const int c : setColumns) {
            names << QuoteIdentifier(shape.columns[std::size_t(c)]);
        }
        target_ = QStringLiteral("%1 (%2)").arg(QuoteIdentifier(shape.table), names.join(u", "));
        targetTable_ = shape.table;
        targetColumns_ = setColumns;
    }
    return target_;
}

// The rows gathered in the transaction, in one COPY: a hundred thousand lines cost one round
// trip, not a hundred thousand. A row the server drops (a trigger) fails the whole insert
// rather than be counted as stored.
void PgEngine::flushPendingRows() {
    if (pendingRows_ == 0) {
        return;
    }
    const std::size_t expected = std::exchange(pendingRows_, 0);
    const QByteArray data = std::exchange(pendingData_, {});
    const QString sql = QStringLiteral("copy %1 from stdin").arg(pendingTarget_);
    Result started(PQexec(conn_, sql.toUtf8().constData()));
    if (PQresultStatus(started.get()) != PGRES_COPY_IN) {
        throw errorOf(started.get());
    }
    if (PQputCopyData(conn_, data.constData(), int(data.size())) != 1 ||
        PQputCopyEnd(conn_, nullptr) != 1) {
        lost_ = PQstatus(conn_) != CONNECTION_OK;
        throw unreachable();
    }
    Result done(PQgetResult(conn_));
    while (PGresult* more = PQgetResult(conn_)) {
        PQclear(more);
    }
    if (PQresultStatus(done.get()) != PGRES_COMMAND_OK) {
        throw errorOf(done.get());
    }
    if (QByteArray(PQcmdTuples(done.get())).toULongLong() != expected) {
        throw RuntimeError(
            kServerError,
            QStringLiteral(u"关键字服务器没有收下全部关键字，这次插入什么也没有存入。"));
    }
}

void PgEngine::remove(const SourceShape& shape, std::int64_t /*rowId*/,
                      const std::vector<FieldValue>& values) {
    const Writing writing(writing_);
    QStringList matches;
    for (std::size_t c = 0; c < shape.columns.size(); ++c) {
        matches << QStringLiteral("%1 is not distinct from $%2")
                       .arg(QuoteIdentifier(shape.columns[c]))
                       .arg(c + 1);
    }
    const QString table = QuoteIdentifier(shape.table);
    const Result result = runOn(QStringLiteral("delete from %1 where ctid = (select ctid from %1 "
                                               "where %2 limit 1)")
                                    .arg(table, matches.join(QStringLiteral(" and "))),
                                values);
    if (QByteArray(PQcmdTuples(result.get())) != "1") {
        throw RowGone();
    }
    ++ownChanges_;
}

}  // namespace vorelta
