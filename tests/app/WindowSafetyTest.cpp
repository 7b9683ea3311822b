// The window used as people use it, keys and clicks included, on guides whose pages
// link back up the tree; and the commands a desktop program is expected to have.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>
#include <csignal>

#include "app/DocumentView.h"
#include "app/FocusMarker.h"
#include "app/TreeExpand.h"
#include "app/WayfolioFr.h"
#include "config/AuxProj.h"
#include "core/StopSignals.h"
#include "logging/Terminal.h"
#include "tests/support/Files.h"
#include "tests/support/TempDatabase.h"

namespace {

// A guide (100) with a region (101) and a town (102). The region links back to the
// guide and on to a street (103); the street links back to the region and on to the
// town; the town links back to the guide. Followed naively, the branch never ends.
// A ladder (200...) of pairs, each linked to both of the next pair: paths double at
// every level.
const char* kLoops = R"(
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE, BODY) VALUES (100, 'Guide', 'g', 'EZTRIP', 'guide body');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (101, 'Region', 'r', 'EZTRIP');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (102, 'Town', 't', 'EZTRIP');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (103, 'Street', 's', 'EZTRIP');
INSERT INTO MASTER_DETAIL VALUES (0, 100, 1);
INSERT INTO MASTER_DETAIL VALUES (100, 101, 1);
INSERT INTO MASTER_DETAIL VALUES (100, 102, 2);
INSERT INTO MASTER_DETAIL VALUES (101, 100, 1);
INSERT INTO MASTER_DETAIL VALUES (101, 103, 2);
INSERT INTO MASTER_DETAIL VALUES (103, 101, 1);
INSERT INTO MASTER_DETAIL VALUES (103, 102, 2);
INSERT INTO MASTER_DETAIL VALUES (102, 100, 1);
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (200, 'Ladder', 'l', 'EZTRIP');
INSERT INTO MASTER_DETAIL VALUES (0, 200, 2);
)";

std::string Ladder(int levels) {
    std::string sql;
    for (int level = 1; level <= levels; ++level)
        for (int side = 0; side < 2; ++side) {
            const int id = 200 + level * 2 + side;
            sql += "INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (" +
                   std::to_string(id) + ", 'Rung " + std::to_string(id) + "', 'l" +
                   std::to_string(id) + "', 'EZTRIP');\n";
            const int up = level == 1 ? 200 : 200 + (level - 1) * 2;
            for (int from = up; from <= (level == 1 ? 200 : up + 1); ++from)
                sql += "INSERT INTO MASTER_DETAIL VALUES (" + std::to_string(from) + ", " +
                       std::to_string(id) + ", " + std::to_string(side) + ");\n";
        }
    return sql;
}

QStringList Captions(QTreeWidgetItem* item) {
    QStringList list;
    for (int i = 0; i < item->childCount(); ++i) list << item->child(i)->text(0);
    return list;
}

// Document items below item (placeholders left out).
int CountBelow(QTreeWidgetItem* item) {
    int n = 0;
    for (int i = 0; i < item->childCount(); ++i)
        if (TForm1::NodeIdOf(item->child(i)) != 0) n += 1 + CountBelow(item->child(i));
    return n;
}

class WindowSafetyTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = std::make_unique<TTempDatabase>(true);
        db_->RunIsql(std::string(kLoops) + Ladder(12));
        ProjIni = std::make_unique<TIniStore>();
        PutIniText("Interbase", "DatabaseName", db_->Path());
        form_ = std::make_unique<TForm1>();
        form_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return form_->RootItem()->childCount() > 0; }, 10000));
        form_->activateWindow();
        form_->Nodes->setFocus();
    }
    void TearDown() override {
        form_.reset();
        db_.reset();
        ProjIni.reset();
    }
    QTreeWidgetItem* Top(int i) { return form_->RootItem()->child(i); }
    void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : form_.get(),
                        static_cast<Qt::Key>(key), mods);
    }
    // What the window system delivers for a double click: a whole click, then the
    // second press as a double click, then its release.
    void DoubleClick(QTreeWidgetItem* item) {
        QWidget* viewport = form_->Nodes->viewport();
        const QPoint at = Center(item);
        QTest::mousePress(viewport, Qt::LeftButton, {}, at);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
    }
    QPoint Center(QTreeWidgetItem* item) {
        form_->Nodes->scrollToItem(item);
        return form_->Nodes->visualItemRect(item).center();
    }

    std::unique_ptr<TTempDatabase> db_;
    std::unique_ptr<TForm1> form_;
};

