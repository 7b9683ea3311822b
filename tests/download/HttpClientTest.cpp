// The HTTP client's fetching ahead: what it holds stays bounded, a page fetched ahead is
// handed over as it arrived (failures included) and not fetched again, the page wanted
// now goes before the ones wanted later, and pages no longer wanted are not kept.
#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "download/HttpClient.h"
#include "tests/support/HttpTestServer.h"

namespace {

class THttpClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_.Http().Get(R"(/p/(\d+))",
                           [this](const httplib::Request& req, httplib::Response& res) {
                               const int page = std::stoi(req.matches[1]);
                               {
                                   std::lock_guard<std::mutex> lock(mutex_);
                                   ++hits_[page];
                               }
                               if (page < 100 && page % 7 == 6) {
                                   res.status = 503;
                                   res.set_content("later", "text/plain");
                               } else {
                                   res.set_content("page " + std::to_string(page), "text/html");
                               }
                           });
        server_.Http().Get(R"(/big/(\d+))",
                           [](const httplib::Request& req, httplib::Response& res) {
                               res.set_content(std::string(4u << 20, req.matches[1].str()[0]),
                                               "application/octet-stream");
                           });
        server_.Http().Get("/later", [this](const httplib::Request&, httplib::Response& res) {
            if (laterCalls_++ == 0) {
                // An HTTP date one second ahead (rounded up by the clock's second).
                char date[64];
                const time_t when = time(nullptr) + 1;
                std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", gmtime(&when));
                res.status = 429;
                res.set_header("Retry-After", date);
            } else {
                res.set_content("now", "text/html");
            }
        });
        server_.Start();
    }
    std::string Url(int page) const { return server_.Url("/p/" + std::to_string(page)); }
    int Hits(int page) {
        std::lock_guard<std::mutex> lock(mutex_);
        return hits_[page];
    }
    int TotalHits() {
        std::lock_guard<std::mutex> lock(mutex_);
        int total = 0;
        for (const auto& [page, n] : hits_) total += n;
        return total;
    }
    // Lets the client run until count requests reached the server (bounded).
    void PumpUntil(THttpClient& client, int count) {
        const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (TotalHits() < count && std::chrono::steady_clock::now() < bound) client.Pump();
    }
    static THttpSettings Settings(int connections) {
        THttpSettings s;
        s.Connections = connections;
        s.ReadTimeoutMs = 5000;
        return s;
    }

    THttpTestServer server_;
    std::mutex mutex_;
    std::map<int, int> hits_;
    THttpClient::TIdle idle_ = [] { return true; };
    std::atomic<int> laterCalls_{0};
};

TEST_F(THttpClientTest, PagesFetchedAheadAreBoundedHandedOverAsTheyCameAndNotFetchedTwice) {
    THttpClient client(Settings(4));
    ASSERT_TRUE(client.FetchesAhead());
    client.BeginAhead();
    for (int i = 0; i < 100; ++i) client.FetchAhead(Url(i));
    PumpUntil(client, static_cast<int>(client.MaxHeld()));
    // However long it runs, no more than MaxHeld pages wait for their turn. The answers
    // all arrive meanwhile: the 503s slow the host down to one connection, and a page
    // still on its way then would give way to the page the caller waits for.
    for (auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
         std::chrono::steady_clock::now() < until;)
        client.Pump();
    // The 503 answers among them are let go, to be asked again at their turn; their
    // places are not taken by pages further ahead.
    EXPECT_EQ(TotalHits(), static_cast<int>(client.MaxHeld()));

    for (int i = 0; i < 100; ++i) {
        std::string page;
        const TFetchResult result = client.Fetch(Url(i), page, idle_);
        if (i % 7 == 6) {
            // A failure arrives at its turn, as if asked for then; the page with it.
            EXPECT_EQ(result.Kind(), TFetchResult::TKind::Failed) << i;
            EXPECT_EQ(result.Message(), "HTTP/1.1 503 Service Unavailable") << i;
            EXPECT_EQ(page, "") << i;
        } else {
            EXPECT_TRUE(result.Arrived()) << result.Message();
            EXPECT_EQ(page, "page " + std::to_string(i));
        }
    }
    // A 503 held ahead is no answer to keep: the page is asked again at its turn.
    for (int i = 0; i < 100; ++i) {
        EXPECT_GE(Hits(i), 1) << i;
        EXPECT_LE(Hits(i), i % 7 == 6 ? 2 : 1) << i;
    }
}

