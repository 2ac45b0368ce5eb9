#include <gtest/gtest.h>

#include <random>

#include "check/KeywordMatcher.h"
#include "check/MessageCheck.h"
#include "store/Module1.h"
#include "tests/support/KeyDatabase.h"
#include "tests/support/RowByRowScan.h"
#include "windows/main/KeywordScanner.h"

namespace vorelta {
namespace {

using Rows = std::vector<FieldValue>;
using Hits = std::vector<std::size_t>;

FieldValue Key(const char16_t* text) {
    return QString::fromUtf16(text);
}

TEST(LengthTextTest, CommasAreFullWidthBeforeTheCountAndAsciiAfterIt) {
    EXPECT_EQ(WithinLimitText(1), QStringLiteral(u"允许最大70个字符\uFF0C当前1个"));
    EXPECT_EQ(OverLimitText(71), QStringLiteral(u"超出范围\uFF0C当前71个,双击这里自动剪切到70个"));
    EXPECT_EQ(OverLimitText(3000000000LL),
              QStringLiteral(u"超出范围，当前3000000000个,双击这里自动剪切到70个"));
}

TEST(NormaliseTest, TrimsThenDropsLineBreaksThenBlanks) {
    struct Case {
        QString message;
        QString normalised;
    };
    const Case cases[] = {
        {QStringLiteral("Your prize is here\r\nwin big today "),
         QStringLiteral("Yourprizeisherewinbigtoday")},
        {QStringLiteral(" a b c "), QStringLiteral("abc")},
        {QStringLiteral("  \r\n \r\n  "), QString()},
        // A CR and an LF with only blanks between them come together as a pair that stays.
        {QStringLiteral("a\r  \nb"), QStringLiteral("a\r\nb")},
        {QStringLiteral("a\rb\nc"), QStringLiteral("a\rb\nc")},
        {QStringLiteral("\r\n\r\nx"), QStringLiteral("x")},
        // Tabs and other space characters are not blanks.
        {QStringLiteral(u"\u3000a\tb\u00a0c\u3000"), QStringLiteral(u"\u3000a\tb\u00a0c\u3000")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NormaliseMessage(c.message), c.normalised) << c.message.toStdString();
    }
}

// Both ways the program matches, each over messages of any length: the automaton that scans long
// messages, and the index the check keeps for short ones.
enum class Matcher { Automaton, Index };

KeywordHits Match(QStringView message, const Rows& rows, Matcher matcher) {
    switch (matcher) {
        case Matcher::Automaton:
            return MatchKeywords(message, rows);
        case Matcher::Index:
            return KeywordIndex(rows).match(message);
    }
    return {};
}

class MatcherTest : public testing::TestWithParam<Matcher> {
protected:
    Hits hits(const QString& message, const Rows& rows) const {
        return Match(message, rows, GetParam()).rows;
    }
};

TEST_P(MatcherTest, ReportsRowsInTableOrderNotInTextOrder) {
    const Rows rows = {Key(u"cash"), Key(u"win"), Key(u"prize")};
    EXPECT_EQ(hits(QStringLiteral("Yourprizeisherewinbigtoday"), rows), (Hits{1, 2}));
}

TEST_P(MatcherTest, EmptyAndNullRowsFollowTheirRules) {
    const Rows rows = {std::nullopt, Key(u""), Key(u"a")};
    EXPECT_EQ(hits(QStringLiteral("xyz"), rows), (Hits{1}));
    EXPECT_EQ(hits(QString(), rows), Hits{});  // an empty message has no hits at all
}

TEST_P(MatcherTest, EachRowCountsOnceAndEqualRowsCountEach) {
    const Rows rows = {Key(u"ab"), Key(u"abc"), Key(u"ab"), Key(u"b")};
    EXPECT_EQ(hits(QStringLiteral("xabcxab"), rows), (Hits{0, 1, 2, 3}));
}

TEST_P(MatcherTest, ComparisonIsExactCodeUnitForCodeUnit) {
    const Rows rows = {Key(u"ABC"), Key(u"ａｂｃ"), Key(u"abc "), Key(u"abcd"), Key(u"😀")};
    EXPECT_EQ(hits(QStringLiteral("abc"), rows), Hits{});
    EXPECT_EQ(hits(QStringLiteral(u"中😀文"), rows), (Hits{4}));
}

TEST_P(MatcherTest, AKeywordLongerThanTheMessageOrWithForeignUnitsIsNoHit) {
    const Rows rows = {Key(u"中奖中奖"), Key(u"奖x"), Key(u"中奖")};
    EXPECT_EQ(hits(QStringLiteral(u"恭喜中奖"), rows), (Hits{2}));
}

INSTANTIATE_TEST_SUITE_P(EveryMatcher, MatcherTest,
                         testing::Values(Matcher::Index, Matcher::Automaton),
                         [](const testing::TestParamInfo<Matcher>& info) {
                             switch (info.param) {
                                 case Matcher::Automaton:
                                     return "Automaton";
                                 case Matcher::Index:
                                     return "Index";
                             }
                             return "";
                         });

// Random keywords and messages over a small alphabet, so that hits, overlaps and shared
// prefixes are common: blanks, line breaks, a surrogate pair, Chinese and Latin letters.
class RandomText {
public:
    explicit RandomText(unsigned seed) : random_(seed) {}

