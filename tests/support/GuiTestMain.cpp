// Test entry for everything that needs a QApplication: headless unless told otherwise.

#include <gtest/gtest.h>

#include <QApplication>

#include "toolkit/Form.h"

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    vorelta::ApplyApplicationLook(app);
    return RUN_ALL_TESTS();
}
