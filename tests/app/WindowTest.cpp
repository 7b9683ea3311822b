#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include "app/WayfolioFr.h"
#include "config/AuxProj.h"
#include "logging/Terminal.h"
#include "store/DbError.h"
#include "store/Query.h"
#include "tests/app/DesktopRecorder.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/Files.h"
#include "tests/support/TempDatabase.h"

namespace {

// Top level: 10 "Beta" (order 1), 11 "Alpha" (order 1), 12 "Gamma" (order 0).
// 10 has children 20 and 21; 20 has child 30; 21 is also linked under 12.
const char* kTree = R"(
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (10, 'Beta', 'b', 'EZTRIP');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (11, 'Alpha', 'a', 'EZTRIP');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (12, 'Gamma', 'g', 'EZTRIP');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (20, 'Child 20', 'c20', 'EZTRIP');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (21, 'Shared 21', 'c21', 'EZTRIP');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (30, 'Grandchild 30', 'c30', 'EZTRIP');
INSERT INTO MASTER_DETAIL VALUES (0, 10, 1);
INSERT INTO MASTER_DETAIL VALUES (0, 11, 1);
INSERT INTO MASTER_DETAIL VALUES (0, 12, 0);
INSERT INTO MASTER_DETAIL VALUES (10, 20, 1);
INSERT INTO MASTER_DETAIL VALUES (10, 21, 2);
INSERT INTO MASTER_DETAIL VALUES (20, 30, 1);
INSERT INTO MASTER_DETAIL VALUES (12, 21, 1);
)";

QStringList Captions(QTreeWidgetItem* item) {
    QStringList list;
    for (int i = 0; i < item->childCount(); ++i) list << item->child(i)->text(0);
    return list;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = std::make_unique<TTempDatabase>(true);
        db_->RunIsql(kTree);
        ProjIni = std::make_unique<TIniStore>();
        PutIniText("Interbase", "DatabaseName", db_->Path());
        PutIniText("Interbase", "MaxLines", "0x20");
        PutIniText("Interbase", "LogFile", "");
        form_ = std::make_unique<TForm1>();
        form_->Confirm = [this](const QString& q) {
            questions_ << q;
            return answer_;
        };
    }
    void TearDown() override {
        form_.reset();
        db_.reset();
        ProjIni.reset();
    }
    QTreeWidgetItem* Top(int i) { return form_->RootItem()->child(i); }

    std::unique_ptr<TTempDatabase> db_;
    std::unique_ptr<TForm1> form_;
    QStringList questions_;
    bool answer_ = false;
};

TEST_F(WindowTest, FirstLevelInOrderWithPlaceholdersAndSettingsApplied) {
    form_->FormShow();
    EXPECT_EQ(form_->Log->MaxLines(), 32);
    EXPECT_EQ(TForm1::StateOf(form_->RootItem()), siUnmarked);
    ASSERT_EQ(Captions(form_->RootItem()), (QStringList{"Gamma", "Alpha", "Beta"}));
    // Beta and Gamma have children: exactly one placeholder each; Alpha none.
    EXPECT_EQ(Captions(Top(2)), QStringList{"Loading..."});
    EXPECT_EQ(TForm1::NodeIdOf(Top(2)->child(0)), 0);
    EXPECT_EQ(TForm1::StateOf(Top(2)->child(0)), siNone);
    EXPECT_EQ(Top(1)->childCount(), 0);
    EXPECT_EQ(TForm1::StateOf(Top(1)), siUnmarked);
    EXPECT_EQ(TForm1::NodeIdOf(Top(0)), 12);
}

