#include "tests/support/RowByRowScan.h"

#include "store/Module1.h"
#include "windows/main/KeywordScanner.h"

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

std::vector<TextRun> RowByRowRuns(const QString& message, const std::vector<FieldValue>& keywords) {
    std::vector<bool> covered(std::size_t(message.size()), false);
    for (const FieldValue& keyword : keywords) {
        for (qsizetype at = keyword && !keyword->isEmpty() ? message.indexOf(*keyword) : -1;
             at >= 0; at = message.indexOf(*keyword, at + 1)) {
            std::fill_n(covered.begin() + at, keyword->size(), true);
        }
    }
    std::vector<TextRun> runs;
    for (qsizetype i = 0; i < message.size(); ++i) {
        if (!covered[std::size_t(i)]) {
            continue;
        }
        if (runs.empty() || runs.back().end < i) {
            runs.push_back({i, i});
        }
        runs.back().end = i + 1;
    }
    return runs;
}

ScanResult RowByRowScan(Connection& connection, const QString& normalised) {
    ScanResult result;
    QString report = QStringLiteral(u"找到关键字:\r\n");
    Recordset keywords;
    keywords.Open(sql::kSelectAllKeys, connection, adLockOptimistic);
    std::vector<FieldValue> walked;
    for (; !keywords.Eof(); keywords.MoveNext()) {
        const FieldValue& keyword = keywords.Fields(kKeynameField).Value();
        walked.push_back(keyword);
        if (IsHit(normalised, keyword)) {
            ++result.hitCount;
            report += *keyword + QStringLiteral("\r\n");
            result.keywords.push_back(*keyword);
        }
    }
    if (result.hitCount > 0) {
        result.report = report + QStringLiteral(u"检测到%1条关键字,请更改").arg(result.hitCount);
        result.runs = RowByRowRuns(normalised, walked);
    }
    return result;
}

ScanResult ScanReadingAnew(Connection& connection, const QString& normalised) {
    Recordset keywords;
    keywords.Open(sql::kSelectAllKeys, connection, adLockOptimistic, adOptionUnspecified);
    return KeywordScanner().Scan(keywords, normalised);
}

}  // namespace vorelta::test
