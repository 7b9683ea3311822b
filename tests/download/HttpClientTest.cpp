// The HTTP client's fetching ahead: what it holds stays bounded, a page fetched ahead is
// handed over as it arrived (failures included) and not fetched again, the page wanted
// now goes before the ones wanted later, and pages no longer wanted are not kept.
#include <gtest/gtest.h>

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
};

TEST_F(THttpClientTest, PagesFetchedAheadAreBoundedHandedOverAsTheyCameAndNotFetchedTwice) {
    THttpClient client(Settings(4));
    ASSERT_TRUE(client.FetchesAhead());
    client.BeginAhead();
    for (int i = 0; i < 100; ++i) client.FetchAhead(Url(i));
    PumpUntil(client, static_cast<int>(client.MaxHeld()));
    // However long it runs, no more than MaxHeld pages wait for their turn.
    for (int i = 0; i < 200; ++i) client.Pump();
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
    for (int i = 0; i < 100; ++i) EXPECT_EQ(Hits(i), 1) << i;
}

TEST_F(THttpClientTest, NearerPagesDisplaceLaterOnesAndEndedGroupsAreLetGo) {
    THttpClient client(Settings(2));
    const int held = static_cast<int>(client.MaxHeld());
    client.BeginAhead();
    for (int i = 0; i < held; ++i) client.FetchAhead(Url(100 + i));
    PumpUntil(client, held);
    // A document's children are wanted before its siblings: they take places of the
    // siblings wanted last, which are fetched again at their turn.
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
    int again = 0;
    for (int i = 0; i < held; ++i) again += Hits(100 + i) - 1;
    EXPECT_EQ(again, 2);  // the two siblings that made way
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

}  // namespace
