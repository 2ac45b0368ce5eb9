#include "windows/main/MessageCheck.h"

#include "base/Text.h"
#include "store/Module1.h"
#include "windows/main/KeywordMatcher.h"

namespace vorelta {

QString WithinLimitText(qsizetype length) {
    return QStringLiteral(u"允许最大70个字符，当前%1个").arg(length);
}

QString OverLimitText(qsizetype length) {
    return QStringLiteral(u"超出范围，当前%1个,双击这里自动剪切到70个").arg(length);
}

QString NormaliseMessage(const QString& message) {
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
    std::vector<QString> hitKeywords;
    hitKeywords.reserve(hits.rows.size());
    for (const std::size_t row : hits.rows) {
        hitKeywords.push_back(*keywords[row]);
    }
    return {std::int32_t(hits.rows.size()), HitReport(keywords, hits.rows), std::move(hitKeywords),
            std::move(hits.runs)};
}

}  // namespace

KeywordScanner::KeywordScanner() = default;
KeywordScanner::~KeywordScanner() = default;

ScanResult KeywordScanner::Scan(Recordset& keywords, const QString& normalised) {
    keywords.Requery();
    const std::vector<FieldValue>& column = keywords.Column(kKeynameField);
    if (normalised.size() > kShortMessageLimit) {
        return ResultOf(column, MatchKeywords(normalised, column));
    }
    if (!index_ || indexed_ != &keywords || indexedVersion_ != keywords.Version()) {
        index_.reset();  // its memory is there for the new one
        index_ = std::make_unique<KeywordIndex>(column);
        indexed_ = &keywords;
        indexedVersion_ = keywords.Version();
    }
    return ResultOf(column, index_->match(normalised));
}

}  // namespace vorelta
