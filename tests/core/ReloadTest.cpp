// The reload engine against a real embedded database and a real HTTP server on
// 127.0.0.1 serving pages in the sites' structures.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/Reload.h"
#include "config/AuxProj.h"
#include "config/EAbort.h"
#include "download/wf_Download.h"
#include "samples/SamplePages.h"
#include "store/Database.h"
#include "store/DbError.h"
#include "store/Query.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TempDatabase.h"

namespace {

using SamplePages::TLink;

// Records what the engine tells its host; OnProcess runs inside ProcessMessages.
class TRecordingHost : public TReloadHost {
public:
    void ProcessMessages() override {
        ++Calls;
        if (OnProcess) OnProcess();
    }
    void WriteLog(unsigned char channel, const std::string& text) override {
        Lines.push_back({channel, text});
    }
    void ShowProgress(const TReloadProgress& progress) override { Last = progress; }
    std::vector<std::string> Channel(unsigned char channel) const {
        std::vector<std::string> out;
        for (const auto& l : Lines)
            if (l.first == channel) out.push_back(l.second);
        return out;
    }
    int Calls = 0;
    TReloadProgress Last;  // as shown before the latest ProcessMessages after a document
    std::function<void()> OnProcess;
    std::vector<std::pair<unsigned char, std::string>> Lines;
};

// EzTrip location pages under /site/: every link is a child of the page itself, and
// numbered by its place in the navigation list, which the page itself opens (so the
// first link has order 2).
// Pages can be replaced between runs; a missing page answers 404.
class TSite {
public:
    explicit TSite(THttpTestServer& server) : server_(server) {
        server.Http().Get(R"(/site/(.*))",
                          [this](const httplib::Request& req, httplib::Response& res) {
                              std::lock_guard<std::mutex> lock(mutex_);
                              ++hits_[req.path];
                              const auto it = pages_.find(req.path);
                              if (it == pages_.end()) {
                                  res.status = 404;
                                  return;
                              }
                              res.set_content(it->second, "text/html");
                          });
    }
    static std::string Path(const std::string& name) { return "/site/" + name + ".html"; }
    std::string Url(const std::string& name) const { return server_.Url(Path(name)); }

