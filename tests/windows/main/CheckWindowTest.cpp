#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "check/MessageCheck.h"
#include "tests/support/Input.h"
#include "tests/windows/main/MainWindowFixture.h"
#include "toolkit/Colour.h"

namespace vorelta::test {
namespace {

class CheckWindowTest : public MainWindowTest {
protected:
    void check() { QTest::mouseClick(button("Command2"), Qt::LeftButton); }
    void copy() { QTest::mouseClick(button("Command4"), Qt::LeftButton); }
    QPushButton* copyButton() const { return button("Command4"); }
};

TEST_F(CheckWindowTest, HitsAreListedInRedInTableOrder) {
    open({QStringLiteral("cash"), QStringLiteral("win"), QStringLiteral("prize")});
    QTest::keyClicks(smsmsg(), "Your prize is here");
    QTest::keyClick(smsmsg(), Qt::Key_Return);
    QTest::keyClicks(smsmsg(), "win big today ");
    check();

    EXPECT_EQ(smsmsg()->text(), QStringLiteral("Yourprizeisherewinbigtoday"));
    EXPECT_EQ(lrs()->caption(), WithinLimitText(26));
    EXPECT_EQ(Label2()->caption(),
              QStringLiteral(u"找到关键字:\r\nwin\r\nprize\r\n检测到2条关键字,请更改"));
    EXPECT_EQ(Label2()->foreColor(), kRed);
    EXPECT_FALSE(copyButton()->isVisible());
}

TEST_F(CheckWindowTest, ACleanMessageIsConfirmedInBlackAndCanBeCopied) {
    open({});
    Type(smsmsg(), QStringLiteral(u"明天 上午\n十点开会"));
    check();
    EXPECT_EQ(smsmsg()->text(), QStringLiteral(u"明天上午十点开会"));
    EXPECT_EQ(Label2()->caption(), kCleanVerdict);
    EXPECT_EQ(Label2()->foreColor(), kBlack);
    ASSERT_TRUE(copyButton()->isVisible());

    QApplication::clipboard()->setText(QStringLiteral("old"));
    copy();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral(u"明天上午十点开会"));
    EXPECT_FALSE(copyButton()->isVisible());
    EXPECT_EQ(Label2()->caption(), kCopiedText);
    EXPECT_EQ(Label2()->foreColor(), kBlack);
}

TEST_F(CheckWindowTest, AReportInRedGivesWayToACleanVerdictInBlack) {
    open({QStringLiteral("cash")});
    QTest::keyClicks(smsmsg(), "cash");
    check();
    ASSERT_EQ(Label2()->foreColor(), kRed);

    smsmsg()->setText(QStringLiteral("tea"));
    check();
    EXPECT_EQ(Label2()->caption(), kCleanVerdict);
    EXPECT_EQ(Label2()->foreColor(), kBlack);
    EXPECT_TRUE(copyButton()->isVisible());
}

TEST_F(CheckWindowTest, AnEmptyMessageLeavesTheLastResultAsItWas) {
    open({QString("")});  // an empty keyword would hit any message that is not empty
    const struct {
        const char* before;  // the check that sets the result the empty one must keep
        bool copyVisible;
    } cases[] = {{"cash", false}, {"", true}};
    for (const auto& c : cases) {
        if (*c.before) {
            smsmsg()->setText(QString::fromLatin1(c.before));
            check();  // a hit on the empty keyword: red
        } else {
            dir.createWithSql("delete from keys");
            smsmsg()->setText(QStringLiteral("tea"));
            check();  // clean: black, and the copy button shows
        }
        const QString caption = Label2()->caption();
        const OleColour colour = Label2()->foreColor();
        ASSERT_EQ(copyButton()->isVisible(), c.copyVisible);

        smsmsg()->setText(QStringLiteral("   \r\n "));
        check();
        EXPECT_EQ(smsmsg()->text(), QString());
        EXPECT_EQ(Label2()->caption(), caption);
        EXPECT_EQ(Label2()->foreColor(), colour);
        EXPECT_EQ(copyButton()->isVisible(), c.copyVisible);
    }
}

TEST_F(CheckWindowTest, TheCopyTakesTheTextAsEditedAfterTheCheck) {
    open({QStringLiteral(u"中奖")});
    Type(smsmsg(), QStringLiteral(u"恭喜"));
    check();
    ASSERT_TRUE(copyButton()->isVisible());

    Type(smsmsg(), QStringLiteral(u"中奖"));
    check();
    EXPECT_EQ(Label2()->caption(),
              QStringLiteral(u"找到关键字:\r\n中奖\r\n检测到1条关键字,请更改"));
    EXPECT_TRUE(copyButton()->isVisible());  // a check with hits leaves the button alone

    Type(smsmsg(), QStringLiteral(u"啦"));
    copy();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral(u"恭喜中奖啦"));
    EXPECT_EQ(Label2()->caption(), kCopiedText);
    EXPECT_EQ(Label2()->foreColor(), kRed);
}

