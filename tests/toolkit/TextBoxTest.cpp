#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>

#include "tests/support/Input.h"
#include "toolkit/TextBox.h"

namespace vorelta {
namespace {

class TextBoxTest : public testing::Test {
protected:
    TextBox box;
};

TEST_F(TextBoxTest, WhatCodeWritesReadsBackExactly) {
    const QString samples[] = {
        QString(),
        QStringLiteral("a"),
        QStringLiteral("a\r\nb"),
        QStringLiteral("a\rb"),
        QStringLiteral("a\nb"),
        QStringLiteral("a\r\n"),
        QStringLiteral("\r\n\r\n"),
        QStringLiteral("a\n\rb"),
        QStringLiteral("\r"),
        QStringLiteral("\r\r\n\n"),
        QStringLiteral(u"x\u2028y\u2029z"),
        QStringLiteral(u"non\u00a0breaking \u3000 full-width blank"),
        QStringLiteral(u"短信\t内容 😀"),
    };
    for (const QString& sample : samples) {
        box.setText(sample);
        EXPECT_EQ(box.text(), sample) << sample.toStdString();
    }
}

TEST_F(TextBoxTest, LoneBreaksStayVisibleAndPairsBreakTheLine) {
    box.setText(QStringLiteral("a\rb\nc\r\nd"));
    EXPECT_EQ(box.document()->blockCount(), 2);
    EXPECT_EQ(box.document()->toRawText(), QStringLiteral(u"a␍b␊c\u2029d"));
}

TEST_F(TextBoxTest, ChangeRunsInsideAWriteThatChangesTheText) {
    QString seenInside;
    int changes = 0;
    QObject::connect(&box, &TextBox::Change, [&] {
        ++changes;
        seenInside = box.text();
    });
    box.setText(QStringLiteral("abc"));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(seenInside, QStringLiteral("abc"));

    box.setText(QStringLiteral("abc"));  // the same text: no change, no event
    EXPECT_EQ(changes, 1);
    box.setText(QString());
    EXPECT_EQ(changes, 2);
}

TEST_F(TextBoxTest, TypedAndPastedLineBreaksReadAsCrLf) {
    box.show();
    QSignalSpy changes(&box, &TextBox::Change);
    test::Type(&box, QStringLiteral(u"短信\nab"));
    QTest::keyClick(&box, Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(box.text(), QStringLiteral(u"短信\r\nab\r\n"));
    EXPECT_EQ(changes.count(), 6);

    box.moveCursor(QTextCursor::End);
    QApplication::clipboard()->setText(QStringLiteral("1\n2\r3\r\n4"));
    box.paste();
    EXPECT_EQ(box.text(), QStringLiteral(u"短信\r\nab\r\n1\r\n2\r\n3\r\n4"));
}

TEST_F(TextBoxTest, TypingBesideALoneBreakKeepsBoth) {
    box.show();
    box.setText(QStringLiteral("p\rq"));
    box.moveCursor(QTextCursor::End);
    QTest::keyClicks(&box, "x");
    EXPECT_EQ(box.text(), QStringLiteral("p\rqx"));
    box.moveCursor(QTextCursor::Start);
    box.moveCursor(QTextCursor::Right);
    box.moveCursor(QTextCursor::Right);
    QTest::keyClicks(&box, "y");  // right after the mark, taking on its format
    EXPECT_EQ(box.text(), QStringLiteral("p\ryqx"));
}

TEST(TextBoxFocusTest, TabMovesOnAndTypesNothing) {
    QWidget window;
    auto* box = new TextBox(&window);
    auto* button = new QPushButton(QStringLiteral("ok"), &window);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Tab);
    EXPECT_TRUE(button->hasFocus());
    EXPECT_EQ(box->text(), QString());
}

TEST(TextBoxBreaksTest, PairedBreaksAreToldFromLoneOnes) {
    EXPECT_TRUE(textbox::HasOnlyPairedBreaks(QString()));
    EXPECT_TRUE(textbox::HasOnlyPairedBreaks(QStringLiteral("a\r\nb\r\n")));
    EXPECT_FALSE(textbox::HasOnlyPairedBreaks(QStringLiteral("a\r\rb")));
    EXPECT_FALSE(textbox::HasOnlyPairedBreaks(QStringLiteral("a\n\r")));
    EXPECT_FALSE(textbox::HasOnlyPairedBreaks(QStringLiteral(u"a\u2028")));
}

}  // namespace
}  // namespace vorelta
