#include "store/SqliteStatement.h"

#include <sqlite3.h>

#include "store/TextCodec.h"

namespace vorelta {

namespace {

QString DescribeResultCode(int primaryCode) {
    switch (primaryCode) {
        case SQLITE_ERROR:
            return QStringLiteral(u"数据库语句执行失败");
        case SQLITE_PERM:
            return QStringLiteral(u"没有访问数据库文件的权限。");
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return kListBeingChangedText;
        case SQLITE_NOMEM:
            return QStringLiteral(u"内存不足。");
        case SQLITE_READONLY:
            return QStringLiteral(u"数据库文件是只读的，无法保存更改。");
        case SQLITE_IOERR:
            return QStringLiteral(u"读写数据库文件时出错。");
        case SQLITE_CORRUPT:
            return QStringLiteral(u"数据库文件已损坏。");
        case SQLITE_FULL:
            return QStringLiteral(u"磁盘已满，无法保存更改。");
        case SQLITE_CANTOPEN:
            return QStringLiteral(u"无法打开数据库文件。");
        case SQLITE_CONSTRAINT:
            return QStringLiteral(u"违反数据库约束");
        case SQLITE_MISMATCH:
            return QStringLiteral(u"数据类型不匹配");
        case SQLITE_NOTADB:
            return QStringLiteral(u"文件不是有效的数据库。");
        default:
            return QStringLiteral(u"数据库错误");
    }
}

// Causes a user can act on are told in words alone; for the others SQLite's own detail (such
// as the name of a missing table) follows.
bool DetailHelps(int primaryCode) {
    switch (primaryCode) {
        case SQLITE_ERROR:
        case SQLITE_CONSTRAINT:
        case SQLITE_MISMATCH:
            return true;
        default:
            return false;
    }
}

}  // namespace

RuntimeError SqliteError(sqlite3* db, int resultCode) {
    const int code = db ? sqlite3_extended_errcode(db) : resultCode;
    QString description = DescribeResultCode(code & 0xff);
    if (DetailHelps(code & 0xff) || description == QStringLiteral(u"数据库错误")) {
        const char* detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(resultCode);
        description += QStringLiteral(u"：") + QString::fromUtf8(detail);
    }
    return RuntimeError(code, description);
}

Statement Prepare(sqlite3* db, const QString& sql) {
    sqlite3_stmt* raw = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    const int rc = sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &raw, nullptr);
    Statement statement(raw);
    if (rc != SQLITE_OK) {
        throw SqliteError(db, rc);
    }
    return statement;
}

// A UTF-16 text that starts like a byte order mark gets one more in front: SQLite takes the
// first unit of bound UTF-16 for one (dropping U+FEFF, or reading the rest byte-swapped after
// U+FFFE) and removes only that one.
namespace {

bool LooksLikeByteOrderMark(QStringView text) {
    return !text.isEmpty() && (text.front() == QChar(0xFEFF) || text.front() == QChar(0xFFFE));
}

}  // namespace

// Binds the text in the database's own encoding, so that SQLite converts nothing. The bytes are
// kept in `bytes`, which must outlive the statement's next step: SQLite reads them there
// instead of copying them.
void BindText(sqlite3* db, sqlite3_stmt* statement, int index, const FieldValue& value,
              TextEncoding encoding, std::string& bytes) {
    int rc;
    bytes.clear();
    if (!value) {
        rc = sqlite3_bind_null(statement, index);
    } else if (encoding == TextEncoding::Utf8) {
        AppendStoredText(*value, bytes);
        rc = sqlite3_bind_text(statement, index, bytes.data(), int(bytes.size()), SQLITE_STATIC);
    } else {
        if (LooksLikeByteOrderMark(*value)) {
            const char16_t mark = 0xFEFF;
            bytes.append(reinterpret_cast<const char*>(&mark), sizeof mark);
        }
        bytes.append(reinterpret_cast<const char*>(value->utf16()),
                     std::size_t(value->size()) * sizeof(char16_t));
        rc = sqlite3_bind_text16(statement, index, bytes.data(), int(bytes.size()), SQLITE_STATIC);
    }
    if (rc != SQLITE_OK) {
        throw SqliteError(db, rc);
    }
}

// A column of the current row as text, read in the database's own encoding so that SQLite
// converts nothing: every character is read as it was stored. Numbers and blobs read as the
// text SQLite gives for them; Null stays Null.
FieldValue ReadText(sqlite3_stmt* statement, int column, TextEncoding encoding) {
    if (encoding == TextEncoding::Utf8) {
        // No text for Null alone (and an empty blob): the type is asked only then, which saves
        // a call for every other row of a read of the whole table.
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        if (!text && sqlite3_column_type(statement, column) == SQLITE_NULL) {
            return std::nullopt;
        }
        return ReadStoredText(text, sqlite3_column_bytes(statement, column));
    }
    if (sqlite3_column_type(statement, column) == SQLITE_NULL) {
        return std::nullopt;
    }
    // Not QString::fromUtf16, which would take a leading U+FEFF or U+FFFE for a byte order mark.
    const auto* units = static_cast<const QChar*>(sqlite3_column_text16(statement, column));
    return QString(units, sqlite3_column_bytes16(statement, column) / qsizetype(sizeof(QChar)));
}

// Binds each '?' of the statement to the next parameter, as text.
void BindParameters(sqlite3* db, sqlite3_stmt* statement, const std::vector<QString>& parameters,
                    TextEncoding encoding, std::vector<std::string>& bytes) {
    bytes.resize(parameters.size());
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        BindText(db, statement, int(i + 1), parameters[i], encoding, bytes[i]);
    }
}

TextEncoding EncodingOf(sqlite3* db) {
    Statement pragma = Prepare(db, QStringLiteral("pragma encoding"));
    if (sqlite3_step(pragma.get()) != SQLITE_ROW) {
        throw SqliteError(db, sqlite3_errcode(db));
    }
    const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(pragma.get(), 0));
    return qstrcmp(name, "UTF-8") == 0 ? TextEncoding::Utf8 : TextEncoding::Utf16;
}

bool IsEmptyDatabase(sqlite3* db) {
    const Statement pages = Prepare(db, QStringLiteral("pragma page_count"));
    return sqlite3_step(pages.get()) == SQLITE_ROW && sqlite3_column_int64(pages.get(), 0) == 0;
}

void StatementDeleter::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

}  // namespace vorelta
