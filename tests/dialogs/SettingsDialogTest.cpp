#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/ModalDriver.h"
#include "config/AuxProj.h"
#include "dialogs/dg_Settings.h"
#include "tests/support/Files.h"

namespace {

void WriteFile(const std::string& name, const std::string& text) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << text;
}

QLineEdit* Field(QWidget* dialog, const char* name) {
    auto* edit = dialog->findChild<QLineEdit*>(QString::fromLatin1(name));
    EXPECT_NE(edit, nullptr) << name;
    return edit;
}

// Each test gets its own configuration file in a temporary folder and loads the global
// store from it, as the program start does.
class SettingsDialogTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        iniName_ = dir_.filePath(QStringLiteral("wayfolio.ini")).toStdString();
        savedName_ = ProjIniName;
        savedStore_ = std::move(ProjIni);
        ProjIniName = iniName_;
    }
    void TearDown() override {
        ProjIniName = savedName_;
        ProjIni = std::move(savedStore_);
    }
    void Load(const std::string& text) {
        WriteFile(iniName_, text);
        ProjIni = std::make_unique<TIniStore>(TIniStore::FromFile(iniName_));
    }
    // Runs the command; `edit` fills in the open dialog, which is then confirmed or
    // cancelled. Fails the test when the dialog never shows up.
    bool Run(std::function<void(TSettingsDialog*)> edit, bool confirm) {
        auto step = WhenModal<TSettingsDialog>([&](TSettingsDialog* dialog) {
            if (edit) edit(dialog);
            if (confirm)
                QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("OKBtn")),
                                  Qt::LeftButton);
            else
                QTest::keyClick(dialog, Qt::Key_Escape);
        });
        const bool ok = RunSettingsDialog(&parent_);
        EXPECT_TRUE(step->Ran());
        EXPECT_FALSE(step->TimedOut());
        // The dialog is gone once the command returns, whatever the answer.
        EXPECT_EQ(parent_.findChild<TSettingsDialog*>(), nullptr);
        return ok;
    }

    QTemporaryDir dir_;
    std::string iniName_;
    QWidget parent_;

private:
    std::string savedName_;
    std::unique_ptr<TIniStore> savedStore_;
};

TEST_F(SettingsDialogTest, DesignCaptionsPasswordAndTabOrder) {
    TSettingsDialog dialog;
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "Settings");
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "the user cannot resize it";
    EXPECT_EQ(dialog.findChild<QGroupBox*>()->title(), "Database settings");

    const std::pair<const char*, const char*> fields[] = {
        {"Database", "Database file name"}, {"UserName", "User name"},   {"Password", "Password"},
        {"SQLDialect", "SQL dial."},        {"CharSet", "Def.char set"}, {"LogFile", "Log file"},
        {"MaxLines", "Max lines in log"}};
    for (const auto& [name, caption] : fields) {
        QLabel* label = nullptr;
        for (QLabel* l : dialog.findChildren<QLabel*>())
            if (l->buddy() == Field(&dialog, name)) label = l;
        ASSERT_NE(label, nullptr) << name;
        EXPECT_EQ(label->text(), caption);
    }

    dialog.Password->setText("secret");
    EXPECT_EQ(dialog.Password->displayText(), "******");
    EXPECT_TRUE(dialog.OKBtn->isDefault());
    EXPECT_EQ(dialog.CancelBtn->text(), "Cancel");

    QStringList order;
    QWidget* w = dialog.Database;
    do {
        if (w->focusPolicy() & Qt::TabFocus) order << w->objectName();
        w = w->nextInFocusChain();
    } while (w != dialog.Database);
    EXPECT_EQ(order, QStringList({"Database", "UserName", "Password", "SQLDialect", "CharSet",
                                  "OKBtn", "CancelBtn", "LogFile", "MaxLines"}));
}

TEST_F(SettingsDialogTest, ShowsTheFileNotTheDefaultsAndCancelChangesNothing) {
    const std::string text =
        "; written by hand\r\n[Interbase]\r\nUser=ANNA\r\nSQLDialect=1\r\nLogFile=\r\n";
    Load(text);
    const std::string before = ProjIni->ToText();
    const bool ok = Run(
        [](TSettingsDialog* d) {
            EXPECT_EQ(d->Database->text(), "") << "not the connection's default path";
            EXPECT_EQ(d->UserName->text(), "ANNA");
            EXPECT_EQ(d->Password->text(), "") << "not the connection's default password";
            EXPECT_EQ(d->CharSet->text(), "NONE");
            EXPECT_EQ(d->SQLDialect->text(), "1");
            EXPECT_EQ(d->MaxLines->text(), "");
            EXPECT_EQ(d->LogFile->text(), "");
            d->Database->setText("/elsewhere/other.fdb");
            d->UserName->setText("BORIS");
        },
        false);
    EXPECT_FALSE(ok);
    EXPECT_EQ(ReadWholeFile(iniName_), text) << "the comment and the layout stay";
    EXPECT_EQ(ProjIni->ToText(), before);
}

