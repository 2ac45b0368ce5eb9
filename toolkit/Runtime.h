#pragma once

// What the windows ask of the running program: its title and directory, message boxes,
// the clipboard, starting another program and looking for a file.

#include <QString>

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
