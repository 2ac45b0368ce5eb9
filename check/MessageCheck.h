#pragma once

// The check of a message, with no widget and no database: the length texts, the normalisation
// of a message, the keyword scan over a column of keywords and its report.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/FieldValue.h"
#include "base/Text.h"

namespace vorelta {

class KeywordIndex;
class NearMissIndex;

// A message may be this many UTF-16 code units long.
inline constexpr qsizetype kLengthLimit = 70;

// "允许最大70个字符，当前" n "个"
QString WithinLimitText(qsizetype length);
// "超出范围，当前" n "个,双击这里自动剪切到70个"
QString OverLimitText(qsizetype length);

inline const QString kCleanVerdict = QStringLiteral(u"没有检测到关键字,可以提交.");
inline const QString kCopiedText = QStringLiteral(u"成功将内容复制,请到目标上粘贴");
// Shown, in red, when the keywords could not be read: the message is not known to be clean.
inline const QString kCheckFailedText =
    QStringLiteral(u"检测没有完成,不能确定是否含有关键字,请勿提交.");

// Trims the blanks (U+0020) at both ends, removes every CR LF pair, then every blank. A CR and
// an LF with only blanks between them thus end up as a pair that stays.
QString NormaliseMessage(const QString& message);

struct ScanResult {
    std::int32_t hitCount = 0;
    QString report;                 // set when there are hits
    std::vector<QString> keywords;  // the hits' keywords, one per hit, as the report lists them
    std::vector<TextRun> runs;      // the stretches of the message their occurrences cover
    // The keywords the message holds only in another form: "注意：另有N处近似关键字，可能被拦截:"
    // and a line "<as written> ≈ <keyword>" each, in table order; empty when there are none.
    QString nearMissReport;
    std::vector<QString> nearMissesWritten;  // each line's near-miss as the message has it
    std::vector<QString> nearMissKeywords;   // and its stored keyword
    std::vector<TextRun> nearMissRuns;       // the stretches every near-miss covers
};

// "注意：另有" n "处近似关键字，可能被拦截:" CR LF, then the lines, one per CR LF.
QString NearMissReport(const QStringList& lines);

// The check of messages against one column of keywords: the exact hits in table order, then
// the near-misses. For a short message the exact hits come through an index of the keywords,
// and the near-misses always through folded keywords; both are kept from check to check, so the
// column must stay as it is until Forget.
class KeywordCheck {
public:
    KeywordCheck();
    ~KeywordCheck();
    // The keywords changed: the kept indexes go, and are built again as messages need them.
    void Forget();
    ScanResult Check(const std::vector<FieldValue>& keywords, const QString& normalised);

private:
    void findNearMisses(const std::vector<FieldValue>& keywords, const QString& normalised,
                        const std::vector<std::size_t>& hitRows, ScanResult& result);

    std::unique_ptr<KeywordIndex> index_;
    std::unique_ptr<NearMissIndex> nearMissIndex_;
};

// "找到关键字:" CR LF, each keyword with CR LF, then "检测到" n "条关键字,请更改".
QString HitReport(const std::vector<FieldValue>& keywords, const std::vector<std::size_t>& hits);

}  // namespace vorelta
