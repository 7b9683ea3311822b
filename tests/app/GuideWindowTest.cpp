// Starting a collection from the window: the welcome page of a database without guides,
// "New guide..." and "Try reader...", driven by keys and clicks.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <cstdlib>

#include "app/DocumentView.h"
#include "app/WayfolioFr.h"
#include "app/Welcome.h"
#include "app/dg_TryReader.h"
#include "config/AuxProj.h"
#include "dialogs/dg_NewGuide.h"
#include "samples/SamplePages.h"
#include "store/Query.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/TempDatabase.h"

namespace {

QString Plain(QString caption) {
    return caption.remove('&');
}

class GuideWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_.Http().Get(R"(/site/(.*))", [](const httplib::Request& req,
                                               httplib::Response& res) {
            const std::string name = req.matches[1].str();
            std::vector<SamplePages::TLink> links;
            if (name == "X_viewLocation_Top.html")
                links = {{"X_viewLocation_One.html", "One"}, {"X_viewLocation_Two.html", "Two"}};
            res.set_content(SamplePages::EzTripLocationPage("Top page", name, links,
                                                            "Body of " + name),
                            "text/html");
        });
        server_.Http().Get("/guide/start.html", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(
                "<html><head><title>Lisbon - Travel notes</title></head><body>"
                "<nav><a href='/'>Home</a></nav><main><h1>Lisbon in three days</h1>"
                "<p>Start at the river and walk up to the castle.</p></main></body></html>",
                "text/html");
        });
        server_.Start();
        const char* data = std::getenv("XDG_DATA_HOME");
        savedDataHome_ = data ? data : "";
        hadDataHome_ = data != nullptr;
        setenv("XDG_DATA_HOME", (db_.Folder() + "/data").c_str(), 1);
        ProjIni = std::make_unique<TIniStore>();
        PutIniText("Interbase", "DatabaseName", db_.Path());
        PutIniText("Interbase", "LogFile", "");
    }
    void TearDown() override {
        form_.reset();
        ProjIni.reset();
        if (hadDataHome_)
            setenv("XDG_DATA_HOME", savedDataHome_.c_str(), 1);
        else
            unsetenv("XDG_DATA_HOME");
    }
    // The window as the user starts it: shown, its first level loaded, the tree focused.
    void Start() {
        form_ = std::make_unique<TForm1>();
        form_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return form_->IBDB.Connected(); }, 10000));
        QApplication::processEvents();
        form_->activateWindow();
        form_->Nodes->setFocus();
    }
    void AddGuide(int id, const std::string& title, const std::string& url, int order) {
        db_.RunIsql("INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE) VALUES (" +
                    std::to_string(id) + ", '" + title + "', '" + url + "', 'g" +
                    std::to_string(id) + "', 'EZTRIP');\nINSERT INTO MASTER_DETAIL VALUES (0, " +
                    std::to_string(id) + ", " + std::to_string(order) + ");");
    }
    int Count(const std::string& sql) {
        TQuery q(form_->IBDB);
        q.SetSQL(sql);
        q.ExecQuery();
        return q.AsInteger(0);
    }
    std::string Text(const std::string& sql) {
        TQuery q(form_->IBDB);
        q.SetSQL(sql);
        q.ExecQuery();
        return q.Eof() ? std::string("(none)") : q.AsText(0);
    }
    // Opens "New guide..." with Ctrl+N and runs answer on the dialog once it is up.
    void NewGuide(std::function<void(TNewGuideDlg*)> answer) {
        auto step = WhenModal<TNewGuideDlg>(std::move(answer));
        // The offscreen platform has no window manager to give the window back its
        // activation when a dialog closes; shortcuts need an active window.
        form_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
        QTest::keyClick(form_->Nodes, Qt::Key_N, Qt::ControlModifier);
        ASSERT_TRUE(step->Ran());
    }
    static void Type(QWidget* field, const QString& text) {
        field->setFocus();
        QTest::keyClicks(field, text);
    }
    static void ChooseType(TNewGuideDlg* d, const QString& type) {
        const int index = d->GuideType->findData(type);
        ASSERT_GE(index, 0) << type.toStdString();
        d->GuideType->setCurrentIndex(index);
    }
    static void ClickOk(TNewGuideDlg* d) {
        QTest::mouseClick(d->Buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
    }

    TTempDatabase db_{true};
    THttpTestServer server_;
    std::unique_ptr<TForm1> form_;
    std::string savedDataHome_;
    bool hadDataHome_ = false;
};

