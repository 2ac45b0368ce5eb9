#pragma once

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <memory>

#include "store/Module1.h"
#include "tests/support/KeyDatabase.h"
#include "tests/support/ProgramSeams.h"
#include "toolkit/Label.h"
#include "toolkit/ScrollingLabel.h"
#include "toolkit/TextBox.h"
#include "windows/main/MainForm.h"

namespace vorelta::test {

// The main window over a key.mdb of the test's own, with message boxes that never open.
class MainWindowTest : public testing::Test, protected ProgramSeams {
protected:
    bool load() {
        window = mainWindow(state, dir.path());
        return window->Load();
    }

    // Loads over a table holding these rows and shows the window.
    void open(const std::vector<FieldValue>& rows) {
        dir.createKeys(rows);
        ASSERT_TRUE(load());
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    template <class Control>
    Control* control(const char* name) const {
        auto* found = window->findChild<Control*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    TextBox* smsmsg() const { return control<TextBox>("smsmsg"); }
    Label* lrs() const { return control<Label>("lrs"); }
    ScrollingLabel* Label2() const { return window->Label2; }
    QPushButton* button(const char* name) const { return control<QPushButton>(name); }

    TempProgramDir dir;
    Module1 state;
    std::unique_ptr<vorelta::main> window;
};

}  // namespace vorelta::test
