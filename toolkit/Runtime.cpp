#include "toolkit/Runtime.h"

#include <QApplication>
#include <QClipboard>
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