    // A location page "X_viewLocation_<name>" linking to the named pages in order.
    void Location(const std::string& name, const std::vector<std::string>& links,
                  const std::string& body = "") {
        std::vector<TLink> hrefs;
        for (const auto& l : links) hrefs.push_back({Loc(l) + ".html", "Title " + l});
        Set(Loc(name), SamplePages::EzTripLocationPage("Title " + name, Loc(name) + ".html", hrefs,
                                                       body.empty() ? "Body of " + name : body));
    }
    void Set(const std::string& file, const std::string& page) {
        std::lock_guard<std::mutex> lock(mutex_);
        pages_[Path(file)] = page;
    }
    int Hits(const std::string& file) const {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = hits_.find(Path(file));
        return it == hits_.end() ? 0 : it->second;
    }
    int TotalHits() const {
        std::lock_guard<std::mutex> lock(mutex_);
        int n = 0;
        for (const auto& h : hits_) n += h.second;
        return n;
    }
    static std::string Loc(const std::string& name) { return "X_viewLocation_" + name; }

private:
    THttpTestServer& server_;
    mutable std::mutex mutex_;
    std::map<std::string, std::string> pages_;
    std::map<std::string, int> hits_;
};

class ReloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        StopFlag = false;
        site_ = std::make_unique<TSite>(server_);
        server_.Start();
        Connect();
    }
    void TearDown() override {
        ReleaseHold();
        db_.Close();
        StopFlag = false;
    }
    void Connect() { temp_.Connect(db_, tr_); }
    void Sql(const std::string& text) {
        TQuery q(db_);
        q.SetSQL(text);
        q.ExecSQL();
        tr_.CommitRetaining();
    }
    // A top-level node for the page of that name, as the user's database holds one.
    int AddTop(const std::string& name, const std::string& guide = "EZTRIP",
               const std::string& url = "") {
        const int id = nextId_++;
        TQuery q(db_);
        q.SetSQL(
            "INSERT INTO NODE(NODE_ID,TITLE,ORIG_URL,ORIG_ID,READ_CONTENT,GUIDE_TYPE) "
            "VALUES(:Id,:Title,:Url,:OrigId,'Y',:Guide)");
        q.SetParam("Id", id);
        q.SetParam("Title", "Top " + name);
        q.SetParam("Url", url.empty() ? site_->Url(TSite::Loc(name)) : url);
        q.SetParam("OrigId", TSite::Loc(name));
        q.SetParam("Guide", guide);
        q.ExecSQL();
        Sql("INSERT INTO MASTER_DETAIL VALUES (0, " + std::to_string(id) + ", " +
            std::to_string(id) + ")");
        return id;
    }
    int IdOf(const std::string& name) {
        TQuery q(db_);
        q.SetSQL("SELECT NODE_ID FROM NODE WHERE ORIG_ID=:O");
        q.SetParam("O", TSite::Loc(name));
        q.ExecQuery();
        return q.Eof() ? 0 : q.AsInteger("NODE_ID");
    }
    std::string Column(int id, const std::string& column) {
        TQuery q(db_);
        q.SetSQL("SELECT * FROM NODE WHERE NODE_ID=" + std::to_string(id));
        q.ExecQuery();
        return q.Eof() ? "<no row>" : q.AsText(column);
    }
    int Count(const std::string& sql) {
        TQuery q(db_);
        q.SetSQL(sql);
        q.ExecQuery();
        return q.AsInteger(0);
    }
    // The children of a node as "name:order", in order.
    std::vector<std::string> Children(const std::string& name) {
        TQuery q(db_);
        q.SetSQL(
            "SELECT N.ORIG_ID, MD.ORDER_ FROM NODE N JOIN MASTER_DETAIL MD ON "
            "N.NODE_ID=MD.DETAIL_ID WHERE MD.MASTER_ID=" +
            std::to_string(IdOf(name)) + " ORDER BY MD.ORDER_, N.ORIG_ID");
        std::vector<std::string> out;
        for (q.ExecQuery(); !q.Eof(); q.Next()) {
            std::string id = q.AsText("ORIG_ID");
            id.erase(0, TSite::Loc("").size());
            out.push_back(id + ":" + q.AsText("ORDER_"));
        }
        return out;
    }
    bool Run(int id, bool storeTop, int depth, bool reloadAll) {
        TReloadEngine engine(db_, host_);
        const bool ran = engine.ReloadNodes(id, storeTop, depth, reloadAll);
        progress_ = engine.Progress();
        visited_ = engine.Visited();
        connectionChanged_ = engine.ConnectionChanged();
        return ran;
    }
    int Duplicates() {
        return Count(
                   "SELECT COUNT(*) FROM (SELECT ORIG_ID FROM NODE GROUP BY ORIG_ID, GUIDE_TYPE "
                   "HAVING COUNT(*) > 1)") +
               Count(
                   "SELECT COUNT(*) FROM (SELECT MASTER_ID FROM MASTER_DETAIL GROUP BY "
                   "MASTER_ID, DETAIL_ID HAVING COUNT(*) > 1)");
    }

    // Before the server: a held request may still be waking when the server stops.
    std::mutex holdMutex_;
    std::condition_variable holdCv_;
    bool holdArrived_ = false;
    bool holdReleased_ = false;
    TTempDatabase temp_;
    THttpTestServer server_;
    std::unique_ptr<TSite> site_;
    TDatabase db_;
    TTransaction tr_{db_};
    TRecordingHost host_;
    // Pages under /hold/ answer (as the location page of that name, linking to
    // "<name>1" and "<name>2") only once ReleaseHold is called, or after a bound long
    // enough to fail any test waiting for them.
    void ServeHeldPages() {
        server_.Http().Get(
            R"(/hold/(.*)\.html)", [this](const httplib::Request& req, httplib::Response& res) {
                const std::string name = req.matches[1].str();
                std::unique_lock<std::mutex> lock(holdMutex_);
                holdArrived_ = true;
                holdCv_.wait_for(lock, std::chrono::seconds(30), [this] { return holdReleased_; });
                res.set_content(
                    SamplePages::EzTripLocationPage("Held", name + ".html",
                                                    {{TSite::Loc(name + "1") + ".html", "One"},
                                                     {TSite::Loc(name + "2") + ".html", "Two"}},
                                                    "Body of " + name),
                    "text/html");
            });
    }
    bool HoldArrived() {
        std::lock_guard<std::mutex> lock(holdMutex_);
        return holdArrived_;
    }
    void ReleaseHold() {
        std::lock_guard<std::mutex> lock(holdMutex_);
        holdReleased_ = true;
        holdCv_.notify_all();
    }

    TReloadProgress progress_;
    std::unordered_set<int> visited_;
    bool connectionChanged_ = false;
    int nextId_ = 100000;  // far above what the generator hands out
};

