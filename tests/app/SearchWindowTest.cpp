// The search panel in the real window: finding a document, choosing it, and the
// keys of the search field.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "app/DocumentView.h"
#include "core/Reload.h"
#include "app/SearchPanel.h"
#include "app/WayfolioFr.h"
#include "config/AuxProj.h"
#include "store/Query.h"
#include "store/Statements.h"
#include "tests/support/TempDatabase.h"

namespace {

// 10 "Beta" > 20 "Child 20" > 30 "Grandchild 30"; 30 is also linked under 12 "Gamma",
// so it has two paths from the root. Only 30 and 11 mention the island.
const char* kTree = R"(
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE, BODY, ENCODING)
  VALUES (10, 'Beta', 'b', 'EZTRIP', '<p>Beaches.</p>', 'utf-8');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE, BODY, ENCODING)
  VALUES (11, 'Alpha', 'a', 'EZTRIP', '<p>Ferries to Zanzibar leave daily.</p>', '');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (12, 'Gamma', 'g', 'EZTRIP');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (20, 'Child 20', 'c20', 'EZTRIP');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE, BODY, ENCODING)
  VALUES (30, 'Stone Town', 'c30', 'EZTRIP',
          '<h1>Zanzibar</h1><p>The old town of Zanzibar, its spice market and Zanzibar harbour.</p>',
          'utf-8');
INSERT INTO MASTER_DETAIL VALUES (0, 10, 1);
INSERT INTO MASTER_DETAIL VALUES (0, 11, 2);
INSERT INTO MASTER_DETAIL VALUES (0, 12, 3);
INSERT INTO MASTER_DETAIL VALUES (10, 20, 1);
INSERT INTO MASTER_DETAIL VALUES (20, 30, 1);
INSERT INTO MASTER_DETAIL VALUES (12, 20, 1);
)";

class SearchWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = std::make_unique<TTempDatabase>(true);
        db_->RunIsql(kTree);
        setenv("XDG_CACHE_HOME", (db_->Folder() + "/cache").c_str(), 1);
        ProjIni = std::make_unique<TIniStore>();
        PutIniText("Interbase", "DatabaseName", db_->Path());
        PutIniText("Interbase", "LogFile", "");
        form_ = std::make_unique<TForm1>();
        form_->FormShow();
    }
    void TearDown() override {
        form_.reset();
        db_.reset();
        ProjIni.reset();
        unsetenv("XDG_CACHE_HOME");
    }

    std::unique_ptr<TTempDatabase> db_;
    std::unique_ptr<TForm1> form_;
};

