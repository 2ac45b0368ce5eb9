#pragma once

// The state every window shares: the one connection to key.mdb, the long-lived recordset that
// receives insertions, and the keyword count as the program tracks it. Also every SQL text.

#include <QString>
#include <cstdint>
#include <future>

#include "store/Database.h"
#include "store/KeywordSource.h"
#include "store/KeywordTable.h"

namespace vorelta {

namespace sql {
// Start-up and the check read the whole table through this text (note the trailing blank).
inline const QString kSelectAllKeys = QStringLiteral("select * from ") + kKeywordTable + u' ';
}  // namespace sql

// The full path of key.mdb in the program directory.
QString KeyDatabasePath(const QString& appPath);
// Where the keywords are (see FindKeywordSource): the server a vorelta.conf names, or else
// key.mdb in the program directory. Throws what FindKeywordSource throws.
DataSource KeyDataSource(const QString& appPath);
// What start-up failures add to say where the keywords were looked for: key.mdb's full path,
// or the vorelta.conf that named the server (the failure itself names the server); nothing when
// vorelta.conf itself is at fault, which its own error names.
QString KeyStoreLocation(const QString& appPath);

struct Module1 {
    Module1() = default;
    Module1(const Module1&) = delete;
    Module1& operator=(const Module1&) = delete;
    // The opening thread writes the connection and the recordset: it ends before they go,
    // whatever order the members are declared in.
    ~Module1();

    Connection KeyConnection;
    Recordset KeyRecordset;
    // 32-bit: a table of 32768 or more keywords is counted like any other.
    std::int32_t KeyCount = 0;
    // Where the keywords come from, for the About window; set by the overloads that take it.
    KeywordSource Source;
    // While StartOpeningKeyStore's thread runs; the next OpenKeyStore waits for it.
    std::future<void> opening;
};

// The start-up's work on the shared state: opens the connection and the shared recordset over
// the whole table and sets KeyCount from it. A table without the keyword column is refused
// here, where the failure names the file, rather than by an error at every check.
//
// After StartOpeningKeyStore, it waits for that opening instead, of the data source given
// there, and raises the same errors.
void OpenKeyStore(Module1& state, const DataSource& source);
// The same over a source found by FindKeywordSource, which the state keeps.
void OpenKeyStore(Module1& state, const KeywordSource& source);

// Starts OpenKeyStore on a thread of its own and returns at once: counting a million keywords
// takes about as long as building the main window, and the two then run side by side. Nothing
// may touch the state until the next OpenKeyStore has returned. Where no thread can be started,
// that OpenKeyStore opens the store itself.
void StartOpeningKeyStore(Module1& state, const DataSource& source);
void StartOpeningKeyStore(Module1& state, const KeywordSource& source);

}  // namespace vorelta