TEST_F(WindowSafetyTest, NumpadStarOpensALoopingGuideOnceAndStopsAtDocumentsLinkedAbove) {
    QTreeWidgetItem* guide = Top(0);
    ASSERT_EQ(guide->text(0), "Guide");
    form_->Nodes->setCurrentItem(guide);
    Key(Qt::Key_Asterisk, Qt::KeypadModifier);

    ASSERT_EQ(Captions(guide), (QStringList{"Region", "Town"}));
    QTreeWidgetItem* region = guide->child(0);
    QTreeWidgetItem* town = guide->child(1);
    ASSERT_EQ(Captions(region), (QStringList{"Guide", "Street"}));
    // The guide below its own region is shown, greyed, and offers nothing to open.
    EXPECT_TRUE(IsLinkedAbove(region->child(0)));
    EXPECT_EQ(region->child(0)->childCount(), 0);
    EXPECT_FALSE(IsLinkedAbove(region->child(1)));
    QTreeWidgetItem* street = region->child(1);
    ASSERT_EQ(Captions(street), (QStringList{"Region", "Town"}));
    EXPECT_TRUE(IsLinkedAbove(street->child(0)));
    // The town is not above the street: it opens, down to its link to the guide.
    EXPECT_FALSE(IsLinkedAbove(street->child(1)));
    EXPECT_EQ(Captions(street->child(1)), QStringList{"Guide"});
    EXPECT_TRUE(IsLinkedAbove(street->child(1)->child(0)));
    EXPECT_EQ(Captions(town), QStringList{"Guide"});
    EXPECT_TRUE(IsLinkedAbove(town->child(0)));
    EXPECT_EQ(CountBelow(guide), 8);

    // Collapsed and opened by hand, a level is cut the same way.
    region->setExpanded(false);
    region->setExpanded(true);
    EXPECT_TRUE(IsLinkedAbove(region->child(0)));
    EXPECT_EQ(region->child(0)->childCount(), 0);
}

TEST_F(WindowSafetyTest, OpeningABranchStopsAtItsBoundAndAtAStopSignal) {
    QTreeWidgetItem* ladder = Top(1);
    ASSERT_EQ(ladder->text(0), "Ladder");
    // 2^13 - 2 items below it; the bound leaves the upper levels open and stops.
    EXPECT_FALSE(ExpandBranch(ladder, 100));
    EXPECT_GE(CountBelow(ladder), 100);
    EXPECT_LE(CountBelow(ladder), 102);
    EXPECT_TRUE(ladder->child(0)->isExpanded());

    // A stop signal that came while the tree was busy ends the opening at once.
    ladder->setExpanded(false);
    StopSignal = SIGTERM;
    const bool whole = ExpandBranch(ladder, 100);
    StopSignal = 0;
    EXPECT_FALSE(whole);
    EXPECT_FALSE(ladder->isExpanded());

    // A small branch opens whole.
    EXPECT_TRUE(ExpandBranch(Top(0), 100));
}

