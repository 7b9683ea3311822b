// Pages whose layout their reader no longer recognises: told apart from pages that
// simply have no links, reported, counted, and never stored over a good body. Real
// database, real HTTP server on 127.0.0.1, real readers.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/PageCheck.h"
#include "core/Reload.h"
#include "config/AuxProj.h"
#include "download/wf_AlphaBeds.h"
#include "download/wf_EzTrip.h"
#include "samples/SamplePages.h"
#include "store/Database.h"
#include "store/Query.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TempDatabase.h"

namespace {

class THost : public TReloadHost {
public:
    void ProcessMessages() override {}
    void WriteLog(unsigned char channel, const std::string& text) override {
        if (channel == 3) Errors.push_back(text);
    }
    std::vector<std::string> Errors;
};

// The body an AlphaBeds page carries between its markers; no headed sections, so no
// links at all.
std::string AlphaBedsContentOnly(const std::string& body) {
    return "<html><body><form><img id=\"LocationImage\" src=\"x.jpg\"><table><tr><td>map"
           "</td></tr></table>" +
           body + "<div>&nbsp;</div></form></body></html>";
}

// The same site after a redesign: the text is there, the markers are not.
// What a site's redesign most often does: the outer markers stay, the box inside
// them gets a new name.
std::string Renamed(std::string page, const std::string& from, const std::string& to) {
    for (std::size_t at = page.find(from); at != std::string::npos; at = page.find(from, at))
        page.replace(at, from.size(), to), at += to.size();
    return page;
}

const std::string kRedesigned =
    "<html><body><main class=\"guide-v2\"><h1>Lyon</h1><p>All new text.</p>"
    "<nav><a href=\"X_viewLocation_b.html\">B</a></nav></main></body></html>";

class ReaderHealthTest : public ::testing::Test {
protected:
    void SetUp() override {
        StopFlag = false;
        ProjIni = std::make_unique<TIniStore>();
        server_.Http().Get(R"(/site/(.*))",
                           [this](const httplib::Request& req, httplib::Response& res) {
                               std::lock_guard<std::mutex> lock(mutex_);
                               const auto it = pages_.find(req.path);
                               if (it == pages_.end()) {
                                   res.status = 404;
                                   return;
                               }
                               res.set_content(it->second, "text/html");
                           });
        server_.Start();
        temp_.Connect(db_, tr_);
    }
    void TearDown() override {
        db_.Close();
        ProjIni.reset();
    }
    void Serve(const std::string& file, const std::string& page) {
        std::lock_guard<std::mutex> lock(mutex_);
        pages_["/site/" + file] = page;
    }
    std::string Url(const std::string& file) { return server_.Url("/site/" + file); }
    void AddNode(int id, const std::string& guide, const std::string& file,
                 const std::string& body) {
        TQuery q(db_);
        q.SetSQL(
            "INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE, BODY) "
            "VALUES (:Id, 'T', :Url, :OrigId, :Guide, :Body)");
        q.SetParam("Id", id);
        q.SetParam("Url", Url(file));
        q.SetParam("OrigId", file);
        q.SetParam("Guide", guide);
        q.SetParam("Body", body);
        q.ExecSQL();
        tr_.CommitRetaining();
    }
    std::string Body(int id) {
        TQuery q(db_);
        q.SetSQL("SELECT BODY FROM NODE WHERE NODE_ID=" + std::to_string(id));
        q.ExecQuery();
        return q.AsText("BODY");
    }
    void AddLink(int parent, int child, int order) {
        TQuery q(db_);
        q.SetSQL("INSERT INTO MASTER_DETAIL (MASTER_ID, DETAIL_ID, ORDER_) VALUES (" +
                 std::to_string(parent) + ", " + std::to_string(child) + ", " +
                 std::to_string(order) + ")");
        q.ExecSQL();
        tr_.CommitRetaining();
    }
    int Children(int id) {
        TQuery q(db_);
        q.SetSQL("SELECT COUNT(*) AS N FROM MASTER_DETAIL WHERE MASTER_ID=" + std::to_string(id));
        q.ExecQuery();
        return q.AsInteger("N");
    }
    std::vector<TPageCheck> Check(int id) {
        std::vector<TPageCheck> checks;
        EXPECT_TRUE(CheckBranch(db_, id, host_, [&](const TPageCheck& c) { checks.push_back(c); }));
        return checks;
    }
    TReloadProgress Reload(int id, int depth) {
        TReloadEngine engine(db_, host_);
        EXPECT_TRUE(engine.ReloadNodes(id, true, depth, true));
        return engine.Progress();
    }

