#include "windows/main/KeywordScanner.h"

#include "store/Module1.h"

namespace vorelta {

ScanResult KeywordScanner::Scan(Recordset& keywords, const QString& normalised) {
    keywords.Requery();
    if (indexed_ != &keywords || indexedVersion_ != keywords.Version()) {
        check_.Forget();
        indexed_ = &keywords;
        indexedVersion_ = keywords.Version();
    }
    return check_.Check(keywords.Column(kKeynameField), normalised);
}

}  // namespace vorelta