TEST_F(ReloadTest, BranchWalksEachDocumentOnceAndTheStartAgainWhenLinkedBack) {
    // A -> B, C; B -> D; C -> D (D has two parents) and C itself; D -> B (its parent)
    // and A (the start).
    site_->Location("A", {"B", "C"});
    site_->Location("B", {"D"});
    site_->Location("C", {"D", "C"});
    site_->Location("D", {"B", "A"});
    const int a = AddTop("A");

    ASSERT_TRUE(Run(a, false, 999, true));

    EXPECT_EQ(Children("A"), (std::vector<std::string>{"B:2", "C:3"}));
    EXPECT_EQ(Children("B"), std::vector<std::string>{"D:2"});
    EXPECT_EQ(Children("C"), (std::vector<std::string>{"D:2", "C:3"}));
    EXPECT_EQ(Children("D"), (std::vector<std::string>{"B:2", "A:3"}));
    // D is walked under the first parent only; B is not walked again from D; the
    // start document is walked once more as D's child, this time with its content.
    EXPECT_EQ(site_->Hits(TSite::Loc("A")), 2);
    for (const char* n : {"B", "C", "D"}) EXPECT_EQ(site_->Hits(TSite::Loc(n)), 1) << n;
    EXPECT_EQ(Column(a, "BODY"), "Body of A");
    EXPECT_EQ(Column(a, "TITLE"), "Top A");  // the reader delivers no title
    EXPECT_EQ(Column(IdOf("D"), "BODY"), "Body of D");
    EXPECT_EQ(Column(IdOf("D"), "TITLE"), "Title D");  // from the link text
    EXPECT_EQ(Column(IdOf("D"), "ENCODING"), "iso-8859-1");
    EXPECT_EQ(visited_.count(a), 1u);
    EXPECT_EQ(progress_.Documents, 5);
    EXPECT_EQ(progress_.Errors, 0);
    EXPECT_EQ(progress_.NewDocuments, 4);  // B, C, D and A, as D's child
    EXPECT_EQ(progress_.LinksAdded, 7);
    EXPECT_TRUE(host_.Channel(3).empty());
    EXPECT_EQ(Duplicates(), 0);
    EXPECT_EQ(host_.Channel(1).front(), "Downloading \"" + site_->Url(TSite::Loc("A")) + "\"");

    // A second run over the unchanged site adds nothing, and writes only the pages'
    // content (B, C, D and A as D's child): links stored with the same order stay as
    // they are.
    const int nodes = Count("SELECT COUNT(*) FROM NODE");
    const int links = Count("SELECT COUNT(*) FROM MASTER_DETAIL");
    site_->Location("C", {"D", "C"}, "New body of C");
    ASSERT_TRUE(Run(a, false, 999, true));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NODE"), nodes);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM MASTER_DETAIL"), links);
    EXPECT_EQ(progress_.Commits, 4);
    EXPECT_EQ(progress_.Links, 0);
    EXPECT_EQ(progress_.NewDocuments, 0);
    EXPECT_EQ(progress_.ChangedDocuments, 1);
    EXPECT_EQ(progress_.UnchangedDocuments, 3);
    EXPECT_EQ(progress_.LinksAdded, 0);
    EXPECT_EQ(RunSummary(progress_, 2.25, false),
              "Finished in 2.2 s: 5 documents, 0 new, 1 changed, 3 unchanged, 0 failed, 0 links "
              "added, 0 errors");
}

TEST_F(ReloadTest, LevelsStopAtTheDepthAndSingleReloadStoresOnlyItsOwnPage) {
    site_->Location("L0", {"L1"});
    site_->Location("L1", {"L2"});
    site_->Location("L2", {"L3"});
    site_->Location("L3", {});
    const int top = AddTop("L0");

    // "Reload document": the start document's content and links, nothing below.
    ASSERT_TRUE(Run(top, true, 0, true));
    EXPECT_EQ(Column(top, "BODY"), "Body of L0");
    EXPECT_EQ(Children("L0"), std::vector<std::string>{"L1:2"});
    EXPECT_EQ(Column(IdOf("L1"), "BODY"), "");
    EXPECT_EQ(site_->TotalHits(), 1);

    // Depth 3: the start and two levels below it are downloaded; the deepest of
    // them gets its links stored, but those are not walked.
    ASSERT_TRUE(Run(top, false, 3, true));
    EXPECT_EQ(site_->Hits(TSite::Loc("L0")), 2);
    EXPECT_EQ(site_->Hits(TSite::Loc("L1")), 1);
    EXPECT_EQ(site_->Hits(TSite::Loc("L2")), 1);
    EXPECT_EQ(site_->Hits(TSite::Loc("L3")), 0);
    EXPECT_NE(IdOf("L3"), 0);
    EXPECT_EQ(Column(IdOf("L2"), "BODY"), "Body of L2");
}

TEST_F(ReloadTest, ReloadRewritesOrderAndKeepsProtectedContent) {
    site_->Location("P", {"X", "Y", "Z"});
    for (const char* n : {"X", "Y", "Z"}) site_->Location(n, {});
    const int p = AddTop("P");
    ASSERT_TRUE(Run(p, true, 0, true));
    EXPECT_EQ(Children("P"), (std::vector<std::string>{"X:2", "Y:3", "Z:4"}));

    // The page now lists its links the other way round, and the stored document may
    // no longer take content.
    site_->Location("P", {"Z", "Y", "X"}, "New body");
    Sql("UPDATE NODE SET READ_CONTENT='N', TITLE='Kept title' WHERE NODE_ID=" + std::to_string(p));
    ASSERT_TRUE(Run(p, true, 0, true));
    EXPECT_EQ(Children("P"), (std::vector<std::string>{"Z:2", "Y:3", "X:4"}));
    // A lost order (NULL) is written again, though it reads as 0 like an order of 0.
    Sql("UPDATE MASTER_DETAIL SET ORDER_=NULL WHERE DETAIL_ID=" + std::to_string(IdOf("Z")));
    {
        TReloadEngine engine(db_, host_);
        TDownloadHandle handle(p, 0, "EZTRIP");
        engine.StoreLink(true, "Z", site_->Url(TSite::Loc("Z")), TSite::Loc("Z"), 0, handle);
    }
    EXPECT_EQ(Children("P"), (std::vector<std::string>{"Z:0", "Y:3", "X:4"}));
    ASSERT_TRUE(Run(p, true, 0, true));
    EXPECT_EQ(Children("P"), (std::vector<std::string>{"Z:2", "Y:3", "X:4"}));
    EXPECT_EQ(Column(p, "BODY"), "Body of P");
    EXPECT_EQ(Column(p, "TITLE"), "Kept title");
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NODE"), 4);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM MASTER_DETAIL"), 4);

    // A lower-case "n" does not protect; a delivered title replaces the stored one
    // and an empty body is stored as empty, not left as it was.
    Sql("UPDATE NODE SET READ_CONTENT='n' WHERE NODE_ID=" + std::to_string(p));
    TReloadEngine engine(db_, host_);
    TDownloadHandle handle(p, 0, "EZTRIP");
    engine.StoreContent("Fresh title", "", "<head>", "koi8-r", "", "", handle);
    EXPECT_EQ(Column(p, "TITLE"), "Fresh title");
    EXPECT_EQ(Column(p, "BODY"), "");
    EXPECT_EQ(Column(p, "HEAD"), "<head>");
    EXPECT_EQ(Column(p, "ENCODING"), "koi8-r");
    EXPECT_NE(Column(p, "STAMP_UPDATED"), "");
    // Content for a row deleted meanwhile is dropped without a word.
    TDownloadHandle gone(9999, 0, "EZTRIP");
    EXPECT_NO_THROW(engine.StoreContent("T", "B", "", "", "", "", gone));
}

