#include "store/SourceSql.h"

#include <sqlite3.h>

#include <QRegularExpression>
#include <cstring>

#include "store/SqliteStatement.h"

namespace vorelta {

namespace {

// What a column's declared type makes of text stored in it: integer, real and numeric
// affinity turn "007" into 7, text and blob affinity keep it. The rules are SQLite's own.
bool StoresTextAsNumber(const QString& declaredType) {
    const QString type = declaredType.toUpper();
    if (type.contains(u"INT")) {
        return true;
    }
    if (type.contains(u"CHAR") || type.contains(u"CLOB") || type.contains(u"TEXT") ||
        type.contains(u"BLOB") || type.trimmed().isEmpty()) {
        return false;
    }
    return true;  // REAL, FLOA, DOUB and everything else: real or numeric
}

}  // namespace

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

// The columns a table really has, hidden ones included, with their declared types.
TableColumns ColumnsOf(sqlite3* db, const QString& table) {
    Statement info =
        Prepare(db, QStringLiteral("pragma table_xinfo(%1)").arg(QuoteIdentifier(table)));
    TableColumns columns;
    int rc;
    const auto text = [&](int field) {
        return QString::fromUtf8(
            reinterpret_cast<const char*>(sqlite3_column_text(info.get(), field)));
    };
    while ((rc = sqlite3_step(info.get())) == SQLITE_ROW) {
        columns.names << text(1);
        columns.declaredTypes << text(2);
    }
    if (rc != SQLITE_DONE) {
        throw SqliteError(db, rc);
    }
    return columns;
}

// A name for the table's row id that no column of its own shadows; empty when every one is
// taken, and the rows then cannot be told apart.
QString RowIdNameOf(const TableColumns& columns) {
    for (const char* alias : {"_rowid_", "rowid", "oid"}) {
        if (!columns.names.contains(QLatin1String(alias), Qt::CaseInsensitive)) {
            return QLatin1String(alias);
        }
    }
    return {};
}

// For each of the statement's columns, whether the table would store text put into it as a
// number.
std::vector<bool> NumericColumnsOf(const TableColumns& table, const std::vector<QString>& names) {
    std::vector<bool> numeric;
    for (const QString& name : names) {
        bool isNumeric = false;
        for (qsizetype c = 0; c < table.names.size(); ++c) {
            if (table.names[c].compare(name, Qt::CaseInsensitive) == 0) {
                isNumeric = StoresTextAsNumber(table.declaredTypes[c]);
                break;
            }
        }
        numeric.push_back(isNumeric);
    }
    return numeric;
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

// Whether rows added to the table come last in what the source delivers: true of a plain scan
// of a table, not of one that SQLite answers from an index, in the index's order.
bool AddsAtTheEnd(sqlite3* db, const QString& source) {
    Statement plan = Prepare(db, QStringLiteral("explain query plan ") + source);
    bool plainScan = true;
    while (sqlite3_step(plan.get()) == SQLITE_ROW) {
        const auto* detail = reinterpret_cast<const char*>(sqlite3_column_text(plan.get(), 3));
        plainScan = plainScan && detail && !std::strstr(detail, "INDEX");
    }
    return plainScan;
}

bool CountsEveryChange(sqlite3* db, const QString& table) {
    // SQLite leaves the rows a REPLACE removes out of its change counts. Any mention of the
    // word in the table's schema counts: a false alarm only costs a reading.
    Statement replaces = Prepare(db, QStringLiteral("select count(*) from sqlite_master where "
                                                    "tbl_name = ? collate nocase and "
                                                    "sql like '%replace%'"));
    const QByteArray name = table.toUtf8();
    sqlite3_bind_text(replaces.get(), 1, name.constData(), int(name.size()), SQLITE_STATIC);
    const int rc = sqlite3_step(replaces.get());
    if (rc != SQLITE_ROW) {
        throw SqliteError(db, rc);
    }
    return sqlite3_column_int64(replaces.get(), 0) == 0;
}

}  // namespace vorelta
