#include <gtest/gtest.h>

#include <QStringList>
#include <random>

#include "base/RuntimeError.h"
#include "check/NearMissMatcher.h"
#include "check/TextFolding.h"
#include "tests/support/NearMissOracle.h"
#include "tests/support/RowByRowScan.h"

namespace vorelta {
namespace {

using Rows = std::vector<FieldValue>;

// Not QString::fromUtf16, which drops a leading U+FEFF.
QString Text(const char16_t* text) {
    return QStringView(text).toString();
}

TEST(TextFoldingTest, EachFormFoldsToOneAndOnlyWordCharactersAreKept) {
    constexpr auto letter = CodePointKind::Letter;
    constexpr auto latin = CodePointKind::LatinOrDigit;
    constexpr auto separator = CodePointKind::Separator;
    constexpr auto sentenceBreak = CodePointKind::Break;
    const struct {
        const char16_t* written;
        const char32_t* folded;
        CodePointKind kind;  // of the first folded code point
    } cases[] = {
        // clang-format off
        {u"Ｗ", U"w", latin},          {u"W", U"w", latin},          {u"ẞ", U"ss", latin},
        {u"ß", U"ss", latin},          {u"İ", U"i\u0307", latin},    {u"獎", U"奖", letter},
        {u"①", U"1", latin},           {u"㍿", U"株式会社", letter}, {u"𝐖", U"w", latin},
        {u"\u0301", U"\u0301", letter}, {u"－", U"-", separator},     {u"😀", U"😀", separator},
        {u"\u3000", U" ", separator},  {u"\u00A0", U" ", separator}, {u"\u200B", U"\u200B", separator},
        {u"\u2060", U"\u2060", separator}, {u"\uFEFF", U"\uFEFF", separator},
        {u"\uFE0F", U"\uFE0F", separator},
        // Default-ignorable code points that are letters or marks by their class.
        {u"\u3164", U"\u3164", separator}, {u"\u115F", U"\u115F", separator},
        {u"\uFFA0", U"\uFFA0", separator}, {u"\u034F", U"\u034F", separator},
        {u"\u17B4", U"\u17B4", separator},
        {u"，", U",", sentenceBreak},  {u"、", U"、", sentenceBreak}, {u"\n", U"\n", sentenceBreak},
        {u"（", U"(", separator},
        // clang-format on
    };
    for (const auto& c : cases) {
        const QString written = Text(c.written);
        const FoldedText folded = FoldText(written);
        EXPECT_EQ(folded.units, std::u32string(c.folded)) << written.toStdString();
        EXPECT_EQ(KindOf(folded.units.front()), c.kind) << written.toStdString();
    }
}

// A conversion that fails must stop the check, not leave traditional forms unfolded.
TEST(TextFoldingTest, OpenCcConvertsOrItsFailureIsAnError) {
    EXPECT_EQ(TraditionalToSimplified(Text(u"中獎後")), Text(u"中奖后"));
    const Utf8Conversion failing = [](void*, const char*, std::size_t) -> char* { return nullptr; };
    try {
        TraditionalToSimplified(Text(u"中獎"), failing);
        ADD_FAILURE() << "a failed conversion passed for a converted text";
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.number(), 51);
        EXPECT_TRUE(error.description().contains(QStringLiteral("OpenCC")))
            << error.description().toStdString();
    }
}

// Both ways the program finds near-misses, each over messages of any length.
enum class Finder { Automaton, Index };

NearMisses Find(const QString& message, const Rows& rows, Finder finder) {
    const std::vector<std::size_t> exact = test::RowByRowHits(message, rows);
    switch (finder) {
        case Finder::Automaton:
            return NearMissIndex(rows).scan(message, rows, exact);
        case Finder::Index:
            return NearMissIndex(rows).find(message, rows, exact);
    }
    return {};
}

TEST(NearMissTest, EachFormAndEachLimitAsTheReportListsThem) {
    const struct {
        std::vector<const char16_t*> keywords;  // nullptr: a Null row
        const char16_t* message;
        std::vector<const char16_t*> lines;  // as the report lists them
    } cases[] = {
        {{u"win"}, u"ＷＩＮ大奖", {u"ＷＩＮ ≈ win"}},
        {{u"win"}, u"WIN", {u"WIN ≈ win"}},
        {{u"中奖"}, u"恭喜中獎了", {u"中獎 ≈ 中奖"}},
        {{u"免费"}, u"免*费", {u"免*费 ≈ 免费"}},
        {{u"免费"}, u"免\u200B费", {u"免\u200B费 ≈ 免费"}},
        {{u"win"}, u"Ｗ.ｉ.Ｎ", {u"Ｗ.ｉ.Ｎ ≈ win"}},
        {{u"Straße"}, u"STRASSE", {u"STRASSE ≈ Straße"}},
        // Three separators pass, four do not, whatever they are; a letter never does.
        {{u"免费"}, u"免***费", {u"免***费 ≈ 免费"}},
        {{u"免费"}, u"免****费", {}},
        {{u"免费"}, u"免\u3000\u00A0\u2060费", {u"免\u3000\u00A0\u2060费 ≈ 免费"}},
        {{u"免费"}, u"免\u200B\u200C\u200D\uFEFF费", {}},
        {{u"免费"}, u"免x费", {}},
        // A surrogate pair is one character, as a separator and as a letter.
        {{u"免费"}, u"免😀😀😀费", {u"免😀😀😀费 ≈ 免费"}},
        {{u"免费"}, u"免😀😀😀😀费", {}},
        {{u"win"}, u"𝐖𝐈𝐍", {u"𝐖𝐈𝐍 ≈ win"}},
        // An exact hit anywhere keeps the row off the list.
        {{u"免费"}, u"免费免*费", {}},
        // Rows in table order, each with its first near-miss.
        {{u"ab", u"cd", u"ab"}, u"CD,a-b,AB", {u"a-b ≈ ab", u"CD ≈ cd", u"a-b ≈ ab"}},
        // Separators in a keyword need not be met, nor match those of the message.
        {{u"免-费"}, u"免费", {u"免费 ≈ 免-费"}},
        {{u"法 轮 功"}, u"法轮功", {u"法轮功 ≈ 法 轮 功"}},
        {{u"免-费"}, u"免－费", {u"免－费 ≈ 免-费"}},
        {{u"免-费"}, u"免*费", {u"免*费 ≈ 免-费"}},
        {{u"免-费"}, u"免*-*费", {u"免*-*费 ≈ 免-费"}},
        {{u"免-费"}, u"免****-费", {}},
        {{u"【免费】"}, u"免费", {u"免费 ≈ 【免费】"}},
        // A code point folding to several is taken whole.
        {{u"会社"}, u"㍿", {u"㍿ ≈ 会社"}},
        // Nothing to fold to, or one letter only: never a near-miss.
        {{u"", nullptr, u"!!"}, u"！！", {}},
        {{u"b\u007F", u"q\u007F", u"-ｂ-"}, u"USB和QQ", {}},
        // Invisible characters that are letters or marks by their class are separators.
        {{u"免费"}, u"免\u3164\u115F\uFFA0费", {u"免\u3164\u115F\uFFA0费 ≈ 免费"}},
        {{u"免费"}, u"免\u034F\u17B4费", {u"免\u034F\u17B4费 ≈ 免费"}},
        // Latin letters and digits: whole words only, as far as separators are passed.
        {{u"sb", u"h服务", u"2b"}, u"USB接口,SSH服务,IP:1.22B", {}},
        {{u"sb"}, u"U-S-B", {}},
        {{u"sb", u"win"}, u"你S-B,Ｗ.ｉ.Ｎ吧", {u"S-B ≈ sb", u"Ｗ.ｉ.Ｎ ≈ win"}},
        // A break between letters is passed by keywords of three letters or more only.
        {{u"马凯", u"免费"}, u"宝马、凯迪拉克，免\n费", {}},
        {{u"法轮功"}, u"法，轮\n功", {u"法，轮\n功 ≈ 法轮功"}},
        // An exact hit is never told again as a near-miss of a keyword folding alike.
        {{u"中奖", u"中獎"}, u"恭喜中奖了", {}},
        {{u"【中奖】", u"中獎"}, u"【中奖】", {}},
        {{u"中奖", u"中獎"}, u"中奖，中*奖", {u"中*奖 ≈ 中獎"}},
    };
    for (const Finder finder : {Finder::Automaton, Finder::Index}) {
        for (const auto& c : cases) {
            const QString message = Text(c.message);
            Rows rows;
            for (const char16_t* keyword : c.keywords) {
                rows.push_back(keyword ? FieldValue(Text(keyword)) : FieldValue());
            }
            QStringList lines;
            for (const NearMiss& nearMiss : Find(message, rows, finder).rows) {
                lines += NearMissLine(message, nearMiss, *rows[nearMiss.row]);
            }
            QStringList expected;
            for (const char16_t* line : c.lines) {
                expected += Text(line);
            }
            EXPECT_EQ(lines, expected) << message.toStdString() << ", finder " << int(finder);
        }
    }
}

// Ideographs joined by a separator: a keyword of 100,000 once overflowed the stack, and one of
// 29 against doubled separators took seconds, growing twofold with each more.
QString Joined(int count, QStringView separator) {
    QString text;
    for (int i = 0; i < count; ++i) {
        text += (i > 0 ? separator.toString() : QString()) + QChar(0x4E00 + i % 3000);
    }
    return text;
}

TEST(NearMissTest, LongKeywordsAndManySeparatorsNeitherCrashNorStall) {
    const struct {
        QString keyword;
        QString message;
        std::size_t listed;
    } cases[] = {
        {Joined(100000, u"-"), Joined(100000, u"－"), 1},
        {Joined(29, u"-"), Joined(29, u"--"), 1},
        {Joined(29, u"-"), Joined(28, u"--") + QStringLiteral(u"----") + QChar(0x4E00 + 28), 0},
    };
    for (const Finder finder : {Finder::Automaton, Finder::Index}) {
        for (const auto& c : cases) {
            EXPECT_EQ(Find(c.message, {c.keyword}, finder).rows.size(), c.listed)
                << c.keyword.size() << ", finder " << int(finder);
        }
    }
}

// Keywords from a few characters, messages from those, their other forms and separators, so
// that near-misses, exact hits and gaps of every width are common.
class RandomText {
public:
    explicit RandomText(unsigned seed) : random_(seed) {}

