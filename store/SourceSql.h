#pragma once

// What a recordset's SQL reads, found out from the database: the table behind it, how its
// rows are told apart, which columns would store text as numbers, and in what order rows come.

#include <QString>
#include <QStringList>
#include <vector>

#include "store/Database.h"
#include "store/SqliteStatement.h"

namespace vorelta {

QString QuoteIdentifier(QString name);
// The table or view a "select ... from <name> ..." statement reads, unquoted; empty when the
// source has no such form.
QString SourceObjectOf(const QString& source);

struct TableColumns {
    QStringList names;
    QStringList declaredTypes;
};

// The columns a table really has, hidden ones included, with their declared types.
TableColumns ColumnsOf(sqlite3* db, const QString& table);
// A name for the table's row id that no column of its own shadows; empty when every one is
// taken, and the rows then cannot be told apart.
QString RowIdNameOf(const TableColumns& columns);
// For each of the statement's columns, whether the table would store text put into it as a
// number.
std::vector<bool> NumericColumnsOf(const TableColumns& table, const std::vector<QString>& names);
// The statement with the row id selected in front of its columns.
QString WithRowId(const QString& source, const QString& rowIdName);
// The table whose rows the statement delivers, when it reads one table directly (not through a
// view); empty otherwise.
QString TableBehind(sqlite3_stmt* statement, const QString& source);
// The keyed form of a statement; null when the table has no row ids at all (WITHOUT ROWID).
Statement PrepareKeyed(sqlite3* db, const QString& keyed);
// Whether rows added to the table come last in what the source delivers.
bool AddsAtTheEnd(sqlite3* db, const QString& source);
// Whether an insert into the table changes the one row it adds and nothing SQLite leaves
// uncounted: no REPLACE conflict clause (on a column, a unique constraint or the primary key,
// or in a trigger) deletes a row in its place.
bool CountsEveryChange(sqlite3* db, const QString& table);

}  // namespace vorelta
