#include "windows/edit/KeywordInsert.h"

#include <QSet>
#include <exception>

#include "base/Text.h"

namespace vorelta {

namespace {

const QString kLineBreak = QStringLiteral("\r\n");

// Every keyword now in the table, read once instead of looking each line up on its own.
QSet<QString> StoredKeywords(Connection& connection) {
    Recordset stored;
    stored.Open(sql::kSelectKeynames, connection, adOpenKeyset, adLockReadOnly,
                adOptionUnspecified);
    const std::vector<FieldValue>& column = stored.Column(kKeynameField);
    QSet<QString> keywords;
    keywords.reserve(qsizetype(column.size()));
    for (const FieldValue& value : column) {
        if (value) {
            keywords.insert(*value);
        }
    }
    return keywords;
}

void InsertKeywords(Module1& state, const std::vector<QStringView>& lines, std::int32_t& added) {
    QSet<QString> stored = StoredKeywords(state.KeyConnection);
    for (const QStringView line : lines) {
        const QStringView trimmed = TrimBlanks(line);
        if (trimmed.isEmpty()) {
            continue;
        }
        QString keyword = trimmed.toString();
        if (stored.contains(keyword)) {
            continue;
        }
        state.KeyRecordset.AddNew();
        state.KeyRecordset.Fields(kKeynameField).SetValue(keyword);
        state.KeyRecordset.Update();
        stored.insert(std::move(keyword));
        ++added;
    }
}

// Stores the transaction's rows; when that is not possible nothing of it was stored. SQLite may
// also have rolled it back by itself after a fatal error (a full disk, for one).
void CommitStoredRows(Connection& connection, std::int32_t& added) {
    try {
        if (connection.InTransaction()) {
            connection.CommitTrans();
        } else {
            added = 0;
        }
    } catch (...) {
        added = 0;
        if (connection.InTransaction()) {
            connection.RollbackTrans();
        }
        throw;
    }
}

}  // namespace

std::vector<QStringView> KeywordLines(QStringView text) {
    std::vector<QStringView> lines;
    if (text.isEmpty()) {
        return lines;
    }
    qsizetype start = 0;
    for (qsizetype at; (at = text.indexOf(kLineBreak, start)) >= 0; start = at + 2) {
        lines.push_back(text.mid(start, at - start));
    }
    lines.push_back(text.mid(start));
    return lines;
}

void StoreNewKeywords(Module1& state, const std::vector<QStringView>& lines, std::int32_t& added) {
    added = 0;
    state.KeyConnection.BeginTrans();
    std::exception_ptr failure;
    try {
        InsertKeywords(state, lines, added);
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        // Also after an error: the rows stored before it stay.
        CommitStoredRows(state.KeyConnection, added);
    } catch (...) {
        if (!failure) {
            failure = std::current_exception();
        }
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

}  // namespace vorelta