    QString pick(std::initializer_list<const char16_t*> pieces, int maxCount) {
        QString text;
        for (int i = 0, n = 1 + below(maxCount); i < n; ++i) {
            text += Text(pieces.begin()[below(int(pieces.size()))]);
        }
        return text;
    }

    Rows keywords(int most = 12) {
        Rows rows;
        for (int i = 0, n = below(most); i < n; ++i) {
            const int kind = below(16);
            rows.emplace_back(
                kind == 0 ? FieldValue()
                : kind == 1
                    ? FieldValue(QString())
                    : pick({u"a", u"b", u"1", u"中", u"奖", u"獎", u"𝐖", u"-", u"\u007F"}, 4));
        }
        return rows;
    }

    QString message(int maxLength) {
        return pick({u"a",  u"b",      u"1", u"中", u"奖", u"w",  u"A",  u"ａ",     u"Ｂ",
                     u"１", u"獎",     u"𝐖", u"W",  u"-",  u"－", u"**", u"\u200B", u"\u3000",
                     u"😀",  u"\uFE0F", u"x", u"㍿", u"，", u"\n", u"、", u"\u3164", u"⒈"},
                    maxLength);
    }

    int below(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random_); }

private:
    std::mt19937 random_;
};

TEST(NearMissDifferentialTest, EveryFinderAgreesWithThePlainSearch) {
    RandomText random(20260511);
    for (int round = 0; round < 2000; ++round) {
        // Now and then a long list, whose index marks many beginnings that are no keyword's.
        const Rows rows = random.keywords(round % 40 == 0 ? 3000 : 12);
        NearMissIndex index(rows);
        for (int m = 0; m < 3; ++m) {
            // Short and long messages, so both sides of the length threshold are exercised.
            const QString message = random.message(m == 2 && round % 10 == 0 ? 600 : 20);
            const NearMisses expected = test::PlainNearMisses(message, rows);
            const std::vector<std::size_t> exact = test::RowByRowHits(message, rows);
            ASSERT_EQ(index.find(message, rows, exact), expected) << "round " << round;
            ASSERT_EQ(index.scan(message, rows, exact), expected) << "round " << round;
        }
    }
}

}  // namespace
}  // namespace vorelta
