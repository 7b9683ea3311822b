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
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "samples/SamplePages.h"
#include "store/Database.h"
#include "store/Query.h"
#include "tests/support/Canonical.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FaultServer.h"
#include "tests/support/FaultSite.h"
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

// A branch reload of the whole site at TopUrl by the command-line tool with this many
// connections (0: the default), into a database of its own, with more [Download]
// settings when given.
TRunResult ReloadBranch(const std::string& topUrl, int connections,
                        const std::string& download = "", long* peakKb = nullptr) {
    TTempDatabase db;
    const std::string ini = PrepareSiteDatabase(db, topUrl);
    const std::string log = db.Folder() + "/run.log";
    std::ofstream(ini, std::ios::app)
        << "LogFile=" << log << "\r\n[Download]\r\n"
        << (connections > 0 ? "Connections=" + std::to_string(connections) + "\r\n" : "")
        << download;
    TChildProcess cli(WF_CLI, {"-I:" + ini, "reload-branch", "1"}, db.Folder() + "/out");
    TRunResult result;
    EXPECT_TRUE(cli.Wait(std::chrono::minutes(5)));
    if (peakKb) *peakKb = cli.PeakMemoryKb;
    result.Status = cli.Status;
    // The run's time is the one thing allowed to differ.
    result.Log = std::regex_replace(ReadWholeFile(log), std::regex(R"(in [0-9]+\.[0-9] s:)"),
                                    "in (time) s:");
    result.Contents = ExactContents(db);
    return result;
}

// Both databases hold the same rows, ids included, and both logs are the same bytes.
void ExpectSame(const TRunResult& one, const TRunResult& more) {
    ASSERT_EQ(one.Contents.size(), more.Contents.size());
    const auto differs =
        std::mismatch(one.Contents.begin(), one.Contents.end(), more.Contents.begin());
    EXPECT_TRUE(differs.first == one.Contents.end())
        << "first difference:\n  one:  " << differs.first->substr(0, 300)
        << "\n  more: " << differs.second->substr(0, 300);

    // Byte for byte; on a difference, the first line that differs.
    if (one.Log != more.Log) {
        const auto at =
            std::mismatch(one.Log.begin(), one.Log.end(), more.Log.begin(), more.Log.end());
        const size_t pos = static_cast<size_t>(at.first - one.Log.begin());
        const size_t lineStart =
            one.Log.rfind('\n', pos) == std::string::npos ? 0 : one.Log.rfind('\n', pos) + 1;
        ADD_FAILURE() << "the logs differ at byte " << pos
                      << ":\n  one:  " << one.Log.substr(lineStart, 200)
                      << "\n  more: " << more.Log.substr(lineStart, 200);
    }
}

TEST(FetchAheadTest, EightConnectionsStoreAndLogExactlyWhatOneDoes) {
    TDelayedSite site;
    const TRunResult one = ReloadBranch(site.Url(0), 1);
    EXPECT_EQ(site.MostAtOnce(), 1);
    site.ResetMostAtOnce();
    const TRunResult eight = ReloadBranch(site.Url(0), 8);
    // The second run did fetch ahead, or the comparison proves nothing.
    EXPECT_GT(site.MostAtOnce(), 2);

    EXPECT_EQ(one.Status, 0) << one.Log.substr(0, 2000);
    EXPECT_EQ(eight.Status, 0);
    // Every page was walked, the failed ones included, and said so.
    EXPECT_GT(one.Contents.size(), static_cast<size_t>(kPages));
    EXPECT_NE(one.Log.find("500"), std::string::npos);
    EXPECT_NE(one.Log.find("404"), std::string::npos);

    ExpectSame(one, eight);
}

// The server takes one connection at a time and keeps it alive; the others wait in
// its backlog. A request sent on one of them is answered only when it is sent again
// on the connection served, whether that one is busy answering others or idle.
TEST(FetchAheadTest, AServerOfOneConnectionAtATimeGetsEveryPageAsWithOneConnection) {
    TFaultServer::TOptions options;
    options.OneConnection = true;
    TFaultSite site(60, options);
    const TRunResult one = ReloadBranch(site.Url(0), 1);
    // The default connections, and no read time-out: nothing may wait for good.
    const TRunResult more = ReloadBranch(site.Url(0), 0);
    EXPECT_EQ(one.Status, 0) << one.Log.substr(0, 2000);
    EXPECT_EQ(more.Status, 0) << more.Log.substr(0, 2000);
    EXPECT_EQ(one.Log.find("failed"), one.Log.find("0 failed"));
    ExpectSame(one, more);
}