TEST_F(CheckWindowTest, EveryCheckReadsTheTableAnew) {
    open({QStringLiteral("cash")});
    QTest::keyClicks(smsmsg(), "free casino");
    check();
    EXPECT_EQ(Label2()->caption(), kCleanVerdict);

    dir.insertKeys({QStringLiteral("casino")});
    check();
    EXPECT_EQ(Label2()->caption(),
              QStringLiteral(u"找到关键字:\r\ncasino\r\n检测到1条关键字,请更改"));
}

TEST_F(CheckWindowTest, TheLengthLabelFollowsTheWriteBackAndKeepsItsRed) {
    open({});
    QTest::keyClicks(smsmsg(), QString(34, u'x') + QString(7, u' ') + QString(34, u'y'));
    ASSERT_EQ(lrs()->caption(), OverLimitText(75));
    check();
    EXPECT_EQ(lrs()->caption(), WithinLimitText(68));
    EXPECT_EQ(lrs()->foreColor(), kRed);
}

TEST_F(CheckWindowTest, AnErrorDuringTheCheckIsReportedAndTheWindowGoesOn) {
    open({QStringLiteral("cash")});
    dir.createWithSql("drop table keys");
    QTest::keyClicks(smsmsg(), "cash now");
    check();
    ASSERT_EQ(boxes.prompts.size(), 1);
    EXPECT_TRUE(boxes.prompts.front().startsWith(QStringLiteral(u"实时错误 '1':")));
    EXPECT_EQ(smsmsg()->text(), QStringLiteral("cashnow"));
    EXPECT_EQ(Label2()->caption(), kCheckFailedText);  // the count line is no verdict either

    dir.createKeys({QStringLiteral("cash")});
    check();
    EXPECT_EQ(Label2()->foreColor(), kRed);
}

// Every occurrence of every reported keyword is marked where it stands in the written-back text;
// what overlaps or touches is one mark.
TEST_F(CheckWindowTest, TheHitsAreMarkedInTheMessageUntilTheNextEditOrCheck) {
    const struct {
        const char16_t* typed;
        std::vector<TextRun> marks;
    } cases[] = {
        {u"xabcdx", {{1, 5}}},          // ab and bcd overlap
        {u"abab", {{0, 4}}},            // two touching occurrences
        {u"zbcz", {{1, 3}}},            // bc inside bcd's place, alone
        {u"a 😀 b😀", {{1, 3}, {4, 6}}},  // a surrogate pair, twice
        {u"a\r\nb c d", {{0, 4}}},      // ab and bcd across a removed line break and blanks
        {u"nothing", {}},               // the empty keyword hits, but marks nothing
    };
    open({QStringLiteral("ab"), QStringLiteral("bcd"), QStringLiteral("bc"), QStringLiteral(u"😀"),
          QString()});
    for (const auto& c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.typed).toStdString());
        smsmsg()->setText(QString::fromUtf16(c.typed));
        check();
        EXPECT_EQ(smsmsg()->marks(), c.marks);
    }
    check();
    Type(smsmsg(), QStringLiteral("x"));
    EXPECT_TRUE(smsmsg()->marks().empty());  // gone at an edit, and undo does not bring them
    smsmsg()->setText(QStringLiteral("ab"));
    check();
    dir.createWithSql("delete from keys");
    check();
    EXPECT_TRUE(smsmsg()->marks().empty());  // and at a clean check of the same text
}