TEST_F(WindowTest, ExpandingLoadsAndCollapsingDiscardsMarks) {
    form_->FormShow();
    QTreeWidgetItem* beta = Top(2);
    beta->setExpanded(true);
    ASSERT_EQ(Captions(beta), (QStringList{"Child 20", "Shared 21"}));
    EXPECT_EQ(Captions(beta->child(0)), QStringList{"Loading..."});
    form_->SetState(beta->child(1), siMarked);
    beta->setExpanded(false);
    EXPECT_EQ(Captions(beta), QStringList{"Loading..."});
    beta->setExpanded(true);
    EXPECT_EQ(TForm1::StateOf(beta->child(1)), siUnmarked);
    // The document linked under two parents shows under both.
    Top(0)->setExpanded(true);
    EXPECT_EQ(Captions(Top(0)), QStringList{"Shared 21"});
}

TEST_F(WindowTest, MarksToggleAndBranchSelectionTouchesOnlyLoadedItems) {
    form_->FormShow();
    QTreeWidgetItem* beta = Top(2);
    beta->setExpanded(true);
    form_->Nodes->setCurrentItem(beta);
    form_->Nodes->setFocus();
    form_->SelectBranchAction->trigger();
    EXPECT_EQ(TForm1::StateOf(beta), siMarked);
    EXPECT_EQ(TForm1::StateOf(beta->child(1)), siMarked);
    // The unloaded grandchild's placeholder gets a box too.
    EXPECT_EQ(TForm1::StateOf(beta->child(0)->child(0)), siMarked);
    form_->UnselectBranchAction->trigger();
    EXPECT_EQ(TForm1::StateOf(beta->child(0)->child(0)), siUnmarked);

    form_->Nodes->setCurrentItem(beta->child(1));
    form_->ToggleNodeAction->trigger();
    EXPECT_EQ(TForm1::StateOf(beta->child(1)), siMarked);
    form_->ToggleNodeAction->trigger();
    EXPECT_EQ(TForm1::StateOf(beta->child(1)), siUnmarked);
    // A placeholder without a box toggles to a ticked one.
    form_->Nodes->setCurrentItem(Top(0)->child(0));
    form_->ToggleNodeAction->trigger();
    EXPECT_EQ(TForm1::StateOf(Top(0)->child(0)), siMarked);
    EXPECT_EQ(form_->StatusPanel0->text(), "0");
    form_->Nodes->setCurrentItem(Top(1));
    EXPECT_EQ(form_->StatusPanel0->text(), "11");
}

TEST_F(WindowTest, DeleteAsksOnlyForBranchesAndSparesRootAndPlaceholders) {
    form_->FormShow();
    // The root and a placeholder: nothing happens.
    form_->Nodes->setCurrentItem(form_->RootItem());
    form_->DeleteNodeAction->trigger();
    form_->Nodes->setCurrentItem(Top(0)->child(0));
    form_->DeleteNodeAction->trigger();
    EXPECT_EQ(form_->RootItem()->childCount(), 3);
    EXPECT_TRUE(questions_.isEmpty());

    // A branch asks with its caption; "No" keeps everything.
    form_->Nodes->setCurrentItem(Top(2));
    form_->DeleteNodeAction->trigger();
    ASSERT_EQ(questions_, QStringList{"Delete whole branch \"Beta\"?"});
    EXPECT_EQ(form_->RootItem()->childCount(), 3);

    // A leaf goes without a question, from the tree and the database.
    form_->Nodes->setCurrentItem(Top(1));
    form_->DeleteNodeAction->trigger();
    EXPECT_EQ(questions_.size(), 1);
    EXPECT_EQ(Captions(form_->RootItem()), (QStringList{"Gamma", "Beta"}));

    answer_ = true;
    form_->Nodes->setCurrentItem(Top(1));
    form_->DeleteNodeAction->trigger();
    EXPECT_EQ(Captions(form_->RootItem()), QStringList{"Gamma"});
    form_->RootItem()->setExpanded(false);
    form_->RootItem()->setExpanded(true);
    EXPECT_EQ(Captions(form_->RootItem()), QStringList{"Gamma"});
}

