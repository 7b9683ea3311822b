// The Settings dialog on a fresh install shows the values in use as placeholders.
#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "core/DbSettings.h"
#include "app/WayfolioFr.h"
#include "config/AuxProj.h"
#include "dialogs/dg_Settings.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/Files.h"
#include "tests/support/TempDatabase.h"

namespace {

TEST(SettingsPlaceholderTest, KeysTheFileLeavesOutShowTheValueInUseAndStayEmptyWhenSaved) {
    TTempDatabase db(true, true);
    ProjIniName = db.Folder() + "/wayfolio.ini";
    ProjIni = std::make_unique<TIniStore>();
    PutIniText("Interbase", "User", "reader");  // the file holds this one key
    auto form = std::make_unique<TForm1>();
    QString database, user, dialect, maxLines, databaseText;
    auto step = WhenModal<TSettingsDialog>([&](TSettingsDialog* d) {
        database = d->Database->placeholderText();
        databaseText = d->Database->text();
        user = d->UserName->placeholderText();
        dialect = d->SQLDialect->placeholderText();
        maxLines = d->MaxLines->placeholderText();
        d->CancelBtn->click();
    });
    form->SettingsAction->trigger();
    ASSERT_TRUE(step->Ran());
    EXPECT_EQ(database.toStdString(), DefaultDatabaseName());
    EXPECT_EQ(databaseText, "");
    EXPECT_EQ(user, "");  // the file's value shows as text, no placeholder
    EXPECT_EQ(dialect, "3");
    EXPECT_EQ(maxLines, "100");

    // OK without a change writes no empty value over the keys the file left out: they
    // keep meaning the defaults, shown again the next time. (The default database does
    // not exist beside the test program; that message is answered.)
    auto ok = WhenModal<TSettingsDialog>([](TSettingsDialog* d) { d->OKBtn->click(); });
    auto error = WhenModal<QMessageBox>([](QMessageBox* b) { b->accept(); });
    form->SettingsAction->trigger();
    EXPECT_TRUE(ok->Ran());
    const std::string file = ReadWholeFile(ProjIniName);
    EXPECT_EQ(file.find("DatabaseName="), std::string::npos) << file;
    EXPECT_EQ(file.find("SQLDialect="), std::string::npos) << file;
    EXPECT_NE(file.find("User=reader\r\n"), std::string::npos) << file;
    auto again = WhenModal<TSettingsDialog>([&](TSettingsDialog* d) {
        database = d->Database->placeholderText();
        d->CancelBtn->click();
    });
    form->SettingsAction->trigger();
    ASSERT_TRUE(again->Ran());
    EXPECT_EQ(database.toStdString(), DefaultDatabaseName());
    form.reset();
    ProjIni.reset();
}

}  // namespace
