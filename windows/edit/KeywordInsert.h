#pragma once

// The keyword manager's logic that needs no widget: splitting the typed text into keywords and
// storing those not stored yet.

#include <QStringView>
#include <cstdint>
#include <vector>

#include "store/Module1.h"

namespace vorelta {

// The lines of the text, split at every CR LF and nowhere else: a lone CR or LF stays inside
// its line. An empty text has no lines; a text ending in CR LF ends with an empty line.
std::vector<QStringView> KeywordLines(QStringView text);

// Stores each line, trimmed of its blanks, through the shared recordset, skipping blank lines
// and keywords already stored (also those stored by earlier lines of the same input). All rows
// of one call are written in one transaction.
//
// `added` counts the rows stored. When an error ends the insert, the rows stored before it are
// committed first and `added` counts exactly those; then the error goes on to the caller. A
// cancel stores nothing.
// A line whose text the database has no form for (half of a surrogate pair or a NUL, on a
// server that stores UTF-8) is left out and its number, from 1, goes to `refusedLines`; the others
// are stored.
void StoreNewKeywords(Module1& state, const std::vector<QStringView>& lines, std::int32_t& added,
                      std::vector<std::size_t>& refusedLines);

}  // namespace vorelta
