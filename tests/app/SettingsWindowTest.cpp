#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <fstream>

#include "app/WayfolioFr.h"
#include "config/AuxProj.h"
#include "dialogs/dg_Settings.h"
#include "logging/Terminal.h"
#include "tests/dialogs/ModalDriver.h"
#include "tests/support/Files.h"
#include "tests/support/TempDatabase.h"

namespace {

class SettingsWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = std::make_unique<TTempDatabase>(true, true);
        ProjIniName = db_->Folder() + "/wayfolio.ini";
        WriteIni("; keep me?\r\n[Interbase]\r\nDatabaseName=" + db_->Path() + "\r\n");
        form_ = std::make_unique<TForm1>();
        form_->FormShow();
    }
    void TearDown() override {
        form_.reset();
        db_.reset();
        ProjIni.reset();
    }
    void WriteIni(const std::string& text) {
        std::ofstream(ProjIniName, std::ios::binary) << text;
        ProjIni = std::make_unique<TIniStore>(TIniStore::FromFile(ProjIniName));
    }
    // Runs the Settings command; edit fills in the dialog, then OK or Cancel is clicked.
    void RunSettings(bool ok, std::function<void(TSettingsDialog*)> edit = {}) {
        auto step = WhenModal<TSettingsDialog>([=](TSettingsDialog* d) {
            if (edit) edit(d);
            (ok ? d->OKBtn : d->CancelBtn)->click();
        });
        form_->SettingsAction->trigger();
        ASSERT_TRUE(step->Ran());
    }

    std::unique_ptr<TTempDatabase> db_;
    std::unique_ptr<TForm1> form_;
};

TEST_F(SettingsWindowTest, CancelChangesNothingAndKeepsTheConnection) {
    QTreeWidgetItem* first = form_->RootItem()->child(0);
    RunSettings(false, [](TSettingsDialog* d) { d->MaxLines->setText("7"); });
    EXPECT_EQ(form_->RootItem()->child(0), first);  // not rebuilt
    EXPECT_TRUE(form_->IBDB.Connected());
    EXPECT_EQ(form_->Log->MaxLines(), 100);
    EXPECT_EQ(ReadWholeFile(ProjIniName).substr(0, 10), "; keep me?");
}

TEST_F(SettingsWindowTest, OkRewritesTheFileReconnectsAndRebuildsTheFirstLevel) {
    form_->RootItem()->child(0)->setExpanded(true);
    form_->SetState(form_->RootItem()->child(0), siMarked);
    RunSettings(true, [](TSettingsDialog* d) { d->MaxLines->setText("0x10"); });
    const std::string file = ReadWholeFile(ProjIniName);
    EXPECT_EQ(file.find("; keep me?"), std::string::npos);  // comments do not survive a save
    EXPECT_NE(file.find("MaxLines=0x10\r\n"), std::string::npos);
    EXPECT_TRUE(form_->IBDB.Connected());
    EXPECT_EQ(form_->Log->MaxLines(), 16);
    ASSERT_EQ(form_->RootItem()->childCount(), 3);
    EXPECT_EQ(TForm1::StateOf(form_->RootItem()->child(0)), siUnmarked);
    EXPECT_EQ(form_->RootItem()->child(0)->childCount(), 0);  // a leaf guide, collapsed again
}

TEST_F(SettingsWindowTest, AnEmptyDatabaseNameShowsTheConnectErrorAndOnlyTheRoot) {
    QString shown;
    auto box = WhenModal<QMessageBox>([&](QMessageBox* b) {
        shown = b->text();
        b->accept();
    });
    RunSettings(true, [](TSettingsDialog* d) { d->Database->clear(); });
    EXPECT_TRUE(box->Ran());
    EXPECT_FALSE(shown.isEmpty());
    EXPECT_FALSE(form_->IBDB.Connected());
    EXPECT_EQ(form_->RootItem()->childCount(), 0);
}

TEST_F(SettingsWindowTest, AFailedReconnectLeavesNoIdOfAVanishedItemInTheStatusBar) {
    // A document below the first level is selected: its item goes with the rebuild.
    QTreeWidgetItem* notes = nullptr;
    for (int i = 0; i < form_->RootItem()->childCount(); ++i)
        if (form_->RootItem()->child(i)->childCount() > 0) notes = form_->RootItem()->child(i);
    ASSERT_NE(notes, nullptr);
    notes->setExpanded(true);
    QTreeWidgetItem* child = notes->child(0);
    form_->Nodes->setCurrentItem(child);
    ASSERT_EQ(form_->StatusPanel0->text(), QString::number(TForm1::NodeIdOf(child)));

    auto box = WhenModal<QMessageBox>([](QMessageBox* b) { b->accept(); });
    RunSettings(true, [&](TSettingsDialog* d) {
        d->Database->setText(QString::fromStdString(db_->Folder() + "/missing.fdb"));
    });
    EXPECT_TRUE(box->Ran());
    ASSERT_EQ(form_->RootItem()->childCount(), 0);
    // Only the root is left: the panel names it or nothing, never the gone item.
    QTreeWidgetItem* current = form_->Nodes->currentItem();
    EXPECT_TRUE(current == nullptr || current == form_->RootItem());
    EXPECT_EQ(form_->StatusPanel0->text(), current ? QString("0") : QString());
}

}  // namespace
