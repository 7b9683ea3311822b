// Killed at any moment, nothing committed is lost. A branch reload of a generated site
// of 300 pages runs into a database with forced writes on and is killed with SIGKILL at
// moments drawn from a seeded generator; after every kill the database must be sound and
// hold only whole, correct documents, and the next run must go on from there. A complete
// run then leaves the same documents, bodies, links and orders as one uninterrupted run.
//
// The seed is printed; WF_CRASH_SEED=<n> replays a failure. The same is done to the
// window (a harness that opens the real main window offscreen and starts "Reload branch
// documents" on the top document), killed at three moments.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "download/wf_EzTrip.h"
#include "samples/SamplePages.h"
#include "store/Database.h"
#include "store/Query.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Files.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TempDatabase.h"

namespace {

constexpr int kPages = 300;
constexpr auto kGuide = SamplePages::TSyntheticGuide::sgEzTrip;

// The generated site, counting the requests it has answered.
class TSite {
public:
    TSite() {
        server_.Http().Get(
            R"(/gen/.*)", [this](const httplib::Request& req, httplib::Response& res) {
                const int page = SamplePages::SyntheticPageOf(kGuide, kPages, req.path);
                if (page < 0) {
                    res.status = 404;
                    return;
                }
                res.set_content(SamplePages::SyntheticPage(kGuide, kPages, page), "text/html");
                std::lock_guard<std::mutex> lock(mutex_);
                ++requests_;
                changed_.notify_all();
            });
        server_.Start();
    }
    std::string Url(int page) const {
        return server_.Url(SamplePages::SyntheticPath(kGuide, page));
    }
    std::string Prefix() const { return server_.Url(""); }
    int Requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    // Waits until count requests have been answered or the child has ended.
    bool WaitForRequests(int count, TChildProcess& child) {
        std::unique_lock<std::mutex> lock(mutex_);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (requests_ < count) {
            lock.unlock();
            if (child.Ended()) return false;
            lock.lock();
            if (changed_.wait_until(lock,
                                    std::min(deadline, std::chrono::steady_clock::now() +
                                                           std::chrono::milliseconds(20)),
                                    [&] { return requests_ >= count; }))
                break;
            if (std::chrono::steady_clock::now() > deadline) return false;
        }
        return true;
    }

private:
    THttpTestServer server_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int requests_ = 0;
};

// Runs a Firebird tool, bounded: a tool that waits on a lock held elsewhere fails the
// check instead of hanging the suite.
std::string RunTool(const std::string& command) {
    std::string out;
    FILE* p = popen(("timeout 120 " + command + " 2>&1").c_str(), "r");
    if (!p) return "cannot run " + command;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = pclose(p);
    if (status != 0) out += "\n(exit status " + std::to_string(status) + ")";
    return out;
}

// A database holding the generated site's top page under the root, forced writes on,
// and a temporary folder for the programs run on it: a killed window cannot remove its
// temporary file, which then goes with the test's folder.
class TSiteDatabase {
public:
    TSiteDatabase(const TSite& site) : db_(true) {
        db_.RunIsql(
            "INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE) VALUES (1, "
            "'Generated guide', '" +
            site.Url(0) +
            "', 'destinationguide', 'EZTRIP');\n"
            "INSERT INTO MASTER_DETAIL VALUES (0, 1, 1);\n"
            "ALTER SEQUENCE NODE_ID RESTART WITH 10;");
        const std::string sync =
            RunTool("gfix -write sync " + db_.ToolLogin() + " '" + db_.Path() + "'");
        EXPECT_EQ(sync, "") << "forced writes";
        Ini = db_.Folder() + "/wayfolio.ini";
        Log = db_.Folder() + "/wayfolio.log";
        Tmp = db_.Folder() + "/tmp";
        std::filesystem::create_directory(Tmp);
        std::ofstream(Ini, std::ios::binary)
            << "[Interbase]\r\nDatabaseName=" << db_.Path() << "\r\n"
            << db_.IniLogin() << "LogFile=" << Log << "\r\n";
    }
    const TTempDatabase& Db() const { return db_; }
    // The environment of a program run on this database.
    std::vector<std::string> Environment() const { return {"TMPDIR=" + Tmp}; }
    std::string Ini, Log, Tmp;

private:
    TTempDatabase db_;
};

// What the reader cuts out of each page of the site, by address.
std::map<std::string, std::string> ExpectedBodies(const TSite& site) {
    std::map<std::string, std::string> bodies;
    TEzTripDownload reader;
    std::string url, body;
    reader.OnContent = [&](const std::string&, const std::string& b, const std::string&,
                           const std::string&, const std::string&, const std::string&,
                           TDownloadHandle&) { body = b; };
    TDownloadHandle handle;
    for (int page = 0; page < kPages; ++page) {
        url = site.Url(page);
        reader.ParseContent(url, SamplePages::SyntheticPage(kGuide, kPages, page), handle);
        bodies[url] = body;
    }
    return bodies;
}

// One row per document and per link, in an order and a form that do not depend on
// node ids (which differ between runs): links name their ends by ORIG_ID.
std::vector<std::string> CanonicalContent(TDatabase& db) {
    std::vector<std::string> rows;
    TQuery nodes(db);
    nodes.SetSQL(
        "SELECT ORIG_ID, GUIDE_TYPE, TITLE, ORIG_URL, READ_CONTENT, BODY, HEAD, ENCODING "
        "FROM NODE");
    for (nodes.ExecQuery(); !nodes.Eof(); nodes.Next()) {
        std::string row = "node";
        for (int i = 0; i < nodes.FieldCount(); ++i)
            row += "|" + std::string(nodes.IsNull(i) ? "<null>" : nodes.AsText(i));
        rows.push_back(row);
    }
    TQuery links(db);
    links.SetSQL(
        "SELECT COALESCE(M.ORIG_ID, '<root>') AS MASTER, D.ORIG_ID AS DETAIL, MD.ORDER_ "
        "FROM MASTER_DETAIL MD LEFT JOIN NODE M ON M.NODE_ID = MD.MASTER_ID "
        "JOIN NODE D ON D.NODE_ID = MD.DETAIL_ID");
    for (links.ExecQuery(); !links.Eof(); links.Next())
        rows.push_back("link|" + links.AsText("MASTER") + "|" + links.AsText("DETAIL") + "|" +
                       std::to_string(links.AsInteger("ORDER_")));
    std::sort(rows.begin(), rows.end());
    return rows;
}

// The checks after a kill: the file is sound, no document twice, no link to or from a
// missing document, every stored body whole. Returns the canonical content.
std::vector<std::string> CheckAfterKill(const TSiteDatabase& sd,
                                        const std::map<std::string, std::string>& expected,
                                        const std::string& moment) {
    SCOPED_TRACE(moment);
    // Validation finds no error. A killed process may leave pages allocated but not yet
    // used (orphan pages: "Page N is an orphan", counted as database page warnings) and a
    // pointer page's or data page's note of which pages are full out of date (pointer
    // and data page warnings). The engine counts those as warnings, not errors: they
    // waste space and are put right by the engine itself (a sweep, or gfix -mend), and
    // lose nothing. Those are reported; any error, or a warning of any other kind, fails.
    const std::string validation =
        RunTool("gfix -v -full " + sd.Db().ToolLogin() + " '" + sd.Db().Path() + "'");
    std::istringstream lines(validation);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line == "Summary of validation errors") continue;
        static const char* const harmless[] = {"Number of database page warnings",
                                               "Number of pointer page warnings",
                                               "Number of data page warnings"};
        const bool known = std::any_of(std::begin(harmless), std::end(harmless),
                                       [&](const char* kind) { return line.find(kind) != std::string::npos; });
        if (known)
            std::cout << "[ NOTE     ] validation after " << moment << ":" << line << "\n";
        else
            ADD_FAILURE() << "validation after " << moment << " found: " << line << "\n"
                          << validation;
    }
    TDatabase db;
    TTransaction tr(db);
    sd.Db().Connect(db, tr);
    TQuery twice(db);
    twice.SetSQL(
        "SELECT ORIG_ID, GUIDE_TYPE, COUNT(*) AS N FROM NODE GROUP BY ORIG_ID, GUIDE_TYPE "
        "HAVING COUNT(*) > 1");
    twice.ExecQuery();
    EXPECT_TRUE(twice.Eof()) << twice.AsText("ORIG_ID") << " stored " << twice.AsText("N")
                             << " times";
    TQuery dangling(db);
    dangling.SetSQL(
        "SELECT MD.MASTER_ID, MD.DETAIL_ID FROM MASTER_DETAIL MD WHERE "
        "(MD.MASTER_ID <> 0 AND NOT EXISTS (SELECT 1 FROM NODE N WHERE N.NODE_ID = "
        "MD.MASTER_ID)) OR NOT EXISTS (SELECT 1 FROM NODE N WHERE N.NODE_ID = MD.DETAIL_ID)");
    dangling.ExecQuery();
    EXPECT_TRUE(dangling.Eof()) << "link " << dangling.AsInteger("MASTER_ID") << " -> "
                                << dangling.AsInteger("DETAIL_ID") << " names a missing node";
    TQuery bodies(db);
    bodies.SetSQL("SELECT ORIG_URL, BODY FROM NODE WHERE BODY IS NOT NULL");
    int stored = 0;
    for (bodies.ExecQuery(); !bodies.Eof(); bodies.Next()) {
        const std::string url = bodies.AsText("ORIG_URL");
        const auto it = expected.find(url);
        if (it == expected.end()) {
            ADD_FAILURE() << "a body for an address of no page: " << url;
            continue;
        }
        EXPECT_EQ(bodies.AsText("BODY"), it->second) << url;
        ++stored;
    }
    std::vector<std::string> content = CanonicalContent(db);
    db.Close();
    std::printf("[ crash    ] %s: %d bodies stored, %zu rows\n", moment.c_str(), stored,
                content.size());
    return content;
}