TEST_F(ReloadTest, EmptyOnlyRunDownloadsOnlyDocumentsWithoutBody) {
    site_->Location("E", {"F", "G"});
    site_->Location("F", {"H"});
    site_->Location("G", {});
    site_->Location("H", {});
    const int e = AddTop("E");
    ASSERT_TRUE(Run(e, true, 999, true));
    const int before = site_->TotalHits();

    // Every document has a body now: the whole branch is walked, nothing fetched.
    ASSERT_TRUE(Run(e, false, 999, false));
    EXPECT_EQ(site_->TotalHits(), before);
    EXPECT_EQ(progress_.Documents, 4);
    EXPECT_EQ(progress_.Downloads, 0);

    // A body of white space and control characters counts as none; a new link on a
    // page is not seen, since that page is not downloaded.
    Sql("UPDATE NODE SET BODY=' ' || ASCII_CHAR(9) || ASCII_CHAR(13) || ASCII_CHAR(10) "
        "WHERE NODE_ID=" +
        std::to_string(IdOf("H")));
    ASSERT_TRUE(Run(e, false, 999, false));
    EXPECT_EQ(site_->TotalHits(), before + 1);
    EXPECT_EQ(site_->Hits(TSite::Loc("H")), 2);
    EXPECT_EQ(Column(IdOf("H"), "BODY"), "Body of H");
    EXPECT_FALSE(HasBody("\x01\x1f \t"));
    EXPECT_TRUE(HasBody(" x "));
}

TEST_F(ReloadTest, StopEndsTheRunAndKeepsWhatWasStored) {
    site_->Location("S", {"S1", "S2", "S3", "S4"});
    for (const char* n : {"S1", "S2", "S3", "S4"}) site_->Location(n, {});
    const int s = AddTop("S");
    // Stop is pressed while the window handles messages after the second child.
    host_.OnProcess = [this] {
        if (host_.Last.Documents == 3) StopFlag = true;
    };
    ASSERT_TRUE(Run(s, false, 999, true));
    EXPECT_TRUE(StopFlag);
    // Pages fetched ahead may have been asked for; only three had their turn.
    EXPECT_EQ(host_.Channel(1).size(), 3u);
    EXPECT_EQ(progress_.Documents, 3);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NODE WHERE BODY IS NOT NULL"), 2);
    EXPECT_EQ(Children("S").size(), 4u);  // the links stored before the stop stay
    EXPECT_TRUE(host_.Channel(3).empty());

    // A run started while the flag is still set ends at once, silently.
    TReloadEngine engine(db_, host_);
    EXPECT_THROW(engine.ReloadNodes(s, false, 999, true), EAbort);
}

TEST_F(ReloadTest, ErrorsBelowTheStartAreLoggedOnChannelThreeAndTheWalkGoesOn) {
    site_->Location("R", {"Locked", "Missing", "Lost", "Fine"});
    site_->Location("Locked", {});
    site_->Location("Lost", {"Ghost"});
    site_->Location("Fine", {});
    // Missing is not served (404). Lost links to Ghost, whose node a trigger hides
    // on insert, so it cannot be found again.
    db_.Close();
    temp_.RunIsql(
        "SET TERM ^ ;\nCREATE TRIGGER HIDE_GHOST FOR NODE BEFORE INSERT AS BEGIN "
        "IF (NEW.ORIG_ID = 'X_viewLocation_Ghost') THEN NEW.ORIG_ID = 'hidden'; END^\n"
        "SET TERM ; ^");
    db_.Open();
    const int r = AddTop("R");
    ASSERT_TRUE(Run(r, false, 0, true));  // creates the children
    const int locked = IdOf("Locked");

    // Another user holds the Locked row.
    TDatabase other;
    TTransaction otherTr(other);
    temp_.Connect(other, otherTr);
    TQuery hold(other);
    hold.SetSQL("UPDATE NODE SET TITLE='held' WHERE NODE_ID=" + std::to_string(locked));
    hold.ExecSQL();

    host_.Lines.clear();
    ASSERT_TRUE(Run(r, false, 999, true));
    const auto errors = host_.Channel(3);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_NE(errors[0].find("lock"), std::string::npos) << errors[0];
    EXPECT_EQ(errors[1], "Operation aborted");
    EXPECT_EQ(progress_.Errors, 2);
    // The 404 is a reader's line on channel 1, not an error; nothing is stored for it.
    bool logged404 = false;
    for (const auto& l : host_.Channel(1)) logged404 |= l.find("404") != std::string::npos;
    EXPECT_TRUE(logged404);
    EXPECT_EQ(progress_.FailedDownloads, 1);
    EXPECT_EQ(Column(IdOf("Missing"), "BODY"), "");
    EXPECT_EQ(Column(IdOf("Fine"), "BODY"), "Body of Fine");
    EXPECT_EQ(Column(IdOf("Lost"), "BODY"), "Body of Lost");
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NODE WHERE ORIG_ID='hidden'"), 1);  // stays

    // The same lock on the start document, held for good: its content is tried a few
    // times, then the refusal is logged, and the run goes on with the page's links.
    TQuery holdTop(other);
    holdTop.SetSQL("UPDATE NODE SET TITLE='held' WHERE NODE_ID=" + std::to_string(r));
    holdTop.ExecSQL();
    host_.Lines.clear();
    Sql("DELETE FROM MASTER_DETAIL WHERE MASTER_ID=" + std::to_string(r));
    ASSERT_TRUE(Run(r, true, 0, true));
    ASSERT_EQ(host_.Channel(3).size(), 1u);
    EXPECT_NE(host_.Channel(3)[0].find("lock"), std::string::npos) << host_.Channel(3)[0];
    EXPECT_EQ(Count("SELECT COUNT(*) FROM MASTER_DETAIL WHERE MASTER_ID=" + std::to_string(r)),
              static_cast<int>(Children("R").size()));
    EXPECT_FALSE(Children("R").empty());
    otherTr.Commit();
    other.Close();
}