TEST_F(SettingsDialogTest, OkWithoutChangesRewritesTheFileKeepingEveryValue) {
    // Latin-1 bytes (not UTF-8) must come back byte for byte.
    Load(
        "; comment before any section\n"
        "[Download]\n"
        "Proxy.Host=proxy.local\n"
        "; comment inside\n"
        "[interbase]\n"
        "LogFile=/var/log/wf.log\n"
        "DatabaseName=/data/caf\xE9.fdb\n"
        "Password= with blanks \n"
        "Extra=kept\n");
    EXPECT_TRUE(Run({}, true));
    EXPECT_EQ(ReadWholeFile(iniName_),
              "[Download]\r\n"
              "Proxy.Host=proxy.local\r\n"
              "\r\n"
              "[interbase]\r\n"
              "LogFile=/var/log/wf.log\r\n"
              "DatabaseName=/data/caf\xE9.fdb\r\n"
              "Password= with blanks \r\n"
              "Extra=kept\r\n"
              "CharSet=NONE\r\n"
              "\r\n");  // a key the file did not have, left empty, keeps meaning the default
}

TEST_F(SettingsDialogTest, TypedValuesAreStoredAsTypedInANewSectionAtTheEnd) {
    Load("[Download]\r\nReadTimeout=5000\r\n");
    const bool ok = Run(
        [](TSettingsDialog* d) {
            d->Database->clear();
            QTest::keyClicks(d->UserName, " sysdba");
            QTest::keyClicks(d->Password, "p=w");
            d->CharSet->setText("WIN1252");
            QTest::keyClicks(d->SQLDialect, "three");
            QTest::keyClicks(d->MaxLines, "1e3");
            QTest::keyClicks(d->LogFile, "/tmp/");
            d->LogFile->insert(QString::fromUtf8("caf\xC3\xA9.log"));
        },
        true);
    EXPECT_TRUE(ok);
    EXPECT_EQ(ReadWholeFile(iniName_),
              "[Download]\r\nReadTimeout=5000\r\n\r\n"
              "[Interbase]\r\nUser= sysdba\r\nPassword=p=w\r\n"
              "CharSet=WIN1252\r\nSQLDialect=three\r\nMaxLines=1e3\r\n"
              "LogFile=/tmp/caf\xC3\xA9.log\r\n\r\n");
    // What the connection and the log pane will read back.
    EXPECT_EQ(GetIniNumber("Interbase", "SQLDialect", 3), 3);
    EXPECT_EQ(GetIniNumber("Interbase", "MaxLines", 100), 100);
    // The database left empty is not written: the default stays in use.
    EXPECT_EQ(GetIniText("Interbase", "DatabaseName", "default"), "default");
}

TEST_F(SettingsDialogTest, FreshInstallationWritesNoEmptyValueOverADefault) {
    ProjIni = std::make_unique<TIniStore>(TIniStore::FromFile(iniName_));  // no file yet
    EXPECT_TRUE(Run({}, true));
    EXPECT_EQ(ReadWholeFile(iniName_), "[Interbase]\r\nCharSet=NONE\r\n\r\n");
}

TEST_F(SettingsDialogTest, UnwritableFileKeepsTheSettingsForThisRunWithoutAMessage) {
    // Root ignores read-only folders, so use names no one can create: a path below a
    // plain file, and no name at all.
    const std::string plainFile = dir_.filePath(QStringLiteral("plain")).toStdString();
    WriteFile(plainFile, "x");
    for (const std::string& name : {plainFile + "/wayfolio.ini", std::string()}) {
        SCOPED_TRACE(name);
        ProjIniName = name;
        ProjIni = std::make_unique<TIniStore>();
        auto noMessage = WhenModal<QMessageBox>([](QMessageBox* box) { box->reject(); });
        EXPECT_TRUE(Run([](TSettingsDialog* d) { d->Database->setText("/new/db.fdb"); }, true));
        EXPECT_FALSE(noMessage->Ran()) << "a failed save is not reported";
        EXPECT_EQ(GetIniText("Interbase", "DatabaseName", ""), "/new/db.fdb");
    }
    EXPECT_FALSE(std::filesystem::exists(plainFile + "/wayfolio.ini"));
}

}  // namespace
