#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <functional>
#include <random>

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

// A line long enough to be held in several pieces, with letters and Chinese mixed.
QString LongLine(int length) {
    QString line;
    for (int i = 0; i < length; ++i) {
        line += i % 7 == 6 ? QChar(u'字') : QChar(u'a' + i % 26);
    }
    return line;
}

void Press(QWidget* widget, Qt::Key key, int times = 1, Qt::KeyboardModifiers modifiers = {}) {
    for (int i = 0; i < times; ++i) {
        QTest::keyClick(widget, key, modifiers);
    }
}

int BlankLines(const QTextDocument& document) {
    int blank = 0;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        blank += block.length() == 1 ? 1 : 0;
    }
    return blank;
}

TEST_F(TextBoxTest, LongLinesAreLaidOutInPiecesThatReadAsOneLine) {
    const QString sample[] = {
        LongLine(textbox::kPieceLength),
        LongLine(textbox::kPieceLength + 1),
        LongLine(2500),
        LongLine(999) + QStringLiteral(u"😀") + LongLine(1200),   // a pair on the cut
        LongLine(1000) + QStringLiteral("\r") + LongLine(1000),  // a mark on the cut
        LongLine(1500) + QStringLiteral("\r\n") + LongLine(1500) + QStringLiteral("\r\n"),
        QStringLiteral("\r\n") + LongLine(2000) + QStringLiteral("\n\r\n"),
    };
    for (const QString& text : sample) {
        SCOPED_TRACE(text.size());
        QSignalSpy changes(&box, &TextBox::Change);
        box.setText(text);
        EXPECT_EQ(box.text(), text);
        EXPECT_EQ(changes.count(), 1);
        int longest = 0;
        for (QTextBlock block = box.document()->begin(); block.isValid(); block = block.next()) {
            longest = std::max(longest, block.length() - 1);
        }
        EXPECT_LE(longest, textbox::kPieceLength + 1);
        box.selectAll();
        box.copy();
        EXPECT_EQ(QApplication::clipboard()->text(), text);
    }
}