TEST_F(ReloadTest, NothingHappensWithoutRowOrReaderAndFailedFetchStoresNothing) {
    site_->Location("K", {"K1"});
    const int foreign = AddTop("K", "eztrip");  // letter case counts
    const int top = AddTop("U", "EZTRIP", "http://127.0.0.1:1/unreachable.html");
    Sql("UPDATE NODE SET BODY='old body' WHERE NODE_ID=" + std::to_string(top));

    EXPECT_FALSE(Run(0, true, 0, true));  // the root has no row
    EXPECT_FALSE(Run(foreign, true, 999, true));
    EXPECT_EQ(site_->TotalHits(), 0);
    EXPECT_TRUE(host_.Lines.empty());

    TReloadEngine engine(db_, host_);
    ASSERT_TRUE(engine.ReloadNodes(top, true, 0, true));
    EXPECT_TRUE(engine.TopDownloaded());
    EXPECT_FALSE(engine.TopFetched());
    EXPECT_EQ(Column(top, "BODY"), "old body");
    EXPECT_EQ(host_.Channel(1).size(), 2u);  // "Downloading" and the failure
}

TEST_F(ReloadTest, LinksOfTheParentsPassGoToTheParentAndAreDroppedForTheStart) {
    // AlphaBeds: a page that lists itself under "In this section" is one page of its
    // parent's section, so its links are its parent's children.
    server_.Http().Get(R"(/ab/(.*))", [](const httplib::Request& req, httplib::Response& res) {
        using SamplePages::AlphaBedsPage;
        if (req.path == "/ab/top.html")
            res.set_content(AlphaBedsPage("Top", {{"part1.html", "Part 1"}}, {}, "top"),
                            "text/html");
        else if (req.path == "/ab/part1.html")
            res.set_content(
                AlphaBedsPage("Part 1", {{"part1.html", "Part 1"}, {"part2.html", "Part 2"}},
                              {{"city.html", "City"}}, "one"),
                "text/html");
        else if (req.path == "/ab/self.html")
            res.set_content(
                AlphaBedsPage("Self", {{"self.html", "Self"}}, {{"city.html", "City"}}, "s"),
                "text/html");
        else
            res.set_content(AlphaBedsPage("Leaf", {}, {}, "leaf"), "text/html");
    });
    const int top = AddTop("top", "ALPHABEDS", server_.Url("/ab/top.html"));
    Sql("UPDATE NODE SET ORIG_ID='top' WHERE NODE_ID=" + std::to_string(top));
    ASSERT_TRUE(Run(top, false, 999, true));
    TQuery q(db_);
    q.SetSQL(
        "SELECT N.ORIG_ID, MD.ORDER_ FROM NODE N JOIN MASTER_DETAIL MD ON N.NODE_ID=MD.DETAIL_ID "
        "WHERE MD.MASTER_ID=" +
        std::to_string(top) + " ORDER BY MD.ORDER_, N.ORIG_ID");
    std::vector<std::string> kids;
    for (q.ExecQuery(); !q.Eof(); q.Next())
        kids.push_back(q.AsText("ORIG_ID") + ":" + q.AsText("ORDER_"));
    // part1's own pass rewrites its order under top, and adds part2 and city there.
    EXPECT_EQ(kids, (std::vector<std::string>{"part1:1", "part2:2", "city:3"}));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NODE WHERE GUIDE_TYPE='ALPHABEDS'"), 4);

    // The same kind of page as the start document: its links have no parent to go to.
    const int self = AddTop("self", "ALPHABEDS", server_.Url("/ab/self.html"));
    ASSERT_TRUE(Run(self, true, 999, true));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM MASTER_DETAIL WHERE MASTER_ID=" + std::to_string(self)),
              0);
    EXPECT_EQ(Column(self, "BODY"), "s");
}

