#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "config/AuxProj.h"
#include "download/wf_EzTrip.h"
#include "tests/download/Recorder.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TinyProxy.h"

using ::testing::AnyOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

void UseSettings(const std::string& ini) {
    ProjIni = std::make_unique<TIniStore>(TIniStore::FromText(ini));
}

// A port nobody listens on: bound for a moment, then released.
int ClosedPort() {
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    ::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    ::getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(sock);
    return ntohs(addr.sin_port);
}

// Keeps an environment variable set for the duration of a test.
class TEnvVar {
public:
    TEnvVar(const char* name, const char* value) : name_(name) {
        if (const char* old = getenv(name)) old_ = old, had_ = true;
        setenv(name, value, 1);
    }
    ~TEnvVar() { had_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

class THttpDownloadTest : public ::testing::Test {
protected:
    THttpTestServer server;
    TEzTripDownload reader;
    TRecorder rec;
    TDownloadHandle handle{1, 0, "EZTRIP"};

    void SetUp() override {
        UseSettings("");
        server.MountSamples();
        server.Start();
        rec.Attach(reader);
    }
    void TearDown() override {
        reader.Close();
        ProjIni.reset();
    }
    void Run(const std::string& url) { RunDownload(reader, url, handle); }
    // The log line of a failed fetch, after checking that nothing else came.
    std::string FailureMessage(const std::string& url) {
        EXPECT_THAT(rec.Events, ElementsAre("log", "log"));
        EXPECT_EQ(rec.LogLines.at(0), "Downloading \"" + url + "\"");
        return rec.LogLines.at(1);
    }
    bool ReachedServer(const std::string& path) {
        for (const auto& r : server.Requests()) {
            if (r.Path == path) return true;
        }
        return false;
    }
};

}  // namespace

TEST_F(THttpDownloadTest, DeliversLogContentThenLinksInOrder) {
    reader.Open();
    const std::string url = server.Url("/eztrip/Europe_viewLocation_France.html");
    Run(url);
    EXPECT_THAT(rec.Events, ElementsAre("log", "content", "link1", "link1", "link1"));
    EXPECT_EQ(rec.LogLines[0], "Downloading \"" + url + "\"");
    EXPECT_EQ(rec.Contents[0].Url, url);
    EXPECT_THAT(rec.Contents[0].Body, StartsWith("<p>France reaches"));
    EXPECT_EQ(rec.Links[0].Url, server.Url("/eztrip/France_viewLocation_Paris.html"));

    // The same reader serves the next document; callbacks may change in between.
    reader.OnContent = nullptr;
    rec.Events.clear();
    Run(server.Url("/eztrip/Europe_viewCities_France.html"));
    EXPECT_THAT(rec.Events, ElementsAre("log", "link1", "link1", "link1"));
}

TEST_F(THttpDownloadTest, WithoutCallbacksADocumentStillRuns) {
    reader.Open();
    reader.OnLog = nullptr;
    reader.OnContent = nullptr;
    reader.OnLink = nullptr;
    Run(server.Url("/eztrip/europe.html"));
    EXPECT_TRUE(ReachedServer("/eztrip/europe.html"));
    EXPECT_TRUE(rec.Events.empty());
}

TEST_F(THttpDownloadTest, ErrorStatusesAndRedirectsFailWithoutDelivery) {
    reader.Open();
    for (const char* code : {"404", "500", "301"}) {
        rec = TRecorder();
        rec.Attach(reader);
        const std::string url = server.Url(std::string("/status/") + code);
        Run(url);
        EXPECT_THAT(FailureMessage(url), HasSubstr(code));
    }
    rec = TRecorder();
    rec.Attach(reader);
    Run(server.Url("/redirect"));
    const std::string message = FailureMessage(server.Url("/redirect"));
    EXPECT_THAT(message, HasSubstr("302"));
    EXPECT_THAT(message, HasSubstr(server.Url("/status/200")));
    EXPECT_FALSE(ReachedServer("/status/200")) << "redirects are not followed";

    // Any 2xx is a success, even without a body.
    rec = TRecorder();
    rec.Attach(reader);
    Run(server.Url("/status/204"));
    EXPECT_THAT(rec.Events, ElementsAre("log", "content"));
}

TEST_F(THttpDownloadTest, UnreachableServerAndForeignSchemesFail) {
    reader.Open();
    const std::string closed = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/x.html";
    Run(closed);
    EXPECT_FALSE(FailureMessage(closed).empty());

    // Links come from untrusted pages: a file address must not read the local disk.
    rec = TRecorder();
    rec.Attach(reader);
    const std::string local = "file://" + THttpTestServer::SamplesDir() + "index.html";
    Run(local);
    EXPECT_FALSE(FailureMessage(local).empty());

    rec = TRecorder();
    rec.Attach(reader);
    Run("");
    EXPECT_FALSE(FailureMessage("").empty());
}

TEST_F(THttpDownloadTest, RaiseErrorsPropagatesWithoutDelivery) {
    reader.Open();
    reader.RaiseErrors = true;
    const std::string url = server.Url("/status/404");
    try {
        Run(url);
        FAIL() << "no error raised";
    } catch (const EDownloadError& e) {
        EXPECT_THAT(e.what(), HasSubstr("404"));
    }
    EXPECT_THAT(rec.Events, ElementsAre("log"));
}

TEST_F(THttpDownloadTest, CallbackErrorsLeaveRunDownloadAndSkipTheRest) {
    reader.Open();
    reader.OnContent = [](const std::string&, const std::string&, const std::string&,
                          const std::string&, const std::string&, const std::string&,
                          TDownloadHandle&) { throw std::runtime_error("disk full"); };
    EXPECT_THROW(Run(server.Url("/eztrip/Europe_viewLocation_France.html")), std::runtime_error);
    EXPECT_THAT(rec.Events, ElementsAre("log"));
}

TEST_F(THttpDownloadTest, FetchNeedsAnOpenReader) {
    std::string page;
    EXPECT_THROW(reader.Fetch(server.Url("/index.html"), page), std::logic_error);
    reader.Open();
    reader.Close();
    EXPECT_THROW(reader.Fetch(server.Url("/index.html"), page), std::logic_error);
}

TEST_F(THttpDownloadTest, BodiesArriveByteForByte) {
    reader.Open();
    std::string page;
    const std::size_t size = 20 * 1024 * 1024 + 7;
    ASSERT_TRUE(reader.Fetch(server.Url("/bytes/" + std::to_string(size)), page));
    ASSERT_EQ(page.size(), size);
    bool intact = true;
    for (std::size_t i = 0; i < size && intact; ++i) {
        intact = page[i] == static_cast<char>(i % 256);
    }
    EXPECT_TRUE(intact);
}

TEST_F(THttpDownloadTest, KeepsNoCookies) {
    reader.Open();
    std::string page;
    ASSERT_TRUE(reader.Fetch(server.Url("/set-cookie"), page));
    ASSERT_TRUE(reader.Fetch(server.Url("/status/200"), page));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[1].HasHeader("Cookie"));
}

