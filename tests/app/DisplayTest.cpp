// Showing, joining and saving documents in the real main window, with the real
// embedded browser (offscreen) and an embedded database.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

#include "app/DocumentView.h"
#include "app/WayfolioFr.h"
#include "config/AuxProj.h"
#include "store/Query.h"
#include "tests/app/DesktopRecorder.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TempDatabase.h"

namespace {

// Top level in tree order: 12 Gamma, 10 Beta, 11 Alpha. 10 has children 20 and 21;
// 20 has child 30.
const char* kTree = R"(
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE, BODY) VALUES (10, 'Beta', 'b', 'EZTRIP', 'beta body');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (11, 'Alpha', 'a', 'EZTRIP');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (12, 'Gamma', 'g', 'EZTRIP');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (20, 'Child 20', 'c20', 'EZTRIP');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (21, 'Child 21', 'c21', 'EZTRIP');
INSERT INTO NODE (NODE_ID, TITLE, ORIG_ID, GUIDE_TYPE) VALUES (30, 'Grandchild 30', 'c30', 'EZTRIP');
INSERT INTO MASTER_DETAIL VALUES (0, 10, 1);
INSERT INTO MASTER_DETAIL VALUES (0, 11, 2);
INSERT INTO MASTER_DETAIL VALUES (0, 12, 0);
INSERT INTO MASTER_DETAIL VALUES (10, 20, 1);
INSERT INTO MASTER_DETAIL VALUES (10, 21, 2);
INSERT INTO MASTER_DETAIL VALUES (20, 30, 1);
INSERT INTO TEMPLATE VALUES ('DEFAULT', 'DEFAULT', '<html><head><title><#TITLE#></title></head><body><p><#TITLE#>|<#BODY#></p></body></html>');
INSERT INTO TEMPLATE VALUES ('DEFAULT', 'CONCAT2', '[<#NODE_ID#>]');
INSERT INTO TEMPLATE VALUES ('DEFAULT', 'CONCAT', '<#TITLE#>{<#BODY#>}');
)";

constexpr int kBoundMs = 30000;  // the browser's first start can be slow on a busy machine

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Waits, with a bound, until cond holds, letting the event loop run meanwhile.
bool WaitUntil(const std::function<bool()>& cond, int boundMs = kBoundMs) {
    QDeadlineTimer deadline(boundMs);
    while (!cond()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

QString PlainText(QWebEnginePage* page) {
    QString text;
    bool done = false;
    page->toPlainText([&](const QString& t) {
        text = t;
        done = true;
    });
    EXPECT_TRUE(WaitUntil([&] { return done; }));
    return text;
}

// Asks the page from the application's own script world, which runs even though the
// page's scripts are off.
QVariant Evaluate(QWebEnginePage* page, const QString& script) {
    QVariant result;
    bool done = false;
    page->runJavaScript(script, QWebEngineScript::ApplicationWorld, [&](const QVariant& v) {
        result = v;
        done = true;
    });
    EXPECT_TRUE(WaitUntil([&] { return done; }));
    return result;
}

class DisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_ = std::make_unique<TTempDatabase>(false);
        db_->RunIsql(kTree);
        ProjIni = std::make_unique<TIniStore>();
        PutIniText("Interbase", "DatabaseName", db_->Path());
        form_ = std::make_unique<TForm1>();
        form_->FormShow();
    }
    void TearDown() override {
        form_.reset();
        db_.reset();
        ProjIni.reset();
    }

    QTreeWidgetItem* Top(int i) { return form_->RootItem()->child(i); }

    // Deletes a node through a connection of its own, as another user would.
    void DeleteElsewhere(int nodeId) {
        TDatabase other;
        TTransaction tr(other);
        db_->Connect(other, tr);
        TQuery q(other);
        q.SetSQL("DELETE FROM NODE WHERE NODE_ID=" + std::to_string(nodeId));
        q.ExecSQL();
        tr.CommitRetaining();
    }

    // Runs f and waits until the view has finished loading what f showed.
    ::testing::AssertionResult ShowAndWait(const std::function<void()>& f) {
        QSignalSpy loaded(form_->HTML, &QWebEngineView::loadFinished);
        f();
        if (!WaitUntil([&] { return loaded.count() > 0; }))
            return ::testing::AssertionFailure() << "the view did not finish loading";
        if (!loaded.first().first().toBool())
            return ::testing::AssertionFailure() << "the view failed to load";
        return ::testing::AssertionSuccess();
    }

    std::unique_ptr<TTempDatabase> db_;
    std::unique_ptr<TForm1> form_;
};