TEST_F(ReloadTest, ARunEndsWhenItsConnectionChangesAndWritesNothingThroughTheNewOne) {
    site_->Location("D0", {"D1", "D2", "D3"});
    for (const char* n : {"D1", "D2", "D3"}) site_->Location(n, {"D4"});
    site_->Location("D4", {});
    const int top = AddTop("D0");
    ASSERT_TRUE(Run(top, false, 0, true));  // the children exist, without bodies

    // Another database holding documents under the same ids, as any other one does.
    TTempDatabase other;
    std::string rows;
    int order = 1;
    for (const char* n : {"D0", "D1", "D2", "D3"}) {
        const std::string id = std::to_string(IdOf(n));
        rows += "INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE, BODY) VALUES (" +
                id + ", 'Foreign', '" + site_->Url(TSite::Loc(n)) + "', '" + TSite::Loc(n) +
                "', 'EZTRIP', 'foreign body');\n";
        if (n != std::string("D0"))
            rows += "INSERT INTO MASTER_DETAIL VALUES (" + std::to_string(top) + ", " + id + ", " +
                    std::to_string(order++) + ");\n";
    }
    other.RunIsql(rows);

    // The user confirms Settings naming the other database once D1 is stored.
    bool switched = false;
    host_.OnProcess = [&] {
        if (host_.Last.Documents == 2 && !switched) {
            switched = true;
            db_.Close();
            other.Connect(db_, tr_);
        }
    };
    ASSERT_TRUE(Run(top, false, 999, true));
    ASSERT_TRUE(switched);
    EXPECT_TRUE(connectionChanged_);
    ASSERT_EQ(host_.Channel(3).size(), 1u);
    EXPECT_NE(host_.Channel(3)[0].find("connection changed"), std::string::npos);
    EXPECT_EQ(progress_.Documents, 2);
    // Nothing reached the other database.
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NODE"), 4);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NODE WHERE BODY='foreign body'"), 4);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM MASTER_DETAIL"), 3);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NODE WHERE TITLE='Foreign'"), 4);

    // Back on the run's own database: what was stored before the change stays.
    db_.Close();
    Connect();
    EXPECT_EQ(Column(IdOf("D1"), "BODY"), "Body of D1");
    EXPECT_EQ(Column(IdOf("D2"), "BODY"), "");
    EXPECT_EQ(IdOf("D4") != 0, true);  // D1's link, stored before the change

    // A connection closed and not opened again ends the run the same way.
    host_.Lines.clear();
    switched = false;
    host_.OnProcess = [&] {
        if (host_.Last.Documents == 2 && !switched) {
            switched = true;
            db_.Close();
        }
    };
    ASSERT_TRUE(Run(top, false, 999, true));
    EXPECT_TRUE(connectionChanged_);
    EXPECT_EQ(host_.Channel(3).size(), 1u);
    db_.Open();
    EXPECT_EQ(Column(IdOf("D2"), "BODY"), "");
}

TEST_F(ReloadTest, DocumentsDeletedDuringARunAreNotWalkedAndGetNoLinks) {
    site_->Location("T", {"A", "B", "C"});
    for (const char* n : {"A", "B", "C"}) site_->Location(n, {std::string(n) + "1"});
    for (const char* n : {"A1", "B1", "C1"}) site_->Location(n, {});
    const int t = AddTop("T");
    ASSERT_TRUE(Run(t, false, 0, true));
    const auto orphanLinks = [this] {
        return Count(
            "SELECT COUNT(*) FROM MASTER_DETAIL MD WHERE MD.MASTER_ID<>0 AND NOT EXISTS "
            "(SELECT 1 FROM NODE N WHERE N.NODE_ID=MD.MASTER_ID)");
    };

    // Once the first child is done, the user deletes a sibling not walked yet (its page
    // may have been fetched ahead already).
    const auto walked = [this](const std::string& n) {
        const auto lines = host_.Channel(1);
        const std::string line = "Downloading \"" + site_->Url(TSite::Loc(n)) + "\"";
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    std::string deleted;
    host_.OnProcess = [&] {
        if (host_.Last.Documents != 2 || !deleted.empty()) return;
        for (const char* n : {"C", "B", "A"}) {
            if (!walked(n)) {
                deleted = n;
                Sql("DELETE FROM NODE WHERE NODE_ID=" + std::to_string(IdOf(n)));
                return;
            }
        }
    };
    ASSERT_TRUE(Run(t, false, 999, true));
    ASSERT_FALSE(deleted.empty());
    EXPECT_FALSE(walked(deleted));
    EXPECT_EQ(IdOf(deleted + "1"), 0);
    EXPECT_EQ(orphanLinks(), 0);
    EXPECT_TRUE(host_.Channel(3).empty());
    EXPECT_EQ(progress_.Documents, 5);  // T, two children and their children

    // A document deleted while its page is on its way gets neither content nor links.
    ServeHeldPages();
    const int held = AddTop("Held", "EZTRIP", server_.Url("/hold/H.html"));
    bool gone = false;
    host_.OnProcess = [&] {
        if (!gone && HoldArrived()) {
            gone = true;
            Sql("DELETE FROM NODE WHERE NODE_ID=" + std::to_string(held));
            ReleaseHold();
        }
    };
    ASSERT_TRUE(Run(held, true, 999, true));
    EXPECT_TRUE(gone);
    EXPECT_EQ(IdOf("H1"), 0);
    EXPECT_EQ(IdOf("H2"), 0);
    EXPECT_EQ(orphanLinks(), 0);
}

TEST_F(ReloadTest, StopEndsATransferThatNeverEnds) {
    ServeHeldPages();
    site_->Location("W", {"Quick"});
    site_->Location("Quick", {});
    const int w = AddTop("W");
    ASSERT_TRUE(Run(w, false, 0, true));
    Sql("INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE, BODY) VALUES (7, "
        "'Stalled', '" +
        server_.Url("/hold/S.html") + "', 'stalled', 'EZTRIP', 'old body')");
    Sql("INSERT INTO MASTER_DETAIL VALUES (" + std::to_string(w) + ", 7, 0)");

    // The server says nothing; Stop is pressed while the page is awaited at its turn
    // (it may have been asked for earlier, ahead of its turn).
    host_.OnProcess = [this] {
        const auto lines = host_.Channel(1);
        if (HoldArrived() && !lines.empty() &&
            lines.back().find("/hold/S.html") != std::string::npos)
            StopFlag = true;
    };
    ASSERT_TRUE(Run(w, false, 999, true));
    EXPECT_TRUE(StopFlag);
    // A download the user stopped is no failure of the server's.
    EXPECT_EQ(progress_.FailedDownloads, 0);
    EXPECT_EQ(Column(7, "BODY"), "old body");
    EXPECT_TRUE(host_.Channel(3).empty());
    const auto lines = host_.Channel(1);
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("stopped"), std::string::npos) << lines.back();
    // The transfer's end did not start anything else: the stalled page was the last one
    // whose turn came.
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(lines[lines.size() - 2].find("/hold/S.html"), std::string::npos);
}