TEST_F(THttpDownloadTest, ReadTimeoutEndsAStall) {
    UseSettings("[Download]\nReadTimeout=300\n");
    reader.Open();
    Run(server.Url("/stall-body"));
    EXPECT_THAT(FailureMessage(server.Url("/stall-body")), HasSubstr("timed out"));

    rec = TRecorder();
    rec.Attach(reader);
    Run(server.Url("/stall-headers"));
    EXPECT_THAT(FailureMessage(server.Url("/stall-headers")), HasSubstr("timed out"));
}

TEST_F(THttpDownloadTest, ReadTimeoutLimitsSilenceNotTheWholeTransfer) {
    // Eight chunks 150 ms apart take longer than the time-out, but data never stops
    // for long.
    UseSettings("[Download]\nReadTimeout=1000\n");
    reader.Open();
    std::string page;
    ASSERT_TRUE(reader.Fetch(server.Url("/slow/8/150"), page)) << rec.LogLines.back();
    EXPECT_THAT(page, StartsWith("chunk 0\n"));
    EXPECT_THAT(page, HasSubstr("chunk 7\n"));

    // No time-out at all also waits for slow data.
    reader.Close();
    UseSettings("[Download]\nReadTimeout=0\n");
    reader.Open();
    ASSERT_TRUE(reader.Fetch(server.Url("/slow/2/300"), page));
    EXPECT_EQ(page, "chunk 0\nchunk 1\n");
}