TEST_F(WindowTest, ConnectFailuresLeaveOnlyTheRootAndExpandingRetriesSilently) {
    PutIniText("Interbase", "DatabaseName", db_->Folder() + "/missing.fdb");
    EXPECT_THROW(form_->FormShow(), EDatabaseError);
    EXPECT_EQ(form_->RootItem()->childCount(), 0);
    EXPECT_FALSE(form_->IBDB.Connected());

    PutIniText("Interbase", "DatabaseName", db_->Path());
    PutIniText("Interbase", "SQLDialect", "0");
    try {
        form_->FormShow();
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "SQL Dialect Invalid");
    }
    PutIniText("Interbase", "SQLDialect", "junk");  // reads as the default, 3
    form_->FormShow();
    EXPECT_EQ(form_->IBDB.EffectiveDialect(), 3);
    ASSERT_EQ(form_->RootItem()->childCount(), 3);

    // The connection is lost; expanding is refused without a message and the
    // placeholder stays for the next try.
    form_->IBDB.Close();
    PutIniText("Interbase", "DatabaseName", db_->Folder() + "/missing.fdb");
    Top(2)->setExpanded(true);
    EXPECT_FALSE(Top(2)->isExpanded());
    EXPECT_EQ(Captions(Top(2)), QStringList{"Loading..."});
    PutIniText("Interbase", "DatabaseName", db_->Path());
    Top(2)->setExpanded(true);
    EXPECT_EQ(Captions(Top(2)), (QStringList{"Child 20", "Shared 21"}));
}

TEST_F(WindowTest, ASchemaWithoutTitlesIsReportedByName) {
    db_->RunIsql("ALTER TABLE NODE DROP TITLE;");
    try {
        form_->FormShow();
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("TITLE"), std::string::npos) << e.what();
    }
    EXPECT_EQ(form_->RootItem()->childCount(), 0);
}

TEST_F(WindowTest, TitlesWithQuotesAndNonAsciiBytesShowAsStored) {
    db_->RunIsql("UPDATE NODE SET TITLE = 'O''Hara \"" + std::string("caf\xC3\xA9") +
                 "\"' WHERE NODE_ID = 11;"
                 "UPDATE NODE SET TITLE = 'Z" +
                 std::string("\xFC") + "rich' WHERE NODE_ID = 12;");
    form_->FormShow();
    EXPECT_EQ(Top(2)->text(0), QString::fromUtf8("O'Hara \"caf\xC3\xA9\""));
    EXPECT_EQ(Top(0)->text(0), QString::fromLatin1("Z\xFCrich"));  // not UTF-8: shown as Latin-1
}

TEST_F(WindowTest, MenusCarryTheActionsWithShortcutsAndHintsReachTheStatusBar) {
    EXPECT_EQ(form_->ReloadNodeAction->shortcut(), QKeySequence("Ctrl+R"));
    EXPECT_EQ(form_->StopAction->shortcut(), QKeySequence(Qt::Key_Escape));
    EXPECT_EQ(form_->DeleteNodeAction->shortcut(), QKeySequence(Qt::Key_Delete));
    QStringList popup;
    for (QAction* a : form_->PopupMenu1->actions()) popup << (a->isSeparator() ? "-" : a->text());
    EXPECT_EQ(popup,
              (QStringList{"Goto web", "-", "Toggle node", "Select branch", "Unselect branch", "-",
                           "Reload document", "Load branch documents (empty only)",
                           "Reload branch documents", "Try reader...", "Delete node"}));
    form_->ShowHint("short|the long part");
    EXPECT_EQ(form_->StatusPanel1->text(), "the long part");
    form_->GotoWebAction->showStatusText(form_.get());
    EXPECT_EQ(form_->StatusPanel1->text(),
              "Open page in browser from web, online connection required");
}

