#include "store/ConfigFile.h"

#include <QList>
#include <QStringDecoder>

namespace vorelta {

namespace {

const QString kNotUtf8 =
    QStringLiteral(u"不是 UTF-8 文本：请把文件存为 UTF-8（或带字节顺序标记的 UTF-16）。");
// A file saved as UTF-16 without its mark reads as UTF-8 with a NUL before or after each letter.
const QString kHasNul =
    QStringLiteral(u"含有空字符：文件可能存成了不带字节顺序标记的 UTF-16，请把文件存为 UTF-8。");

// UTF-8 is decoded line by line so that a byte that belongs to no character is named by its line.
QString DecodeUtf8(QByteArrayView bytes) {
    QString text;
    int number = 1;
    for (qsizetype start = 0; start <= bytes.size(); ++number) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0) {
            end = bytes.size();
        }
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        text += decoder(bytes.sliced(start, end - start));
        if (decoder.hasError()) {
            throw IniError{number, kNotUtf8};
        }
        if (end < bytes.size()) {
            text += u'\n';
        }
        start = end + 1;
    }
    return text;
}

QString DecodeUtf16(QByteArrayView bytes, QStringDecoder::Encoding encoding) {
    QStringDecoder decoder(encoding, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError()) {
        throw IniError{0, QStringLiteral(u"不是完整的 UTF-16 文本。")};
    }
    return text;
}

QString Decode(QByteArrayView bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        return DecodeUtf8(bytes.sliced(3));
    }
    if (bytes.startsWith("\xFF\xFE")) {
        return DecodeUtf16(bytes.sliced(2), QStringDecoder::Utf16LE);
    }
    if (bytes.startsWith("\xFE\xFF")) {
        return DecodeUtf16(bytes.sliced(2), QStringDecoder::Utf16BE);
    }
    return DecodeUtf8(bytes);
}

// The line up to its comment, if it has one.
QStringView WithoutComment(QStringView line) {
    QChar quote;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (!quote.isNull()) {
            if (c == u'\\') {
                ++i;
            } else if (c == quote) {
                quote = QChar();
            }
        } else if (c == u'\'' || c == u'"') {
            quote = c;
        } else if ((c == u';' || c == u'#') && i > 0 && line[i - 1].isSpace()) {
            return line.first(i);
        }
    }
    return line;
}

IniLine SectionOf(QStringView line, int number) {
    if (!line.endsWith(u']')) {
        throw IniError{number, QStringLiteral(u"节名缺少结尾的“]”。")};
    }
    const QString name = line.sliced(1, line.size() - 2).trimmed().toString();
    if (name.isEmpty()) {
        throw IniError{number, QStringLiteral(u"节名是空的。")};
    }
    return {IniLine::Section, number, name, {}};
}

IniLine SettingOf(QStringView line, int number) {
    const qsizetype equals = line.indexOf(u'=');
    if (equals < 0) {
        throw IniError{number,
                       QStringLiteral(u"无法理解：设置应写成“名称=值”，注释行以 ; 或 # 开头。")};
    }
    const QString name = line.first(equals).trimmed().toString();
    if (name.isEmpty()) {
        throw IniError{number, QStringLiteral(u"“=”前面没有设置名。")};
    }
    QStringView value = WithoutComment(line.sliced(equals + 1)).trimmed();
    if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"')) {
        value = value.sliced(1, value.size() - 2);
    }
    return {IniLine::Setting, number, name, value.toString()};
}

}  // namespace

std::vector<IniLine> ReadIni(const QByteArray& bytes) {
    QString text = Decode(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    std::vector<IniLine> lines;
    int number = 0;
    for (const QStringView raw : QStringView(text).split(u'\n')) {
        ++number;
        if (raw.contains(QChar(0))) {
            throw IniError{number, kHasNul};
        }
        const QStringView line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#')) {
            continue;
        }
        lines.push_back(line.startsWith(u'[') ? SectionOf(WithoutComment(line).trimmed(), number)
                                              : SettingOf(line, number));
    }
    return lines;
}

}  // namespace vorelta