TEST_F(THttpDownloadTest, CompressionIsAskedForAndThePageIsStoredAsTheServerHasIt) {
    reader.Open();
    std::string page;
    ASSERT_TRUE(reader.Fetch(server.Url("/index.html"), page));
    std::ifstream file(std::string(WF_SOURCE_DIR) + "/samples/index.html", std::ios::binary);
    const std::string original((std::istreambuf_iterator<char>(file)),
                               std::istreambuf_iterator<char>());
    ASSERT_FALSE(original.empty());
    EXPECT_EQ(page, original);
    EXPECT_THAT(server.Requests().back().Header("Accept-Encoding"), HasSubstr("gzip"));
}

TEST_F(THttpDownloadTest, SettingsAloneDecideAboutTheProxy) {
    // A proxy from the environment would fail every request; without a "Proxy.Host"
    // the reader connects directly, whatever the other proxy keys say.
    TEnvVar httpProxy("http_proxy", ("http://127.0.0.1:" + std::to_string(ClosedPort())).c_str());
    UseSettings("[Download]\nProxy.Port=3128\nProxy.Auth=1\nProxy.UserName=u\n");
    reader.Open();
    std::string page;
    EXPECT_TRUE(reader.Fetch(server.Url("/index.html"), page));
    EXPECT_THAT(page, HasSubstr("Wayfolio sample site"));
}

TEST_F(THttpDownloadTest, PagesOverMaxPageSizeFailByTheirHeaderOrWhileTheyStream) {
    // The default cap ends a body that never ends.
    reader.Open();
    Run(server.Url("/endless"));
    std::string message = FailureMessage(server.Url("/endless"));
    EXPECT_THAT(message, HasSubstr("33554432"));
    EXPECT_THAT(message, HasSubstr("MaxPageSize"));
    reader.Close();

    UseSettings("[Download]\nMaxPageSize=1000\n");
    reader.Open();
    std::string page;
    EXPECT_TRUE(reader.Fetch(server.Url("/bytes/1000"), page));
    EXPECT_EQ(page.size(), 1000u);
    for (const char* path : {"/bytes/1001", "/sized/100000000"}) {
        rec = TRecorder();
        rec.Attach(reader);
        Run(server.Url(path));
        EXPECT_THAT(FailureMessage(server.Url(path)), HasSubstr("1000 bytes")) << path;
    }
    reader.Close();

    // 0 takes any size.
    UseSettings("[Download]\nMaxPageSize=0\n");
    reader.Open();
    const std::size_t big = 32 * 1024 * 1024 + 10;
    EXPECT_TRUE(reader.Fetch(server.Url("/sized/" + std::to_string(big)), page));
    EXPECT_EQ(page.size(), big);
}

TEST_F(THttpDownloadTest, TheHostGetsItsTurnDuringAStallAndCanAbandonIt) {
    reader.Open();
    for (const char* path : {"/stall-headers", "/stall-body"}) {
        rec = TRecorder();
        rec.Attach(reader);
        int turns = 0;
        reader.OnIdle = [&turns] { return ++turns < 5; };
        Run(server.Url(path));
        EXPECT_EQ(turns, 5) << path;
        EXPECT_THAT(FailureMessage(server.Url(path)), HasSubstr("stopped")) << path;
    }
    // The client is fit for the next page.
    reader.OnIdle = [] { return true; };
    rec = TRecorder();
    rec.Attach(reader);
    Run(server.Url("/eztrip/europe.html"));
    EXPECT_EQ(rec.Links.size(), 5u);
}

