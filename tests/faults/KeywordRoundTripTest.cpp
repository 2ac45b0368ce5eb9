// Whatever UTF-16 code units make up a keyword, it is stored, listed, found and deleted
// exactly as typed, in a key.mdb of any text encoding; keywords another program stored in any
// form read as before and can be deleted.

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
        Units({0xFFFE, 0xFFFF, u'z'}),  // noncharacters, the first a swapped byte order mark
        Units({0xFEFF, u'q'}),          // starts like a byte order mark
        Units({u'k', 0x0000, u'k'}),    // a NUL inside
        Units({0xFFFD, u'r'}),          // the replacement character itself
        QStringLiteral(u"中奖"),
    };
    std::vector<std::pair<std::string, QString>> cases;  // each keyword in each text encoding
    for (const char* encoding : {"UTF-8", "UTF-16le", "UTF-16be"}) {
        for (const QString& keyword : keywords) {
            cases.emplace_back(encoding, keyword);
        }
    }
    for (const auto& [encoding, keyword] : cases) {
        SCOPED_TRACE(encoding + ' ' + std::to_string(keyword.toUcs4().size()));
        FaultSession s;
        s.dir.createWithSql(
            "pragma encoding = '" + encoding +
            "'; create table keys (keyname text); insert into keys values ('旧词')");
        s.startUpOverExistingFile({});

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

// Keywords another program stored in forms the program itself never writes: each is listed as
// it reads, a delete of the listed item removes that row, and typing the listed text again is
// recognised as stored.
TEST(KeywordRoundTripTest, AKeywordStoredInAnyFormIsListedAndDeletedByWhatTheListShows) {
    const struct {
        const char* value;  // an SQL literal, as another program stored it
        QString listed;
    } cases[] = {
        {"cast(x'eda0bdedb880' as text)",
         QStringLiteral(u"😀")},  // CESU-8: the pair as two surrogates
        {"cast(x'ff41' as text)", QStringLiteral(u"\uFFFDA")},  // not UTF-8
        {"x'e4b8ade5a596'", QStringLiteral(u"中奖")},           // a blob
        {"42", QStringLiteral("42")},
        {"2.5", QStringLiteral("2.5")},
    };
    const QString other = QStringLiteral(u"旧词");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        FaultSession s;
        s.dir.createWithSql("create table keys (keyname); insert into keys values ('旧词'), (" +
                            std::string(c.value) + ")");
        s.startUpOverExistingFile({});
        EXPECT_EQ(s.listed(), (QStringList{other, c.listed}));
        s.insert(c.listed);
        EXPECT_EQ(s.manager->Label2->caption(), QStringLiteral(u"成功添加0条关键字"));
        s.deleteKeyword(c.listed);
        EXPECT_EQ(s.listed(), QStringList{other});
        EXPECT_EQ(s.dir.storedKeys(), std::vector<FieldValue>{other});
        EXPECT_EQ(s.state.KeyCount, 1);
        EXPECT_TRUE(s.boxes.prompts.isEmpty()) << s.boxes.prompts.join(u'|').toStdString();
    }
}

}  // namespace
}  // namespace vorelta::test
