#pragma once

#include <QString>
#include <cstdint>

#include "check/MessageCheck.h"
#include "store/Database.h"

namespace vorelta {

// The check as the window runs it: against the rows of the shared recordset, brought up to date
// first, with the check's indexes kept while those rows are unchanged.
class KeywordScanner {
public:
    ScanResult Scan(Recordset& keywords, const QString& normalised);

private:
    KeywordCheck check_;
    const Recordset* indexed_ = nullptr;
    std::uint64_t indexedVersion_ = 0;
};

}  // namespace vorelta
