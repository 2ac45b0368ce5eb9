#include "store/Engine.h"
#include "store/PgEngine.h"
#include "store/SqliteEngine.h"
#include "store/StoreErrors.h"

namespace vorelta {

namespace {

// How long a statement waits for another program's lock on the file before it gives up.
constexpr int kBusyTimeoutMs = 5000;

struct ConnectionSettings {
    QString provider;
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
        if (name.compare(u"Provider", Qt::CaseInsensitive) == 0) {
            settings.provider = value.trimmed();
        } else if (name.compare(u"Mode", Qt::CaseInsensitive) == 0) {
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

Connection::Connection() = default;
Connection::~Connection() = default;

void Connection::Open(const QString& connectionString, const QString& /*userId*/,
                      const QString& /*password*/, int /*options*/) {
    if (engine_) {
        throw ObjectOpen();
    }
    const ConnectionSettings settings = SettingsOf(connectionString);
    if (settings.dataSource.isEmpty()) {
        throw BadConnectionString(QStringLiteral(u"连接字符串中没有指定数据源。"));
    }
    if (settings.provider.compare(u"PostgreSQL", Qt::CaseInsensitive) == 0) {
        engine_ = std::make_unique<PgEngine>(settings.dataSource);
    } else {
        engine_ = std::make_unique<SqliteEngine>(settings.dataSource, IsReadOnlyMode(settings.mode),
                                                 BusyTimeoutOf(settings.busyTimeout));
    }
    cancellable_ = engine_.get();
    // A cancel that came while the database was being opened stops what follows.
    if (cancelled_) {
        engine_->cancel();
    }
}

bool Connection::IsOpen() const {
    return engine_ != nullptr;
}

Engine& Connection::engine() const {
    if (!engine_) {
        throw ObjectClosed();
    }
    return *engine_;
}

void Connection::FollowFile() {
    StopIfCancelled();
    engine().follow();
}

void Connection::Cancel() noexcept {
    cancelled_ = true;
    if (Engine* engine = cancellable_) {
        engine->cancel();
    }
}

void Connection::ResumeAfterCancel() noexcept {
    cancelled_ = false;
    // The engine as Cancel sees it: the connection may still be opening on another thread.
    if (Engine* engine = cancellable_) {
        engine->resume();
    }
}

void Connection::StopIfCancelled() const {
    if (cancelled_) {
        throw Cancelled();
    }
}

std::uint64_t Connection::Generation() const {
    return engine_ ? engine_->generation() : 0;
}

StoreEvidence Connection::Evidence() {
    return engine().evidence();
}

void Connection::BeginTrans() {
    engine().begin();
}

bool Connection::CommitTrans() {
    return engine().commit();
}

void Connection::RollbackTrans() {
    engine().rollback();
}

bool Connection::InTransaction() const {
    return engine_ && engine_->inTransaction();
}

Engine& Connection::OpenEngine() {
    return engine();
}

}  // namespace vorelta
