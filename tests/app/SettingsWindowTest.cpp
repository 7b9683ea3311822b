#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <fstream>

#include "app/WayfolioFr.h"
#include "config/AuxProj.h"
#include "dialogs/dg_Settings.h"
#include "logging/Terminal.h"
#include "store/Query.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/Files.h"
#include "tests/support/HttpTestServer.h"
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

TEST_F(SettingsWindowTest, AFailedReconnectNamesTheDatabaseAndOffersThePreviousSettingsBack) {
    const std::string missing = db_->Folder() + "/missing.fdb";
    QStringList questions;
    bool goBack = false;
    form_->Confirm = [&](const QString& q) {
        questions << q;
        return goBack;
    };
    // Declined: the tree stays empty and the file keeps what the user typed.
    RunSettings(true, [&](TSettingsDialog* d) { d->Database->setText(QString::fromStdString(missing)); });
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions[0].contains(QString::fromStdString("\"" + missing + "\"")))
        << questions[0].toStdString();
    EXPECT_FALSE(form_->IBDB.Connected());
    EXPECT_EQ(form_->RootItem()->childCount(), 0);
    EXPECT_NE(ReadWholeFile(ProjIniName).find("DatabaseName=" + missing), std::string::npos);

    // Accepted: the settings that last opened a database are back, in memory and in
    // the file.
    goBack = true;
    RunSettings(true, [&](TSettingsDialog* d) { d->MaxLines->setText("0x10"); });
    ASSERT_EQ(questions.size(), 2);  // still the missing database
    EXPECT_TRUE(form_->IBDB.Connected());
    EXPECT_EQ(form_->RootItem()->childCount(), 3);
    const std::string file = ReadWholeFile(ProjIniName);
    EXPECT_NE(file.find("DatabaseName=" + db_->Path() + "\r\n"), std::string::npos) << file;
}

// Every document with its title, body and number of children, one line each.
std::string Snapshot(TDatabase& db) {
    TQuery q(db);
    q.SetSQL(
        "SELECT N.NODE_ID, N.TITLE, N.BODY, (SELECT COUNT(*) FROM MASTER_DETAIL MD WHERE "
        "MD.MASTER_ID=N.NODE_ID) AS LINKS FROM NODE N ORDER BY N.NODE_ID");
    std::string all;
    for (q.ExecQuery(); !q.Eof(); q.Next())
        all += q.AsText("NODE_ID") + "|" + q.AsText("TITLE") + "|" + q.AsText("BODY") + "|" +
               q.AsText("LINKS") + "\n";
    return all;
}

// The user confirms Settings naming another database while a branch reload goes on:
// the run ends at once, says so once, and the other database is left as it was.
TEST_F(SettingsWindowTest, ConfirmingAnotherDatabaseDuringARunEndsItWithoutWritingThere) {
    THttpTestServer server;
    server.MountSamples();
    server.Start();
    {
        TQuery q(form_->IBDB);
        q.SetSQL("UPDATE NODE SET ORIG_URL='" + server.Url("/alphabeds/europe.html") +
                 "' WHERE NODE_ID=2");
        q.ExecSQL();
        form_->IBTransaction.CommitRetaining();
    }
    // The same demo documents under the same ids, as another user's database has them.
    TTempDatabase other(true, true);
    const std::string log = db_->Folder() + "/log.txt";
    const std::string before = [&other] {
        TDatabase db;
        TTransaction tr(db);
        other.Connect(db, tr);
        return Snapshot(db);
    }();

    QTreeWidgetItem* guide = form_->RootItem()->child(1);
    ASSERT_EQ(guide->text(0), "AlphaBeds Europe");
    form_->Nodes->setCurrentItem(guide);
    // Settings is confirmed at the first chance the window gets during the run.
    std::unique_ptr<TModalStep> step;
    QTimer::singleShot(0, form_.get(), [&] {
        step = WhenModal<TSettingsDialog>([&](TSettingsDialog* d) {
            d->Database->setText(QString::fromStdString(other.Path()));
            d->LogFile->setText(QString::fromStdString(log));
            d->OKBtn->click();
        });
        form_->SettingsAction->trigger();
    });
    form_->ReloadChildrenAction->trigger();
    ASSERT_TRUE(step && step->Ran());
    ASSERT_TRUE(form_->IBDB.Connected());
    ASSERT_EQ(form_->IBDB.DatabaseName, other.Path());

    // The window is on the other database now: nothing of the run reached it.
    EXPECT_EQ(Snapshot(form_->IBDB), before);

    const std::string text = ReadWholeFile(log);
    std::size_t lines = 0;
    for (std::size_t at = text.find("connection changed"); at != std::string::npos;
         at = text.find("connection changed", at + 1))
        ++lines;
    EXPECT_EQ(lines, 1u) << text;
}

}  // namespace