TEST_F(THttpDownloadTest, PolitenessDelayUserAgentAndRetryAfter) {
    // /busy/<seconds>/<refusals>: refused with 503 and that Retry-After the given number
    // of times, then served.
    std::mutex mutex;
    std::map<std::string, int> refused;
    server.Http().Get(R"(/busy/(\d+)/(\d+))",
                      [&](const httplib::Request& req, httplib::Response& res) {
                          std::lock_guard<std::mutex> lock(mutex);
                          if (refused[req.path]++ < std::stoi(req.matches[2])) {
                              res.status = 503;
                              res.set_header("Retry-After", req.matches[1].str());
                              return;
                          }
                          res.set_content("served", "text/plain");
                      });
    reader.Open();
    std::string page;
    // A short wait asked for is waited for, once.
    EXPECT_TRUE(reader.Fetch(server.Url("/busy/1/1"), page));
    EXPECT_EQ(page, "served");
    rec = TRecorder();
    rec.Attach(reader);
    Run(server.Url("/busy/0/2"));
    EXPECT_THAT(FailureMessage(server.Url("/busy/0/2")), HasSubstr("503"));
    // A long one is a failed fetch that says so.
    rec = TRecorder();
    rec.Attach(reader);
    Run(server.Url("/busy/120/1"));
    EXPECT_THAT(FailureMessage(server.Url("/busy/120/1")), HasSubstr("120 s"));
    // Stop ends the wait.
    rec = TRecorder();
    rec.Attach(reader);
    int turns = 0;
    reader.OnIdle = [&turns] { return ++turns < 3; };
    Run(server.Url("/busy/50/1"));
    EXPECT_THAT(FailureMessage(server.Url("/busy/50/1")), HasSubstr("stopped"));
    reader.Close();
    {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(refused[server.Url("/busy/1/1").substr(server.Url("").size())], 2);
    }

    // The program names itself, or as the settings say; a delay spaces requests to
    // the same host.
    UseSettings("[Download]\nUserAgent=Tester/2\nDelay=300\n");
    reader.Open();
    reader.OnIdle = nullptr;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(reader.Fetch(server.Url("/status/200"), page));
    ASSERT_TRUE(reader.Fetch(server.Url("/status/201"), page));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    const auto requests = server.Requests();
    EXPECT_EQ(requests.back().Header("User-Agent"), "Tester/2");
    EXPECT_EQ(requests.front().Header("User-Agent"), std::string("Wayfolio/") + WF_PROJECT_VERSION);
}

