#include "store/TextCodec.h"

#include <cstring>

namespace vorelta {

namespace {

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

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

// Only the encoded surrogates (ED A0..BF) need more than the standard decoder.
bool HasEncodedSurrogate(const char* bytes, qsizetype size) {
    const char* end = bytes + size;
    for (const char* at = bytes;
         (at = static_cast<const char*>(std::memchr(at, 0xED, std::size_t(end - at)))) != nullptr;
         ++at) {
        if (at + 1 < end && (static_cast<unsigned char>(at[1]) & 0xE0) == 0xA0) {
            return true;
        }
    }
    return false;
}

// Decodes one character at `at`, surrogates included; false for a byte that starts none.
bool DecodeOne(const unsigned char*& at, const unsigned char* end, char32_t& code) {
    const unsigned char lead = *at;
    int length = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        code = lead;
        ++at;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, code = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code = lead & 0x07, minimum = 0x10000;
    } else {
        return false;
    }
    if (end - at < length) {
        return false;
    }
    for (int i = 1; i < length; ++i) {
        if ((at[i] & 0xC0) != 0x80) {
            return false;
        }
        code = code << 6 | (at[i] & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF) {
        return false;
    }
    at += length;
    return true;
}

QString DecodeWithSurrogates(const char* bytes, qsizetype size) {
    QString text;
    text.reserve(size);
    const auto* at = reinterpret_cast<const unsigned char*>(bytes);
    const auto* end = at + size;
    while (at < end) {
        char32_t code = 0;
        if (!DecodeOne(at, end, code)) {
            text += QChar(QChar::ReplacementCharacter);
            ++at;
        } else if (code >= 0x10000) {
            text += QChar(QChar::highSurrogate(code));
            text += QChar(QChar::lowSurrogate(code));
        } else {
            text += QChar(char16_t(code));
        }
    }
    return text;
}

}  // namespace

void AppendStoredText(QStringView text, std::string& out) {
    const char16_t* units = text.utf16();
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = units[i];
        if (c < 0x80) {
            out += char(c);
        } else if (IsHighSurrogate(c) && i + 1 < size && IsLowSurrogate(units[i + 1])) {
            AppendCodePoint(QChar::surrogateToUcs4(c, units[i + 1]), out);
            ++i;
        } else {
            AppendCodePoint(c, out);  // a lone surrogate too, as its own three bytes
        }
    }
}

QString ReadStoredText(const char* bytes, qsizetype size) {
    if (!HasEncodedSurrogate(bytes, size)) {
        return QString::fromUtf8(bytes, size);
    }
    return DecodeWithSurrogates(bytes, size);
}

}  // namespace vorelta
