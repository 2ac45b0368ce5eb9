// The stored form of keyword text, byte by byte.

#include <gtest/gtest.h>

#include <QRandomGenerator>

#include "store/TextCodec.h"

namespace vorelta {
namespace {

std::string Stored(QStringView text) {
    std::string bytes;
    AppendStoredText(text, bytes);
    return bytes;
}

QString Read(const std::string& bytes) {
    return ReadStoredText(bytes.data(), qsizetype(bytes.size()));
}

// Code units drawn so that surrogates, noncharacters and ASCII all turn up often.
QString RandomUnits(QRandomGenerator& random, int size, bool loneSurrogates) {
    static constexpr char16_t kInteresting[] = {0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xFFFF,
                                                0xFEFF, 0x0000, 0x007F, 0x0080, 0x07FF};
    QString text;
    while (text.size() < size) {
        const char16_t unit = random.bounded(3) == 0
                                  ? kInteresting[random.bounded(int(std::size(kInteresting)))]
                                  : char16_t(random.bounded(0x10000));
        if (!loneSurrogates && QChar::isSurrogate(unit)) {
            text += QChar(0xD83D);
            text += QChar(0xDE00 + random.bounded(0x100));
        } else {
            text += QChar(unit);
        }
    }
    return text;
}

TEST(TextCodecTest, AnySequenceOfCodeUnitsComesBackExactly) {
    QRandomGenerator random(5);
    for (int round = 0; round < 2000; ++round) {
        const QString text = RandomUnits(random, random.bounded(40), true);
        ASSERT_EQ(Read(Stored(text)), text) << round;
    }
}

TEST(TextCodecTest, StandardUtf8IsWrittenAndReadAsQtDoes) {
    QRandomGenerator random(6);
    for (int round = 0; round < 2000; ++round) {
        const QString text = RandomUnits(random, random.bounded(40), false);
        const QByteArray utf8 = text.toUtf8();
        ASSERT_EQ(Stored(text), utf8.toStdString()) << round;
        ASSERT_EQ(Read(utf8.toStdString()), text) << round;
    }
    // A lone surrogate is three bytes of its own: a neighbouring unit is never taken into it.
    EXPECT_EQ(Stored(u"\xD83D"
                     u"ab"),
              "\xED\xA0\xBD"
              "ab");
}

TEST(TextCodecTest, InvalidBytesReadAsReplacementCharactersAndNeverCrash) {
    const QString fffd(QChar::ReplacementCharacter);
    const struct {
        std::string bytes;
        QString text;
    } cases[] = {
        {"a\xFF\x62", QStringLiteral("a") + fffd + QStringLiteral("b")},
        {"\x80", fffd},
        {"\xC0\x80", fffd + fffd},                        // an overlong NUL
        {"\xE4\xB8", fffd + fffd},                        // cut short at the end
        {"\xED\xA0", fffd + fffd},                        // a surrogate cut short
        {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},  // past U+10FFFF
        // Beside an encoded surrogate, broken bytes read just as they do elsewhere.
        {"\xFF\xED\xA0\x80\xE4\xB8", fffd + QChar(0xD800) + fffd + fffd},
        {"\xED\xB0\x80\xED", QChar(0xDC00) + fffd},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Read(c.bytes), c.text) << c.bytes;
    }
    QRandomGenerator random(7);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(std::size_t(random.bounded(32)), '\0');
        for (char& byte : bytes) {
            byte = random.bounded(4) == 0 ? char(0xED) : char(random.bounded(256));
        }
        const QString text = Read(bytes);
        ASSERT_EQ(Read(Stored(text)), text) << round;
    }
}

}  // namespace
}  // namespace vorelta