    THttpTestServer server_;
    std::mutex mutex_;
    std::map<std::string, std::string> pages_;
    TTempDatabase temp_;
    TDatabase db_;
    TTransaction tr_{db_};
    THost host_;
};

TEST_F(ReaderHealthTest, RedesignedPageIsReportedCountedAndKeepsItsBody) {
    AddNode(1, "EZTRIP", "X_viewLocation_a.html", "<p>Good old body</p>");
    AddNode(2, "ALPHABEDS", "paris.html", "<p>Paris as it was</p>");
    Serve("X_viewLocation_a.html", kRedesigned);
    Serve("paris.html", kRedesigned);

    TReloadProgress p = Reload(1, 0);
    EXPECT_EQ(p.UnknownLayouts, 1);
    EXPECT_EQ(p.FailedDownloads, 0);
    EXPECT_EQ(p.Links, 0);
    EXPECT_EQ(Body(1), "<p>Good old body</p>");
    ASSERT_EQ(host_.Errors.size(), 1u);
    EXPECT_NE(host_.Errors[0].find("not recognised"), std::string::npos) << host_.Errors[0];
    EXPECT_NE(host_.Errors[0].find("\"" + Url("X_viewLocation_a.html") + "\""), std::string::npos);

    p = Reload(2, 0);
    EXPECT_EQ(p.UnknownLayouts, 1);
    EXPECT_EQ(Body(2), "<p>Paris as it was</p>");

    // The site back in its known layout: stored again, nothing reported.
    host_.Errors.clear();
    Serve("X_viewLocation_a.html",
          SamplePages::EzTripLocationPage("A", "X_viewLocation_a.html", {}, "New body"));
    p = Reload(1, 0);
    EXPECT_EQ(p.UnknownLayouts, 0);
    EXPECT_EQ(Body(1), "New body");
    EXPECT_TRUE(host_.Errors.empty());
}

// Leaf pages have text and no links, index pages links and no text: neither is a
// layout the reader failed to recognise. A failed fetch is a failed download, not
// an unknown layout.
TEST_F(ReaderHealthTest, PagesWithoutLinksOrWithoutTextAreNotFlagged) {
    AddNode(1, "EZTRIP", "X_viewLocation_leaf.html", "");
    AddNode(2, "ALPHABEDS", "leaf.html", "");
    AddNode(3, "EZTRIP", "destinationguide_x.html", "");
    AddNode(4, "EZTRIP", "X_viewLocation_gone.html", "kept");
    Serve("X_viewLocation_leaf.html",
          SamplePages::EzTripLocationPage("Leaf", "X_viewLocation_leaf.html", {}, "Leaf text"));
    Serve("leaf.html", AlphaBedsContentOnly("Leaf of AlphaBeds"));
    Serve("destinationguide_x.html", SamplePages::EzTripGuidePage("Guide", {}));

    for (int id : {1, 2, 3}) {
        const TReloadProgress p = Reload(id, 0);
        EXPECT_EQ(p.UnknownLayouts, 0) << id;
        EXPECT_EQ(p.FailedDownloads, 0) << id;
    }
    EXPECT_EQ(Body(1), "Leaf text");
    EXPECT_EQ(Body(2), "Leaf of AlphaBeds");
    const TReloadProgress gone = Reload(4, 0);
    EXPECT_EQ(gone.FailedDownloads, 1);
    EXPECT_EQ(gone.UnknownLayouts, 0);
    EXPECT_TRUE(host_.Errors.empty());

    // An empty page is no layout either.
    EXPECT_FALSE(TEzTripDownload().KnowsLayout(Url("X_viewCities_c.html"), ""));
    EXPECT_FALSE(TAlphaBedsDownload().KnowsLayout(Url("p.html"), ""));
    EXPECT_TRUE(TEzTripDownload().KnowsLayout(Url("X_viewCities_c.html"),
                                              SamplePages::EzTripCitiesPage("C", {})));
}

// wayfolio-cli check: the branch's pages read, nothing stored, the verdict in the
// exit status, for a cron job to find out that a site changed.
TEST_F(ReaderHealthTest, CheckCommandReportsEachPageAndStoresNothing) {
    AddNode(1, "EZTRIP", "X_viewLocation_a.html", "old a");
    AddNode(2, "EZTRIP", "X_viewLocation_b.html", "old b");
    AddNode(3, "EZTRIP", "X_viewLocation_c.html", "old c");
    {
        TQuery q(db_);
        q.SetSQL("INSERT INTO MASTER_DETAIL VALUES (1, 3, 2)");
        q.ExecSQL();
        q.SetSQL("INSERT INTO MASTER_DETAIL VALUES (1, 2, 1)");
        q.ExecSQL();
        tr_.CommitRetaining();
    }
    Serve("X_viewLocation_a.html",
          SamplePages::EzTripLocationPage("A", "X_viewLocation_a.html",
                                          {{"X_viewLocation_new.html", "New"}}, "Text of A"));
    Serve("X_viewLocation_b.html", kRedesigned);
    // c is gone: a failed download
    db_.Close();  // the program opens the database file itself

    const std::string ini = temp_.Folder() + "/w.ini";
    std::ofstream(ini) << "[Interbase]\r\nDatabaseName=" << temp_.Path() << "\r\n";
    auto run = [&](std::string& out) {
        out.clear();
        FILE* pipe =
            popen((std::string(WF_CLI) + " -I:" + ini + " check 1 2>/dev/null").c_str(), "r");
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        const int status = pclose(pipe);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    std::string out;
    EXPECT_EQ(run(out), 1);
    EXPECT_EQ(out, "1\trecognised\t9 bytes\t1 links\t" + Url("X_viewLocation_a.html") + "\n" +
                       "2\tNOT RECOGNISED\t0 bytes\t0 links\t" + Url("X_viewLocation_b.html") +
                       "\n" + "3\tdownload failed\t0 bytes\t0 links\t" +
                       Url("X_viewLocation_c.html") + "\n");

    // A reload of the redesigned page says so in its summary and keeps the body.
    const std::string reload = std::string(WF_CLI) + " -I:" + ini + " reload 2 2>&1";
    FILE* pipe = popen(reload.c_str(), "r");
    std::string summary;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        summary.append(buffer, n);
    pclose(pipe);
    EXPECT_NE(summary.find(", 1 pages in a layout not recognised"), std::string::npos) << summary;
    EXPECT_NE(summary.find("error: The layout of the page"), std::string::npos) << summary;

    Serve("X_viewLocation_b.html",
          SamplePages::EzTripLocationPage("B", "X_viewLocation_b.html", {}, "Text of B"));
    // (An empty body over c's stored one would be a page not recognised.)
    Serve("X_viewLocation_c.html",
          SamplePages::EzTripLocationPage("C", "X_viewLocation_c.html", {}, "Text of C"));
    EXPECT_EQ(run(out), 0) << out;

    temp_.Connect(db_, tr_);
    EXPECT_EQ(Body(1), "old a");
    EXPECT_EQ(Body(2), "old b");
    TQuery q(db_);
    q.SetSQL("SELECT COUNT(*) AS N FROM NODE");
    q.ExecQuery();
    EXPECT_EQ(q.AsInteger("N"), 3);
}

// The markers are found, the content box is not: an empty body where a good one is
// stored is a page not recognised, on both readers, whitespace counting as empty.
TEST_F(ReaderHealthTest, EmptyBodyOverAStoredOneIsNotRecognised) {
    AddNode(1, "EZTRIP", "X_viewLocation_a.html", "<p>Good old body</p>");
    AddNode(2, "ALPHABEDS", "paris.html", "<p>Paris as it was</p>");
    AddNode(3, "EZTRIP", "X_viewLocation_w.html", "<p>Kept too</p>");
    AddNode(4, "EZTRIP", "X_viewLocation_new.html", "");
    const std::string location =
        SamplePages::EzTripLocationPage("A", "X_viewLocation_a.html", {}, "New text");
    Serve("X_viewLocation_a.html", Renamed(location, "sectionSpacer", "section-body"));
    Serve("X_viewLocation_w.html",
          SamplePages::EzTripLocationPage("W", "X_viewLocation_w.html", {}, " \r\n\t"));
    Serve("X_viewLocation_new.html", Renamed(location, "sectionSpacer", "section-body"));
    Serve("paris.html", Renamed(SamplePages::AlphaBedsPage("Paris", {}, {{"lyon.html", "Lyon"}},
                                                           "<p>Paris now</p>"),
                                "LocationImage", "HeroImage"));

    TReloadProgress p = Reload(1, 0);
    EXPECT_EQ(p.UnknownLayouts, 1);
    EXPECT_EQ(p.FailedDownloads, 0);
    EXPECT_EQ(Body(1), "<p>Good old body</p>");
    ASSERT_EQ(host_.Errors.size(), 1u);
    EXPECT_NE(host_.Errors[0].find("The layout of the page \"" + Url("X_viewLocation_a.html") +
                                   "\" was not recognised"),
              std::string::npos)
        << host_.Errors[0];

    p = Reload(2, 0);
    EXPECT_EQ(p.UnknownLayouts, 1);
    EXPECT_EQ(Body(2), "<p>Paris as it was</p>");
    EXPECT_EQ(Children(2), 1) << "the links the page still gives are stored";

    p = Reload(3, 0);
    EXPECT_EQ(p.UnknownLayouts, 1);
    EXPECT_EQ(Body(3), "<p>Kept too</p>");

    // Nothing stored to lose: an empty body is stored as it comes, and said nothing of.
    host_.Errors.clear();
    p = Reload(4, 0);
    EXPECT_EQ(p.UnknownLayouts, 0);
    EXPECT_TRUE(host_.Errors.empty());

    // The check sees what the reload saw, and names why.
    const std::vector<TPageCheck> checks = Check(1);
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_EQ(checks[0].Result, TPageCheck::prUnrecognised);
    EXPECT_EQ(checks[0].Verdict, pvLostBody);
    EXPECT_EQ(Check(4)[0].Result, TPageCheck::prRecognised);
}

// A page that used to list its sub-pages and now gives none (its list got a new
// look) is not recognised; a page that never had any is fine. Its stored links stay
// and are walked, and a body it still gives is stored.
TEST_F(ReaderHealthTest, NoLinksWhereTheDocumentHasChildrenIsNotRecognised) {
    AddNode(1, "EZTRIP", "X_viewCities_c.html", "");
    AddNode(2, "EZTRIP", "X_viewLocation_old.html", "old");
    AddNode(3, "EZTRIP", "X_viewCities_d.html", "");
    AddNode(4, "EZTRIP", "X_viewLocation_b.html", "");
    AddLink(1, 2, 1);
    AddLink(4, 2, 1);
    const std::string cities = SamplePages::EzTripCitiesPage(
        "C", {{"X_viewLocation_old.html", "Old"}, {"X_viewLocation_x.html", "X"}});
    const std::string restyled = Renamed(cities, "'images/DGarrow.gif'", "'img/arrow.svg'");
    Serve("X_viewCities_c.html", restyled);
    Serve("X_viewCities_d.html", restyled);
    Serve("X_viewLocation_old.html",
          SamplePages::EzTripLocationPage("Old", "X_viewLocation_old.html", {}, "fresh"));
    Serve("X_viewLocation_b.html",
          Renamed(SamplePages::EzTripLocationPage("B", "X_viewLocation_b.html",
                                                  {{"X_viewLocation_old.html", "Old"}}, "B text"),
                  "guides-Spacer7", "nav-v2"));

    TReloadProgress p = Reload(1, 999);
    EXPECT_EQ(p.UnknownLayouts, 1);
    ASSERT_EQ(host_.Errors.size(), 1u);
    EXPECT_NE(host_.Errors[0].find("\"" + Url("X_viewCities_c.html") + "\" was not recognised"),
              std::string::npos)
        << host_.Errors[0];
    EXPECT_NE(host_.Errors[0].find("no links"), std::string::npos) << host_.Errors[0];
    EXPECT_EQ(Children(1), 1);
    EXPECT_EQ(Body(2), "fresh") << "the stored child is still walked";

    host_.Errors.clear();
    p = Reload(3, 0);  // never had children
    EXPECT_EQ(p.UnknownLayouts, 0);
    EXPECT_TRUE(host_.Errors.empty());

    // Content and links judged apart: the body is new and stored, the lost list told.
    p = Reload(4, 0);
    EXPECT_EQ(p.UnknownLayouts, 1);
    EXPECT_EQ(Body(4), "B text");
    EXPECT_EQ(Check(4)[0].Verdict, pvLostLinks);

    // The list back in its known look: recognised again.
    host_.Errors.clear();
    Serve("X_viewCities_c.html", cities);
    p = Reload(1, 0);
    EXPECT_EQ(p.UnknownLayouts, 0);
    EXPECT_GT(Children(1), 1);
    EXPECT_TRUE(host_.Errors.empty());
}

}  // namespace
