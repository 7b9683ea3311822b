// The window's reload actions: the run from the selected item, the refresh of the item
// selected when it ends, Stop while it goes on, and the progress panel.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QRegularExpression>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <chrono>
#include <fstream>

#include "app/RunProgress.h"
#include "app/WayfolioFr.h"
#include "config/AuxProj.h"
#include "samples/SamplePages.h"
#include "store/Query.h"
#include "tests/support/Files.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TempDatabase.h"

namespace {

QStringList Captions(QTreeWidgetItem* item) {
    QStringList list;
    for (int i = 0; i < item->childCount(); ++i) list << item->child(i)->text(0);
    return list;
}

class ReloadWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Top -> One, Two; One -> Three.
        server_.Http().Get(R"(/site/(.*))", [](const httplib::Request& req,
                                               httplib::Response& res) {
            const std::string name = req.matches[1].str();
            std::vector<SamplePages::TLink> links;
            if (name == "X_viewLocation_Top.html")
                links = {{"X_viewLocation_One.html", "One"}, {"X_viewLocation_Two.html", "Two"}};
            if (name == "X_viewLocation_One.html") links = {{"X_viewLocation_Three.html", "Three"}};
            res.set_content(SamplePages::EzTripLocationPage("T", name, links, "Body " + name),
                            "text/html");
        });
        server_.Start();
        db_.RunIsql(
            "INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE) VALUES (1, 'Top', '" +
            server_.Url("/site/X_viewLocation_Top.html") +
            "', 'X_viewLocation_Top', 'EZTRIP');\n"
            "INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE) VALUES (2, 'Notes', "
            "'', 'notes', 'NOTES');\n"
            "INSERT INTO MASTER_DETAIL VALUES (0, 1, 1);\n"
            "INSERT INTO MASTER_DETAIL VALUES (0, 2, 2);\n"
            "ALTER SEQUENCE NODE_ID RESTART WITH 10;");
        ProjIni = std::make_unique<TIniStore>();
        PutIniText("Interbase", "DatabaseName", db_.Path());
        PutIniText("Interbase", "LogFile", db_.Folder() + "/log.txt");
        // These tests tell the pages whose turn came by the requests the server saw:
        // one page at a time, nothing is asked for ahead of its turn.
        PutIniText("Download", "Connections", "1");
        form_ = std::make_unique<TForm1>();
        form_->FormShow();
    }
    void TearDown() override {
        form_.reset();
        ProjIni.reset();
    }
    QTreeWidgetItem* Top(int i) { return form_->RootItem()->child(i); }
    void Rename(int id, const std::string& title) {
        TQuery q(form_->IBDB);
        q.SetSQL("UPDATE NODE SET TITLE='" + title + "' WHERE NODE_ID=" + std::to_string(id));
        q.ExecSQL();
        form_->IBTransaction.CommitRetaining();
    }
    // Runs f at the first message processing of the action about to be triggered.
    void DuringRun(std::function<void()> f) { QTimer::singleShot(0, form_.get(), std::move(f)); }

    TTempDatabase db_;
    THttpTestServer server_;
    std::unique_ptr<TForm1> form_;
};

TEST_F(ReloadWindowTest, ReloadDocumentRefreshesCaptionAndChildren) {
    QTreeWidgetItem* top = Top(0);
    ASSERT_EQ(top->text(0), "Top");
    form_->Nodes->setCurrentItem(top);
    Rename(1, "Renamed");  // another user's change, picked up by the refresh
    QString during;
    DuringRun([&] { during = form_->StatusPanel2->text(); });
    form_->ReloadNodeAction->trigger();

    // The window gets its turn while the page arrives and between the links it stores.
    EXPECT_TRUE(QRegularExpression("^1 documents, [0-2] links$").match(during).hasMatch())
        << during.toStdString();
    // The end of the run says what it did, pages in a layout not recognised included.
    // When it ends the panel says what the run did and changed, and so does the log.
    const QString done = form_->StatusPanel2->text();
    EXPECT_TRUE(done.startsWith("Finished in ")) << done.toStdString();
    EXPECT_TRUE(
        done.endsWith(" s: 1 documents, 1 new, 0 changed, 0 unchanged, 0 failed, 2 links "
                      "added, 0 errors, 0 not recognised"))
        << done.toStdString();
    EXPECT_NE(ReadWholeFile(db_.Folder() + "/log.txt").find("Finished in "), std::string::npos);
    EXPECT_EQ(top->text(0), "Renamed");
    EXPECT_EQ(Captions(top), (QStringList{"One", "Two"}));
    // "Reload document" walks no children: One's link to Three is not known yet.
    EXPECT_EQ(Captions(top->child(0)), QStringList{});

    // The root has no row: nothing is downloaded, the caption stays, the level is rebuilt.
    form_->Nodes->setCurrentItem(form_->RootItem());
    form_->ReloadNodeAction->trigger();
    EXPECT_EQ(form_->RootItem()->text(0), "All guides");
    EXPECT_EQ(Captions(form_->RootItem()), (QStringList{"Renamed", "Notes"}));

    // A guide type no reader knows downloads nothing, yet the item is refreshed.
    QTreeWidgetItem* notes = form_->RootItem()->child(1);
    Rename(2, "Notes 2");
    form_->Nodes->setCurrentItem(notes);
    form_->ReloadNodeAction->trigger();
    EXPECT_EQ(notes->text(0), "Notes 2");
}

