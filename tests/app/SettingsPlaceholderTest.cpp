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

    // Saved, the field stays empty in the file, as the dialog always did.
    auto ok = WhenModal<TSettingsDialog>([](TSettingsDialog* d) { d->OKBtn->click(); });
    // An empty database name fails to connect; the message is answered.
    auto error = WhenModal<QMessageBox>([](QMessageBox* b) { b->accept(); });
    form->SettingsAction->trigger();
    EXPECT_TRUE(ok->Ran());
    EXPECT_NE(ReadWholeFile(ProjIniName).find("DatabaseName=\r\n"), std::string::npos);
    form.reset();
    ProjIni.reset();
}

}  // namespace