TEST_F(THttpClientTest, NearerPagesComeFirstHeldOnesWaitAndEndedGroupsAreLetGo) {
    THttpClient client(Settings(2));
    const int held = static_cast<int>(client.MaxHeld());
    client.BeginAhead();
    for (int i = 0; i < held; ++i) client.FetchAhead(Url(100 + i));
    PumpUntil(client, held);
    // A document's children are wanted before its siblings: they are fetched next,
    // and the siblings held wait for their turn instead of being asked twice.
    client.BeginAhead();
    client.SetAhead({Url(200), Url(201)});
    PumpUntil(client, held + 2);
    for (int i = 0; i < 50; ++i) client.Pump();
    EXPECT_EQ(Hits(200), 1);
    EXPECT_EQ(Hits(201), 1);
    EXPECT_EQ(TotalHits(), held + 2);

    // One child turns out not to be wanted; the group ends with it still held.
    client.DropAhead(Url(201));
    std::string page;
    EXPECT_TRUE(client.Fetch(Url(200), page, idle_).Arrived());
    client.EndAhead();
    EXPECT_TRUE(client.Fetch(Url(201), page, idle_).Arrived());  // asked anew
    EXPECT_EQ(Hits(201), 2);
    for (int i = 0; i < held; ++i) {
        EXPECT_TRUE(client.Fetch(Url(100 + i), page, idle_).Arrived());
        EXPECT_EQ(page, "page " + std::to_string(100 + i));
    }
    for (int i = 0; i < held; ++i) EXPECT_EQ(Hits(100 + i), 1) << i;
}

TEST_F(THttpClientTest, OneConnectionOrADelayFetchesNothingAhead) {
    for (THttpSettings settings : {Settings(1), Settings(8)}) {
        if (settings.Connections == 8) settings.DelayMs = 1;
        THttpClient client(settings);
        EXPECT_FALSE(client.FetchesAhead());
        client.BeginAhead();
        for (int i = 0; i < 10; ++i) client.FetchAhead(Url(300 + i));
        for (int i = 0; i < 50; ++i) client.Pump();
        EXPECT_EQ(TotalHits(), 0);
    }
}

TEST_F(THttpClientTest, AddressesThatDifferByAFragmentAreOnePageAskedOnce) {
    THttpClient client(Settings(4));
    client.BeginAhead();
    client.FetchAhead(Url(400) + "#a");
    client.FetchAhead(Url(400) + "#b");
    client.FetchAhead(Url(400));
    client.FetchAhead(Url(401));
    PumpUntil(client, 2);
    for (int i = 0; i < 50; ++i) client.Pump();
    std::string page;
    EXPECT_TRUE(client.Fetch(Url(400) + "#c", page, idle_).Arrived());
    EXPECT_EQ(page, "page 400");
    EXPECT_EQ(Hits(400), 1);
    // A page held that went stale is asked for anew.
    client.Refetch(Url(401));
    EXPECT_TRUE(client.Fetch(Url(401), page, idle_).Arrived());
    EXPECT_EQ(Hits(401), 2);
}

TEST_F(THttpClientTest, AfterAStopNothingMoreIsFetchedAhead) {
    THttpClient client(Settings(4));
    client.BeginAhead();
    client.StopAhead();
    for (int i = 0; i < 10; ++i) client.FetchAhead(Url(500 + i));
    for (int i = 0; i < 50; ++i) client.Pump();
    EXPECT_EQ(TotalHits(), 0);
    // A stop seen while a page is waited for ends the fetching ahead too.
    THttpClient other(Settings(4));
    other.BeginAhead();
    std::string page;
    const TFetchResult stopped = other.Fetch(server_.Url("/later"), page, [&] {
        for (int i = 0; i < 10; ++i) other.FetchAhead(Url(600 + i));
        return false;
    });
    EXPECT_TRUE(stopped.WasStopped()) << stopped.Message();
    const int hits = TotalHits();
    for (int i = 0; i < 50; ++i) other.Pump();
    EXPECT_EQ(TotalHits(), hits);
}

TEST_F(THttpClientTest, ARetryAfterGivenAsADateIsWaitedFor) {
    THttpClient client(Settings(1));
    std::string page;
    const TFetchResult result = client.Fetch(server_.Url("/later"), page, idle_);
    EXPECT_TRUE(result.Arrived()) << result.Message();
    EXPECT_EQ(page, "now");
    EXPECT_EQ(laterCalls_, 2);
}

TEST_F(THttpClientTest, PagesFetchedAheadPauseAtTheCapAndArriveWhole) {
    THttpClient client(Settings(16));
    client.BeginAhead();
    // Thirty pages of 4 MiB: far more than the cap on bytes held.
    for (int i = 0; i < 30; ++i) client.FetchAhead(server_.Url("/big/" + std::to_string(i)));
    const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (client.Counts().PeakHeldBytes < THttpClient::MaxHeldBytes / 2 &&
           std::chrono::steady_clock::now() < bound)
        client.Pump();
    for (int i = 0; i < 200; ++i) client.Pump();
    EXPECT_LE(client.Counts().PeakHeldBytes, THttpClient::MaxHeldBytes);
    EXPECT_GT(client.Counts().PeakHeldBytes, THttpClient::MaxHeldBytes / 2);
    for (int i = 0; i < 30; ++i) {
        std::string page;
        const TFetchResult result =
            client.Fetch(server_.Url("/big/" + std::to_string(i)), page, idle_);
        ASSERT_TRUE(result.Arrived()) << i << ": " << result.Message();
        EXPECT_EQ(page, std::string(4u << 20, std::to_string(i)[0])) << i;
    }
    EXPECT_LE(client.Counts().PeakHeldBytes, THttpClient::MaxHeldBytes);
}

}  // namespace
