#pragma once

#include <QStringList>

#include "toolkit/Runtime.h"

namespace vorelta::test {

// Message boxes that never open: each prompt is recorded and answered at once.
class RecordingMessageBoxes final : public MessageBoxes {
public:
    void MsgBox(const QString& prompt) override { prompts << prompt; }
    QStringList prompts;
};

}  // namespace vorelta::test
