#include "store/Engine.h"
#include "store/PgEngine.h"
#include "store/SqliteEngine.h"
#include "store/StoreErrors.h"

namespace vorelta {

Connection::Connection() = default;
Connection::~Connection() = default;

void Connection::Open(const DataSource& source) {
    if (engine_) {
        throw ObjectOpen();
    }
    if (source.name.isEmpty()) {
        throw RuntimeError(adErrBadConnectionString, QStringLiteral(u"没有指定关键字库。"));
    }
    if (source.kind == DataSource::Kind::Server) {
        engine_ = std::make_unique<PgEngine>(source.name);
    } else {
        engine_ =
            std::make_unique<SqliteEngine>(source.name, source.readOnly, source.busyTimeoutMs);
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
