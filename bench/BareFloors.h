#pragma once

// Floors that more than one benchmark program measures against.

#include <sqlite3.h>

#include <QStringList>

namespace vorelta::bench {

// Every line inserted by one prepared statement in one transaction.
[[gnu::noinline]] inline void InsertLinesBare(sqlite3* db, const QStringList& lines) {
    sqlite3_exec(db, "begin immediate", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "insert into keys (keyname) values (?)", -1, &insert, nullptr);
    for (const QString& line : lines) {
        const QByteArray utf8 = line.toUtf8();
        sqlite3_bind_text(insert, 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
}

}  // namespace vorelta::bench