TEST_F(ReloadTest, APageOverTheSizeLimitFailsAndKeepsTheStoredBody) {
    ProjIni = std::make_unique<TIniStore>(TIniStore::FromText("[Download]\nMaxPageSize=1000\n"));
    const int top = AddTop("Big", "EZTRIP", server_.Url("/bytes/5000"));
    Sql("UPDATE NODE SET BODY='old body' WHERE NODE_ID=" + std::to_string(top));
    TReloadEngine engine(db_, host_);
    ASSERT_TRUE(engine.ReloadNodes(top, true, 0, true));
    ProjIni.reset();
    EXPECT_FALSE(engine.TopFetched());
    EXPECT_EQ(Column(top, "BODY"), "old body");
    ASSERT_EQ(host_.Channel(1).size(), 2u);
    EXPECT_NE(host_.Channel(1)[1].find("MaxPageSize"), std::string::npos);
}

TEST_F(ReloadTest, AnOverlongEncodingIsCutToItsColumnAndThePageKept) {
    std::string page = SamplePages::EzTripLocationPage(
        "Enc", TSite::Loc("Enc") + ".html", {{TSite::Loc("EncChild") + ".html", "Child"}}, "Body");
    const std::string charset = "charset=iso-8859-1";
    ASSERT_NE(page.find(charset), std::string::npos);
    page.replace(page.find(charset), charset.size(), "charset=" + std::string(300, 'x'));
    site_->Set(TSite::Loc("Enc"), page);
    site_->Location("EncChild", {});
    const int top = AddTop("Enc");
    ASSERT_TRUE(Run(top, true, 999, true));
    EXPECT_TRUE(host_.Channel(3).empty());
    EXPECT_EQ(Column(top, "BODY"), "Body");
    EXPECT_EQ(Column(top, "ENCODING"), std::string(100, 'x'));
    EXPECT_EQ(Column(IdOf("EncChild"), "BODY"), "Body of EncChild");
}

// The demo database's AlphaBeds guide, served from the sample pages: Paris lists
// itself in its own section, so its links belong to France, whose children were
// read before Paris was walked.
TEST(DemoReloadTest, OneBranchRunGathersTheWholeBranch) {
    TTempDatabase temp(true, true);
    THttpTestServer server;
    server.MountSamples();
    server.Start();
    temp.RunIsql("UPDATE NODE SET ORIG_URL='" + server.Url("/alphabeds/europe.html") +
                 "' WHERE NODE_ID=2;");
    TDatabase db;
    TTransaction tr(db);
    temp.Connect(db, tr);
    TRecordingHost host;
    StopFlag = false;
    const auto count = [&db](const std::string& sql) {
        TQuery q(db);
        q.SetSQL(sql);
        q.ExecQuery();
        return q.AsInteger(0);
    };
    const auto branch = [&](bool reloadAll) {
        TReloadEngine engine(db, host);
        EXPECT_TRUE(engine.ReloadNodes(2, false, 999, reloadAll));
        EXPECT_TRUE(host.Channel(3).empty());
        return engine.Progress();
    };

    const TReloadProgress first = branch(true);
    const int nodes = count("SELECT COUNT(*) FROM NODE");
    const int links = count("SELECT COUNT(*) FROM MASTER_DETAIL");
    // Every document below the guide got its page.
    EXPECT_EQ(count("SELECT COUNT(*) FROM NODE WHERE GUIDE_TYPE='ALPHABEDS' AND NODE_ID<>2 AND "
                    "(BODY IS NULL OR CHAR_LENGTH(BODY)=0)"),
              0);

    // Nothing new for a second run, and nothing left to load.
    const TReloadProgress second = branch(true);
    EXPECT_EQ(second.Documents, first.Documents);
    EXPECT_EQ(count("SELECT COUNT(*) FROM NODE"), nodes);
    EXPECT_EQ(count("SELECT COUNT(*) FROM MASTER_DETAIL"), links);
    // Only the guide itself, whose content the branch runs leave alone, is empty.
    host.Lines.clear();
    EXPECT_EQ(branch(false).Downloads, 1);
    EXPECT_EQ(host.Channel(1), std::vector<std::string>{
                                   "Downloading \"" + server.Url("/alphabeds/europe.html") + "\""});
    db.Close();
}

