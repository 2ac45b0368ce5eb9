// Vorelta: checks a short text message against the forbidden keywords in key.mdb.

#include <QApplication>

#include "store/Module1.h"
#include "toolkit/Form.h"
#include "toolkit/Runtime.h"
#include "windows/about/SysInfoRegistry.h"
#include "windows/main/MainForm.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(vorelta::App::Title);
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
    // Sets the default locale, which Qt wants set before any other thread runs.
    vorelta::ApplyApplicationLook(app);
    // The keywords are counted while the window is built; Load waits for the count.
    vorelta::Module1 state;
    try {
        vorelta::StartOpeningKeyStore(state, vorelta::FindKeywordSource(vorelta::App::Path()));
    } catch (const vorelta::RuntimeError&) {
        // A vorelta.conf that cannot be used: Load finds it again and says so in its message box.
    }

    vorelta::QtMessageBoxes boxes;
    vorelta::QtFileDialogs files;
    vorelta::QtProcessStarter starter;
    vorelta::main window(state, vorelta::App::Path(), boxes, files, starter,
                         vorelta::sysinfo::PlatformRegistry());
    if (!window.Load()) {
        return 1;
    }
    window.show();
    return QApplication::exec();
}