TEST_F(GuideWindowTest, ADatabaseWithoutGuidesOpensOnTheWelcomePage) {
    Start();
    ASSERT_EQ(form_->RootItem()->childCount(), 0);
    ASSERT_TRUE(form_->HTML->HasDocument());
    const std::string& page = form_->HTML->Document();
    EXPECT_NE(page.find("Welcome to Wayfolio"), std::string::npos);
    EXPECT_NE(page.find("New guide..."), std::string::npos);
    EXPECT_NE(page.find("Ctrl+N"), std::string::npos);
    // Each reader the program has, with an address to start from.
    EXPECT_NE(page.find("<code>EZTRIP</code>"), std::string::npos);
    EXPECT_NE(page.find("<code>ALPHABEDS</code>"), std::string::npos);
    EXPECT_NE(page.find("eztrip/destinationguide.html"), std::string::npos);
    EXPECT_NE(page.find("alphabeds/europe.html"), std::string::npos);
    // Where the user's own reader files go, as this user's folder.
    EXPECT_NE(page.find(db_.Folder() + "/data/wayfolio/readers/"), std::string::npos) << page;
}

TEST(WelcomePageTest, ValuesNeverBecomeMarkup) {
    const std::string page =
        WelcomePage({{"X<b>", "reads <script>alert(1)</script> & more", "http://h/?a=1&b=\"2\""}},
                    {"/home/u/<readers>/", "", "/usr/share/wayfolio/readers/"});
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_EQ(page.find("X<b>"), std::string::npos);
    EXPECT_NE(page.find("reads &lt;script&gt;alert(1)&lt;/script&gt; &amp; more"), std::string::npos);
    EXPECT_NE(page.find("http://h/?a=1&amp;b=&quot;2&quot;"), std::string::npos);
    EXPECT_NE(page.find("/home/u/&lt;readers&gt;/"), std::string::npos);
    EXPECT_NE(page.find("/usr/share/wayfolio/readers/"), std::string::npos);
    // No configured folder: no line for one.
    EXPECT_EQ(page.find("your configuration names"), std::string::npos);
}

TEST_F(GuideWindowTest, ADatabaseWithGuidesOpensOnAnEmptyView) {
    AddGuide(1, "Top", server_.Url("/site/X_viewLocation_Top.html"), 1);
    Start();
    EXPECT_EQ(form_->RootItem()->childCount(), 1);
    EXPECT_FALSE(form_->HTML->HasDocument());
}

TEST_F(GuideWindowTest, NewGuideIsOfferedInTheEditMenuWithCtrlN) {
    Start();
    QMenu* edit = nullptr;
    for (QAction* a : form_->menuBar()->actions())
        if (Plain(a->text()) == "Edit") edit = a->menu();
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(edit->actions().contains(form_->NewGuideAction));
    EXPECT_EQ(Plain(form_->NewGuideAction->text()), "New guide...");
    EXPECT_EQ(form_->NewGuideAction->shortcut(), QKeySequence("Ctrl+N"));
    EXPECT_EQ(Plain(form_->TryReaderAction->text()), "Try reader...");
    EXPECT_TRUE(form_->PopupMenu1->actions().contains(form_->TryReaderAction));
}

