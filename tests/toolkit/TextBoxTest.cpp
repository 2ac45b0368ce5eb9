#include <gtest/gtest.h>

#include <QAccessible>
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
#include "toolkit/TextBoxDocument.h"

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
        QStringLiteral("a\r\nb\r\n"),
        QStringLiteral("a\n\rb"),
        QStringLiteral("a\n\r"),
        QStringLiteral("a\r\rb"),
        QStringLiteral("\r"),
        QStringLiteral("\r\r\n\n"),
        QStringLiteral(u"x\u2028y\u2029z"),
        QStringLiteral(u"a\u2028"),
        QStringLiteral(u"non\u00a0breaking \u3000 full-width blank"),
        QStringLiteral(u"短信\t内容 😀"),
    };
    for (const QString& sample : samples) {
        box.setText(sample);
        EXPECT_EQ(box.text(), sample) << sample.toStdString();
        // Only a CR LF pair breaks the line on the screen; any other break shows as a mark.
        EXPECT_EQ(box.document()->toPlainText().count(u'\n'), sample.count(kLineBreak));
    }
}

TEST_F(TextBoxTest, LoneBreaksStayVisibleAndPairsBreakTheLine) {
    box.setText(QStringLiteral("a\rb\nc\r\nd"));
    // Short lines share a block, each ended by a line separator.
    EXPECT_EQ(box.document()->blockCount(), 1);
    EXPECT_EQ(box.document()->toRawText(), QStringLiteral(u"a␍b␊c\u2028d"));
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

// Empty lines on the screen, where a line separator inside a block ends a line too.
int BlankLines(const QTextDocument& document) {
    int blank = 0;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        blank += int(block.text().split(QChar(0x2028)).count(QString()));
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

// The same text, lines drawn (pieces as one, none emptied or cut short, no composition) and caret.
bool InStep(TextBox& box, const QPlainTextEdit& plain) {
    QString screen;
    for (QTextBlock block = box.document()->begin(); block.isValid(); block = block.next()) {
        screen +=
            QString(block.position() ? 1 : 0, textbox::FollowsSoftBreak(block) ? '\f' : '\n') +
            block.text() + block.layout()->preeditAreaText();
    }
    const QStringList shown = screen.replace(QChar(0x2028), u'\n').split(u'\n');
    const bool cutShort = std::any_of(shown.begin(), shown.end(), [](const QString& line) {
        return line.contains(u'\f') && line.size() - line.count(u'\f') <= textbox::kPieceLength;
    });
    const QString text = plain.toPlainText();
    const int caret = plain.textCursor().position();
    return box.text() == QString(text).replace(u'\n', QStringLiteral("\r\n")) && !cutShort &&
           QStringList(shown).replaceInStrings("\f", "") == text.split(u'\n') &&
           BlankLines(*box.document()) == BlankLines(*plain.document()) &&
           QAccessible::queryAccessibleInterface(&box)->textInterface()->cursorPosition() ==
               caret + text.left(caret).count(u'\n');
}

// An edit picked at random, mostly at or beside the start or end of a block of the box.
std::function<void(QWidget*)> RandomEdit(std::mt19937& random, const TextBox& box,
                                         const QPlainTextEdit& plain, const QString& typed) {
    const auto pick = [&](int n) { return int(random() % n); };
    const QString text = plain.toPlainText();
    std::vector<int> starts;  // as positions in the plain editor
    int soft = 0;
    for (QTextBlock block = box.document()->begin(); block.isValid(); block = block.next()) {
        soft += textbox::FollowsSoftBreak(block) ? 1 : 0;
        starts.push_back(block.position() - soft);
        starts.push_back(block.position() + block.length() - 1 - soft);
    }
    starts.push_back(int(text.size()));
    const int i = pick(int(starts.size()) - 1);
    const int from = std::clamp(starts[i] + pick(3) - 1, 0, int(text.size()));
    const int to = pick(2) ? starts[i + pick(2)] : pick(text.size() + 1);
    const QTextCursor caret = plain.textCursor();  // a replaced range stays inside the text
    const int start = -std::min(pick(3), caret.selectionStart());
    const int length = std::min<int>(pick(3), text.size() - caret.selectionEnd() - start);
    const QKeyCombination keys[] = {
        Qt::Key_Left,         Qt::SHIFT | Qt::Key_Right, Qt::Key_Delete,
        Qt::Key_Backspace,    Qt::CTRL | Qt::Key_C,      Qt::CTRL | Qt::Key_X,
        Qt::CTRL | Qt::Key_V, Qt::CTRL | Qt::Key_Z,      Qt::CTRL | Qt::SHIFT | Qt::Key_Z};
    const QKeyCombination key = keys[pick(9)];
    return [=, kind = pick(4), f = from + int(text.left(from).count(u'\n')),
            t = to + int(text.left(to).count(u'\n'))](QWidget* w) {
        const bool isBox = qobject_cast<TextBox*>(w);
        QInputMethodEvent commit;
        commit.setCommitString(typed.left(2), start, length);
        if (kind == 0) {
            QAccessible::queryAccessibleInterface(w)->textInterface()->setSelection(
                0, isBox ? f : from, isBox ? t : to);
            // On a cut, the box then ends the selection at the piece before it.
            QTest::keySequence(w, QKeySequence(to % 2 ? "Shift+Left, Shift+Right" : ""));
        } else if (kind == 1) {
            // The plain editor would leave a composition in the block that a line break leaves.
            QInputMethodEvent composing(from % 2 && !typed.contains('\r') ? "ni hao" : "", {});
            QApplication::sendEvent(w, &composing);
            QApplication::sendEvent(w, &commit);
        } else {
            Press(w, key.key(), 1, key.keyboardModifiers());
            // Where undo leaves the caret differs: the plain editor keeps caret moves.
            Press(w, Qt::Key_Home, key.key() == Qt::Key_Z, Qt::ControlModifier);
        }
    };
}

// Editing keys act on a long line in pieces exactly as on the same line in one plain block.
TEST_F(TextBoxTest, EditsAcrossPiecesBehaveAsInOneLine) {
    const auto typeChar = [](QWidget* widget, const QString& c) {
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, c, {});
    };
    const auto keysAndCommit = [](const char* keys, const QString& text = {}) {
        return [=](QWidget* w) {
            QApplication::clipboard()->setText("XY");
            QTest::keySequence(w, QKeySequence(keys));
            QInputMethodEvent composing(text.isEmpty() ? "" : "ni hao", {}), commit;
            commit.setCommitString(text);
            QApplication::sendEvent(w, &composing), QApplication::sendEvent(w, &commit);
        };
    };
    const QString batch = QStringList(150, "kw0000001").join("\r\n");  // of short keywords
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
        QString text = LongLine(2500);
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
        {"delete beside a line break at a cut, then undo", 1000, 0,
         [](QWidget* w) {
             QApplication::clipboard()->setText(QStringLiteral("y\r\n"));
             Press(w, Qt::Key_V, 1, Qt::ControlModifier);
             Press(w, Qt::Key_Left, 2);
             Press(w, Qt::Key_Delete);
             Press(w, Qt::Key_Z, 1, Qt::ControlModifier);
         }},
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
        {"emptying a piece after a line break", 4, 0,
         [](QWidget* w) {
             Press(w, Qt::Key_Right, 1000, Qt::ShiftModifier);
             Press(w, Qt::Key_Delete);
         },
         QStringLiteral("abc\r\n") + LongLine(1500)},
        {"undoing the delete of a one-character piece, selecting across", 1001, 0,
         [](QWidget* w) {
             QTest::keySequence(w, QKeySequence("Backspace, Ctrl+Z, Ctrl+End, Left"));
             QTest::keySequence(w, QKeySequence("Shift+Left, Shift+Right, Del"));
         },
         LongLine(1001)},
        {"paste at a block's end, then past it", 999, 0, keysAndCommit("Ctrl+V, Ctrl+V"), batch},
        {"commit at a block's end, short lines", 999, 0, keysAndCommit("", "XY"), batch},
        {"commit past a full block, short lines", 999, 0, keysAndCommit("X, Y", "Z"), batch},
        {"commit at a piece's end after composing", 1000, 0, keysAndCommit("", u"你好"_qs)},
    };
    box.resize(300, 200);
    box.show();
    QPlainTextEdit plain;
    plain.resize(300, 200);
    plain.show();
    QPlainTextEdit* const widgets[] = {&box, &plain};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        box.setText(c.text);
        plain.setPlainText(c.text);
        QString clipboard[2];
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
        EXPECT_TRUE(InStep(box, plain));
    }
    // Random edits, compared after every step, each step being one undo step in both editors.
    for (unsigned seed = 1; seed <= 8; ++seed) {
        std::mt19937 random(seed);
        const QString lines[] = {{}, "abc", LongLine(1000), LongLine(1001), LongLine(2500), batch};
        const QString text =
            QStringList{lines[random() % 6], lines[random() % 6], lines[random() % 6]}.join("\r\n");
        box.setText(text);
        plain.setPlainText(text);
        box.moveCursor(QTextCursor::Start);
        for (int step = 0; step < 300; ++step) {
            const QString typed[] = {"x", u"新"_qs, "1\r\n2", u"甲\r乙\n"_qs, LongLine(1200)};
            const QString& pasted = typed[random() % 5];
            const auto edit = RandomEdit(random, box, plain, pasted);
            QString clipboard[2];
            for (int i = 0; i < 2; ++i) {
                QApplication::clipboard()->setText(pasted);
                edit(widgets[i]);
                clipboard[i] = QApplication::clipboard()->text().replace("\r\n", "\n");
                widgets[i]->document()->setModified(false);  // then no two edits merge for undo
            }
            ASSERT_TRUE(InStep(box, plain) && clipboard[0] == clipboard[1]) << seed << ":" << step;
        }
    }
}

