#pragma once

// key.mdb: a SQLite file beside the program, followed by its name.
//
// The engine follows its file name: before each statement outside a transaction it makes sure
// that the file it has open is still the one the name holds, unchanged but for its own writes,
// and otherwise opens the name again. Its own writes keep the file's identity only when the
// name still holds the file written to.

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "store/Engine.h"
#include "store/FileIdentity.h"
#include "store/SqliteStatement.h"

namespace vorelta {

class SqliteEngine final : public Engine {
public:
    // Opens the file, which must exist and be a database: it is never created here.
    SqliteEngine(QString path, bool readOnly, int busyTimeoutMs);
    ~SqliteEngine() override;

    // When another file now has the name (a copy renamed over it), or the file was rewritten by
    // anything but this engine (a copy written into it), the file is opened again, so that
    // neither a verdict nor a write ever rests on SQLite's cached pages of another file. When no
    // file has the name any more, the file is closed and the error names the path; a later call
    // opens the file again once it is back.
    void follow() override;
    std::uint64_t generation() const override { return generation_; }
    std::uint64_t undone() const override { return undone_; }
    // The file unchanged but for its own writes (and, where file times cannot prove that,
    // nothing), no other connection's commit since (SQLite's data version), its own rows.
    StoreEvidence evidence() override;

    // Begin waits once for other programs' locks, readers' included, and then holds the file
    // alone until the end: the transaction never waits again however much it writes.
    void begin() override;
    // A file renamed over key.mdb while the transaction ran is an error: what it stored went
    // into the file that no longer has the name.
    bool commit() override;
    void rollback() override;
    bool inTransaction() const override;

    SourceShape describe(const QString& source, const std::vector<QString>& parameters,
                         bool updatable) override;
    SourceTraits read(const QString& source, const std::vector<QString>& parameters, bool updatable,
                      std::size_t expectedRows, SourceShape& shape, SourceRows rows) override;
    int count(const QString& source, const std::vector<QString>& parameters) override;
    bool insert(const SourceShape& shape, const std::vector<int>& setColumns,
                const std::vector<std::optional<FieldValue>>& row, std::int64_t& rowId) override;
    void remove(const SourceShape& shape, SourceRows rows, std::size_t row) override;

    // Stops the statement running now, whether it works or waits for another program's lock,
    // and every one after it until resume(): each fails with adErrCancelled.
    void cancel() noexcept override;
    void resume() noexcept override;

    TextEncoding encoding() const { return encoding_; }
    // The open database for the caller's own statements: nothing kept is vouched for after.
    sqlite3* handle();

private:
    sqlite3* db() const;
    void openFile();
    // One attempt: false when another file took the name while SQLite opened it.
    bool openFileOnce();
    void close();
    void execute(const char* sql);
    std::uint64_t dataVersion();
    std::int64_t totalChanges() const;
    // Before a write outside a transaction or at its start: pages cached from the file as it
    // was are dropped, so that none of them is ever written back over what is there now.
    void prepareWrite();
    // After a write of its own: the file as it now is counts as unchanged, when it is the file
    // written to. When another file has taken the name meanwhile, the write went into the file
    // that lost it: false, and the next statement opens the name again.
    bool noteOwnWrite();
    // Steps a statement that writes: outside a transaction, between prepareWrite and
    // noteOwnWrite. Returns SQLite's result code.
    int stepWrite(sqlite3_stmt* statement);
    // Takes the file's identity now. One taken within the tick of another program's last change
    // may miss a change in the same tick: the next statement then reads no page from the cache.
    void recordIdentity();
    // The source prepared with its parameters bound, described into `shape`; with the row ids
    // selected in front of the columns when the rows can be told apart.
    Statement prepareSource(const QString& source, const std::vector<QString>& parameters,
                            bool updatable, SourceShape& shape, std::vector<std::string>& bytes);
    sqlite3_stmt* insertStatement(const SourceShape& shape, const std::vector<int>& setColumns);
    bool insertFits(const SourceShape& shape, const std::vector<int>& setColumns) const;
    // Waits for another program's lock up to the busy timeout, or until a cancel.
    static int waitForLock(void* engine, int attempt);
    static int stopWhenCancelled(void* engine);
    // Runs one of the engine's operations; a failure caused by a cancel is told as one.
    template <class Operation>
    auto cancellable(Operation operation) -> decltype(operation());

    sqlite3* db_ = nullptr;
    QString path_;
    bool readOnly_ = false;
    int busyTimeoutMs_ = 0;
    FileIdentity identity_;
    bool identityUnproven_ = false;
    bool timesProve_ = true;  // whether the file system's times can prove the file unchanged
    std::uint64_t generation_ = 0;
    std::uint64_t stamp_ = 0;
    std::uint64_t undone_ = 0;
    TextEncoding encoding_ = TextEncoding::Utf8;
    Statement dataVersion_;
    // The insert kept for rows of one shape: a bulk insert costs one step per row.
    Statement insert_;
    QString insertTable_;
    std::vector<QString> insertColumns_;  // the names it sets
    std::vector<std::string> insertBytes_;

    std::atomic<bool> cancelled_{false};
    std::mutex cancelMutex_;
    std::condition_variable cancelSignal_;             // wakes a lock wait at a cancel
    std::chrono::steady_clock::time_point waitStart_;  // of the lock wait under way
};

// The open SQLite database of a connection, for statements of the caller's own; raises an error
// when the connection is not open on one. What is done through it is not seen by the store:
// every row kept so far is read anew.
sqlite3* SqliteHandle(Connection& connection);

}  // namespace vorelta