TEST_F(WindowTest, SpaceKeyTogglesTheSelectedItem) {
    // Showing the window connects and loads the first level once the event loop runs.
    form_->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form_->RootItem()->childCount() == 3; }, 10000));
    form_->activateWindow();
    form_->Nodes->setFocus();
    form_->Nodes->setCurrentItem(Top(1));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    // Through the window, as the platform delivers keys, so shortcuts apply.
    QSignalSpy toggled(form_->ToggleNodeAction, &QAction::triggered);
    QTest::keyClick(form_->windowHandle(), Qt::Key_Space);
    EXPECT_EQ(toggled.count(), 1);
    EXPECT_EQ(TForm1::StateOf(Top(1)), siMarked);
    QTest::keyClick(form_->windowHandle(), Qt::Key_Space, Qt::ControlModifier);
    EXPECT_EQ(TForm1::StateOf(Top(1)), siMarked);  // Select branch
    QTest::keyClick(form_->windowHandle(), Qt::Key_U, Qt::ControlModifier);
    EXPECT_EQ(TForm1::StateOf(Top(1)), siUnmarked);
}

TEST_F(WindowTest, ADatabaseErrorOfSeveralLinesIsLoggedLineByLine) {
    const std::string logFile = db_->Folder() + "/wayfolio.log";
    PutIniText("Interbase", "LogFile", logFile);
    form_->FormShow();
    std::string message;
    try {
        TQuery q(form_->IBDB);
        q.SetSQL("SELECT * FROM NO_SUCH_TABLE");
        q.ExecQuery();
    } catch (const EDatabaseError& e) {
        message = e.what();
    }
    const QStringList lines = QString::fromStdString(message).split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 3) << message;  // the engine's own message, as a run logs it

    form_->WriteLog(3, message);
    // Each line starts at the left edge of the pane, and the file holds CR LF records only.
    const QStringList expected = QStringList{""} + lines + QStringList{""};
    ASSERT_TRUE(QTest::qWaitFor([&] { return form_->Log->Lines().size() >= expected.size(); }));
    EXPECT_EQ(form_->Log->Lines().join("|").toStdString(), expected.join("|").toStdString());
    EXPECT_EQ(ReadWholeFile(logFile), ("\r\n" + lines.join("\r\n") + "\r\n").toStdString());
}

TEST_F(WindowTest, GotoWebHandsOnlyWebAddressesToTheDesktopEncoded) {
    TDesktopRecorder desktop({"http", "https", "file", "smb", "guidebook"});
    form_->FormShow();
    form_->Nodes->setCurrentItem(Top(1));  // Alpha, node 11
    auto gotoWeb = [&](const std::string& url) {
        TQuery q(form_->IBDB);
        q.SetSQL("UPDATE NODE SET ORIG_URL = :Url WHERE NODE_ID = 11");
        q.SetParam("Url", url);
        q.ExecSQL();
        form_->IBTransaction.CommitRetaining();
        QString shown;
        auto box = WhenModal<QMessageBox>([&](QMessageBox* b) {
            shown = b->text();
            b->accept();
        });
        form_->GotoWebAction->trigger();
        return shown.toStdString();
    };

    // As a page wrote it: blanks and a Latin-1 byte go out percent-encoded.
    EXPECT_EQ(gotoWeb("http://127.0.0.1/Z\xFCrich old town/?q=a b"), "");
    EXPECT_EQ(gotoWeb("HTTPS://127.0.0.1/ok"), "");
    EXPECT_EQ(desktop.opened.join(" ").toStdString(),
              "http://127.0.0.1/Z%FCrich%20old%20town/?q=a%20b https://127.0.0.1/ok");

    // Anything else is refused with a message naming it, and nothing is opened.
    for (const char* refused : {"file:///etc/passwd", "smb://server/share", "guidebook:run?x=1"}) {
        const std::string shown = gotoWeb(refused);
        EXPECT_NE(shown.find("\"" + std::string(refused) + "\""), std::string::npos) << shown;
    }
    EXPECT_EQ(desktop.opened.size(), 2);
}

}  // namespace
