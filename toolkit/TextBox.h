#pragma once

#include <QPlainTextEdit>
#include <vector>

#include "base/Text.h"
#include "toolkit/TextBoxDocument.h"  // the format of document(), for code that reads it

namespace vorelta {

class TextBoxAccessible;

// A multi-line text box whose text uses CR LF line breaks.
//
// Enter, Shift+Enter and every line break in pasted text read back as CR LF. A text written by
// code reads back exactly as written: a CR LF pair is shown as a line break, while a lone CR or
// LF (or a Unicode line or paragraph separator) is kept as a visible mark (␍, ␊, ␤) that reads
// back as the character it stands for.
//
// Long lines are laid out in pieces: the editor lays out a whole paragraph on every keystroke,
// which freezes the window for a line of a megabyte. A line longer than a piece is held as
// several document blocks joined by soft breaks, which read back as nothing and behave as one
// line for typing, deleting, caret movement and copying, and for assistive technology, which
// is told the text as text() gives it.
//
// Change is raised after every edit that changes the text, and inside setText when the new text
// differs from the old one, before setText returns. A write from code clears the undo history:
// it is not a step of the user's that Ctrl+Z could take back.
//
// Stretches of the text can be marked with a light-red background. Marks are painted beneath the
// characters of the pieces on screen: they change neither the text nor its undo history, and
// they go at the next edit or write.
class TextBox : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit TextBox(QWidget* parent = nullptr);

    const QString& text() const { return text_; }
    void setText(const QString& text);

    // Stretches of text(), in order and apart from each other, marked with a light red
    // background; the second kind, in light orange. Any edit or write drops both.
    void setMarks(std::vector<TextRun> runs, std::vector<TextRun> secondRuns = {});
    const std::vector<TextRun>& marks() const { return marks_; }
    const std::vector<TextRun>& secondMarks() const { return secondMarks_; }
    // Draws a stretch of text() in this colour until the next write; neither an edit nor undo.
    void setTextColour(TextRun run, const QColor& colour);

    // The selection, or the caret where nothing is selected, as a stretch of text().
    TextRun selection() const;
    // Selects a stretch of text() (the caret alone for an empty one) and scrolls it into view.
    void select(TextRun run);
    // Scrolls the character at this offset of text() into view; the caret stays where it is.
    void scrollTo(qsizetype offset);
    // Where in text() the character at this point of the viewport stands.
    qsizetype offsetAt(const QPoint& point) const;

Q_SIGNALS:
    void Change();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;
    QMimeData* createMimeDataFromSelection() const override;

private:
    // Answers assistive technology in text() offsets, and edits by them through replaceText.
    friend class TextBoxAccessible;

    void render(const QString& text);
    void onContentsChange(int position, int removed, int added);
    qsizetype textOffsetOf(int position) const;
    int documentPosition(qsizetype textOffset) const;
    bool isSoftBreakAt(int position) const;

    void insertLineBreak();
    bool deleteCharacter(const QKeyEvent* event);
    void replaceText(qsizetype from, qsizetype to, const QString& text);
    void writeOver(QTextCursor& cursor, const QString& text);
    void removeEmptyPieces();  // and every other needless soft break
    void paintMarks(const QRect& area, const std::vector<TextRun>& runs, const QColor& colour);

    QString text_;  // the text as CR LF text, kept in step with the document on every edit
    // Document positions of the block separators that are soft breaks, ascending.
    std::vector<int> softBreaks_;
    // Document positions of the line separators that end lines sharing a block, ascending.
    std::vector<int> lineSeparators_;
    int blockCount_ = 1;
    int edits_ = 0;  // document edits seen, to tell a caret move from an edit
    bool rendering_ = false;
    bool emptyPieceLeft_ = false;
    std::vector<TextRun> marks_;
    std::vector<TextRun> secondMarks_;
};

}  // namespace vorelta
