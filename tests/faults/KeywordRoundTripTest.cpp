// Whatever UTF-16 code units make up a keyword, it is stored, listed, found and deleted
// exactly as typed, in a key.mdb of any text encoding; keywords another program stored in any
// form read as before and can be deleted.

#include <sqlite3.h>

#include "tests/faults/FaultSession.h"

namespace vorelta::test {
namespace {

QString Units(std::initializer_list<char16_t> units) {
    return QString(reinterpret_cast<const QChar*>(units.begin()), qsizetype(units.size()));
}

// key.mdb with table keys in the given text encoding, holding `stored`, written through
// SQLite's UTF-16 interface as a program working in UTF-16 would.
void CreateKeys(TempProgramDir& dir, const char* encoding, const QStringList& stored) {
    dir.createWithSql("pragma encoding = '" + std::string(encoding) +
                      "'; create table keys (keyname text)");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dir.keyDatabase().toUtf8().constData(), &db), SQLITE_OK);
    for (const QString& keyword : stored) {
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db, "insert into keys values (?)", -1, &insert, nullptr);
        sqlite3_bind_text16(insert, 1, keyword.utf16(), int(keyword.size() * 2), SQLITE_STATIC);
        EXPECT_EQ(sqlite3_step(insert), SQLITE_DONE);
        sqlite3_finalize(insert);
    }
    sqlite3_close(db);
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
    for (const char* encoding : {"UTF-8", "UTF-16le", "UTF-16be"})
        for (const QString& keyword : keywords) {
            SCOPED_TRACE(keyword.toUcs4().size());
            SCOPED_TRACE(encoding);
            FaultSession s;
            CreateKeys(s.dir, encoding, {QStringLiteral(u"旧词")});
            s.startUpOverExistingFile({});

            s.insert(keyword);
            EXPECT_EQ(s.listed(), (QStringList{QStringLiteral(u"旧词"), keyword}));
            EXPECT_EQ(s.state.KeyCount, 2);
            s.insert(keyword);  // found by the duplicate test: not stored twice
            EXPECT_EQ(s.state.KeyCount, 2);

            const QString verdict =
                s.check(QStringLiteral(u"前") + keyword + QStringLiteral(u"后"));
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
        {"x'eda0bdedb880'", QStringLiteral(u"😀")},  // CESU-8: the pair as two surrogates
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

// A program writing UTF-16 may store lone surrogates and noncharacters; they read as stored,
// and the text after them is kept.
TEST(KeywordRoundTripTest, Utf16KeywordsOfAnotherProgramReadExactlyAsStored) {
    const QString stored[] = {Units({0xD83D, u'a', u'b'}), Units({0xFFFF, u'z'}),
                              Units({u'x', 0xDE00, u'y'})};
    for (const char* encoding : {"UTF-16le", "UTF-16be"}) {
        SCOPED_TRACE(encoding);
        FaultSession s;
        CreateKeys(s.dir, encoding, QStringList(std::begin(stored), std::end(stored)));
        s.startUpOverExistingFile({});
        EXPECT_EQ(s.listed(), QStringList(std::begin(stored), std::end(stored)));
        EXPECT_TRUE(s.check(QStringLiteral(u"前") + stored[2] + QStringLiteral(u"后"))
                        .endsWith(QStringLiteral(u"检测到1条关键字,请更改")));
    }
}

}  // namespace
}  // namespace vorelta::test