TEST_F(GuideWindowTest, ANewGuideComesAfterTheOthersAndIsSelected) {
    AddGuide(1, "First", server_.Url("/site/X_viewLocation_First.html"), 5);
    AddGuide(2, "Second", server_.Url("/site/X_viewLocation_Second.html"), 7);
    db_.RunIsql("ALTER SEQUENCE NODE_ID RESTART WITH 40;");
    Start();
    form_->SetState(form_->RootItem()->child(0), siMarked);
    const std::string url = server_.Url("/site/X_viewLocation_Top.html");
    NewGuide([&](TNewGuideDlg* d) {
        // Every reader is offered, each with what it reads.
        EXPECT_GE(d->GuideType->findData("EZTRIP"), 0);
        EXPECT_GE(d->GuideType->findData("ALPHABEDS"), 0);
        Type(d->Address, QString::fromStdString(url));
        ChooseType(d, "EZTRIP");
        EXPECT_FALSE(d->Description->text().isEmpty());
        Type(d->Title, "My trip");
        ClickOk(d);
    });
    ASSERT_EQ(form_->RootItem()->childCount(), 3);
    // The others keep their marks.
    EXPECT_EQ(TForm1::StateOf(form_->RootItem()->child(0)), siMarked);
    QTreeWidgetItem* added = form_->RootItem()->child(2);
    EXPECT_EQ(added->text(0), "My trip");
    EXPECT_EQ(form_->Selected(), added);
    const int id = TForm1::NodeIdOf(added);
    EXPECT_GT(id, 2);
    const std::string where = " WHERE NODE_ID=" + std::to_string(id);
    EXPECT_EQ(Text("SELECT ORIG_URL FROM NODE" + where), url);
    EXPECT_EQ(Text("SELECT GUIDE_TYPE FROM NODE" + where), "EZTRIP");
    EXPECT_GT(Count("SELECT ORDER_ FROM MASTER_DETAIL WHERE MASTER_ID=0 AND DETAIL_ID=" +
                    std::to_string(id)),
              7);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NODE WHERE BODY IS NOT NULL"), 0);
    // Nothing was downloaded to add it.
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NODE"), 3);
}

TEST_F(GuideWindowTest, AGuideWithoutATitleTakesThePagesOwn) {
    Start();
    const std::string url = server_.Url("/guide/start.html");
    NewGuide([&](TNewGuideDlg* d) {
        Type(d->Address, QString::fromStdString(url));
        ChooseType(d, "ARTICLE");
        ClickOk(d);
    });
    ASSERT_EQ(form_->RootItem()->childCount(), 1);
    EXPECT_EQ(form_->RootItem()->child(0)->text(0), "Lisbon in three days");
    EXPECT_EQ(Text("SELECT TITLE FROM NODE"), "Lisbon in three days");
    // Only the title was read: no body is stored before the first reload.
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NODE WHERE BODY IS NOT NULL"), 0);
}

TEST_F(GuideWindowTest, ARefusedAnswerKeepsTheDialogOpenAndWritesNothing) {
    Start();
    const std::string url = server_.Url("/site/X_viewLocation_Top.html");
    bool refusedShown = false;
    NewGuide([&](TNewGuideDlg* d) {
        Type(d->Address, "ftp://example.org/guide.html");
        ChooseType(d, "EZTRIP");
        ClickOk(d);
        refusedShown = d->isVisible() && d->Message->isVisible() && !d->Message->text().isEmpty();
        EXPECT_EQ(Count("SELECT COUNT(*) FROM NODE"), 0);
        // Corrected, the same dialog takes it.
        d->Address->clear();
        Type(d->Address, QString::fromStdString(url));
        EXPECT_FALSE(d->Message->isVisible());
        ClickOk(d);
    });
    EXPECT_TRUE(refusedShown);
    ASSERT_EQ(form_->RootItem()->childCount(), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NODE"), 1);
}

TEST_F(GuideWindowTest, AGuideThatExistsIsSelectedAndNotAddedAgain) {
    Start();
    const QString url = QString::fromStdString(server_.Url("/site/X_viewLocation_Top.html"));
    auto add = [&](const QString& title) {
        NewGuide([&](TNewGuideDlg* d) {
            Type(d->Address, url);
            ChooseType(d, "EZTRIP");
            Type(d->Title, title);
            ClickOk(d);
        });
    };
    add("Once");
    ASSERT_EQ(form_->RootItem()->childCount(), 1);
    form_->Nodes->setCurrentItem(form_->RootItem());
    add("Twice");
    ASSERT_EQ(form_->RootItem()->childCount(), 1);
    EXPECT_EQ(form_->Selected(), form_->RootItem()->child(0));
    EXPECT_EQ(form_->RootItem()->child(0)->text(0), "Once");
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NODE"), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM MASTER_DETAIL"), 1);
}