// Editing keys act on a long line in pieces exactly as on the same line in one plain block.
TEST_F(TextBoxTest, EditsAcrossPiecesBehaveAsInOneLine) {
    const auto typeChar = [](QWidget* widget, const QString& c) {
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, c, {});
    };
    const auto randomEdits = [&](QWidget* widget) {
        std::mt19937 random(7);
        for (int step = 0; step < 400; ++step) {
            switch (std::uniform_int_distribution<int>(0, 8)(random)) {
                case 0:
                case 1:
                    Press(widget, Qt::Key_Left);
                    break;
                case 2:
                case 3:
                    Press(widget, Qt::Key_Right);
                    break;
                case 4:
                    Press(widget, Qt::Key_Right, 1, Qt::ShiftModifier);
                    break;
                case 5:
                    Press(widget, Qt::Key_Backspace);
                    break;
                case 6:
                    Press(widget, Qt::Key_Delete);
                    break;
                case 7:
                    typeChar(widget, QStringLiteral(u"新"));
                    break;
                default:
                    Press(widget, step % 5 ? Qt::Key_Left : Qt::Key_Return);
            }
        }
    };
    struct Case {
        const char* name;
        int rightPresses, leftPresses;  // from the start of the text, to reach the caret
        std::function<void(QWidget*)> keys;
    };
    const Case cases[] = {
        {"backspace at a piece's start", 1001, 1, [](QWidget* w) { Press(w, Qt::Key_Backspace); }},
        {"backspace at a piece's end", 1000, 0, [](QWidget* w) { Press(w, Qt::Key_Backspace); }},
        {"delete at a piece's end", 1000, 0, [](QWidget* w) { Press(w, Qt::Key_Delete, 3); }},
        {"delete at a piece's start", 1001, 1, [](QWidget* w) { Press(w, Qt::Key_Delete); }},
        {"right across, then backspace", 1000, 0,
         [](QWidget* w) {
             Press(w, Qt::Key_Right);
             Press(w, Qt::Key_Backspace);
         }},
        {"left across, then delete", 1001, 1,
         [](QWidget* w) {
             Press(w, Qt::Key_Left);
             Press(w, Qt::Key_Delete);
         }},
        {"typing on both sides", 1000, 0,
         [&](QWidget* w) {
             typeChar(w, QStringLiteral("x"));
             Press(w, Qt::Key_Left, 2);
             typeChar(w, QStringLiteral("y"));
         }},
        {"enter, then backspace and enter again", 1001, 1,
         [](QWidget* w) {
             Press(w, Qt::Key_Return);
             Press(w, Qt::Key_Backspace);
             Press(w, Qt::Key_Return, 1, Qt::ShiftModifier);
             Press(w, Qt::Key_Right);
             Press(w, Qt::Key_Return);
         }},
        {"copy across", 999, 0,
         [](QWidget* w) {
             Press(w, Qt::Key_Right, 3, Qt::ShiftModifier);
             Press(w, Qt::Key_C, 1, Qt::ControlModifier);
         }},
        {"cut across, then paste back", 998, 0,
         [](QWidget* w) {
             Press(w, Qt::Key_Right, 5, Qt::ShiftModifier);
             Press(w, Qt::Key_X, 1, Qt::ControlModifier);
             Press(w, Qt::Key_Right);
             Press(w, Qt::Key_V, 1, Qt::ControlModifier);
         }},
        {"typing over a selection across", 1002, 0,
         [&](QWidget* w) {
             Press(w, Qt::Key_Left, 4, Qt::ShiftModifier);
             typeChar(w, QStringLiteral("z"));
         }},
        {"paste of lines at the cut", 1000, 0,
         [](QWidget* w) {
             QApplication::clipboard()->setText(QStringLiteral("1\r\n2\r3"));
             Press(w, Qt::Key_V, 1, Qt::ControlModifier);
         }},
        {"emptying the last piece", 2500, 0, [](QWidget* w) { Press(w, Qt::Key_Backspace, 500); }},
        {"emptying a middle piece", 1000, 0,
         [](QWidget* w) {
             Press(w, Qt::Key_Right, 1000, Qt::ShiftModifier);
             Press(w, Qt::Key_Delete);
         }},
        {"typing, then undo", 1000, 0,
         [&](QWidget* w) {
             typeChar(w, QStringLiteral("q"));
             Press(w, Qt::Key_Z, 1, Qt::ControlModifier);
         }},
        {"random keys around a cut", 1000, 0, randomEdits},
    };
    box.resize(300, 200);
    box.show();
    QPlainTextEdit plain;
    plain.resize(300, 200);
    plain.show();
    const QString line = LongLine(2500);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        box.setText(line);
        plain.setPlainText(line);
        QString clipboard[2];
        QWidget* const widgets[] = {&box, &plain};
        for (int i = 0; i < 2; ++i) {
            QApplication::clipboard()->clear();
            Press(widgets[i], Qt::Key_Home, 1, Qt::ControlModifier);
            Press(widgets[i], Qt::Key_Right, c.rightPresses);
            Press(widgets[i], Qt::Key_Left, c.leftPresses);
            c.keys(widgets[i]);
            clipboard[i] = QApplication::clipboard()->text();
        }
        EXPECT_EQ(box.text(), plain.toPlainText().replace(u'\n', QStringLiteral("\r\n")));
        EXPECT_EQ(clipboard[0], clipboard[1]);
        // An emptied piece must not show as a blank line inside the line.
        EXPECT_EQ(BlankLines(*box.document()), BlankLines(*plain.document()));
    }
}

// A write from code is not a step of the user's: undo never takes it back.
TEST_F(TextBoxTest, UndoNeverTakesBackAWriteFromCode) {
    struct Case {
        QString typedBefore, written, typedAfter, afterUndo;
    };
    const Case cases[] = {
        {"xy", {}, {}, {}},                        // the user's own typing is undone
        {{}, "p\rq", {}, "p\rq"},                  // a cut that left a lone CR
        {{}, "abc", {}, "abc"},                    // a check's write-back
        {{}, LongLine(2500), {}, LongLine(2500)},  // in pieces
        {"xy", "p\rq", {}, "p\rq"},                // typing before the write is gone too
        {{}, "p\rq", "zz", "p\rq"},                // typing after it is undone, not the write
    };
    box.show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.written.left(10).toStdString());
        box.setText(QStringLiteral("start"));
        box.setText(QString());
        test::Type(&box, c.typedBefore);
        if (!c.written.isNull()) {
            box.setText(c.written);
        }
        test::Type(&box, c.typedAfter);
        Press(&box, Qt::Key_Z, 1, Qt::ControlModifier);
        EXPECT_EQ(box.text(), c.afterUndo);
        EXPECT_EQ(box.document()->toPlainText().isEmpty(), c.afterUndo.isEmpty());
    }
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