TEST(FetchAheadTest, ARateLimitedHostIsSlowedDownAndLosesNothing) {
    TFaultServer::TOptions options;
    options.KeepAlive = true;
    options.MostAtOnce = 2;
    options.Latency = std::chrono::milliseconds(10);
    TFaultSite site(120, options);
    const TRunResult one = ReloadBranch(site.Url(0), 1);
    const int oneRequests = site.Requests();
    EXPECT_EQ(site.Server().TooMany(), 0);
    const TRunResult more = ReloadBranch(site.Url(0), 0);
    const int moreRequests = site.Requests() - oneRequests;
    EXPECT_EQ(one.Status, 0);
    EXPECT_EQ(more.Status, 0);
    ExpectSame(one, more);
    // It did say "too many", and was not asked much more often for that. How many
    // refusals a run meets depends on timing: the aim is at most a tenth more requests,
    // and a loaded machine has been seen at 134 against 121; the test holds the line at
    // a fifth, which a host left unslowed exceeds many times over.
    EXPECT_GT(site.Server().TooMany(), 0);
    EXPECT_LE(moreRequests * 10, oneRequests * 12) << moreRequests << " against " << oneRequests;
}

TEST(FetchAheadTest, ConnectionsAreKeptAliveAndFragmentsAskNothingTwice) {
    TFaultServer::TOptions options;
    options.KeepAlive = true;
    options.Latency = std::chrono::milliseconds(5);
    // The top page links to some pages again with fragments: the same documents.
    std::vector<SamplePages::TLink> aliases;
    for (int page = 1; page <= 30; ++page)
        aliases.push_back({TFaultSite::Href(page) + "#part" + std::to_string(page), "again"});
    TFaultSite site(200, options, {{0, aliases}, {3, aliases}});
    const TRunResult one = ReloadBranch(site.Url(0), 1);
    const auto oneByPath = site.RequestsByPath();
    const int oneConnections = site.Server().Connections();
    const TRunResult more = ReloadBranch(site.Url(0), 0);
    auto moreByPath = site.RequestsByPath();
    for (const auto& [path, n] : oneByPath) moreByPath[path] -= n;
    ExpectSame(one, more);
    EXPECT_LE(oneConnections, 1 + 2);
    EXPECT_LE(site.Server().Connections() - oneConnections, 4 + 2);
    // Each page was asked for as often as one connection asks for it.
    for (const auto& [path, n] : oneByPath) EXPECT_EQ(moreByPath[path], n) << path;
}

TEST(FetchAheadTest, ASilentPageTimesOutAndAQuickOneDoesNotWhileALongPageIsStored) {
    TFaultServer::TOptions options;
    options.KeepAlive = true;
    options.Latency = std::chrono::milliseconds(2);
    // Page 5 says nothing for longer than the time-out; page 1, walked before it,
    // has six hundred links to store while pages after it are fetched ahead.
    options.SilenceMs = [](const std::string& path) {
        return path == SamplePages::SyntheticPath(kGuide, 5) ? 1800 : 0;
    };
    std::vector<SamplePages::TLink> many;
    for (int i = 0; i < 600; ++i)
        many.push_back({TFaultSite::Href(11 + i % 40), "link " + std::to_string(i)});
    TFaultSite site(60, options, {{1, many}});
    const std::string timeout = "ReadTimeout=1000\r\n";
    const TRunResult one = ReloadBranch(site.Url(0), 1, timeout);
    const TRunResult more = ReloadBranch(site.Url(0), 0, timeout);
    EXPECT_NE(one.Log.find("Read timed out"), std::string::npos);
    ExpectSame(one, more);
}

TEST(FetchAheadTest, EndlessPagesOnManyConnectionsStayBoundedInMemory) {
    std::vector<SamplePages::TLink> endless;
    for (int i = 0; i < 10; ++i)
        endless.push_back({"/fault/e" + std::to_string(i) + "_viewLocation_endless.html", "endless"});
    TFaultSite site(30, {}, {{1, endless}});
    long onePeak = 0, morePeak = 0;
    const TRunResult one = ReloadBranch(site.Url(0), 1, "", &onePeak);
    const TRunResult more = ReloadBranch(site.Url(0), 16, "", &morePeak);
    ExpectSame(one, more);
    EXPECT_NE(one.Log.find("MaxPageSize"), std::string::npos) << one.Log.substr(0, 3000);
    // Sixteen connections hold at most the cap on bytes held ahead (16 MiB) more than
    // one does, with room for the transfers' own buffers.
    EXPECT_LT(morePeak - onePeak, 48L * 1024) << "KiB more with 16 connections; one: " << onePeak;
#if !defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer's own memory makes any absolute figure meaningless there.
    EXPECT_LT(morePeak, 180L * 1000) << "KiB at most with 16 connections; one: " << onePeak;
#endif
}

}  // namespace
