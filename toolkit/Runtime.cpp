#include "toolkit/Runtime.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>

#include "base/RuntimeError.h"

namespace vorelta {

QString App::Path() {
    return QCoreApplication::applicationDirPath();
}

void QtMessageBoxes::MsgBox(const QString& prompt) {
    QMessageBox box(QMessageBox::NoIcon, App::Title, prompt, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QStringList QtFileDialogs::GetOpenFileNames(QWidget* parent, const QString& caption,
                                            const QString& filter) {
    const QStringList files = QFileDialog::getOpenFileNames(parent, caption, lastFolder_, filter);
    if (!files.isEmpty()) {
        lastFolder_ = QFileInfo(files.front()).absolutePath();
    }
    return files;
}

QString QtFileDialogs::GetSaveFileName(QWidget* parent, const QString& caption,
                                       const QString& suggestedName, const QString& filter) {
    const QString start =
        lastFolder_.isEmpty() ? suggestedName : QDir(lastFolder_).filePath(suggestedName);
    const QString file = QFileDialog::getSaveFileName(parent, caption, start, filter);
    if (!file.isEmpty()) {
        lastFolder_ = QFileInfo(file).absolutePath();
    }
    return file;
}

void QtProcessStarter::Shell(const QString& path, WindowStyle /*style*/) {
    if (path.isEmpty()) {
        throw RuntimeError(5, QStringLiteral(u"无效的过程调用或参数"));
    }
    if (!QProcess::startDetached(path, {})) {
        throw RuntimeError(53, QStringLiteral(u"文件未找到：") + path);
    }
}

QString Dir(const QString& path) {
    const QFileInfo file(path);
    return file.isFile() ? file.fileName() : QString();
}

void Clipboard::Clear() {
    QGuiApplication::clipboard()->clear();
}

void Clipboard::SetText(const QString& text) {
    QGuiApplication::clipboard()->setText(text);
}

}  // namespace vorelta
