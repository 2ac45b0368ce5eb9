// Whatever UTF-16 code units make up a keyword, it is stored, listed, found and deleted
// exactly as typed; keywords another program stored as ordinary UTF-8 read as before.

#include "tests/faults/FaultSession.h"

namespace vorelta::test {
namespace {

QString Units(std::initializer_list<char16_t> units) {
    return QString(reinterpret_cast<const QChar*>(units.begin()), qsizetype(units.size()));
}

TEST(KeywordRoundTripTest, EveryKeywordIsStoredListedFoundAndDeletedExactlyAsTyped) {
    const QString keywords[] = {
        Units({0xD83D, u'a', u'b'}),    // a lone high surrogate before ordinary text
        Units({u'x', 0xDE00}),          // a lone low surrogate at the end
        Units({0xDE00, 0xD83D}),        // both, in the wrong order
        Units({0xD83D, 0xDE00}),        // a real pair: one astral character
        Units({0xFFFF, 0xFFFE, u'z'}),  // noncharacters
        Units({0xFEFF, u'q'}),          // starts like a byte order mark
        Units({u'k', 0x0000, u'k'}),    // a NUL inside
        Units({0xFFFD, u'r'}),          // the replacement character itself
        QStringLiteral(u"中奖"),
    };
    for (const QString& keyword : keywords) {
        SCOPED_TRACE(keyword.toUcs4().size());
        FaultSession s;
        s.startUp({QStringLiteral(u"旧词")});

        s.insert(keyword);
        EXPECT_EQ(s.listed(), (QStringList{QStringLiteral(u"旧词"), keyword}));
        EXPECT_EQ(s.state.KeyCount, 2);
        s.insert(keyword);  // found by the duplicate test: not stored twice
        EXPECT_EQ(s.state.KeyCount, 2);

        const QString verdict = s.check(QStringLiteral(u"前") + keyword + QStringLiteral(u"后"));
        EXPECT_EQ(verdict, QStringLiteral(u"找到关键字:\r\n") + keyword +
                               QStringLiteral(u"\r\n检测到1条关键字,请更改"));

        s.deleteKeyword(keyword);
        EXPECT_EQ(s.listed(), QStringList{QStringLiteral(u"旧词")});
        EXPECT_EQ(s.state.KeyCount, 1);
        EXPECT_EQ(s.dir.storedKeys().size(), 1u);
        EXPECT_TRUE(s.boxes.prompts.isEmpty()) << s.boxes.prompts.join(u'|').toStdString();
    }
}

TEST(KeywordRoundTripTest, KeywordsStoredAsOrdinaryUtf8ByAnotherProgramReadAsBefore) {
    // TempProgramDir writes standard UTF-8, as any other program would.
    const std::vector<FieldValue> stored = {QStringLiteral(u"中奖"), QStringLiteral(u"😀笑"),
                                            QStringLiteral(u"é"), std::nullopt};
    FaultSession s;
    s.startUp(stored);
    EXPECT_EQ(s.listed(), (QStringList{QStringLiteral(u"中奖"), QStringLiteral(u"😀笑"),
                                       QStringLiteral(u"é"), QString()}));
    EXPECT_TRUE(s.check(QStringLiteral(u"快😀笑")).contains(QStringLiteral(u"😀笑")));
    s.deleteKeyword(QStringLiteral(u"😀笑"));
    EXPECT_EQ(s.dir.storedKeys(), (std::vector<FieldValue>{QStringLiteral(u"中奖"),
                                                           QStringLiteral(u"é"), std::nullopt}));
}

}  // namespace
}  // namespace vorelta::test
