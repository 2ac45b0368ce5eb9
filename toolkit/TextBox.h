#pragma once

#include <QPlainTextEdit>

namespace vorelta {

// A multi-line text box whose text uses CR LF line breaks.
//
// Enter, Shift+Enter and every line break in pasted text read back as CR LF. A text written by
// code reads back exactly as written: a CR LF pair is shown as a line break, while a lone CR or
// LF (or a Unicode line or paragraph separator) is kept as a visible mark (␍, ␊, ␤) that reads
// back as the character it stands for.
//
// Change is raised after every edit that changes the text, and inside setText when the new text
// differs from the old one, before setText returns.
class TextBox : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit TextBox(QWidget* parent = nullptr);

    const QString& text() const { return text_; }
    void setText(const QString& text);

Q_SIGNALS:
    void Change();

protected:
    void insertFromMimeData(const QMimeData* source) override;

private:
    void onDocumentChanged();
    void render(const QString& text);
    QString readDocument() const;

    QString text_;  // the text as CR LF text, kept in step with the document
    bool rendering_ = false;
};

// Text as a text box holds it (CR LF breaks, marks for lone breaks) <-> the text it shows.
namespace textbox {
// True when every CR and LF in the text belongs to a CR LF pair and no Unicode line or
// paragraph separator occurs: then the text can be shown as plain lines.
bool HasOnlyPairedBreaks(const QString& text);
}  // namespace textbox

}  // namespace vorelta
