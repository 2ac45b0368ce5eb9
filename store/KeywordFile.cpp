#include "store/KeywordFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QStringDecoder>

#include "base/Text.h"
#include "store/TextCodec.h"

namespace vorelta {

namespace {

constexpr int kFileError = 75;  // the runtime's "path/file access error"

RuntimeError FileError(const QString& why, const QString& path) {
    return RuntimeError(kFileError, why.arg(QDir::toNativeSeparators(path)));
}

// Every line end as CR LF, none at the end.
QString WithCrLfLineBreaks(QStringView text) {
    QString result;
    result.reserve(text.size() + text.size() / 8);
    const qsizetype end = text.size();
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < end; ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n') {
            continue;
        }
        result += text.sliced(lineStart, i - lineStart);
        if (c == u'\r' && i + 1 < end && text[i + 1] == u'\n') {
            ++i;
        }
        if (i + 1 < end) {
            result += kLineBreak;
        }
        lineStart = i + 1;
    }
    result += text.sliced(lineStart);
    return result;
}

QString Decode(QStringConverter::Encoding encoding, QByteArrayView bytes) {
    QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
    return decoder(bytes);
}

// Whether a keyword comes back from a line of the file as it is stored.
bool SurvivesALine(QStringView keyword) {
    if (keyword.isEmpty() || TrimBlanks(keyword).size() != keyword.size() ||
        keyword.contains(u'\r') || keyword.contains(u'\n') || keyword.contains(QChar(0))) {
        return false;
    }
    for (qsizetype i = 0; i < keyword.size(); ++i) {
        const QChar c = keyword[i];
        if (c.isHighSurrogate() && i + 1 < keyword.size() && keyword[i + 1].isLowSurrogate()) {
            ++i;
        } else if (c.isSurrogate()) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<QString> DecodeKeywordFile(QByteArrayView bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes = bytes.sliced(3);
    } else if (bytes.startsWith("\xFF\xFE")) {
        return WithCrLfLineBreaks(Decode(QStringConverter::Utf16LE, bytes.sliced(2)));
    } else if (bytes.startsWith("\xFE\xFF")) {
        return WithCrLfLineBreaks(Decode(QStringConverter::Utf16BE, bytes.sliced(2)));
    }
    if (bytes.contains('\0')) {
        return std::nullopt;
    }
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8(bytes);
    if (utf8.hasError()) {
        QStringDecoder gb18030("GB18030", QStringConverter::Flag::Stateless);
        text = gb18030(bytes);
    }
    return WithCrLfLineBreaks(text);
}

QString ReadKeywordFile(const QString& path) {
    if (QFileInfo(path).isDir()) {
        throw FileError(QStringLiteral(u"“%1”是文件夹，不是文本文件。"), path);
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw FileError(QStringLiteral(u"无法读取文件“%1”。"), path);
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        throw FileError(QStringLiteral(u"无法读取文件“%1”。"), path);
    }
    std::optional<QString> text = DecodeKeywordFile(bytes);
    if (!text) {
        throw FileError(QStringLiteral(u"“%1”不是文本文件。"), path);
    }
    return *std::move(text);
}

int WriteKeywordFile(const QString& path, const std::vector<FieldValue>& keywords) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        throw FileError(QStringLiteral(u"无法写入文件“%1”。"), path);
    }
    // One buffer for the whole list: a million keywords, one allocation.
    std::string bytes("\xEF\xBB\xBF");
    std::size_t units = 0;
    for (const FieldValue& keyword : keywords) {
        units += std::size_t(keyword ? keyword->size() : 0) + 2;
    }
    bytes.reserve(3 + 3 * units);
    QSet<QStringView> written;
    written.reserve(qsizetype(keywords.size()));
    int changed = 0;
    for (const FieldValue& keyword : keywords) {
        const QStringView text = keyword ? QStringView(*keyword) : QStringView();
        AppendUtf8(text, bytes);
        bytes += "\r\n";
        const qsizetype before = written.size();
        if (!SurvivesALine(text) || (written.insert(text), written.size() == before)) {
            ++changed;
        }
    }
    if (file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()) || !file.commit()) {
        throw FileError(QStringLiteral(u"无法写入文件“%1”。"), path);
    }
    return changed;
}

}  // namespace vorelta
