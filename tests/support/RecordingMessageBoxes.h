#pragma once

#include <QStringList>
#include <utility>

#include "toolkit/Runtime.h"

namespace vorelta::test {

// Message boxes that never open: each prompt is recorded and answered at once.
class RecordingMessageBoxes final : public MessageBoxes {
public:
    void MsgBox(const QString& prompt) override { prompts << prompt; }
    QStringList prompts;
};

// File dialogs that never open: each answers with what the test put in it beforehand.
class RecordingFileDialogs final : public FileDialogs {
public:
    QStringList GetOpenFileNames(QWidget*, const QString&, const QString&) override {
        return std::exchange(openAnswer, {});
    }
    QString GetSaveFileName(QWidget*, const QString&, const QString&, const QString&) override {
        return std::exchange(saveAnswer, {});
    }
    QStringList openAnswer;
    QString saveAnswer;
};

}  // namespace vorelta::test
