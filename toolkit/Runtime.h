#pragma once

// What the windows ask of the running program: its title and directory, message boxes,
// the clipboard, starting another program and looking for a file.

#include <QString>
#include <QStringList>

class QWidget;

namespace vorelta {

namespace App {
// The application title: window captions and every message box's caption.
inline const QString Title = QStringLiteral("Vorelta");
// The program's directory, without a trailing separator.
QString Path();
}  // namespace App

// Message boxes go through this seam so that a test can answer them without a dialog opening.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // A modal box with the prompt, an OK button and the application title as caption; returns
    // when it has been closed.
    virtual void MsgBox(const QString& prompt) = 0;
};

class QtMessageBoxes final : public MessageBoxes {
public:
    void MsgBox(const QString& prompt) override;
};

// File dialogs go through this seam so that a test can answer them without a dialog opening.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // The files picked to open; none when the dialog was cancelled.
    virtual QStringList GetOpenFileNames(QWidget* parent, const QString& caption,
                                         const QString& filter) = 0;
    // The file to save to; empty when the dialog was cancelled. The dialog itself asks before
    // an existing file is replaced.
    virtual QString GetSaveFileName(QWidget* parent, const QString& caption,
                                    const QString& suggestedName, const QString& filter) = 0;
};

// Qt's own dialogs. Each starts in the folder the last one was left in, for as long as the
// program runs; nothing is kept beyond that.
class QtFileDialogs final : public FileDialogs {
public:
    QStringList GetOpenFileNames(QWidget* parent, const QString& caption,
                                 const QString& filter) override;
    QString GetSaveFileName(QWidget* parent, const QString& caption, const QString& suggestedName,
                            const QString& filter) override;

private:
    QString lastFolder_;
};

enum WindowStyle { vbNormalFocus = 1 };

// Starting another program goes through this seam so that no test ever starts a real one.
class ProcessStarter {
public:
    virtual ~ProcessStarter() = default;
    // Starts the program and does not wait for it; raises a RuntimeError when it cannot start.
    virtual void Shell(const QString& path, WindowStyle style) = 0;
};

class QtProcessStarter final : public ProcessStarter {
public:
    void Shell(const QString& path, WindowStyle style) override;
};

// The name of the file at `path`, or an empty text when there is none.
QString Dir(const QString& path);

namespace Clipboard {
void Clear();
// Puts the text on the clipboard as plain text.
void SetText(const QString& text);
}  // namespace Clipboard

}  // namespace vorelta
