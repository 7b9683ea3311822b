// Fetching ahead changes when pages travel, never what a run stores or says. The same
// branch reload of a generated site, whose server answers each request after a delay
// and fails some pages, runs once one page at a time and once on eight connections;
// both databases must hold the same rows, node ids included, and both logs must be
// the same bytes, apart from the run's time in its closing summary.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "samples/SamplePages.h"
#include "store/Database.h"
#include "store/Query.h"
#include "tests/support/Canonical.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Files.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/SiteDatabase.h"
#include "tests/support/TempDatabase.h"

namespace {

constexpr int kPages = 300;
constexpr auto kGuide = SamplePages::TSyntheticGuide::sgEzTrip;
constexpr auto kLatency = std::chrono::milliseconds(15);

// The generated site, answering after kLatency; every 23rd page fails with 500 and
// every 41st is missing. Counts how many requests it served at once.
class TDelayedSite {
public:
    TDelayedSite() {
        server_.Http().Get(
            R"(/gen/.*)", [this](const httplib::Request& req, httplib::Response& res) {
                const int now = ++inFlight_;
                int seen = mostAtOnce_;
                while (now > seen && !mostAtOnce_.compare_exchange_weak(seen, now)) {
                }
                std::this_thread::sleep_for(kLatency);
                const int page = SamplePages::SyntheticPageOf(kGuide, kPages, req.path);
                if (page < 0 || (page > 0 && page % 41 == 0)) {
                    res.status = 404;
                } else if (page > 0 && page % 23 == 0) {
                    res.status = 500;
                    res.set_content("busy", "text/plain");
                } else {
                    res.set_content(SamplePages::SyntheticPage(kGuide, kPages, page), "text/html");
                }
                --inFlight_;
            });
        server_.Start();
    }
    std::string Url(int page) const {
        return server_.Url(SamplePages::SyntheticPath(kGuide, page));
    }
    int MostAtOnce() const { return mostAtOnce_; }
    void ResetMostAtOnce() { mostAtOnce_ = 0; }

private:
    THttpTestServer server_;
    std::atomic<int> inFlight_{0};
    std::atomic<int> mostAtOnce_{0};
};

struct TRunResult {
    int Status = -1;
    std::string Log;
    std::vector<std::string> Contents;
};

// A branch reload of the whole site by the command-line tool with this many
// connections, into a database of its own.
TRunResult ReloadBranch(const TDelayedSite& site, int connections) {
    TTempDatabase db;
    const std::string ini = PrepareSiteDatabase(db, site.Url(0));
    const std::string log = db.Folder() + "/run.log";
    std::ofstream(ini, std::ios::app)
        << "LogFile=" << log << "\r\n[Download]\r\nConnections=" << connections << "\r\n";
    TChildProcess cli(WF_CLI, {"-I:" + ini, "reload-branch", "1"}, db.Folder() + "/out");
    TRunResult result;
    EXPECT_TRUE(cli.Wait(std::chrono::minutes(5)));
    result.Status = cli.Status;
    // The run's time is the one thing allowed to differ.
    result.Log = std::regex_replace(ReadWholeFile(log), std::regex(R"(in [0-9]+\.[0-9] s:)"),
                                    "in (time) s:");
    result.Contents = ExactContents(db);
    return result;
}

TEST(FetchAheadTest, EightConnectionsStoreAndLogExactlyWhatOneDoes) {
    TDelayedSite site;
    const TRunResult one = ReloadBranch(site, 1);
    EXPECT_EQ(site.MostAtOnce(), 1);
    site.ResetMostAtOnce();
    const TRunResult eight = ReloadBranch(site, 8);
    // The second run did fetch ahead, or the comparison proves nothing.
    EXPECT_GT(site.MostAtOnce(), 2);

    EXPECT_EQ(one.Status, 0) << one.Log.substr(0, 2000);
    EXPECT_EQ(eight.Status, 0);
    // Every page was walked, the failed ones included, and said so.
    EXPECT_GT(one.Contents.size(), static_cast<size_t>(kPages));
    EXPECT_NE(one.Log.find("500"), std::string::npos);
    EXPECT_NE(one.Log.find("404"), std::string::npos);

    ASSERT_EQ(one.Contents.size(), eight.Contents.size());
    const auto differs =
        std::mismatch(one.Contents.begin(), one.Contents.end(), eight.Contents.begin());
    EXPECT_TRUE(differs.first == one.Contents.end())
        << "first difference:\n  one:   " << differs.first->substr(0, 300)
        << "\n  eight: " << differs.second->substr(0, 300);

    // Byte for byte; on a difference, the first line that differs.
    if (one.Log != eight.Log) {
        const auto at =
            std::mismatch(one.Log.begin(), one.Log.end(), eight.Log.begin(), eight.Log.end());
        const size_t pos = static_cast<size_t>(at.first - one.Log.begin());
        const size_t lineStart =
            one.Log.rfind('\n', pos) == std::string::npos ? 0 : one.Log.rfind('\n', pos) + 1;
        ADD_FAILURE() << "the logs differ at byte " << pos
                      << ":\n  one:   " << one.Log.substr(lineStart, 200)
                      << "\n  eight: " << eight.Log.substr(lineStart, 200);
    }
}

}  // namespace