// Assistive technology is told the text itself: a line in pieces reads as the one line it is.
TEST_F(TextBoxTest, AssistiveTechnologyReadsALineInPiecesAsOneLine) {
    const QString line = QString(995, u'x') + " hello world " + LongLine(1500);  // cut in "hello"
    box.setText("ab\r\n" + line + "\r\nz");
    QAccessibleTextInterface* text = QAccessible::queryAccessibleInterface(&box)->textInterface();
    EXPECT_EQ(text->text(0, text->characterCount()), box.text());
    using T = QAccessibleTextInterface;
    const std::tuple<decltype(&T::textAtOffset), int, QAccessible::TextBoundaryType, QString, int>
        rows[] = {
            {&T::textAtOffset, 1002, QAccessible::WordBoundary, "hello", 1000},
            {&T::textAtOffset, 1004, QAccessible::CharBoundary, "o", 1004},
            {&T::textAtOffset, 2000, QAccessible::LineBoundary, line + "\r\n", 4},
            {&T::textAfterOffset, 1, QAccessible::LineBoundary, line + "\r\n", 4},
            {&T::textBeforeOffset, -1, QAccessible::LineBoundary, line + "\r\n", 4},
        };
    for (const auto& [query, offset, boundary, read, first] : rows) {
        int start = -1, end = -1;
        EXPECT_EQ((text->*query)(offset, boundary, &start, &end), read);
        EXPECT_EQ(std::pair(start, end), std::pair(first, first + int(read.size()))) << offset;
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

}  // namespace
}  // namespace vorelta
