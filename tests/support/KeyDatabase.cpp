#include "tests/support/KeyDatabase.h"

#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <stdexcept>

#include "store/Module1.h"

namespace vorelta::test {

namespace {

struct Db {
    explicit Db(const QString& path) { check(sqlite3_open(path.toUtf8().constData(), &db)); }
    ~Db() { sqlite3_close(db); }

    // A fixture that failed to write must not pass for an empty table.
    void check(int rc) const {
        if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
            throw std::runtime_error(std::string("test database: ") + sqlite3_errmsg(db));
        }
    }

    sqlite3* db = nullptr;
};

}  // namespace

TempProgramDir::TempProgramDir() : path_(dir_.path()) {}

TempProgramDir::TempProgramDir(const QString& folderName) : path_(dir_.path() + u'/' + folderName) {
    if (!QDir().mkpath(path_)) {
        throw std::runtime_error("cannot create the program directory");
    }
}

QString TempProgramDir::keyDatabase() const {
    return KeyDatabasePath(path_);
}

bool TempProgramDir::hasKeyDatabase() const {
    return QFile::exists(keyDatabase());
}

void TempProgramDir::exec(const std::string& sql) const {
    Db db(keyDatabase());
    char* message = nullptr;
    if (sqlite3_exec(db.db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : "sqlite error";
        sqlite3_free(message);
        throw std::runtime_error(text);
    }
}

void TempProgramDir::createWithSql(const std::string& sql) {
    exec(sql);
}

void TempProgramDir::createKeys(const std::vector<FieldValue>& rows) {
    exec("create table keys (keyname text)");
    insertKeys(rows);
}

void TempProgramDir::insertKeys(const std::vector<FieldValue>& rows) {
    Db db(keyDatabase());
    db.check(sqlite3_exec(db.db, "begin", nullptr, nullptr, nullptr));
    sqlite3_stmt* insert = nullptr;
    db.check(
        sqlite3_prepare_v2(db.db, "insert into keys (keyname) values (?)", -1, &insert, nullptr));
    for (const FieldValue& row : rows) {
        const QByteArray utf8 = row ? row->toUtf8() : QByteArray();
        db.check(
            row ? sqlite3_bind_text(insert, 1, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT)
                : sqlite3_bind_null(insert, 1));
        const int rc = sqlite3_step(insert);
        sqlite3_reset(insert);
        db.check(rc);
    }
    sqlite3_finalize(insert);
    db.check(sqlite3_exec(db.db, "commit", nullptr, nullptr, nullptr));
}

std::vector<FieldValue> TempProgramDir::storedKeys() const {
    return column("select keyname from keys order by rowid");
}

std::vector<FieldValue> TempProgramDir::column(const std::string& sql) const {
    Db db(keyDatabase());
    sqlite3_stmt* select = nullptr;
    db.check(sqlite3_prepare_v2(db.db, sql.c_str(), -1, &select, nullptr));
    std::vector<FieldValue> values;
    int rc;
    while ((rc = sqlite3_step(select)) == SQLITE_ROW) {
        if (sqlite3_column_type(select, 0) == SQLITE_NULL) {
            values.emplace_back();
        } else {
            values.emplace_back(
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(select, 0)),
                                  sqlite3_column_bytes(select, 0)));
        }
    }
    sqlite3_finalize(select);
    db.check(rc);
    return values;
}

QByteArray TempProgramDir::fileBytes() const {
    QFile file(keyDatabase());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList TempProgramDir::files() const {
    return QDir(path_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                                 QDir::Name);
}

void TempProgramDir::writeFile(const QByteArray& bytes) {
    QFile file(keyDatabase());
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        throw std::runtime_error("cannot write key.mdb");
    }
}

std::vector<FieldValue> NumberedKeywords(int count) {
    std::vector<FieldValue> keywords;
    keywords.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i) {
        keywords.emplace_back(QStringLiteral(u"关键字%1").arg(i));
    }
    return keywords;
}

}  // namespace vorelta::test
