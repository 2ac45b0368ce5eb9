#pragma once

// The keyword list on a PostgreSQL server, shared by an office, through libpq.
//
// Kept rows are trusted only on proof: before every check one statement reads the table's
// identity (its catalog row, triggers and event triggers, each with the transaction that last
// changed it) and either the change count the server's triggers keep (docs/server/setup.sql)
// or, where those cannot vouch for every change (children, partitions, rules, a subscription,
// a trigger off), the server's snapshot, which moves with any commit at all. Row-level security
// proves nothing: every check reads anew. No LISTEN: a hot standby refuses it and a pooler loses
// it, and a notification proves nothing a statement does not. A lost connection is opened again
// by the next action; until then every action says the server cannot be reached.

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "store/Engine.h"

struct pg_conn;
struct pg_result;
struct pg_cancel;

namespace vorelta {

class PgEngine final : public Engine {
public:
    explicit PgEngine(QString conninfo);
    ~PgEngine() override;

    void follow() override;
    std::uint64_t generation() const override { return generation_; }
    std::uint64_t undone() const override { return undone_; }
    StoreEvidence evidence() override;

    // An insert's transaction takes a lock that holds other inserts off the table (readers go
    // on), so that two operators storing the same lines store each line once.
    void begin() override;
    // A commit that gets no answer (the connection lost, the session ended while it waited for a
    // synchronous standby) is true when the server says the transaction committed; where it
    // cannot tell, the error says the outcome is unknown.
    bool commit() override;
    void rollback() override;
    bool inTransaction() const override;

    SourceShape describe(const QString& source, const std::vector<QString>& parameters,
                         bool updatable) override;
    SourceTraits read(const QString& source, const std::vector<QString>& parameters, bool updatable,
                      std::size_t expectedRows, SourceShape& shape, SourceRows rows) override;
    int count(const QString& source, const std::vector<QString>& parameters) override;
    // Inside a transaction rows are gathered and sent in one COPY at the commit.
    bool insert(const SourceShape& shape, const std::vector<int>& setColumns,
                const std::vector<std::optional<FieldValue>>& row, std::int64_t& rowId) override;
    void remove(const SourceShape& shape, SourceRows rows, std::size_t row) override;

    void cancel() noexcept override;

private:
    class Result;
    class Running;
    enum class Outcome { Committed, Undone, Unknown };

    void connect();
    void drop();
    // Takes in what the server has sent; false when the connection is gone.
    bool stillConnected();
    Result run(const QString& sql, const std::vector<QString>& parameters = {});
    Result runOn(const QString& sql, const std::vector<FieldValue>& parameters);
    // Where the server and the connection stand, for messages: host, port and database.
    QString serverName() const;
    RuntimeError errorOf(pg_result* result) const;
    RuntimeError unreachable() const;
    // Reads what proves the table unchanged; the rows read before hold while it is the same.
    void prove();
    Result runProof();
    Result describeInOneTrip(const QByteArray& sql);
    std::optional<std::int64_t> changeCount();
    // What became of a transaction whose commit got no answer.
    Outcome outcomeOf(const QString& transaction);
    RuntimeError outcomeUnknown() const;
    bool storable(QStringView text) const;
    static void receiveNotice(void* engine, const pg_result* notice);
    void flushPendingRows();
    const QString& targetOf(const SourceShape& shape, const std::vector<int>& setColumns);

    QString conninfo_;
    pg_conn* conn_ = nullptr;
    // For cancel() from another thread: made at connect, freed at drop, both under the mutex.
    std::mutex cancelling_;
    std::shared_ptr<pg_cancel> canceller_;
    std::atomic<bool> running_ = false;
    std::atomic<bool> cancelled_ = false;  // the running statement was asked to stop
    // The warnings of the statement running now, as SQLSTATEs: a commit's tell its outcome.
    std::vector<QByteArray> warnings_;
    QByteArray serverEncoding_;
    bool lost_ = false;
    bool writing_ = false;  // while the statements of an insert or delete run
    std::uint64_t generation_ = 0;
    std::uint64_t stamp_ = 0;
    std::uint64_t undone_ = 0;
    std::uint64_t othersVersion_ = 0;  // goes up whenever the proof comes out different
    std::int64_t ownChanges_ = 0;
    enum class Prepared { Not, Yes, Never } proofPrepared_ = Prepared::Not;
    QString proof_;                              // the last one read
    bool provable_ = false;                      // nothing the rows depend on escapes the proof
    std::optional<std::int64_t> changes_;        // their count at the last proof
    std::optional<std::int64_t> changesAtRead_;  // and when the rows were last read
    // Rows gathered in a transaction for one COPY: the table and columns, and the rows in
    // COPY's text format.
    QString pendingTarget_;
    QByteArray pendingData_;
    std::size_t pendingRows_ = 0;
    QString target_, targetTable_;
    std::vector<int> targetColumns_;
};

}  // namespace vorelta
