#pragma once

// The straightforward scan, kept as the reference the real one must agree with: every row in
// table order, each tested with a plain substring search.

#include <QString>
#include <vector>

#include "check/MessageCheck.h"
#include "store/Database.h"

namespace vorelta::test {

// The rows that are hits, in row order.
std::vector<std::size_t> RowByRowHits(const QString& message,
                                      const std::vector<FieldValue>& keywords);

// The stretches of the message covered by occurrences of non-empty keywords, found by marking
// every code unit each occurrence covers.
std::vector<TextRun> RowByRowRuns(const QString& message, const std::vector<FieldValue>& keywords);

// The whole scan over the table, walking the recordset row by row.
ScanResult RowByRowScan(Connection& connection, const QString& normalised);

// The window's check with nothing kept from an earlier one: the table read anew through a
// recordset of its own, then matched. What a check costs after any change.
ScanResult ScanReadingAnew(Connection& connection, const QString& normalised);

}  // namespace vorelta::test
