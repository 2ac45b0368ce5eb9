// The batch check's JSON lines: whatever the message and the keywords hold (quotes, controls,
// lone surrogates), each verdict is one line of JSON that gives them back exactly.
//
// Input: UTF-16 units split at U+0001; the first piece is the message, the others alternate
// between hits and near-misses as written and their keywords.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include "check/BatchCheck.h"
#include "fuzz/FuzzInput.h"

using namespace vorelta;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QStringList pieces = fuzz::Utf16Units(data, size).split(QChar(u'\x01'));
    ScanResult result;
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        if (i % 3 == 1) {
            result.keywords.push_back(pieces[i]);
            ++result.hitCount;
        } else if (i % 3 == 2 && i + 1 < pieces.size()) {
            result.nearMissesWritten.push_back(pieces[i]);
            result.nearMissKeywords.push_back(pieces[i + 1]);
        }
    }
    QByteArray line;
    AppendJsonVerdict(line, 7, pieces.front(), result, pieces.back());
    fuzz::Require(line.endsWith('\n') && line.count('\n') == 1);
    QJsonParseError error{};
    const QJsonObject verdict = QJsonDocument::fromJson(line, &error).object();
    fuzz::Require(error.error == QJsonParseError::NoError);
    fuzz::Require(verdict[u"line"].toInteger() == 7);
    fuzz::Require(verdict[u"message"].toString() == pieces.front());
    fuzz::Require(verdict[u"file"].toString() == pieces.back() || pieces.back().isEmpty());
    const QJsonArray hits = verdict[u"hits"].toArray();
    fuzz::Require(std::size_t(hits.size()) == result.keywords.size());
    for (qsizetype i = 0; i < hits.size(); ++i) {
        fuzz::Require(hits[i].toString() == result.keywords[std::size_t(i)]);
    }
    const QJsonArray nearMisses = verdict[u"near_misses"].toArray();
    fuzz::Require(std::size_t(nearMisses.size()) == result.nearMissKeywords.size());
    for (qsizetype i = 0; i < nearMisses.size(); ++i) {
        fuzz::Require(
            nearMisses[i][u"written"].toString() == result.nearMissesWritten[std::size_t(i)] &&
            nearMisses[i][u"keyword"].toString() == result.nearMissKeywords[std::size_t(i)]);
    }
    return 0;
}
