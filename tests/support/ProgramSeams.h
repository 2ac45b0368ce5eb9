#pragma once

#include <memory>

#include "store/Module1.h"
#include "tests/support/MemoryRegistry.h"
#include "tests/support/RecordingMessageBoxes.h"
#include "tests/support/RecordingProcessStarter.h"
#include "windows/main/MainForm.h"

namespace vorelta::test {

// What the windows are handed besides the shared state, all kept in memory: message boxes that
// never open, process starts that start nothing, and a registry of the test's own.
struct ProgramSeams {
    // The main window over the program folder `programDir`, not loaded yet.
    std::unique_ptr<vorelta::main> mainWindow(Module1& state, const QString& programDir) {
        return std::make_unique<vorelta::main>(state, programDir, boxes, files, starter, registry);
    }

    RecordingMessageBoxes boxes;
    RecordingFileDialogs files;
    RecordingProcessStarter starter;
    MemoryRegistry registry;
};

}  // namespace vorelta::test
