// The HTTP client behind the page readers: libcurl's multi interface, driven on the
// caller's thread. It fetches the page its caller waits for and, meanwhile, the pages
// the caller said it will want next ("fetch ahead"), on up to Connections connections
// that are kept alive and reused. No thread of its own: transfers make progress while
// the caller is inside Fetch, gives a hint or calls Pump; in between, the answers wait
// in the system's socket buffers.
//
// The pages wanted next are kept as a stack of groups, in the order a depth-first walk
// needs them: the newest group (the children of the document being walked) comes
// before every older one (its siblings', its parent's siblings'...). Pages are fetched
// ahead as far as MaxHeld() pages ahead in that order, each at most once; a page held
// waits for its turn, however far the walk wanders meanwhile, within a cap on the
// bytes all pages held take together.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct THttpSettings {
    std::string ProxyHost;
    int ProxyPort = 0;
    std::string ProxyUser;
    std::string ProxyPassword;
    bool ProxyAuth = false;
    long ReadTimeoutMs = 0;  // without any data arriving; 0: no limit
    long MaxPageBytes = 0;   // 0: no limit
    long DelayMs = 0;        // between two requests to the same host
    int Connections = 1;     // transfers at once; 1: no fetching ahead
    std::string UserAgent;
};

// How a fetch ended: the page arrived (it is in the caller's buffer), the request
// failed (Message says why, and may quote the server), or the caller stopped it.
class TFetchResult {
public:
    enum class TKind { Page, Failed, Stopped };

    static TFetchResult Page() { return TFetchResult(TKind::Page, {}); }
    static TFetchResult Failed(std::string message) {
        return TFetchResult(TKind::Failed, std::move(message));
    }
    static TFetchResult Stopped(std::string message) {
        return TFetchResult(TKind::Stopped, std::move(message));
    }

    TKind Kind() const { return kind_; }
    bool Arrived() const { return kind_ == TKind::Page; }
    bool WasStopped() const { return kind_ == TKind::Stopped; }
    // Empty for a page.
    const std::string& Message() const { return message_; }

private:
    TFetchResult(TKind kind, std::string message) : kind_(kind), message_(std::move(message)) {}
    TKind kind_;
    std::string message_;
};

class THttpClient {
public:
    using TClock = std::chrono::steady_clock;
    using TIdle = std::function<bool()>;
    // How often the caller gets its turn during a transfer: well within the 100 ms after
    // which a window feels stuck.
    static constexpr long IdleMs = 40;
    // The longest wait a server may ask for (Retry-After) before a page is asked again.
    static constexpr long MaxRetryAfterSeconds = 60;
    // The most connections a setting may ask for: more only burdens a site.
    static constexpr int MaxConnections = 16;
    // All bytes of pages fetched ahead, arrived or on their way, together: transfers
    // fetching ahead pause when they reach it. The page the caller waits for is only
    // bounded by MaxPageBytes.
    static constexpr std::size_t MaxHeldBytes = 16u * 1024 * 1024;
    // Good answers in a row after which a host that was slowed down gets one more
    // connection again.
    static constexpr int GoodAnswersToGrow = 16;

    explicit THttpClient(THttpSettings settings);
    ~THttpClient();
    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    // Fetches Url into Page, a page fetched ahead if there is one, and calls Idle at
    // least every IdleMs while it waits; Idle returning false abandons the transfer.
    // Waits DelayMs after the last request to the same host first, and asks again
    // when a 429 or 503 answer asks to come back within MaxRetryAfterSeconds (once;
    // again only while pages fetched ahead shared the host when it said so). Such an
    // answer also slows its host down to one connection. A request the host left
    // unanswered while it answered others on other connections, or while a connection
    // to it stood idle (a host that serves fewer connections than asked), is sent
    // again, and the host gets fewer.
    TFetchResult Fetch(const std::string& url, std::string& page, const TIdle& idle);

    // Whether pages are fetched ahead at all: not with one connection, nor with a delay
    // between requests, which asks for one request at a time.
    bool FetchesAhead() const { return maxInFlight_ > 1; }
    // How far ahead, in pages the walk wants, pages are fetched.
    std::size_t MaxHeld() const;