namespace {

// A server on 127.0.0.1 that answers each connection with the next of the given raw
// responses, byte for byte, and records each request's first line: for what a
// well-behaved server library would never send.
class TRawServer {
public:
    explicit TRawServer(std::vector<std::string> responses) : responses_(std::move(responses)) {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        ::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
        ::listen(listen_, 4);
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~TRawServer() {
        ::shutdown(listen_, SHUT_RDWR);
        ::close(listen_);
        thread_.join();
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::vector<std::string> RequestLines() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requestLines_;
    }

private:
    void Serve() {
        for (const std::string& response : responses_) {
            const int conn = ::accept(listen_, nullptr, nullptr);
            if (conn < 0) return;
            std::string request;
            char buf[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = ::recv(conn, buf, sizeof buf, 0);
                if (n <= 0) break;
                request.append(buf, static_cast<size_t>(n));
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requestLines_.push_back(request.substr(0, request.find("\r\n")));
            }
            ::send(conn, response.data(), response.size(), MSG_NOSIGNAL);
            ::close(conn);
        }
    }

    std::vector<std::string> responses_;
    int listen_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> requestLines_;
};

}  // namespace

TEST_F(THttpDownloadTest, AddressesGoOutEncodedAndTheServersWordsAreLoggedSafely) {
    const std::string empty = "Content-Length: 0\r\nConnection: close\r\n\r\n";
    TRawServer raw({
        "HTTP/1.1 200 OK\r\n" + empty,
        "HTTP/1.1 500 Oops\x1b[2J\x07!\r\n" + empty,
        "HTTP/1.1 302 Found\r\nLocation: http://elsewhere/\x1b]0;owned\x07/\r\n" + empty,
        "HTTP/1.1 500 " + std::string(5000, 'A') + "\r\n" + empty,
    });
    reader.Open();
    // As a page wrote it: a blank and a Latin-1 letter; the query's blank too.
    const std::string written = raw.Url("/caf\xe9 menu.html?q=a b");
    Run(written);
    EXPECT_EQ(rec.LogLines.at(0), "Downloading \"" + written + "\"");
    ASSERT_FALSE(raw.RequestLines().empty());
    EXPECT_EQ(raw.RequestLines()[0], "GET /caf%E9%20menu.html?q=a%20b HTTP/1.1");

    for (const char* expected :
         {"500 Oops\\x1B[2J\\x07!", "http://elsewhere/\\x1B]0;owned\\x07/"}) {
        rec = TRecorder();
        rec.Attach(reader);
        Run(raw.Url("/x.html"));
        const std::string message = FailureMessage(raw.Url("/x.html"));
        EXPECT_THAT(message, HasSubstr(expected));
        EXPECT_EQ(message.find('\x1b'), std::string::npos);
        EXPECT_EQ(message.find('\x07'), std::string::npos);
    }
    rec = TRecorder();
    rec.Attach(reader);
    Run(raw.Url("/x.html"));
    const std::string message = FailureMessage(raw.Url("/x.html"));
    EXPECT_LE(message.size(), 2003u);
    EXPECT_THAT(message, ::testing::EndsWith("AAA..."));
}

class TProxyTest : public THttpDownloadTest {
protected:
    void SetUp() override {
        if (!TTinyProxy::Available()) GTEST_SKIP() << "tinyproxy is not installed";
        THttpDownloadTest::SetUp();
    }
    std::string ProxySettings(const TTinyProxy& proxy, const std::string& extra) {
        return "[Download]\nProxy.Host=127.0.0.1\nProxy.Port=" + std::to_string(proxy.Port()) +
               "\n" + extra;
    }
    bool CameThroughProxy(const std::string& path) {
        for (const auto& r : server.Requests()) {
            if (r.Path == path) return r.Header("Via").find("tinyproxy") != std::string::npos;
        }
        return false;
    }
};

TEST_F(TProxyTest, FetchesThroughAnOpenProxy) {
    TTinyProxy proxy;
    // A proxy exemption from the environment must not bypass the configured proxy.
    TEnvVar noProxy("no_proxy", "127.0.0.1,localhost");
    UseSettings(ProxySettings(proxy, ""));
    reader.Open();
    Run(server.Url("/eztrip/europe.html"));
    EXPECT_EQ(rec.Links.size(), 5u) << proxy.Log();
    EXPECT_TRUE(CameThroughProxy("/eztrip/europe.html")) << proxy.Log();

    rec = TRecorder();
    rec.Attach(reader);
    Run(server.Url("/status/404"));
    EXPECT_THAT(FailureMessage(server.Url("/status/404")), HasSubstr("404"));
}

TEST_F(TProxyTest, BasicAuthenticationToTheProxy) {
    TTinyProxy proxy("bob", "secret");

    UseSettings(ProxySettings(proxy, "Proxy.UserName=bob\nProxy.Password=secret\nProxy.Auth=1\n"));
    reader.Open();
    Run(server.Url("/eztrip/europe.html"));
    EXPECT_EQ(rec.Links.size(), 5u) << proxy.Log();
    EXPECT_TRUE(CameThroughProxy("/eztrip/europe.html"));
    reader.Close();

    // Credentials are only sent when "Proxy.Auth" asks for it.
    for (const char* extra : {"Proxy.UserName=bob\nProxy.Password=secret\n",
                              "Proxy.UserName=bob\nProxy.Password=wrong\nProxy.Auth=1\n"}) {
        rec = TRecorder();
        rec.Attach(reader);
        UseSettings(ProxySettings(proxy, extra));
        reader.Open();
        const std::string url = server.Url("/eztrip/asia.html");
        Run(url);
        // tinyproxy answers missing credentials with 407, wrong ones with 401.
        EXPECT_THAT(FailureMessage(url), AnyOf(HasSubstr("407"), HasSubstr("401"))) << extra;
        reader.Close();
    }
    EXPECT_FALSE(ReachedServer("/eztrip/asia.html"));
}
