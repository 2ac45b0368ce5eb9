#pragma once

// The keyword list on a PostgreSQL server, shared by an office, through libpq.
//
// The engine listens on the channel vorelta_keys, which the server's triggers notify at every
// change of the table (docs/server/setup.sql): while no other session's notification has come,
// the kept rows hold, and a check needs no round trip. Where the triggers are missing, nothing
// proves the rows unchanged and every action reads them anew. A lost connection is opened again
// by the next action; until then every action says the server cannot be reached.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "store/Engine.h"

struct pg_conn;
struct pg_result;

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
    void remove(const SourceShape& shape, std::int64_t rowId,
                const std::vector<FieldValue>& values) override;

private:
    class Result;

    void connect();
    void drop();
    // Takes in what the server has sent; false when the connection is gone.
    bool takeNotifications();
    Result run(const QString& sql, const std::vector<QString>& parameters = {});
    Result runOn(const QString& sql, const std::vector<FieldValue>& parameters);
    // Where the server and the connection stand, for messages: host, port and database.
    QString serverName() const;
    RuntimeError errorOf(pg_result* result) const;
    RuntimeError unreachable() const;
    void lookForTriggers();
    std::optional<std::int64_t> changeCount();
    void flushPendingRows();
    const QString& targetOf(const SourceShape& shape, const std::vector<int>& setColumns);

    QString conninfo_;
    pg_conn* conn_ = nullptr;
    bool lost_ = false;
    bool writing_ = false;  // while the statements of an insert or delete run
    std::uint64_t generation_ = 0;
    std::uint64_t stamp_ = 0;
    std::uint64_t undone_ = 0;
    std::uint64_t notifications_ = 0;  // from other sessions, since the program started
    std::int64_t ownChanges_ = 0;
    bool provable_ = false;                      // the table's triggers notify every change
    bool counted_ = false;                       // and count them
    std::optional<std::int64_t> changesAtRead_;  // the table's change count when last read
    // Rows gathered in a transaction for one COPY: the table and columns, and the rows in
    // COPY's text format.
    QString pendingTarget_;
    QByteArray pendingData_;
    std::size_t pendingRows_ = 0;
    QString target_, targetTable_;
    std::vector<int> targetColumns_;
};

}  // namespace vorelta
