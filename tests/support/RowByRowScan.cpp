#include "tests/support/RowByRowScan.h"

#include "store/Module1.h"

namespace vorelta::test {

namespace {
bool IsHit(const QString& message, const FieldValue& keyword) {
    return !message.isEmpty() && keyword && (keyword->isEmpty() || message.indexOf(*keyword) >= 0);
}
}  // namespace

std::vector<std::size_t> RowByRowHits(const QString& message,
                                      const std::vector<FieldValue>& keywords) {
    std::vector<std::size_t> hits;
    for (std::size_t row = 0; row < keywords.size(); ++row) {
        if (IsHit(message, keywords[row])) {
            hits.push_back(row);
        }
    }
    return hits;
}

ScanResult RowByRowScan(Connection& connection, const QString& normalised) {
    ScanResult result;
    QString report = QStringLiteral(u"找到关键字:\r\n");
    Recordset keywords;
    keywords.Open(sql::kSelectAllKeys, connection, adOpenKeyset, adLockOptimistic);
    for (; !keywords.Eof(); keywords.MoveNext()) {
        const FieldValue& keyword = keywords.Fields(kKeynameField).Value();
        if (IsHit(normalised, keyword)) {
            ++result.hitCount;
            report += *keyword + QStringLiteral("\r\n");
        }
    }
    if (result.hitCount > 0) {
        result.report = report + QStringLiteral(u"检测到%1条关键字,请更改").arg(result.hitCount);
    }
    return result;
}

}  // namespace vorelta::test