TEST_F(GuideWindowTest, CancelAddsNothing) {
    Start();
    NewGuide([&](TNewGuideDlg* d) {
        Type(d->Address, QString::fromStdString(server_.Url("/site/X_viewLocation_Top.html")));
        QTest::keyClick(d, Qt::Key_Escape);
    });
    EXPECT_EQ(form_->RootItem()->childCount(), 0);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NODE"), 0);
}

TEST_F(GuideWindowTest, TryReaderShowsWhatAReloadWouldStoreAndStoresNothing) {
    AddGuide(1, "Top", server_.Url("/site/X_viewLocation_Top.html"), 1);
    Start();
    form_->Nodes->setCurrentItem(form_->RootItem()->child(0));
    QString summary, note;
    QStringList links;
    std::string view;
    auto step = WhenModal<TTryReaderDlg>([&](TTryReaderDlg* d) {
        summary = d->Summary->text();
        note = d->LinksNote->text();
        for (int i = 0; i < d->Links->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = d->Links->topLevelItem(i);
            links << item->text(0) + " " + item->text(1) + " " + item->text(2);
        }
        view = d->View->Document();
        d->reject();
    });
    form_->TryReaderAction->trigger();
    ASSERT_TRUE(step->Ran());
    EXPECT_TRUE(summary.contains("A reload would store")) << summary.toStdString();
    ASSERT_GE(links.size(), 2);
    EXPECT_TRUE(links[0].endsWith("page One")) << links.join("|").toStdString();
    EXPECT_TRUE(links[1].endsWith("page Two")) << links.join("|").toStdString();
    // The body as the view shows it: through the document's template.
    EXPECT_NE(view.find("Body of X_viewLocation_Top.html"), std::string::npos) << view;
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NODE"), 1);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NODE WHERE BODY IS NOT NULL"), 0);
    EXPECT_EQ(Text("SELECT TITLE FROM NODE WHERE NODE_ID=1"), "Top");
    EXPECT_EQ(Count("SELECT COUNT(*) FROM MASTER_DETAIL"), 1);
}

TEST_F(GuideWindowTest, TryReaderOnAPageItDoesNotKnowShowsTheStoredDocument) {
    AddGuide(1, "Changed", server_.Url("/status/200"), 1);
    db_.RunIsql("UPDATE NODE SET BODY='Stored body text' WHERE NODE_ID=1;");
    Start();
    form_->Nodes->setCurrentItem(form_->RootItem()->child(0));
    QString summary;
    std::string view;
    auto step = WhenModal<TTryReaderDlg>([&](TTryReaderDlg* d) {
        summary = d->Summary->text();
        view = d->View->Document();
        d->reject();
    });
    form_->TryReaderAction->trigger();
    ASSERT_TRUE(step->Ran());
    EXPECT_TRUE(summary.contains("keep the stored")) << summary.toStdString();
    EXPECT_NE(view.find("Stored body text"), std::string::npos) << view;
    EXPECT_EQ(Text("SELECT BODY FROM NODE WHERE NODE_ID=1"), "Stored body text");
}

TEST_F(GuideWindowTest, TryReaderOnAPageThatDoesNotArriveSaysSo) {
    AddGuide(1, "Gone", server_.Url("/status/404"), 1);
    Start();
    form_->Nodes->setCurrentItem(form_->RootItem()->child(0));
    QString summary;
    int links = -1;
    bool viewEmpty = false;
    auto step = WhenModal<TTryReaderDlg>([&](TTryReaderDlg* d) {
        summary = d->Summary->text();
        links = d->Links->topLevelItemCount();
        viewEmpty = !d->View->HasDocument();
        d->reject();
    });
    form_->TryReaderAction->trigger();
    ASSERT_TRUE(step->Ran());
    EXPECT_TRUE(summary.contains("did not arrive")) << summary.toStdString();
    EXPECT_EQ(links, 0);
    EXPECT_TRUE(viewEmpty);
}

}  // namespace
