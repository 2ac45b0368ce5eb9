#include "check/MessageCheck.h"
#include "tests/support/Input.h"
#include "tests/windows/main/MainWindowFixture.h"
#include "toolkit/Colour.h"

namespace vorelta::test {
namespace {

class LengthMonitorTest : public MainWindowTest {
protected:
    void SetUp() override { open({}); }

    void typeLetters(int count) { QTest::keyClicks(smsmsg(), QString(count, u'x')); }
    void backspace() { QTest::keyClick(smsmsg(), Qt::Key_Backspace); }
    void doubleClickLength() { QTest::mouseDClick(lrs(), Qt::LeftButton); }
};

TEST_F(LengthMonitorTest, FollowsTypingWithoutChangingTheColourWithinTheLimit) {
    Type(smsmsg(), QStringLiteral(u"短"));
    EXPECT_EQ(lrs()->caption(), WithinLimitText(1));
    EXPECT_EQ(lrs()->foreColor(), kDarkBlue);
    backspace();
    EXPECT_EQ(lrs()->caption(), WithinLimitText(0));
    EXPECT_EQ(lrs()->foreColor(), kDarkBlue);
    typeLetters(70);
    EXPECT_EQ(lrs()->caption(), WithinLimitText(70));
    EXPECT_EQ(lrs()->foreColor(), kDarkBlue);
}

TEST_F(LengthMonitorTest, TurnsRedAboveTheLimitAndStaysRedWhileShortening) {
    typeLetters(71);
    EXPECT_EQ(lrs()->caption(), OverLimitText(71));
    EXPECT_EQ(lrs()->foreColor(), kRed);
    backspace();
    EXPECT_EQ(lrs()->caption(), WithinLimitText(70));
    EXPECT_EQ(lrs()->foreColor(), kRed);
}

TEST_F(LengthMonitorTest, ADoubleClickCutsToSeventyAndTurnsBlack) {
    smsmsg()->setText(QString(200, u'字'));  // as a paste of 200 characters
    EXPECT_EQ(lrs()->caption(), OverLimitText(200));
    EXPECT_EQ(lrs()->foreColor(), kRed);
    doubleClickLength();
    EXPECT_EQ(smsmsg()->text(), QString(70, u'字'));
    EXPECT_EQ(lrs()->caption(), WithinLimitText(70));
    EXPECT_EQ(lrs()->foreColor(), kBlack);
}

TEST_F(LengthMonitorTest, ALineBreakCountsTwoAndTheCutMayKeepItsCrAlone) {
    QTest::keyClicks(smsmsg(), "ab");
    QTest::keyClick(smsmsg(), Qt::Key_Return);
    QTest::keyClicks(smsmsg(), "cd");
    EXPECT_EQ(lrs()->caption(), WithinLimitText(6));

    smsmsg()->setText(QString(69, u'x'));
    QTest::keyClick(smsmsg(), Qt::Key_Return);
    EXPECT_EQ(lrs()->caption(), OverLimitText(71));
    doubleClickLength();
    EXPECT_EQ(smsmsg()->text(), QString(69, u'x') + u'\r');
    EXPECT_EQ(lrs()->caption(), WithinLimitText(70));
}

TEST_F(LengthMonitorTest, ADoubleClickOnAShortMessageOnlyTurnsTheLabelBlack) {
    doubleClickLength();
    EXPECT_EQ(smsmsg()->text(), QString());
    EXPECT_EQ(lrs()->caption(), QStringLiteral(u"请输入"));
    EXPECT_EQ(lrs()->foreColor(), kBlack);
}

}  // namespace
}  // namespace vorelta::test
