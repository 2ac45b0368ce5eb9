#pragma once

// SQLite's C API as the store uses it: statements, text bound and read in the file's own
// encoding so that SQLite converts nothing, and SQLite's result codes as errors in words.

#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "store/Database.h"
#include "store/StoreErrors.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vorelta {

// A prepared statement, finalized when its holder goes.
struct StatementDeleter {
    void operator()(sqlite3_stmt* statement) const;
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

// How the database stores text; text is bound and read in that form, so nothing is converted.
enum class TextEncoding { Utf8, Utf16 };

// SQLite's result code as the runtime error the user is shown; `db` gives the detail, if any.
RuntimeError SqliteError(sqlite3* db, int resultCode);

Statement Prepare(sqlite3* db, const QString& sql);
// Binds the text in the database's own encoding. The bytes are kept in `bytes`, which must
// outlive the statement's next step: SQLite reads them there instead of copying them.
void BindText(sqlite3* db, sqlite3_stmt* statement, int index, const FieldValue& value,
              TextEncoding encoding, std::string& bytes);
// Binds each '?' of the statement to the next parameter, as text.
void BindParameters(sqlite3* db, sqlite3_stmt* statement, const std::vector<QString>& parameters,
                    TextEncoding encoding, std::vector<std::string>& bytes);
// A column of the current row as text; Null stays Null.
FieldValue ReadText(sqlite3_stmt* statement, int column, TextEncoding encoding);

TextEncoding EncodingOf(sqlite3* db);
// A database without a single page: what SQLite makes of an empty file.
bool IsEmptyDatabase(sqlite3* db);

}  // namespace vorelta