// A report that fits is drawn exactly as a plain label draws it; a taller one scrolls.
TEST_F(CheckWindowTest, TheReportScrollsOnlyWhenItIsTallerThanItsRectangle) {
    open({});
    for (const int hits : {0, 3, 11, 12, 18, 12565}) {
        std::vector<FieldValue> rows;
        for (int i = 0; i < hits; ++i) {
            rows.emplace_back(QStringLiteral(u"词%1").arg(i, 5, 10, QChar(u'0')));
        }
        const QString report =
            hits ? HitReport(rows, std::vector<std::size_t>(hits)) : kCleanVerdict;
        Label2()->setCaption(report);
        Label plain(window.get());
        plain.setFont(Label2()->font());
        plain.setGeometry(Label2()->geometry());
        plain.setCaption(report);
        const bool taller = plain.heightForWidth(plain.width()) > plain.height();
        EXPECT_EQ(Label2()->verticalScrollBar()->isVisible(), taller) << hits;
        if (!taller) {
            EXPECT_EQ(Label2()->grab().toImage(), plain.grab().toImage()) << hits;
        }
        Label2()->selectAll();
        QTest::keyClick(Label2(), Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(QApplication::clipboard()->text(), report) << hits;  // with its CR LF
    }
}

// A keyword's line in the report selects its next occurrence, going round after the last.
TEST_F(CheckWindowTest, AKeywordsLineInTheReportSelectsItsNextOccurrence) {
    open({QStringLiteral("cash"), QStringLiteral("win")});
    QTest::keyClicks(smsmsg(), "win cash, win more cash");
    check();
    const int line = Label2()->fontMetrics().lineSpacing();
    std::vector<TextRun> selected;
    for (const int clickedLine : {2, 2, 2, 1, 0, 3}) {  // win, win, win again, cash, heading, count
        QTest::mouseClick(Label2()->viewport(), Qt::LeftButton, {},
                          QPoint(5, clickedLine * line + line / 2));
        selected.push_back(smsmsg()->selection());
    }
    EXPECT_EQ(selected, (std::vector<TextRun>{{0, 3}, {8, 11}, {0, 3}, {3, 7}, {3, 7}, {3, 7}}));
    QTest::keyClick(Label2(), Qt::Key_Return);  // the caret's line, as the last click left it
    EXPECT_EQ(smsmsg()->selection(), (TextRun{3, 7}));
}

// Keywords held only in another form follow the verdict in dark orange, are marked in light
// orange beside the hits, and their lines select them; the verdict itself is as without them.
TEST_F(CheckWindowTest, NearMissesFollowTheVerdictMarkedAndSelectable) {
    const QString kNear = QStringLiteral(u"注意：另有%1处近似关键字，可能被拦截:\r\n");
    const struct {
        const char16_t* typed;
        QString caption;
        OleColour verdictColour;
        std::vector<TextRun> hits, nearMisses;
        TextRun selected;  // by a click on the line of 中奖's near-miss
    } cases[] = {
        {u"恭喜中獎ＷＩＮ免*费",
         kCleanVerdict + QStringLiteral("\r\n") + kNear.arg(3) +
             QStringLiteral(u"中獎 ≈ 中奖\r\nＷＩＮ ≈ win\r\n免*费 ≈ 免费"),
         kBlack,
         {},
         {{2, 10}},
         {2, 4}},
        {u"win中獎",
         QStringLiteral(u"找到关键字:\r\nwin\r\n检测到1条关键字,请更改\r\n") + kNear.arg(1) +
             QStringLiteral(u"中獎 ≈ 中奖"),
         kRed,
         {{0, 3}},
         {{3, 5}},
         {3, 5}},
    };
    open({QStringLiteral(u"中奖"), QStringLiteral("win"), QStringLiteral(u"免费")});
    for (const auto& c : cases) {
        smsmsg()->setText(QString::fromUtf16(c.typed));
        check();
        EXPECT_EQ(Label2()->caption(), c.caption);
        EXPECT_EQ(Label2()->foreColor(), c.verdictColour);
        EXPECT_TRUE(c.verdictColour == kRed || copyButton()->isVisible());  // clean: copy shown
        const QTextCursor nearPart = Label2()->document()->find(QStringLiteral(u"注意"));
        EXPECT_EQ(nearPart.charFormat().foreground().color(), QColor(204, 102, 0));
        EXPECT_EQ(smsmsg()->marks(), c.hits);
        EXPECT_EQ(smsmsg()->secondMarks(), c.nearMisses);
        const QTextCursor line = Label2()->document()->find(QStringLiteral(u" ≈ 中奖"));
        QTest::mouseClick(Label2()->viewport(), Qt::LeftButton, {},
                          Label2()->cursorRect(line).center());
        EXPECT_EQ(smsmsg()->selection(), c.selected);
    }
    smsmsg()->setText(QStringLiteral("tea"));
    check();  // no trace of the orange after a check without near-misses
    const QTextCursor verdict(Label2()->document());
    EXPECT_FALSE(verdict.charFormat().hasProperty(QTextFormat::ForegroundBrush));
}

}  // namespace
}  // namespace vorelta::test