TEST_F(ReloadWindowTest, ARunShowsItsProgressAndRefreshesItsStartWhenTheSelectionMoved) {
    QTreeWidgetItem* top = Top(0);
    ASSERT_EQ(top->childCount(), 0);  // no links known yet
    form_->Nodes->setCurrentItem(top);
    bool shownDuring = false;
    QString during;
    DuringRun([&] {
        shownDuring = !form_->RunProgress->isHidden();
        during = form_->RunProgress->Text->text();
        form_->Nodes->setCurrentItem(Top(1));  // the user moves on
    });
    form_->ReloadChildrenAction->trigger();
    EXPECT_TRUE(shownDuring);
    EXPECT_TRUE(during.startsWith("1 documents done: http://")) << during.toStdString();
    EXPECT_TRUE(during.endsWith("/site/X_viewLocation_Top.html")) << during.toStdString();
    EXPECT_TRUE(form_->RunProgress->isHidden());
    // The start item, closed, offers its new children; opened, it lists them.
    EXPECT_EQ(Captions(top), QStringList{"Loading..."});
    top->setExpanded(true);
    EXPECT_EQ(Captions(top), (QStringList{"One", "Two"}));

    // The Stop button beside the bar stops the run.
    form_->Nodes->setCurrentItem(top);
    const size_t before = server_.Requests().size();
    DuringRun([&] { form_->RunProgress->StopButton->click(); });
    form_->ReloadChildrenAction->trigger();
    EXPECT_EQ(server_.Requests().size(), before + 1);
}

TEST_F(ReloadWindowTest, BranchActionsWalkTheBranchAndStopEndsThem) {
    form_->Nodes->setCurrentItem(Top(0));
    // Stop pressed while the start document's page is handled: no child is started.
    // The links stored before Stop stay (Stop may come between two of them), and the
    // start is refreshed all the same.
    DuringRun([&] { form_->StopAction->trigger(); });
    form_->ReloadChildrenAction->trigger();
    EXPECT_EQ(server_.Requests().size(), 1u);
    const QStringList afterStop = Captions(Top(0));
    EXPECT_TRUE(afterStop.isEmpty() || afterStop == QStringList{"One"} ||
                afterStop == (QStringList{"One", "Two"}))
        << afterStop.join(",").toStdString();

    // The flag is cleared by the next run, which walks the whole branch.
    form_->ReloadChildrenAction->trigger();
    EXPECT_EQ(server_.Requests().size(), 5u);  // Top, One, Three, Two
    ASSERT_EQ(Captions(Top(0)), (QStringList{"One", "Two"}));
    EXPECT_EQ(Captions(Top(0)->child(0)), QStringList{"Loading..."});
    // The documents the run gave a body are bold until they are shown; the start
    // document, whose content a branch run leaves alone, is not.
    EXPECT_FALSE(Top(0)->font(0).bold());
    EXPECT_TRUE(Top(0)->child(0)->font(0).bold());
    EXPECT_TRUE(Top(0)->child(1)->font(0).bold());
    form_->Nodes->setCurrentItem(Top(0)->child(1));
    form_->ShowSelectedDocument();
    EXPECT_FALSE(Top(0)->child(1)->font(0).bold());
    Top(0)->child(0)->setExpanded(true);  // loaded now, from the database
    EXPECT_TRUE(Top(0)->child(0)->child(0)->font(0).bold());
    form_->Nodes->setCurrentItem(Top(0));

    // Closing the window during a run stops it too.
    DuringRun([&] { form_->close(); });
    form_->ReloadChildrenAction->trigger();
    EXPECT_EQ(server_.Requests().size(), 6u);
    form_->show();

    // Only the start document, whose content the branch actions leave alone, is empty.
    form_->ReloadChilderEmptyAction->trigger();
    EXPECT_EQ(server_.Requests().size(), 7u);
    EXPECT_EQ(server_.Requests().back().Path, "/site/X_viewLocation_Top.html");
}

TEST_F(ReloadWindowTest, StopAndClosingEndAPageThatNeverArrives) {
    // "Notes" becomes a page on a server that accepts the request and says nothing.
    {
        TQuery q(form_->IBDB);
        q.SetSQL("UPDATE NODE SET GUIDE_TYPE='EZTRIP', ORIG_URL='" + server_.Url("/stall-headers") +
                 "' WHERE NODE_ID=2");
        q.ExecSQL();
        form_->IBTransaction.CommitRetaining();
    }
    form_->Nodes->setCurrentItem(Top(1));
    const auto stalled = [this] {
        int n = 0;
        for (const auto& r : server_.Requests()) n += r.Path == "/stall-headers";
        return n;
    };
    for (const bool closing : {false, true}) {
        // Once the request is in, the user presses Stop (or closes the window).
        std::chrono::steady_clock::time_point stop;
        QTimer poll;
        const int wanted = stalled() + 1;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (stalled() < wanted) return;
            poll.stop();
            stop = std::chrono::steady_clock::now();
            closing ? (void)form_->close() : form_->StopAction->trigger();
        });
        poll.start(10);
        form_->ReloadNodeAction->trigger();
        ASSERT_FALSE(poll.isActive()) << (closing ? "close" : "stop");
        EXPECT_LT(std::chrono::steady_clock::now() - stop, std::chrono::seconds(5));
        form_->show();
    }
    // Each abandoned page is a failed fetch in the log.
    const std::string log = ReadWholeFile(db_.Folder() + "/log.txt");
    std::size_t failed = 0;
    for (auto at = log.find("Download stopped"); at != std::string::npos;
         at = log.find("Download stopped", at + 1))
        ++failed;
    EXPECT_EQ(failed, 2u) << log;
}

}  // namespace
