// Test entry for everything that needs a QApplication: headless unless told otherwise.

#include <gtest/gtest.h>

#include <QApplication>

#include "toolkit/Form.h"

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The tester's own vorelta.conf (~/.config/vorelta, /etc/xdg/vorelta) would send the tests'
    // keywords to a real server: only the program folders the tests make are looked at.
    qputenv("XDG_CONFIG_HOME", "/nonexistent/vorelta-tests");
    qputenv("XDG_CONFIG_DIRS", "/nonexistent/vorelta-tests");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    vorelta::ApplyApplicationLook(app);
    return RUN_ALL_TESTS();
}
