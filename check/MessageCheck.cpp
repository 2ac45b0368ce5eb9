#include "check/MessageCheck.h"

#include <algorithm>
#include <future>
#include <system_error>

#include "base/Text.h"
#include "check/KeywordMatcher.h"
#include "check/NearMissMatcher.h"

namespace vorelta {

QString WithinLimitText(qsizetype length) {
    return QStringLiteral(u"允许最大70个字符，当前%1个").arg(length);
}

QString OverLimitText(qsizetype length) {
    return QStringLiteral(u"超出范围，当前%1个,双击这里自动剪切到70个").arg(length);
}

QString NormaliseMessage(const QString& message) {
    // Most messages hold no blank and no line break: they are kept as they are, without a copy.
    if (std::none_of(message.begin(), message.end(),
                     [](QChar c) { return c == kBlank || c == u'\r'; })) {
        return message;
    }
    QString normalised = TrimBlanks(message).toString();
    normalised.remove(kLineBreak);
    normalised.remove(QChar(kBlank));
    return normalised;
}

QString HitReport(const std::vector<FieldValue>& keywords, const std::vector<std::size_t>& hits) {
    QString report = QStringLiteral(u"找到关键字:") + kLineBreak;
    for (const std::size_t row : hits) {
        report += *keywords[row] + kLineBreak;
    }
    report += QStringLiteral(u"检测到%1条关键字,请更改").arg(hits.size());
    return report;
}

namespace {

ScanResult ResultOf(const std::vector<FieldValue>& keywords, KeywordHits hits) {
    if (hits.rows.empty()) {
        return {};
    }
    ScanResult result;
    result.hitCount = std::int32_t(hits.rows.size());
    result.report = HitReport(keywords, hits.rows);
    result.keywords.reserve(hits.rows.size());
    for (const std::size_t row : hits.rows) {
        result.keywords.push_back(*keywords[row]);
    }
    result.runs = std::move(hits.runs);
    return result;
}

}  // namespace

QString NearMissReport(const QStringList& lines) {
    return QStringLiteral(u"注意：另有%1处近似关键字，可能被拦截:").arg(lines.size()) + kLineBreak +
           lines.join(kLineBreak);
}

namespace {

std::future<std::unique_ptr<NearMissIndex>> StartBuilding(const std::vector<FieldValue>& column) {
    const auto build = [&column] { return std::make_unique<NearMissIndex>(column); };
    try {
        return std::async(std::launch::async, build);
    } catch (const std::system_error&) {
        return std::async(std::launch::deferred, build);  // no thread to be had: in line
    }
}

}  // namespace

KeywordCheck::KeywordCheck() = default;
KeywordCheck::~KeywordCheck() = default;

void KeywordCheck::Forget() {
    index_.reset();
    nearMissIndex_.reset();
}

ScanResult KeywordCheck::Check(const std::vector<FieldValue>& keywords, const QString& normalised) {
    // After a change the folded keywords are built on a second thread while the exact match
    // runs: the first check then costs about what the exact one alone did.
    std::future<std::unique_ptr<NearMissIndex>> folding;
    if (!nearMissIndex_ && !normalised.isEmpty()) {
        folding = StartBuilding(keywords);
    }
    KeywordHits hits;
    if (normalised.size() > kShortMessageLimit) {
        hits = MatchKeywords(normalised, keywords);
    } else {
        if (!index_) {
            index_ = std::make_unique<KeywordIndex>(keywords);
        }
        hits = index_->match(normalised);
    }
    if (folding.valid()) {
        nearMissIndex_ = folding.get();
    }
    const std::vector<std::size_t> hitRows = hits.rows;
    ScanResult result = ResultOf(keywords, std::move(hits));
    findNearMisses(keywords, normalised, hitRows, result);
    return result;
}

void KeywordCheck::findNearMisses(const std::vector<FieldValue>& column, const QString& normalised,
                                  const std::vector<std::size_t>& hitRows, ScanResult& result) {
    if (normalised.isEmpty()) {
        return;
    }
    if (!nearMissIndex_) {
        nearMissIndex_ = std::make_unique<NearMissIndex>(column);
    }
    NearMisses found = nearMissIndex_->find(normalised, column, hitRows);
    if (found.rows.empty()) {
        return;
    }
    QStringList lines;
    for (const NearMiss& nearMiss : found.rows) {
        lines << NearMissLine(normalised, nearMiss, *column[nearMiss.row]);
        result.nearMissKeywords.push_back(*column[nearMiss.row]);
        result.nearMissesWritten.push_back(normalised.sliced(
            nearMiss.written.start, nearMiss.written.end - nearMiss.written.start));
    }
    result.nearMissReport = NearMissReport(lines);
    result.nearMissRuns = std::move(found.runs);
}

}  // namespace vorelta