TEST_F(DisplayTest, TemporaryFileLivesAsLongAsTheWindow) {
    const std::string path = form_->HTML->TempFileName();
    const QFileInfo info(QString::fromStdString(path));
    EXPECT_EQ(info.absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
    EXPECT_TRUE(info.fileName().startsWith("WF_")) << path;
    EXPECT_TRUE(info.fileName().endsWith(".html")) << path;
    EXPECT_TRUE(info.exists());
    EXPECT_EQ(info.size(), 0);

    form_.reset();
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path)));
}

TEST_F(DisplayTest, ShowingRewritesTheFileAndTheViewFollowsIt) {
    const std::string path = form_->HTML->TempFileName();
    form_->Nodes->setCurrentItem(Top(1));  // Beta
    ASSERT_TRUE(ShowAndWait([&] { form_->ShowSelectedDocument(); }));
    const std::string beta =
        "<html><head><title>Beta</title></head><body><p>Beta|beta body</p></body></html>";
    EXPECT_EQ(ReadFile(path), beta);
    EXPECT_EQ(form_->HTML->url(), QUrl::fromLocalFile(QString::fromStdString(path)));
    EXPECT_EQ(PlainText(form_->HTML->page()), "Beta|beta body");

    // The same path again, shorter content: the view shows the new document.
    form_->Nodes->setCurrentItem(Top(2));  // Alpha, no body
    ASSERT_TRUE(ShowAndWait([&] { form_->ShowSelectedDocument(); }));
    EXPECT_EQ(ReadFile(path),
              "<html><head><title>Alpha</title></head><body><p>Alpha|</p></body></html>");
    EXPECT_EQ(PlainText(form_->HTML->page()), "Alpha|");
    EXPECT_EQ(form_->HTML->title().toStdString(), "Alpha");

    // The root stands for no document: nothing changes.
    form_->Nodes->setCurrentItem(form_->RootItem());
    form_->ShowSelectedDocument();
    EXPECT_EQ(form_->HTML->Document(), ReadFile(path));
    EXPECT_NE(ReadFile(path).find("Alpha"), std::string::npos);

    // Deleted by another user after the tree listed it: a message, and the view and
    // the file keep the previous document.
    DeleteElsewhere(10);
    form_->Nodes->setCurrentItem(Top(1));
    try {
        form_->ShowSelectedDocument();
        ADD_FAILURE() << "showing a deleted document reported nothing";
    } catch (const EProjError& e) {
        EXPECT_STREQ(e.what(), "Document 10 is no longer in the database.");
    }
    EXPECT_NE(ReadFile(path).find("Alpha"), std::string::npos);
}

TEST_F(DisplayTest, EnterAndDoubleClickShowTheSelectedDocument) {
    form_->Nodes->setCurrentItem(Top(1));  // Beta
    for (const auto modifier : {Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier})
        QTest::keyClick(form_->Nodes, Qt::Key_Return, modifier);
    EXPECT_FALSE(form_->HTML->HasDocument());
    ASSERT_TRUE(ShowAndWait([&] { QTest::keyClick(form_->Nodes, Qt::Key_Return); }));
    EXPECT_NE(form_->HTML->Document().find("Beta|beta body"), std::string::npos);

    form_->Nodes->setCurrentItem(Top(0));  // Gamma
    ASSERT_TRUE(ShowAndWait([&] { emit form_->Nodes->itemDoubleClicked(Top(0), 0); }));
    EXPECT_NE(form_->HTML->Document().find("Gamma|"), std::string::npos);
}