TEST_F(ReloadTest, ARunInsideAnotherRunKeepsItsOwnVisitedDocuments) {
    site_->Location("O", {"O1", "O2"});
    site_->Location("O1", {});
    site_->Location("O2", {});
    site_->Location("I", {"O1"});
    const int outer = AddTop("O");
    const int inner = AddTop("I");
    bool started = false;
    host_.OnProcess = [&] {
        if (started) return;
        started = true;
        TRecordingHost innerHost;
        TReloadEngine engine(db_, innerHost);
        StopFlag = false;
        ASSERT_TRUE(engine.ReloadNodes(inner, false, 999, true));
        EXPECT_EQ(engine.Progress().Documents, 2);
    };
    ASSERT_TRUE(Run(outer, false, 999, true));
    // O1 was walked by the inner run too: each run keeps its own set. (The outer run
    // may have asked for O1 ahead of its turn; the inner run stored O1 since, so that
    // copy is stale and the outer run asks again at its turn.)
    EXPECT_GE(site_->Hits(TSite::Loc("O1")), 2);
    EXPECT_LE(site_->Hits(TSite::Loc("O1")), 3);
    EXPECT_EQ(progress_.Documents, 3);
}

TEST_F(ReloadTest, BranchLargerThanAnyInListWorks) {
    // Far more documents than Firebird takes values in an IN list (1500).
    constexpr int kPages = 1700;
    const auto guide = SamplePages::TSyntheticGuide::sgEzTrip;
    server_.Http().Get(R"(/gen/.*)", [](const httplib::Request& req, httplib::Response& res) {
        const int page = SamplePages::SyntheticPageOf(guide, kPages, req.path);
        if (page < 0) {
            res.status = 404;
            return;
        }
        res.set_content(SamplePages::SyntheticPage(guide, kPages, page), "text/html");
    });
    // Forced writes make each of the ~20,000 commits wait for the disk; this test is
    // about the walk, not durability.
    db_.Close();
    ASSERT_EQ(
        std::system(("gfix -write async '" + temp_.Path() + "' " + temp_.ToolLogin()).c_str()), 0);
    db_.Open();
    const int top = AddTop("0", "EZTRIP", server_.Url(SamplePages::SyntheticPath(guide, 0)));
    Sql("UPDATE NODE SET ORIG_ID='destinationguide' WHERE NODE_ID=" + std::to_string(top));

    ASSERT_TRUE(Run(top, false, 999, true));
    EXPECT_TRUE(host_.Channel(3).empty()) << host_.Channel(3).front();
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NODE"), kPages);
    EXPECT_EQ(static_cast<int>(visited_.size()), kPages + 1);  // with 0 and the start
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NODE WHERE CHAR_LENGTH(BODY) > 0"), kPages - 1);
    EXPECT_EQ(progress_.Downloads, kPages + 1);  // the start once more, as a child
    EXPECT_EQ(Duplicates(), 0);
}

}  // namespace

TEST_F(ReloadTest, OverlongLinkTextsAreCutAndOverlongAddressesSkippedWithoutLosingTheRest) {
    std::string longTitle;
    while (longTitle.size() < 3000) longTitle += "caf\xC3\xA9 ";  // UTF-8, two-byte letters
    const std::string longName(2500, 'x');
    site_->Set(TSite::Loc("Long"),
               SamplePages::EzTripLocationPage("Long", TSite::Loc("Long") + ".html",
                                               {{TSite::Loc("Wordy") + ".html", longTitle},
                                                {TSite::Loc(longName) + ".html", "Far away"},
                                                {TSite::Loc("Fine") + ".html", "Fine"}},
                                               "Body"));
    const int top = AddTop("Long");
    ASSERT_TRUE(Run(top, true, 0, true));

    EXPECT_EQ(Children("Long"), (std::vector<std::string>{"Wordy:2", "Fine:4"}));
    const std::string stored = Column(IdOf("Wordy"), "TITLE");
    EXPECT_LE(stored.size(), 1000u);
    EXPECT_GE(stored.size(), 997u);
    EXPECT_EQ(stored, longTitle.substr(0, stored.size()));
    EXPECT_NE(static_cast<unsigned char>(stored.back()), 0xC3);  // no half letter at the end
    ASSERT_EQ(host_.Channel(3).size(), 1u);
    EXPECT_NE(host_.Channel(3)[0].find("too long"), std::string::npos);
}
