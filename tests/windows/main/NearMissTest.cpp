#include <gtest/gtest.h>

#include <QStringList>
#include <random>

#include "check/NearMissMatcher.h"
#include "check/TextFolding.h"
#include "tests/support/RowByRowScan.h"

namespace vorelta {
namespace {

using Rows = std::vector<FieldValue>;

// Not QString::fromUtf16, which drops a leading U+FEFF.
QString Text(const char16_t* text) {
    return QStringView(text).toString();
}

TEST(TextFoldingTest, EachFormFoldsToOneAndOnlyWordCharactersAreKept) {
    const struct {
        const char16_t* written;
        const char32_t* folded;
        bool separator;
    } cases[] = {
        {u"Ｗ", U"w", false},          {u"W", U"w", false},          {u"ẞ", U"ss", false},
        {u"ß", U"ss", false},          {u"İ", U"i\u0307", false},    {u"獎", U"奖", false},
        {u"①", U"1", false},           {u"㍿", U"株式会社", false},  {u"𝐖", U"w", false},
        {u"\u0301", U"\u0301", false}, {u"－", U"-", true},          {u"😀", U"😀", true},
        {u"\u3000", U" ", true},       {u"\u00A0", U" ", true},      {u"\u200B", U"\u200B", true},
        {u"\u2060", U"\u2060", true},  {u"\uFEFF", U"\uFEFF", true}, {u"\uFE0F", U"\uFE0F", true},
    };
    for (const auto& c : cases) {
        const QString written = Text(c.written);
        const FoldedText folded = FoldText(written);
        EXPECT_EQ(folded.units, std::u32string(c.folded)) << written.toStdString();
        EXPECT_EQ(IsSeparator(folded.units.front()), c.separator) << written.toStdString();
    }
}

std::vector<bool> ExactHits(const QString& message, const Rows& rows) {
    std::vector<bool> exact(rows.size(), false);
    for (const std::size_t row : test::RowByRowHits(message, rows)) {
        exact[row] = true;
    }
    return exact;
}

enum class Finder { KeywordByKeyword, Automaton, Index };

NearMisses Find(const QString& message, const Rows& rows, Finder finder) {
    const std::vector<bool> exact = ExactHits(message, rows);
    switch (finder) {
        case Finder::KeywordByKeyword:
            return FindNearMisses(message, rows, exact, MatcherKind::KeywordByKeyword);
        case Finder::Automaton:
            return FindNearMisses(message, rows, exact, MatcherKind::Automaton);
        case Finder::Index:
            return NearMissIndex(rows).find(message, exact);
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
        // Separators inside a keyword must be met; those at its ends need not be.
        {{u"免-费"}, u"免－费", {u"免－费 ≈ 免-费"}},
        {{u"免-费"}, u"免*-*费", {u"免*-*费 ≈ 免-费"}},
        {{u"免-费"}, u"免*费", {}},
        {{u"免-费"}, u"免****-费", {}},
        {{u"【免费】"}, u"免费", {u"免费 ≈ 【免费】"}},
        // A code point folding to several is taken whole.
        {{u"会社"}, u"㍿", {u"㍿ ≈ 会社"}},
        // Nothing to fold to: never a near-miss.
        {{u"", nullptr, u"!!"}, u"！！", {}},
    };
    for (const Finder finder : {Finder::KeywordByKeyword, Finder::Automaton, Finder::Index}) {
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

// The plain way: fold the message and each keyword, then from every folded code point of the
// message try to meet the keyword's one after another, each past at most three separators.
std::size_t MeetFrom(const FoldedText& text, std::size_t at, std::u32string_view keyword) {
    if (text.units[at] != keyword[0]) {
        return std::u32string_view::npos;
    }
    if (keyword.size() == 1) {
        return at;
    }
    for (std::size_t next = at + 1; next < text.units.size(); ++next) {
        if (text.sourceOf[next] - text.sourceOf[at] - 1 > 3) {
            break;
        }
        if (const std::size_t last = MeetFrom(text, next, keyword.substr(1));
            last != std::u32string_view::npos) {
            return last;
        }
        if (!IsSeparator(text.units[next])) {
            break;
        }
    }
    return std::u32string_view::npos;
}

NearMisses PlainNearMisses(const QString& message, const Rows& rows) {
    const std::vector<bool> exact = ExactHits(message, rows);
    const FoldedText text = FoldText(message);
    std::vector<bool> covered(std::size_t(message.size()), false);
    NearMisses result;
    for (std::size_t row = 0; row < rows.size(); ++row) {
        std::u32string keyword = rows[row] ? FoldText(*rows[row]).units : std::u32string();
        while (!keyword.empty() && IsSeparator(keyword.back())) {
            keyword.pop_back();
        }
        while (!keyword.empty() && IsSeparator(keyword.front())) {
            keyword.erase(0, 1);
        }
        for (std::size_t at = 0; !exact[row] && !keyword.empty() && at < text.units.size(); ++at) {
            if (const std::size_t last = MeetFrom(text, at, keyword);
                last != std::u32string_view::npos) {
                const TextRun written = text.written(at, last);
                if (result.rows.empty() || result.rows.back().row != row) {
                    result.rows.push_back({row, written});
                }
                std::fill(covered.begin() + written.start, covered.begin() + written.end, true);
            }
        }
    }
    for (qsizetype i = 0; i < message.size(); ++i) {
        if (covered[std::size_t(i)] && (result.runs.empty() || result.runs.back().end < i)) {
            result.runs.push_back({i, i});
        }
        if (covered[std::size_t(i)]) {
            result.runs.back().end = i + 1;
        }
    }
    return result;
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

    Rows keywords() {
        Rows rows;
        for (int i = 0, n = below(12); i < n; ++i) {
            const int kind = below(16);
            rows.emplace_back(kind == 0 ? FieldValue()
                              : kind == 1
                                  ? FieldValue(QString())
                                  : pick({u"a", u"b", u"1", u"中", u"奖", u"𝐖", u"-", u"-"}, 4));
        }
        return rows;
    }

    QString message(int maxLength) {
        return pick(
            {u"a", u"b", u"1", u"中", u"奖", u"w",      u"A",      u"ａ", u"Ｂ",     u"１", u"獎",
             u"𝐖", u"W", u"-", u"－", u"**", u"\u200B", u"\u3000", u"😀",  u"\uFE0F", u"x",  u"㍿"},
            maxLength);
    }

    int below(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random_); }

private:
    std::mt19937 random_;
};

TEST(NearMissDifferentialTest, EveryFinderAgreesWithThePlainSearch) {
    RandomText random(20260511);
    for (int round = 0; round < 2000; ++round) {
        const Rows rows = random.keywords();
        NearMissIndex index(rows);
        for (int m = 0; m < 3; ++m) {
            // Short and long messages, so both sides of the length threshold are exercised.
            const QString message = random.message(m == 2 && round % 10 == 0 ? 600 : 20);
            const NearMisses expected = PlainNearMisses(message, rows);
            for (const Finder finder : {Finder::KeywordByKeyword, Finder::Automaton}) {
                ASSERT_EQ(Find(message, rows, finder), expected)
                    << "round " << round << ", finder " << int(finder);
            }
            ASSERT_EQ(index.find(message, ExactHits(message, rows)), expected) << "round " << round;
        }
    }
}

}  // namespace
}  // namespace vorelta
