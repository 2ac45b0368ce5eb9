#include "store/PgEngine.h"

#include <libpq-fe.h>
#include <poll.h>
#include <unicode/ucnv.h>

#include <QStringList>
#include <algorithm>
#include <array>
#include <system_error>
#include <thread>
#include <utility>

#include "base/Text.h"
#include "store/KeywordTable.h"
#include "store/SourceSql.h"
#include "store/StoreErrors.h"

namespace vorelta {

namespace {

// Error numbers as the data-access runtime had them for a server behind ODBC.
constexpr int kConnectionFailed = 3151;
constexpr int kNoPermission = 3033;
constexpr int kServerError = 3146;
constexpr int kMissingTable = 3078;
constexpr int kLocked = 3218;
constexpr int kReadOnly = 3027;
constexpr int kOutcomeUnknown = 3197;

const QString kUnreachable = QStringLiteral(u"无法连接关键字服务器");

// How long a statement waits for a lock another desk holds, as key.mdb's busy wait does.
constexpr const char* kLockTimeout = "5s";

// One statement that proves the table unchanged. Its identity: the catalog row of whatever
// `keys` names now, its triggers, the event triggers and their functions, each with the
// transaction that last wrote it (xmin), so that a trigger switched off and on again, or a
// function replaced, shows. Then whether the change count covers every change of the rows: a
// plain table with no children, rules or subscription, whose counting trigger and event
// trigger fire always. The count itself, read only where its table exists; the snapshot, which
// any commit in the cluster moves; and whether row-level security may hide rows by time.
const char* const kProofSqlOfTable = R"(
select coalesce(c.oid || '/' || c.xmin || '/' || c.relfilenode || '/' || c.relkind::text, '-')
         || '|' || coalesce((select string_agg(t.oid || ':' || t.xmin || t.tgenabled::text || ':'
                                              || p.xmin, ',' order by t.oid)
                             from pg_catalog.pg_trigger t
                             join pg_catalog.pg_proc p on p.oid = t.tgfoid
                             where t.tgrelid = c.oid), '')
         || '|' || coalesce((select string_agg(e.oid || ':' || e.xmin || e.evtenabled::text || ':'
                                              || p.xmin, ',' order by e.oid)
                             from pg_catalog.pg_event_trigger e
                             join pg_catalog.pg_proc p on p.oid = e.evtfoid), ''),
       coalesce(c.relkind = 'r' and not c.relhassubclass and not c.relhasrules
         and not c.relrowsecurity and v.oid is not null
         and exists (select from pg_catalog.pg_trigger t
                     join pg_catalog.pg_proc p on p.oid = t.tgfoid
                     where t.tgrelid = c.oid and t.tgenabled = 'A' and t.tgtype & 61 = 60
                       and p.prosrc like '%vorelta_keys_version%')
         and exists (select from pg_catalog.pg_event_trigger e
                     join pg_catalog.pg_proc p on p.oid = e.evtfoid
                     where e.evtenabled = 'A' and e.evtevent = 'ddl_command_end'
                       and p.prosrc like '%vorelta_keys_version%')
         and not exists (select from pg_catalog.pg_subscription_rel s
                         where s.srrelid = c.oid), false),
       case when v.oid is not null then (xpath('/table/row/changes/text()', query_to_xml(
           'select changes from public.vorelta_keys_version', false, false, '')))[1]::text end,
       pg_catalog.pg_current_snapshot()::text,
       coalesce(c.relrowsecurity, false)
from (select pg_catalog.to_regclass('%1') as oid,
             pg_catalog.to_regclass('public.vorelta_keys_version') as oid2) k
left join pg_catalog.pg_class c on c.oid = k.oid
left join pg_catalog.pg_class v on v.oid = k.oid2
)";

const QByteArray& ProofSql() {
    static const QByteArray sql = QString::fromLatin1(kProofSqlOfTable).arg(kKeywordTable).toUtf8();
    return sql;
}

// The server's own words for what went wrong, without "ERROR:" and the like, the statement's
// "LINE 1:" and the caret under it: libpq's message for a connection, which has no fields.
QString InWords(const char* message) {
    QStringList kept;
    for (QString line : QString::fromUtf8(message ? message : "").split(u'\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u"LINE ") || line.startsWith(u'^')) {
            continue;
        }
        for (const char* prefix : {"FATAL:", "ERROR:", "WARNING:", "DETAIL:", "HINT:"}) {
            line.replace(QLatin1String(prefix), QString());
        }
        kept << line.simplified();
    }
    return kept.join(u' ');
}

// The primary message of a result's error.
QString PrimaryOf(const PGresult* result) {
    const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    return QString::fromUtf8(primary ? primary : "");
}

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

// ICU's name for a server encoding that is not UTF-8: the server's own, punctuated as ICU
// spells it, where no other is known.
QByteArray IcuNameOf(const QByteArray& serverEncoding) {
    static const struct {
        const char* server;
        const char* icu;
    } named[] = {{"LATIN1", "ISO-8859-1"},   {"LATIN2", "ISO-8859-2"},  {"LATIN3", "ISO-8859-3"},
                 {"LATIN4", "ISO-8859-4"},   {"LATIN5", "ISO-8859-9"},  {"LATIN6", "ISO-8859-10"},
                 {"LATIN7", "ISO-8859-13"},  {"LATIN8", "ISO-8859-14"}, {"LATIN9", "ISO-8859-15"},
                 {"LATIN10", "ISO-8859-16"}, {"EUC_CN", "EUC-CN"},      {"EUC_JP", "EUC-JP"},
                 {"EUC_KR", "EUC-KR"},       {"EUC_TW", "EUC-TW"},      {"KOI8R", "KOI8-R"},
                 {"KOI8U", "KOI8-U"}};
    for (const auto& name : named) {
        if (serverEncoding == name.server) {
            return name.icu;
        }
    }
    if (serverEncoding.startsWith("WIN")) {
        return "windows-" + serverEncoding.mid(3);
    }
    QByteArray icu = serverEncoding;
    return icu.replace('_', '-');
}

// Whether every character of the text has a form in the encoding.
bool Encodable(QStringView text, const QByteArray& icuName) {
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(icuName.constData(), &status);
    if (U_FAILURE(status)) {
        return true;  // unknown here: the server decides, and refuses the insert whole
    }
    ucnv_setFromUCallBack(converter, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    char out[256];
    const UChar* from = reinterpret_cast<const UChar*>(text.utf16());
    const UChar* end = from + text.size();
    do {
        char* to = out;
        status = U_ZERO_ERROR;
        ucnv_fromUnicode(converter, &to, out + sizeof out, &from, end, nullptr, true, &status);
    } while (status == U_BUFFER_OVERFLOW_ERROR);
    ucnv_close(converter);
    return U_SUCCESS(status);
}

// The server stores UTF-8, which has no form for half of a surrogate pair.
// Nor for a NUL, which no text of the server holds.
bool IsValidUnicode(QStringView text) {
    return LoneSurrogateAt(text) < 0 && !text.contains(QChar(0));
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

// A source binds each '?' to the next parameter, on every engine; PostgreSQL numbers its own
// ($1, $2, ...) and reads a bare '?' as part of an operator. A '?' inside a plainly quoted text
// or name ('...', "...") or a comment stays as it is written; the program's statements use no
// other quoting (E'...' with backslashes, $$...$$), whose '?' would be numbered too.
QString NumberedParameters(const QString& source) {
    QString sql;
    sql.reserve(source.size());
    int next = 0;
    qsizetype i = 0;
    const auto copyUpTo = [&](qsizetype end) {  // -1: to the end
        const qsizetype stop = end < 0 ? source.size() : end;
        sql += QStringView(source).sliced(i, stop - i);
        i = stop;
    };
    while (i < source.size()) {
        const QStringView rest = QStringView(source).sliced(i);
        if (rest.front() == u'\'' || rest.front() == u'"') {
            const qsizetype close = source.indexOf(rest.front(), i + 1);
            copyUpTo(close < 0 ? -1 : close + 1);
        } else if (rest.startsWith(u"--")) {
            copyUpTo(source.indexOf(u'\n', i));
        } else if (rest.startsWith(u"/*")) {
            const qsizetype close = source.indexOf(u"*/", i + 2);
            copyUpTo(close < 0 ? -1 : close + 2);
        } else if (rest.front() == u'?') {
            sql += u'$' + QString::number(++next);
            ++i;
        } else {
            sql += rest.front();
            ++i;
        }
    }
    return sql;
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

// Marks a statement as running, for cancel(); a cancel asked for before it began is not its.
class PgEngine::Running {
public:
    explicit Running(PgEngine& engine) : engine_(engine) {
        const std::lock_guard lock(engine_.cancelling_);
        engine_.cancelled_ = false;
        engine_.running_ = true;
        engine_.warnings_.clear();
    }
    ~Running() {
        const std::lock_guard lock(engine_.cancelling_);
        engine_.running_ = false;
    }

private:
    PgEngine& engine_;
};

PgEngine::PgEngine(QString conninfo) : conninfo_(std::move(conninfo)) {
    connect();
}

PgEngine::~PgEngine() {
    drop();
}

void PgEngine::drop() {
    {
        const std::lock_guard lock(cancelling_);
        canceller_.reset();
    }
    PQfinish(conn_);
    conn_ = nullptr;
    pendingRows_ = 0;
    pendingData_.clear();
}

// PQcancel opens a connection of its own to the server, which stops the statement with
// SQLSTATE 57014; the running call then returns that error on the engine's thread. It waits
// for that connection, which a server gone away may hold up for minutes: it runs on a thread
// of its own, and the caller (a window's cancel button) goes on at once.
void PgEngine::cancel() noexcept {
    std::shared_ptr<PGcancel> canceller;
    {
        const std::lock_guard lock(cancelling_);
        if (!canceller_ || !running_) {
            return;
        }
        cancelled_ = true;
        canceller = canceller_;
    }
    try {
        std::thread([canceller] {
            char reason[256];
            PQcancel(canceller.get(), reason, sizeof reason);
        }).detach();
    } catch (const std::system_error&) {
        char reason[256];  // no thread to be had: the caller waits instead
        PQcancel(canceller.get(), reason, sizeof reason);
    }
}

void PgEngine::receiveNotice(void* engine, const PGresult* notice) {
    const char* severity = PQresultErrorField(notice, PG_DIAG_SEVERITY_NONLOCALIZED);
    const char* state = PQresultErrorField(notice, PG_DIAG_SQLSTATE);
    if (severity && qstrcmp(severity, "WARNING") == 0 && state) {
        static_cast<PgEngine*>(engine)->warnings_.push_back(state);
    }
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
        // A host that never answers is given up after a while too.
        for (const auto& [name, value] : {std::pair{"keepalives_idle", "10"},
                                          {"keepalives_interval", "10"},
                                          {"keepalives_count", "3"},
                                          {"connect_timeout", "10"}}) {
            bool set = false;
            for (PQconninfoOption* option = given; option->keyword; ++option) {
                set = set || (qstrcmp(option->keyword, name) == 0 && option->val);
            }
            if (!set) {
                keywords << QLatin1String(name);
                values << QLatin1String(value);
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
    PQsetNoticeReceiver(conn_, receiveNotice, this);
    {
        const std::lock_guard lock(cancelling_);
        canceller_.reset(PQgetCancel(conn_), PQfreeCancel);
    }
    lost_ = false;
    proofPrepared_ = Prepared::Not;
    ++generation_;
    ++stamp_;
    const char* encoding = PQparameterStatus(conn_, "server_encoding");
    serverEncoding_ = encoding ? encoding : "UTF8";
    // Every lock wait is bounded, unless the connection string sets a bound of its own.
    run(QStringLiteral("select pg_catalog.set_config('lock_timeout', '%1', false) "
                       "where pg_catalog.current_setting('lock_timeout') = '0'")
            .arg(QLatin1String(kLockTimeout)));
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
    const QString reason = conn_ ? InWords(PQerrorMessage(conn_)) : QString();
    return RuntimeError(kConnectionFailed, kUnreachable + QStringLiteral(u"：") + reason +
                                               QStringLiteral("\r\n") + serverName());
}

// The program's own sentence by the class of the SQLSTATE, with the server's primary message.
RuntimeError PgEngine::errorOf(PGresult* result) const {
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    if (!state || PQstatus(conn_) != CONNECTION_OK) {
        return unreachable();
    }
    const QByteArray code(state);
    const QString reason = PrimaryOf(result);
    const QString where = QStringLiteral("\r\n") + serverName();
    if (code == "57014" && cancelled_) {
        return Cancelled();
    }
    if (code == "42501") {
        return RuntimeError(kNoPermission,
                            (writing_ ? QStringLiteral(u"没有修改关键字库的权限：")
                                      : QStringLiteral(u"没有读取关键字库的权限：")) +
                                reason);
    }
    if (code == "42P01") {
        return RuntimeError(kMissingTable, kUnreachable +
                                               QStringLiteral(u"上的表：服务器上没有这张表（") +
                                               reason + QStringLiteral(u"）") + where);
    }
    if (code == "25006") {
        return RuntimeError(kReadOnly,
                            QStringLiteral(u"关键字服务器是只读的，不能在这里添加或删除关键字（") +
                                reason + QStringLiteral(u"）。请连接主服务器。") + where);
    }
    if (code == "55P03" || code == "40P01") {
        return RuntimeError(kLocked, kListBeingChangedText + QStringLiteral(u"（") + reason +
                                         QStringLiteral(u"）"));
    }
    if (code.startsWith("53")) {
        return RuntimeError(kServerError, QStringLiteral(u"关键字服务器的磁盘空间或资源不足") +
                                              (writing_ ? QStringLiteral(u"，什么也没有存入：")
                                                        : QStringLiteral(u"：")) +
                                              reason + where);
    }
    if (code.startsWith("08") || code.startsWith("57P") || code.startsWith("28")) {
        return RuntimeError(kConnectionFailed,
                            kUnreachable + QStringLiteral(u"：") + reason + where);
    }
    if (code.startsWith("40")) {
        return RuntimeError(
            kLocked, QStringLiteral(u"与其他人同时进行的更改冲突，什么也没有存入，请再试一次。（") +
                         reason + QStringLiteral(u"）"));
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
    const Running running(*this);
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

bool PgEngine::stillConnected() {
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
    while (PGnotify* notification = PQnotifies(conn_)) {
        PQfreemem(notification);  // from a LISTEN of a connection string's own
    }
    return true;
}

void PgEngine::follow() {
    if (inTransaction()) {
        return;
    }
    if (!stillConnected()) {
        connect();
    }
}

// One round trip. Inside a transaction nothing others commit is seen and this session's own
// writes move the count: the proof is left as it was.
StoreEvidence PgEngine::evidence() {
    if (stillConnected() && !inTransaction()) {
        prove();
    }
    return {stamp_, othersVersion_, ownChanges_, provable_ && !lost_};
}

// The proof's statement is prepared once a connection: planning it costs ten times running it.
// Behind a pooler that hands each statement to another server session the prepared one may be
// missing; the text is then sent each time.
PgEngine::Result PgEngine::runProof() {
    constexpr const char* kName = "vorelta_proof";
    if (proofPrepared_ == Prepared::Not) {
        const Running running(*this);
        Result prepared(PQprepare(conn_, kName, ProofSql().constData(), 0, nullptr));
        proofPrepared_ =
            PQresultStatus(prepared.get()) == PGRES_COMMAND_OK ? Prepared::Yes : Prepared::Never;
    }
    if (proofPrepared_ == Prepared::Yes) {
        const Running running(*this);
        Result proof(PQexecPrepared(conn_, kName, 0, nullptr, nullptr, nullptr, 0));
        if (PQresultStatus(proof.get()) == PGRES_TUPLES_OK) {
            return proof;
        }
        if (PQstatus(conn_) != CONNECTION_OK) {
            lost_ = true;
            ++stamp_;
            throw errorOf(proof.get());
        }
        proofPrepared_ = Prepared::Never;
    }
    return run(QString::fromUtf8(ProofSql()));
}

void PgEngine::prove() {
    const Result proof = runProof();
    const QString identity = *proof.value(0, 0);
    const bool counted = proof.value(0, 1) == QStringLiteral("t");
    const FieldValue changes = proof.value(0, 2);
    changes_ = counted && changes ? std::optional(changes->toLongLong()) : std::nullopt;
    const QString proofNow =
        identity + u'#' + (changes_ ? QString::number(*changes_) : *proof.value(0, 3));
    provable_ = proof.value(0, 4) == QStringLiteral("f");
    if (proofNow != proof_) {
        proof_ = proofNow;
        ++othersVersion_;
    }
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
    if (!changes_) {
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
        const QString transaction =
            run(QStringLiteral("select pg_catalog.txid_current()")).value(0, 0).value_or(QString());
        try {
            // The server answers the commit of a failed transaction with a rollback.
            const Result committed = run(QStringLiteral("commit"));
            if (qstrcmp(PQcmdStatus(committed.get()), "COMMIT") != 0) {
                throw RuntimeError(kServerError,
                                   QStringLiteral(u"关键字服务器撤销了这次更改，什么也没有存入。"));
            }
        } catch (const RuntimeError&) {
            // A server that answered has told the outcome; one that did not is asked again.
            if (!lost_) {
                throw;
            }
            const Outcome outcome = outcomeOf(transaction);
            if (outcome == Outcome::Committed) {
                ++stamp_;
                pendingRows_ = 0;
                return true;
            }
            if (outcome == Outcome::Unknown) {
                throw outcomeUnknown();
            }
            throw;
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

// A commit that waited for a synchronous standby and was cancelled or ended says with a warning
// that it committed locally. Otherwise a connection of its own asks the server, which remembers
// every transaction's end for a while.
PgEngine::Outcome PgEngine::outcomeOf(const QString& transaction) {
    for (const QByteArray& warning : warnings_) {
        if (warning == "57014" || warning == "57P01" || warning == "57P02") {
            return Outcome::Committed;
        }
    }
    if (transaction.isEmpty()) {
        return Outcome::Unknown;
    }
    const QByteArray conninfo = conninfo_.toUtf8();
    const std::array<const char*, 4> keywords{"dbname", "client_encoding", "connect_timeout",
                                              nullptr};
    const std::array<const char*, 4> values{conninfo.constData(), "UTF8", "10", nullptr};
    PGconn* asking = PQconnectdbParams(keywords.data(), values.data(), 1);
    Outcome outcome = Outcome::Unknown;
    if (PQstatus(asking) == CONNECTION_OK) {
        const QByteArray id = transaction.toLatin1();
        const char* values[] = {id.constData()};
        PGresult* status = PQexecParams(asking, "select pg_catalog.txid_status($1::bigint)", 1,
                                        nullptr, values, nullptr, nullptr, 0);
        if (PQresultStatus(status) == PGRES_TUPLES_OK && !PQgetisnull(status, 0, 0)) {
            const QByteArray said = PQgetvalue(status, 0, 0);
            outcome = said == "committed" ? Outcome::Committed
                      : said == "aborted" ? Outcome::Undone
                                          : Outcome::Unknown;
        }
        PQclear(status);
    }
    PQfinish(asking);
    return outcome;
}

RuntimeError PgEngine::outcomeUnknown() const {
    return RuntimeError(
        kOutcomeUnknown,
        QStringLiteral(u"与关键字服务器的连接在提交时中断，无法确定这次更改是否已经"
                       u"保存。请重新打开关键字管理窗口，查看服务器上现有的关键字。") +
            QStringLiteral("\r\n") + serverName());
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

// The source prepared and described in one round trip: one pipeline with one sync, so that a
// pooler that hands each transaction to another server session keeps the two together.
PgEngine::Result PgEngine::describeInOneTrip(const QByteArray& sql) {
    const Running running(*this);
    std::vector<Result> results;
    if (PQenterPipelineMode(conn_) == 1 && PQsendPrepare(conn_, "", sql.constData(), 0, nullptr) &&
        PQsendDescribePrepared(conn_, "") && PQpipelineSync(conn_)) {
        // Each statement's results end with a null; the sync's ends the pipeline.
        for (int nulls = 0; nulls < 4 && PQstatus(conn_) == CONNECTION_OK;) {
            PGresult* result = PQgetResult(conn_);
            if (!result) {
                ++nulls;
            } else if (PQresultStatus(result) == PGRES_PIPELINE_SYNC) {
                PQclear(result);
                break;
            } else {
                results.emplace_back(result);
            }
        }
    }
    PQexitPipelineMode(conn_);
    if (PQstatus(conn_) != CONNECTION_OK || results.size() != 2) {
        lost_ = PQstatus(conn_) != CONNECTION_OK;
        ++stamp_;
        throw errorOf(results.empty() ? nullptr : results.front().get());
    }
    for (Result& result : results) {
        if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
            throw errorOf(result.get());
        }
    }
    return std::move(results.back());
}

SourceShape PgEngine::describe(const QString& source, const std::vector<QString>& /*parameters*/,
                               bool updatable) {
    if (!conn_ || lost_) {
        throw unreachable();
    }
    const Result described = describeInOneTrip(NumberedParameters(source).toUtf8());
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

SourceTraits PgEngine::read(const QString& source, const std::vector<QString>& parameters,
                            bool updatable, std::size_t expectedRows, SourceShape& shape,
                            SourceRows rows) {
    shape = describe(source, parameters, updatable);
    // The count of the proof just before: a change during the reading shows at the next.
    changesAtRead_ = changes_;
    const Result result = run(NumberedParameters(source), parameters);
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
        run(QStringLiteral("select count(*) from (%1) as counted").arg(NumberedParameters(source)),
            parameters);
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
        if (value && !storable(*value)) {
            throw RuntimeError(adErrTextNotStorable,
                               QStringLiteral(u"关键字服务器的数据库编码 %1 没有这段文字的写法")
                                   .arg(QString::fromLatin1(serverEncoding_)));
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

// A database that is not UTF-8 holds only the characters of its encoding; SQL_ASCII takes bytes.
bool PgEngine::storable(QStringView text) const {
    if (serverEncoding_ == "UTF8" || serverEncoding_ == "SQL_ASCII") {
        return true;
    }
    static thread_local QByteArray icuName, forEncoding;
    if (forEncoding != serverEncoding_) {
        forEncoding = serverEncoding_;
        icuName = IcuNameOf(serverEncoding_);
    }
    return Encodable(text, icuName);
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
    const Running running(*this);
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

void PgEngine::remove(const SourceShape& shape, SourceRows rows, std::size_t row) {
    const Writing writing(writing_);
    QStringList matches;
    std::vector<FieldValue> values;
    for (std::size_t c = 0; c < shape.columns.size(); ++c) {
        values.push_back(rows.columns[c].at(row));
        matches << QStringLiteral("%1 is not distinct from $%2")
                       .arg(QuoteIdentifier(shape.columns[c]))
                       .arg(c + 1);
    }
    const QString table = QuoteIdentifier(shape.table);
    const QString sql = QStringLiteral(
                            "delete from %1 where ctid = (select ctid from %1 "
                            "where %2 limit 1)")
                            .arg(table, matches.join(QStringLiteral(" and ")));
    // Where the triggers count, the delete gets a transaction of its own that reads the count
    // its trigger left: one more than the proof's means nobody else changed the table, and the
    // kept rows, which drop the row themselves, need no reading anew.
    const bool counting = changes_ && !inTransaction();
    if (counting) {
        run(QStringLiteral("begin"));
    }
    try {
        const Result result = runOn(sql, values);
        if (QByteArray(PQcmdTuples(result.get())) != "1") {
            throw RowGone();
        }
        if (counting) {
            const Result state = run(QStringLiteral(
                "select changes, pg_catalog.txid_current() from public.vorelta_keys_version"));
            const FieldValue counted = state.rows() == 1 ? state.value(0, 0) : std::nullopt;
            const std::optional<std::int64_t> after =
                counted ? std::optional(counted->toLongLong()) : std::nullopt;
            try {
                run(QStringLiteral("commit"));
            } catch (const RuntimeError&) {
                // As for an insert: a commit without an answer is asked after.
                const Outcome outcome =
                    lost_ ? outcomeOf(state.value(0, 1).value_or(QString())) : Outcome::Undone;
                if (outcome == Outcome::Unknown) {
                    throw outcomeUnknown();
                }
                if (outcome == Outcome::Undone) {
                    throw;
                }
                ++ownChanges_;
                return;
            }
            if (after && *after == *changes_ + 1) {
                if (changesAtRead_ == changes_) {
                    changesAtRead_ = after;
                }
                changes_ = after;
                proof_ = proof_.left(proof_.lastIndexOf(u'#') + 1) + QString::number(*after);
            }
        }
    } catch (...) {
        if (counting && inTransaction()) {
            PQclear(PQexec(conn_, "rollback"));
        }
        throw;
    }
    ++ownChanges_;
}

}  // namespace vorelta