unsigned Seed() {
    if (const char* s = std::getenv("WF_CRASH_SEED")) return static_cast<unsigned>(std::atoll(s));
    return std::random_device{}();
}

class CrashKillTest : public ::testing::Test {
protected:
    void SetUp() override {
        seed_ = Seed();
        std::printf("[ crash    ] seed %u (replay with WF_CRASH_SEED=%u)\n", seed_, seed_);
        RecordProperty("seed", std::to_string(seed_));
        rng_.seed(seed_);
        expected_ = ExpectedBodies(site_);
    }

    // The content of a database filled by one uninterrupted branch run.
    std::vector<std::string> UninterruptedContent() {
        TSiteDatabase reference(site_);
        TChildProcess cli(WF_CLI, {"-I:" + reference.Ini, "reload-branch", "1"},
                          reference.Db().Folder() + "/out", reference.Environment());
        EXPECT_TRUE(cli.Wait(std::chrono::minutes(10)));
        EXPECT_EQ(cli.Status, 0) << ReadWholeFile(reference.Db().Folder() + "/out");
        return CheckAfterKill(reference, expected_, "uninterrupted run");
    }

    // Starts the program kills times, each time killing it at a drawn moment after a drawn
    // number of page requests; then lets it finish and compares with one uninterrupted run.
    void KillAndResume(const std::string& program, const std::vector<std::string>& args, int kills,
                       const TSiteDatabase& sd) {
        // A whole run asks for every page once; kill before it could end.
        std::uniform_int_distribution<int> pageDraw(1, kPages - 20);
        std::uniform_int_distribution<int> delayDraw(0, 30);
        for (int k = 0; k < kills; ++k) {
            const int after = pageDraw(rng_);
            const int delayMs = delayDraw(rng_);
            const std::string moment = "kill " + std::to_string(k + 1) + " after page " +
                                       std::to_string(after) + " + " + std::to_string(delayMs) +
                                       " ms";
            const int base = site_.Requests();
            TChildProcess child(program, args, sd.Db().Folder() + "/out", sd.Environment());
            // The run must get this far: a run that ends or stalls first did not go on.
            ASSERT_TRUE(site_.WaitForRequests(base + after, child))
                << moment << ": the run ended early (status " << child.Status << ")\n"
                << ReadWholeFile(sd.Db().Folder() + "/out");
            // The moment itself, not a wait for something: somewhere inside the storing
            // of the page just delivered, or the next request.
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            child.Kill();
            CheckAfterKill(sd, expected_, moment);
            if (HasFatalFailure()) return;
        }
        TChildProcess last(program, args, sd.Db().Folder() + "/out", sd.Environment());
        ASSERT_TRUE(last.Wait(std::chrono::minutes(10)));
        EXPECT_EQ(last.Status, 0) << ReadWholeFile(sd.Db().Folder() + "/out");
        const auto resumed = CheckAfterKill(sd, expected_, "complete run after the kills");
        const auto reference = UninterruptedContent();
        EXPECT_EQ(resumed.size(), reference.size());
        // Report the first difference rather than two lists of thousands of rows.
        for (size_t i = 0; i < std::min(resumed.size(), reference.size()); ++i) {
            if (resumed[i] != reference[i]) {
                ADD_FAILURE() << "first difference at row " << i
                              << ":\n  resumed:       " << resumed[i].substr(0, 300)
                              << "\n  uninterrupted: " << reference[i].substr(0, 300);
                break;
            }
        }
    }

    unsigned seed_ = 0;
    std::mt19937 rng_;
    TSite site_;
    std::map<std::string, std::string> expected_;
};

TEST_F(CrashKillTest, CommandLineBranchReloadKilledTenTimesLosesNothing) {
    TSiteDatabase sd(site_);
    KillAndResume(WF_CLI, {"-I:" + sd.Ini, "reload-branch", "1"}, 10, sd);
}

TEST_F(CrashKillTest, WindowBranchReloadKilledThreeTimesLosesNothing) {
    TSiteDatabase sd(site_);
    KillAndResume(WF_WINDOW_HARNESS, {"-I:" + sd.Ini, "1"}, 3, sd);
    // Each killed window left its temporary file, in the test's folder (the complete
    // run removed its own).
    int left = 0;
    for (const auto& entry : std::filesystem::directory_iterator(sd.Tmp))
        left += entry.path().filename().string().rfind("WF_", 0) == 0;
    EXPECT_EQ(left, 3);
}

}  // namespace