TEST(DocumentViewTest, WriteFailuresKeepTheShownDocument) {
    // A temporary folder that cannot take the file: the view starts without one and
    // showing reports the folder; once the folder is usable, showing works.
    const QByteArray savedTmp = qgetenv("TMPDIR");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    qputenv("TMPDIR", dir.filePath("missing").toLocal8Bit());
    auto view = std::make_unique<TDocumentView>();
    EXPECT_EQ(view->TempFileName(), "");
    try {
        view->ShowHTML("first");
        ADD_FAILURE() << "a missing temporary folder reported nothing";
    } catch (const EProjError& e) {
        EXPECT_NE(std::string(e.what()).find("missing"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(view->HasDocument());
    qputenv("TMPDIR", dir.path().toLocal8Bit());
    view->ShowHTML("first");
    qputenv("TMPDIR", savedTmp);
    const std::string path = view->TempFileName();
    EXPECT_EQ(ReadFile(path), "first");

    // Someone else's link in the file's place is not followed.
    const QString other = dir.filePath("other.txt");
    std::ofstream(other.toStdString()) << "untouched";
    ASSERT_TRUE(QFile::remove(QString::fromStdString(path)));
    ASSERT_TRUE(QFile::link(other, QString::fromStdString(path)));
    EXPECT_THROW(view->ShowHTML("second"), EProjError);
    EXPECT_EQ(ReadFile(other.toStdString()), "untouched");
    EXPECT_EQ(view->Document(), "first");

    ASSERT_TRUE(QFile::remove(QString::fromStdString(path)));
    view.reset();
}

TEST(DocumentViewTest, ClickedLinksOpenOutsideTheView) {
    THttpTestServer server;
    server.Start();
    TDocumentView view;
    QList<QUrl> opened;
    view.OpenLink = [&](const QUrl& url) { opened << url; };
    view.resize(400, 300);
    view.show();
    const std::string link = server.Url("/status/200");
    QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
    view.ShowHTML("<body style='margin:0'><a id=a href='" + link +
                  "' style='display:block;width:400px;height:300px'>away</a></body>");
    ASSERT_TRUE(WaitUntil([&] { return loaded.count() > 0; }));

    // Clicks until the view has painted and takes input; the first one that lands counts.
    QDeadlineTimer nextClick(0);
    ASSERT_TRUE(WaitUntil([&] {
        if (nextClick.hasExpired() && view.focusProxy()) {
            QTest::mouseClick(view.focusProxy(), Qt::LeftButton, {}, QPoint(100, 100));
            nextClick.setRemainingTime(250);
        }
        return !opened.isEmpty();
    }));
    EXPECT_EQ(opened.first(), QUrl(QString::fromStdString(link)));
    EXPECT_EQ(view.url(), QUrl::fromLocalFile(QString::fromStdString(view.TempFileName())));
    EXPECT_EQ(PlainText(view.page()), "away");
    EXPECT_TRUE(server.Requests().empty());
}

TEST(DocumentViewTest, ClickedLinksOfOtherSchemesAreRefusedByName) {
    TDesktopRecorder desktop({"file", "smb", "guidebook"});
    TDocumentView view;
    QList<QUrl> opened;
    view.OpenLink = [&](const QUrl& url) { opened << url; };
    view.resize(400, 300);
    view.show();
    // Three links, one above the other, 100 pixels each.
    const QStringList links{"file:///etc/passwd", "smb://server/share/plan.doc",
                            "guidebook:run?x=1"};
    std::string page = "<body style='margin:0'>";
    for (const QString& link : links)
        page += "<a href='" + link.toStdString() +
                "' style='display:block;width:400px;height:100px'>away</a>";
    QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
    view.ShowHTML(page + "</body>");
    ASSERT_TRUE(WaitUntil([&] { return loaded.count() > 0; }));

    // Every message box is answered; clicks go to the first link not yet named, until
    // the view has painted and takes input and each link has brought its message.
    QStringList shown;
    std::unique_ptr<TModalStep> box;
    auto answer = [&] {
        box = WhenModal<QMessageBox>(
            [&](QMessageBox* b) {
                shown << b->text();
                b->accept();
            },
            kBoundMs);
    };
    answer();
    auto named = [&](const QString& link) {
        for (const QString& text : shown)
            if (text.contains("\"" + link + "\"")) return true;
        return false;
    };
    QDeadlineTimer nextClick(0);
    ASSERT_TRUE(WaitUntil([&] {
        if (box->Ran()) answer();
        int next = 0;
        while (next < links.size() && named(links[next])) ++next;
        if (next == links.size()) return true;
        if (nextClick.hasExpired() && view.focusProxy()) {
            QTest::mouseClick(view.focusProxy(), Qt::LeftButton, {}, QPoint(100, 50 + 100 * next));
            nextClick.setRemainingTime(250);
        }
        return false;
    })) << shown.join("\n").toStdString();
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_TRUE(desktop.opened.isEmpty()) << desktop.opened.join(" ").toStdString();
    EXPECT_EQ(view.url(), QUrl::fromLocalFile(QString::fromStdString(view.TempFileName())));
}

TEST_F(DisplayTest, JoinFollowsTreeOrderOverItemsPresentInTheTree) {
    QTreeWidgetItem* beta = Top(1);
    beta->setExpanded(true);
    ASSERT_EQ(beta->childCount(), 2);
    QTreeWidgetItem* child20 = beta->child(0);
    child20->setExpanded(true);
    ASSERT_EQ(child20->childCount(), 1);
    form_->SetState(child20->child(0), siMarked);  // 30, then gone with the collapse
    child20->setExpanded(false);
    ASSERT_EQ(TForm1::NodeIdOf(child20->child(0)), 0);

    // Parents come before their children; a marked placeholder stands for nothing.
    form_->SetBranchState(beta, siMarked);  // 10, 20 with its placeholder, 21
    form_->SetState(Top(0), siMarked);      // 12
    form_->Nodes->setCurrentItem(Top(2));   // Alpha gives the frame its title

    const std::string path = form_->HTML->TempFileName();
    ASSERT_TRUE(ShowAndWait([&] { form_->ExportActionExecute(); }));
    EXPECT_EQ(ReadFile(path), "Alpha{[12][10][20][21]}");
    EXPECT_EQ(form_->HTML->Document(), "Alpha{[12][10][20][21]}");

    // A marked document deleted by another user drops out of the join; the root as
    // the selected item gives a frame without a title.
    DeleteElsewhere(20);
    form_->Nodes->setCurrentItem(form_->RootItem());
    ASSERT_TRUE(ShowAndWait([&] { form_->ExportActionExecute(); }));
    EXPECT_EQ(ReadFile(path), "{[12][10][21]}");

    // Nothing marked: the frame alone.
    form_->SetBranchState(form_->RootItem(), siUnmarked);
    ASSERT_TRUE(ShowAndWait([&] { form_->ExportActionExecute(); }));
    EXPECT_EQ(ReadFile(path), "{}");
}

TEST_F(DisplayTest, SaveWritesTheShownBytes) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.filePath("saved.html");
    int asked = 0;
    form_->AskSaveHTMLFile = [&] {
        ++asked;
        return target;
    };

    // Nothing shown yet: a message instead of the dialog, and no file.
    EXPECT_THROW(form_->SaveHTMLActionExecute(), EProjError);
    EXPECT_EQ(asked, 0);
    EXPECT_FALSE(QFileInfo::exists(target));

    // Bytes that are no valid UTF-8, NUL included, replace a longer existing file.
    std::ofstream(target.toStdString()) << std::string(5000, 'o');
    const std::string bytes = std::string("<p>caf\xE9 \xFF\xFE\0 \xC3\xA9</p>", 17);
    ASSERT_TRUE(ShowAndWait([&] { form_->HTML->ShowHTML(bytes); }));
    form_->SaveHTMLActionExecute();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(ReadFile(target.toStdString()), bytes);

    // Cancelled: nothing is written.
    const QString other = dir.filePath("other.html");
    form_->AskSaveHTMLFile = [] { return QString(); };
    form_->SaveHTMLActionExecute();
    EXPECT_FALSE(QFileInfo::exists(other));

    // A folder that does not exist: the system's complaint, naming the file.
    form_->AskSaveHTMLFile = [&] { return dir.filePath("missing/x.html"); };
    try {
        form_->SaveHTMLActionExecute();
        ADD_FAILURE() << "writing into a missing folder reported nothing";
    } catch (const EProjError& e) {
        EXPECT_NE(std::string(e.what()).find("missing/x.html"), std::string::npos) << e.what();
    }
}

TEST_F(DisplayTest, SaveDialogAsksForAnHtmlFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto step = WhenModal<QFileDialog>([&](QFileDialog* d) {
        EXPECT_EQ(d->windowTitle(), "Save HTML");
        EXPECT_EQ(d->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(d->nameFilters(), (QStringList{"HTML Files (*.html)", "All files (*.*)"}));
        EXPECT_EQ(d->defaultSuffix(), "html");
        EXPECT_FALSE(d->testOption(QFileDialog::DontConfirmOverwrite));
        EXPECT_TRUE(d->isSizeGripEnabled());
        d->setDirectory(dir.path());
        d->selectFile("guide");
        static_cast<QDialog*>(d)->accept();  // QFileDialog::accept checks the name
    });
    const QString chosen = form_->AskSaveHTMLFile();
    EXPECT_TRUE(step->Ran());
    EXPECT_EQ(chosen, dir.filePath("guide.html"));

    auto cancel = WhenModal<QFileDialog>([](QFileDialog* d) { d->reject(); });
    EXPECT_EQ(form_->AskSaveHTMLFile(), QString());
    EXPECT_TRUE(cancel->Ran());
}

TEST_F(DisplayTest, ShownDocumentCannotReachLocalFiles) {
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString localImage = dir.filePath("local.png");
    image.save(localImage, "PNG");
    const QString localPage = dir.filePath("local.html");
    std::ofstream(localPage.toStdString()) << "<p>local secret</p>";

    THttpTestServer server;
    server.Http().Get("/remote.png", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(png.toStdString(), "image/png");
    });
    server.Start();

    const std::string page =
        "<html><head><title>untrusted</title></head><body>"
        "<img id=local src=\"" +
        QUrl::fromLocalFile(localImage).toString().toStdString() +
        "\">"
        "<img id=remote src=\"" +
        server.Url("/remote.png") +
        "\">"
        "<iframe id=frame src=\"" +
        QUrl::fromLocalFile(localPage).toString().toStdString() +
        "\"></iframe>"
        "<script>document.title = 'script ran';</script>"
        "</body></html>";
    ASSERT_TRUE(ShowAndWait([&] { form_->HTML->ShowHTML(page); }));
    QWebEnginePage* p = form_->HTML->page();
    EXPECT_EQ(Evaluate(p, "document.getElementById('remote').naturalWidth").toInt(), 3);
    EXPECT_EQ(Evaluate(p, "document.getElementById('local').naturalWidth").toInt(), 0);
    const QString frameText =
        Evaluate(p,
                 "(function() { try { return document.getElementById('frame')"
                 ".contentDocument.body.innerText; } catch (e) { return 'refused'; } })()")
            .toString();
    EXPECT_FALSE(frameText.contains("secret")) << frameText.toStdString();
    EXPECT_EQ(form_->HTML->title().toStdString(), "untrusted");
}

}  // namespace
