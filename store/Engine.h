#pragma once

// What one kind of database does behind a Connection and its recordsets: open and follow the
// database, say what it vouches for, run transactions, and read, add and remove the rows of a
// source. Everything else is the same for every kind and lives in the Connection and the
// Recordset: the kept rows, the rule that says when they hold, the current row, the row being
// added.

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "store/Database.h"

namespace vorelta {

// What a source's SQL reads, found out from the database.
struct SourceShape {
    std::vector<QString> columns;
    std::vector<bool> numeric;     // parallel to the columns: would store text as a number
    QString table;                 // what rows are added to and removed from; empty when none
    QString rowIdName;             // how that table names a row in a statement
    QString sourceTable;           // the table the source reads directly; empty for a view
    std::uint64_t generation = 0;  // the engine's, when described
};

// Every row of a source, column by column, with the row ids when the rows can be told apart.
struct SourceRows {
    std::vector<std::vector<FieldValue>>& columns;
    std::vector<std::int64_t>& rowIds;
};

class Engine {
public:
    virtual ~Engine() = default;

    // Called before each statement outside a transaction: makes sure the database the engine
    // has open is the one its name gives, opening it again when not.
    virtual void follow() = 0;
    // Goes up each time the engine opens the database anew.
    virtual std::uint64_t generation() const = 0;
    virtual StoreEvidence evidence() = 0;
    // Goes up each time writes may have been undone (a rollback, a commit that failed or found
    // its transaction gone), asking the database nothing.
    virtual std::uint64_t undone() const = 0;

    virtual void begin() = 0;
    virtual bool commit() = 0;
    virtual void rollback() = 0;
    virtual bool inTransaction() const = 0;

    virtual SourceShape describe(const QString& source, const std::vector<QString>& parameters,
                                 bool updatable) = 0;
    // Describes the source anew into `shape` and reads every row of it, with room for about
    // `expectedRows`; what the rows are tells the rule for keeping them.
    virtual SourceTraits read(const QString& source, const std::vector<QString>& parameters,
                              bool updatable, std::size_t expectedRows, SourceShape& shape,
                              SourceRows rows) = 0;
    virtual int count(const QString& source, const std::vector<QString>& parameters) = 0;
    // Adds one row to the shape's table with these columns set; false when the database dropped
    // it. `rowId` gets the new row's id.
    virtual bool insert(const SourceShape& shape, const std::vector<int>& setColumns,
                        const std::vector<std::optional<FieldValue>>& row, std::int64_t& rowId) = 0;
    // Removes row `row` of the rows this engine read (kept in step with the engine's own adds
    // and removals since), known by what the engine read to tell it apart: its row id, or where
    // the engine reads none, its values (the first row holding them goes). RowGone when it is not
    // there any more.
    virtual void remove(const SourceShape& shape, SourceRows rows, std::size_t row) = 0;

    // Asks the database to stop the statement running now on another thread; that statement
    // then fails with adErrCancelled. Safe to call from any thread, and when nothing runs.
    virtual void cancel() noexcept {}
    // Statements run again after a cancel; called before a new action, while none runs.
    virtual void resume() noexcept {}
};

}  // namespace vorelta