    QString text(int maxLength) {
        static const char16_t kUnits[] = {u'a',  u'b',  u'c',  u'A',   u' ',   u'\r',
                                          u'\n', u'中', u'奖', 0xD83D, 0xDE00, u'ａ'};
        QString text;
        for (int i = 0, n = pick(maxLength + 1); i < n; ++i) {
            if (pick(8) == 0) {
                text += QStringLiteral(u"😀");  // a whole pair, beside the lone halves
            } else {
                text += QChar(kUnits[pick(int(std::size(kUnits)))]);
            }
        }
        return text;
    }

    Rows keywords(int most = 40) {
        Rows rows;
        for (int i = 0, n = pick(most); i < n; ++i) {
            const int kind = pick(20);
            if (kind == 0) {
                rows.emplace_back(std::nullopt);
            } else if (kind == 1) {
                rows.emplace_back(QString(""));
            } else if (kind == 2 && !rows.empty()) {
                rows.push_back(rows[std::size_t(pick(int(rows.size())))]);  // an equal row
            } else {
                rows.emplace_back(text(kind < 15 ? 3 : 8));
            }
        }
        return rows;
    }

    int pick(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random_); }

private:
    std::mt19937 random_;
};

TEST(MatcherDifferentialTest, EveryMatcherAgreesWithTheRowByRowSearch) {
    RandomText random(20261207);
    for (int round = 0; round < 3000; ++round) {
        // Now and then a long list, whose index marks many beginnings that are no keyword's.
        const Rows rows = random.keywords(round % 50 == 0 ? 3000 : 40);
        // Short and long messages, so both sides of the length threshold are exercised.
        const QString message = NormaliseMessage(random.text(round % 10 == 0 ? 1200 : 90));
        const KeywordHits expected = {test::RowByRowHits(message, rows),
                                      test::RowByRowRuns(message, rows)};
        for (const Matcher matcher : {Matcher::Automaton, Matcher::Index}) {
            ASSERT_EQ(Match(message, rows, matcher), expected)
                << "round " << round << ", matcher " << int(matcher);
        }
    }
}

// The check as the window runs it, over the shared recordset that start-up opens, with the
// program's own inserts and deletes between the checks: report for report what a fresh
// row-by-row scan of the table gives.
TEST(ScanTest, TheKeptRowsScanAgreesWithTheRowByRowScanReportForReport) {
    RandomText random(7);
    for (int round = 0; round < 20; ++round) {
        test::TempProgramDir dir;
        dir.createKeys(random.keywords());
        Module1 state;
        OpenKeyStore(state, KeyDataSource(dir.path()));
        KeywordScanner scanner;
        for (int message = 0; message < 10; ++message) {
            Recordset& keys = state.KeyRecordset;
            if (message % 3 == 1) {
                keys.AddNew();
                keys.Fields(kKeynameField).SetValue(random.text(3));
                keys.Update();
            } else if (message % 3 == 2 && (keys.Requery(), !keys.Eof())) {
                keys.Delete();
            }
            const QString normalised = NormaliseMessage(random.text(message % 3 ? 60 : 600));
            Connection fresh;
            fresh.Open(KeyDataSource(dir.path()));
            const ScanResult expected = test::RowByRowScan(fresh, normalised);
            const ScanResult actual = scanner.Scan(keys, normalised);
            ASSERT_EQ(actual.hitCount, expected.hitCount);
            ASSERT_EQ(actual.report, expected.report);
            ASSERT_EQ(actual.keywords, expected.keywords);
            ASSERT_EQ(actual.runs, expected.runs);
        }
    }
}

TEST(ScanTest, TheReportListsEachHitOnItsOwnLineThenTheCount) {
    test::TempProgramDir dir;
    dir.createKeys({Key(u"cash"), Key(u"win"), Key(u"prize"), Key(u"")});
    Module1 state;
    OpenKeyStore(state, KeyDataSource(dir.path()));
    const ScanResult result =
        KeywordScanner().Scan(state.KeyRecordset, QStringLiteral("Yourprizeisherewinbigtoday"));
    EXPECT_EQ(result.hitCount, 3);
    EXPECT_EQ(result.report,
              QStringLiteral(u"找到关键字:\r\nwin\r\nprize\r\n\r\n检测到3条关键字,请更改"));
}

}  // namespace
}  // namespace vorelta
