#pragma once

#include <QStringList>
#include <vector>

#include "base/RuntimeError.h"
#include "toolkit/Runtime.h"

namespace vorelta::test {

// Starts nothing: each start is recorded with its window style; the paths in `missing` (and an
// empty path) fail as a program that cannot be started.
class RecordingProcessStarter final : public ProcessStarter {
public:
    void Shell(const QString& path, WindowStyle style) override {
        if (path.isEmpty() || missing.contains(path)) {
            throw RuntimeError(53, QStringLiteral(u"文件未找到"));
        }
        started << path;
        styles.push_back(style);
    }

    QStringList missing;
    QStringList started;
    std::vector<WindowStyle> styles;
};

}  // namespace vorelta::test
