#include "store/TextCodec.h"

#include <QStringDecoder>
#include <cstring>

#include "base/Text.h"

namespace vorelta {

namespace {

void AppendCodePoint(char32_t code, std::string& out) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

// UTF-8 of the text, a lone surrogate written as the code point `lone` gives for it.
template <class LoneSurrogate>
void AppendEncoded(QStringView text, std::string& out, LoneSurrogate lone) {
    for (qsizetype at = 0; at < text.size();) {
        const CodePoint point = CodePointAt(text, at);
        AppendCodePoint(QChar::isSurrogate(point.value) ? lone(char16_t(point.value)) : point.value,
                        out);
        at += point.size;
    }
}

// Standard UTF-8, with one difference from QString::fromUtf8: a U+FEFF at the start is a
// character of the keyword (a zero-width no-break space), not a byte order mark to drop.
QString DecodeUtf8(const char* bytes, qsizetype size) {
    // Only a text that starts with those three bytes needs the slower decoder set up for it.
    if (size < 3 || std::memcmp(bytes, "\xEF\xBB\xBF", 3) != 0) {
        return QString::fromUtf8(bytes, size);
    }
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless |
                                                       QStringConverter::Flag::ConvertInitialBom);
    return decoder(QByteArrayView(bytes, size));
}

// Where the next encoded surrogate (ED A0..BF 80..BF) starts at or after `at`; `end` if none.
// Only these three bytes need more than the standard decoder.
const char* NextEncodedSurrogate(const char* at, const char* end) {
    while ((at = static_cast<const char*>(std::memchr(at, 0xED, std::size_t(end - at))))) {
        if (end - at >= 3 && (static_cast<unsigned char>(at[1]) & 0xE0) == 0xA0 &&
            (static_cast<unsigned char>(at[2]) & 0xC0) == 0x80) {
            return at;
        }
        ++at;
    }
    return end;
}

char16_t EncodedSurrogate(const char* at) {
    return char16_t(0xD000 | (static_cast<unsigned char>(at[1]) & 0x3F) << 6 |
                    (static_cast<unsigned char>(at[2]) & 0x3F));
}

// The bytes between the surrogates go through the standard decoder, so that every other byte
// reads exactly as it would in a text without surrogates, invalid ones included.
QString DecodeWithSurrogates(const char* bytes, const char* firstSurrogate, const char* end) {
    QString text;
    text.reserve(end - bytes);
    for (const char *at = bytes, *surrogate = firstSurrogate; at < end;
         surrogate = NextEncodedSurrogate(at, end)) {
        text += DecodeUtf8(at, surrogate - at);
        if (surrogate == end) {
            break;
        }
        text += QChar(EncodedSurrogate(surrogate));
        at = surrogate + 3;
    }
    return text;
}

}  // namespace

void AppendStoredText(QStringView text, std::string& out) {
    AppendEncoded(text, out, [](char16_t lone) { return char32_t(lone); });
}

void AppendUtf8(QStringView text, std::string& out) {
    AppendEncoded(text, out, [](char16_t) { return char32_t(0xFFFD); });
}

QString ReadStoredText(const char* bytes, qsizetype size) {
    if (size <= 0) {
        return {};
    }
    const char* end = bytes + size;
    const char* surrogate = NextEncodedSurrogate(bytes, end);
    if (surrogate == end) {
        return DecodeUtf8(bytes, size);
    }
    return DecodeWithSurrogates(bytes, surrogate, end);
}

}  // namespace vorelta