TEST_F(SearchWindowTest, ChoosingAResultShowsTheDocumentAndSelectsItInTheTree) {
    TSearchPanel* search = form_->Search;
    EXPECT_FALSE(search->Results->isVisible());
    QTest::keyClicks(search->Field, "zanzi*");
    QTest::keyClick(search->Field, Qt::Key_Return);
    ASSERT_EQ(search->Results->count(), 2) << search->Status->text().toStdString();
    // The document that says it three times, once in a heading, comes first.
    QListWidgetItem* best = search->Results->item(0);
    EXPECT_EQ(best->text(), "Stone Town");
    EXPECT_EQ(search->Results->item(1)->text(), "Alpha");

    const QRect rect = search->Results->visualItemRect(best);
    QTest::mouseClick(search->Results->viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_NE(form_->HTML->Document().find("spice market"), std::string::npos);
    QTreeWidgetItem* selected = form_->Selected();
    ASSERT_NE(selected, nullptr);
    EXPECT_EQ(TForm1::NodeIdOf(selected), 30);
    // Its branch was opened from the root down, along one of its two paths.
    ASSERT_NE(selected->parent(), nullptr);
    EXPECT_EQ(TForm1::NodeIdOf(selected->parent()), 20);
    EXPECT_TRUE(selected->parent()->isExpanded());
    EXPECT_TRUE(selected->parent()->parent()->isExpanded());
    EXPECT_EQ(selected->parent()->parent()->parent(), form_->RootItem());
    EXPECT_EQ(form_->StatusPanel0->text(), "30");
}

TEST_F(SearchWindowTest, EscapeClearsTheFieldWithoutStoppingARun) {
    TSearchPanel* search = form_->Search;
    QTest::keyClicks(search->Field, "ferries");
    QTest::keyClick(search->Field, Qt::Key_Return);
    ASSERT_EQ(search->Results->count(), 1);
    StopFlag = false;
    QTest::keyClick(search->Field, Qt::Key_Escape);
    EXPECT_TRUE(search->Field->text().isEmpty());
    EXPECT_FALSE(search->Results->isVisible());
    EXPECT_FALSE(StopFlag);
    // Nothing to clear any more: Esc is the window's Stop again.
    form_->show();
    QApplication::setActiveWindow(form_.get());
    search->Field->setFocus();
    QTest::keyClick(search->Field, Qt::Key_Escape);
    EXPECT_TRUE(StopFlag);
    StopFlag = false;
}

TEST_F(SearchWindowTest, TypingSearchesCountsHitsAndKeysMoveBetweenFieldAndResults) {
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    QApplication::setActiveWindow(form_.get());
    TSearchPanel* search = form_->Search;
    search->Field->setFocus();
    // No Enter: the search runs once typing pauses.
    QTest::keyClicks(search->Field, "zanzibar");
    ASSERT_TRUE(QTest::qWaitFor([&] { return search->Results->count() == 2; }, 10000))
        << search->Status->text().toStdString();
    EXPECT_EQ(search->Status->text(), "2 documents found");

    QTest::keyClick(search->Field, Qt::Key_Down);
    ASSERT_EQ(QApplication::focusWidget(), search->Results);
    EXPECT_EQ(search->Results->currentRow(), 0);
    // Esc in the results goes back to the field, keeping the text, and stops nothing.
    StopFlag = false;
    QTest::keyClick(search->Results, Qt::Key_Escape);
    EXPECT_EQ(QApplication::focusWidget(), search->Field);
    EXPECT_EQ(search->Field->text(), "zanzibar");
    EXPECT_FALSE(StopFlag);

    QTest::keyClicks(search->Field, "x");
    ASSERT_TRUE(QTest::qWaitFor([&] { return search->Status->text() == "No document found"; },
                                10000))
        << search->Status->text().toStdString();

    // More hits than the list shows: the count is the true one.
    {
        TDatabase other;
        TTransaction otherTr(other);
        db_->Connect(other, otherTr);
        TQuery q(other);
        for (int id = 100; id < 160; ++id) {
            q.SetSQL("INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE, BODY, ENCODING) "
                     "VALUES (" + std::to_string(id) + ", 'Bay', 'x" + std::to_string(id) +
                     "', 'EZTRIP', '<p>A lagoon.</p>', 'utf-8')");
            q.ExecSQL();
        }
        otherTr.CommitRetaining();
    }
    search->Field->clear();
    QTest::keyClicks(search->Field, "lagoon");
    ASSERT_TRUE(QTest::qWaitFor([&] { return search->Results->count() > 0; }, 10000))
        << search->Status->text().toStdString();
    EXPECT_EQ(search->Results->count(), 50);
    EXPECT_EQ(search->Status->text(), "60 documents found (the best 50 shown)");
}

TEST_F(SearchWindowTest, ADocumentNoLongerStoredIsReportedNotShown) {
    TSearchPanel* search = form_->Search;
    QTest::keyClicks(search->Field, "ferries");
    QTest::keyClick(search->Field, Qt::Key_Return);
    ASSERT_EQ(search->Results->count(), 1);
    {
        // Another user deletes it.
        TDatabase other;
        TTransaction otherTr(other);
        db_->Connect(other, otherTr);
        TQuery q(other);
        q.SetSQL(Statements::WithId(Statements::DeleteNode, 11));
        q.ExecSQL();
        otherTr.CommitRetaining();
    }
    // The guard shows the message box; here it is closed as soon as it opens.
    QTimer::singleShot(0, [] {
        if (QWidget* box = QApplication::activeModalWidget()) box->close();
    });
    search->Results->itemClicked(search->Results->item(0));
    EXPECT_FALSE(form_->HTML->HasDocument());
    // The next search no longer finds it.
    QTest::keyClick(search->Field, Qt::Key_Return);
    EXPECT_EQ(search->Results->count(), 0);
}

}  // namespace
