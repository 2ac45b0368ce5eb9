#pragma once

// The program's two working windows over one key.mdb, started up the way main::Load does but
// with file settings of the test's own (a short lock wait, a read-only open). Message boxes never
// open; they are recorded.

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
#include "windows/edit/EditForm.h"
#include "windows/main/MainForm.h"

namespace vorelta::test {

class FaultSession : public ProgramSeams {
public:
    // `settings` gives the file's wait for locks and whether it is read only; the program's own
    // data source gives the rest.
    void startUp(const std::vector<FieldValue>& rows, const DataSource& settings = {}) {
        dir.createKeys(rows);
        startUpOverExistingFile(settings);
    }

    void startUpOverExistingFile(const DataSource& settings) {
        DataSource source = KeyDataSource(dir.path());
        source.readOnly = settings.readOnly;
        source.busyTimeoutMs = settings.busyTimeoutMs;
        OpenKeyStore(state, source);
        checker = mainWindow(state, dir.path());
        manager = std::make_unique<edit>(state, boxes, files);
        manager->Form_Load();
    }

    // The program's own start-up over key.mdb as it is, through main::Load.
    bool load() {
        checker = mainWindow(state, dir.path());
        return checker->Load();
    }

    // The main window's check of this message; what the result label then shows.
    QString check(const QString& message) {
        auto* box = checker->findChild<TextBox*>(QStringLiteral("smsmsg"));
        box->setText(message);
        QTest::mouseClick(checker->findChild<QPushButton*>(QStringLiteral("Command2")),
                          Qt::LeftButton);
        return checker->Label2->caption();
    }
    QString message() const {
        return checker->findChild<TextBox*>(QStringLiteral("smsmsg"))->text();
    }

    void insert(const QString& text) {
        manager->key->setText(text);
        QTest::mouseClick(manager->Command1, Qt::LeftButton);
    }

    // Selects the item of this text, if listed, and presses the delete button.
    void deleteKeyword(const QString& keyword) {
        manager->List1->setListIndex(listed().indexOf(keyword));
        QTest::mouseClick(manager->Command2, Qt::LeftButton);
    }

    QStringList listed() const {
        QStringList items;
        for (int i = 0; i < manager->List1->ListCount(); ++i) {
            items << manager->List1->List(i);
        }
        return items;
    }

    TempProgramDir dir;
    Module1 state;
    std::unique_ptr<vorelta::main> checker;
    std::unique_ptr<edit> manager;
};

}  // namespace vorelta::test