    // A new group of pages wanted next, before all groups begun earlier; EndAhead
    // closes the newest group, dropping what is left of it.
    void BeginAhead();
    void EndAhead();
    // Adds a page at the end of the newest group. A page is fetched ahead at most
    // once: one dropped before its turn waits for it. Addresses that differ only by
    // a fragment are one page.
    void FetchAhead(const std::string& url);
    // The newest group becomes exactly these pages, in this order. Pages held that no
    // group wants any more are dropped when their place is needed.
    void SetAhead(const std::vector<std::string>& urls);
    // Removes a page from the newest group: it will not be asked for after all.
    void DropAhead(const std::string& url);
    // Forgets what was fetched ahead for this page: its next Fetch asks the server.
    void Refetch(const std::string& url);
    // Lets the transfers under way go on without waiting, and starts new ones.
    void Pump();
    // Nothing more is fetched ahead; transfers fetching ahead are abandoned. Fetch
    // still works, for a caller that goes on anyway.
    void StopAhead();

    // What the client did, for tests and benchmarks.
    struct TCounts {
        int Requests = 0;          // requests started
        int Resent = 0;            // requests the host left waiting, sent again
        int SlowedDown = 0;        // 429 or 503 answers that slowed a host down
        std::size_t PeakHeldBytes = 0;
    };
    const TCounts& Counts() const { return counts_; }
    // The connections a host is given now (Connections when it never complained).
    int HostLimit(const std::string& url) const;

private:
    struct TTransfer;
    using TTransferPtr = std::unique_ptr<TTransfer>;
    struct THost;

    TTransferPtr Start(const std::string& url, bool ahead);
    // Takes a transfer out of the multi handle and keeps its easy handle for reuse.
    void Recycle(TTransferPtr transfer);
    // A transfer no longer wanted: one under way finishes in the background, so that
    // its kept-alive connection is not lost, unless it has much left to read.
    void Discard(TTransferPtr transfer);
    enum class TDriven { Done, Resend, Stopped, Failed };
    // Runs until Transfer is done, or the host left it waiting (Resend), or a
    // transport error (Error set), or the caller stopped it.
    TDriven Drive(TTransfer& transfer, const TIdle& idle, std::string& error);
    // Waits until the host may be asked again and has a connection free; false when
    // Idle said stop.
    bool WaitForHost(const std::string& host, const TIdle& idle);
    // Reads what arrived for every transfer, ends the ones libcurl finished or that
    // were silent too long; returns how long the next wait may last, in milliseconds.
    long Progress();
    void Finish(TTransfer& t, CURLcode result);
    // Whether the host left T waiting while it answered others, or while it kept
    // another connection of ours open with nothing asked on it.
    bool PassedOver(const TTransfer& t, TClock::time_point now) const;
    // Counts T, passed over, as sent again, and takes a connection from its host.
    void CountPassedOver(const TTransfer& t);
    // Connections open to the host that carry no request now.
    std::size_t IdleConnections(const std::string& host) const;
    // A 429 or 503: the host drops to one connection and waits RetryAfter seconds.
    void SlowDown(THost& host, long retryAfter, int underWay);
    void GoodAnswer(THost& host);
    void TopUp();
    void Unpause();
    TTransferPtr TakeHeld(const std::string& key);
    // The pages some group still wants.
    std::unordered_set<std::string_view> Wanted() const;
    // The most pages held at once, arrived or on their way.
    std::size_t MaxHeldPages() const { return 16 * maxInFlight_; }
    void Forget(const std::string& key);
    std::size_t InFlight() const;
    std::size_t InFlight(const std::string& host) const;
    std::size_t HeldBytes() const;
    THost& HostState(const std::string& host);
    void ConfigureEasy(CURL* easy, TTransfer& transfer) const;
    std::string TooLargeMessage() const;
    std::string TransportMessage(const TTransfer& t, CURLcode result) const;

    THttpSettings settings_;
    std::size_t maxInFlight_ = 1;
    CURLM* multi_ = nullptr;
    std::vector<TTransferPtr> spare_;    // easy handles ready for reuse
    std::vector<TTransferPtr> orphans_;  // no longer wanted, finishing their answer
    TTransfer* current_ = nullptr;       // the transfer Fetch waits for
    std::unordered_map<std::string, TTransferPtr> held_;
    std::vector<std::deque<std::string>> groups_;  // the newest last
    // The pages asked for so far: a walk wants each page once, so another mention of
    // one in a group is not fetched ahead.
    std::unordered_set<std::string> fetched_;
    // The pages fetched ahead so far, each at most once.
    std::unordered_set<std::string> askedAhead_;
    std::map<std::string, THost> hosts_;
    // Every socket libcurl holds open, by the host it was opened for.
    std::unordered_map<curl_socket_t, std::string> sockets_;
    // Pages sent again because a connection stood idle: once each, for a page that is
    // merely slow is no better for being asked twice.
    std::unordered_set<std::string> resentForIdle_;
    bool aheadStopped_ = false;
    TCounts counts_;
};