TEST_F(WindowSafetyTest, ADoubleClickShowsTheDocumentAndLeavesItsMark) {
    QTreeWidgetItem* guide = Top(0);
    QTest::mouseClick(form_->Nodes->viewport(), Qt::LeftButton, {}, Center(guide));
    ASSERT_EQ(TForm1::StateOf(guide), siMarked);  // a click marks
    DoubleClick(guide);
    EXPECT_EQ(TForm1::StateOf(guide), siMarked);
    ASSERT_TRUE(form_->HTML->HasDocument());
    EXPECT_NE(form_->HTML->Document().find("guide body"), std::string::npos);

    // Unmarked, it stays unmarked; the next single click marks again.
    QTest::mouseClick(form_->Nodes->viewport(), Qt::LeftButton, {}, Center(guide));
    ASSERT_EQ(TForm1::StateOf(guide), siUnmarked);
    DoubleClick(guide);
    EXPECT_EQ(TForm1::StateOf(guide), siUnmarked);
    QTest::mouseClick(form_->Nodes->viewport(), Qt::LeftButton, {}, Center(Top(1)));
    EXPECT_EQ(TForm1::StateOf(Top(1)), siMarked);
}

TEST_F(WindowSafetyTest, ShiftF10AndTheMenuKeyOpenTheTreeMenuForTheSelectedItem) {
    const auto openMenu = [&] { return form_->PopupMenu1->isVisible(); };
    form_->Nodes->setCurrentItem(Top(0));
    Key(Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_TRUE(QTest::qWaitFor(openMenu, 5000));
    EXPECT_TRUE(form_->DeleteNodeAction->isEnabled());
    EXPECT_TRUE(form_->ReloadNodeAction->isEnabled());
    QTest::keyClick(form_->PopupMenu1, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !openMenu(); }, 5000));

    // The root stands for no document: only marking applies to it.
    form_->Nodes->setCurrentItem(form_->RootItem());
    Key(Qt::Key_Menu);
    ASSERT_TRUE(QTest::qWaitFor(openMenu, 5000));
    EXPECT_FALSE(form_->DeleteNodeAction->isEnabled());
    EXPECT_FALSE(form_->GotoWebAction->isEnabled());
    EXPECT_FALSE(form_->ReloadChildrenAction->isEnabled());
    EXPECT_TRUE(form_->SelectBranchAction->isEnabled());
    QTest::keyClick(form_->PopupMenu1, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !openMenu(); }, 5000));
    // Closed, the menu leaves every shortcut working.
    EXPECT_TRUE(form_->DeleteNodeAction->isEnabled());

    // A command chosen from the menu by keys runs.
    form_->Nodes->setCurrentItem(Top(0));
    Key(Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_TRUE(QTest::qWaitFor(openMenu, 5000));
    form_->PopupMenu1->setActiveAction(form_->ToggleNodeAction);
    QTest::keyClick(form_->PopupMenu1, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !openMenu(); }, 5000));
    EXPECT_EQ(TForm1::StateOf(Top(0)), siMarked);
}

TEST_F(WindowSafetyTest, ToolbarQuitFocusFrameAndSaveNote) {
    QStringList buttons;
    for (QAction* a : form_->ToolBar->actions())
        if (!a->isSeparator()) buttons << a->iconText();
    EXPECT_EQ(buttons, (QStringList{"Reload", "Reload branch", "Stop", "Join", "Export book",
                                    "Search"}));
    EXPECT_EQ(form_->menuBar()->actions().first()->menu()->actions(),
              QList<QAction*>{form_->QuitAction});

    // The pane holding the focus is framed, the document view and the log included.
    EXPECT_EQ(form_->FocusMarker->Marked(), form_->Nodes);
    Key(Qt::Key_F6);
    EXPECT_EQ(form_->FocusMarker->Marked(), form_->HTML);
    Key(Qt::Key_F6);
    EXPECT_EQ(form_->FocusMarker->Marked(), form_->Log);

    // Save HTML says where the document went.
    form_->Nodes->setCurrentItem(Top(0));
    form_->ShowSelectedDocument();
    const QString path = QString::fromStdString(db_->Folder() + "/saved.html");
    form_->AskSaveHTMLFile = [&] { return path; };
    form_->Nodes->setFocus();
    Key(Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(form_->StatusPanel1->text(), "Document saved to " + path);
    EXPECT_NE(ReadWholeFile(path.toStdString()).find("guide body"), std::string::npos);

    Key(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(form_->isVisible());
}

}  // namespace
