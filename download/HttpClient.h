// The HTTP client behind the page readers: libcurl's multi interface, driven on the
// caller's thread. It fetches the page its caller waits for and, meanwhile, the pages
// the caller said it will want next ("fetch ahead"), on up to Connections connections
// that are kept alive and reused. No thread of its own: transfers make progress while
// the caller is inside Fetch, gives a hint or calls Pump; in between, the answers wait
// in the system's socket buffers.
//
// The pages wanted next are kept as a stack of groups, in the order a depth-first walk
// needs them: the newest group (the children of the document being walked) comes
// before every older one (its siblings', its parent's siblings'...). At most
// MaxHeld() pages are fetched ahead at any time; when a nearer page needs a place, the
// page held that is wanted last is dropped and fetched again when its turn comes.
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

    explicit THttpClient(THttpSettings settings);
    ~THttpClient();
    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    // Fetches Url into Page, a page fetched ahead if there is one, and calls Idle at
    // least every IdleMs while it waits; Idle returning false abandons the transfer.
    // Waits DelayMs after the last request to the same host first, and asks again once
    // when a 429 or 503 answer asks to come back within MaxRetryAfterSeconds.
    TFetchResult Fetch(const std::string& url, std::string& page, const TIdle& idle);

    // Whether pages are fetched ahead at all: not with one connection, nor with a delay
    // between requests, which asks for one request at a time.
    bool FetchesAhead() const { return maxInFlight_ > 1; }
    // The most pages fetched ahead (on their way or arrived) at any time.
    std::size_t MaxHeld() const;

    // A new group of pages wanted next, before all groups begun earlier; EndAhead
    // closes the newest group, dropping what is left of it.
    void BeginAhead();
    void EndAhead();
    // Adds a page at the end of the newest group.
    void FetchAhead(const std::string& url);
    // The newest group becomes exactly these pages, in this order. Pages held that no
    // group wants any more are dropped when their place is needed.
    void SetAhead(const std::vector<std::string>& urls);
    // Removes a page from the newest group: it will not be asked for after all.
    void DropAhead(const std::string& url);
    // Lets the transfers under way go on without waiting, and starts new ones.
    void Pump();

private:
    struct TTransfer;
    using TTransferPtr = std::unique_ptr<TTransfer>;

    TTransferPtr Start(const std::string& url);
    // Takes a transfer out of the multi handle and keeps its easy handle for reuse.
    void Recycle(TTransferPtr transfer);
    // Runs until Transfer is done, or fails with a transport error, or is stopped.
    TFetchResult Drive(TTransfer& transfer, const TIdle& idle);
    // Reads what arrived for every transfer, ends the ones libcurl finished or that
    // were silent too long; returns how long the next wait may last, in milliseconds.
    long Progress();
    void TopUp();
    TTransferPtr TakeHeld(const std::string& url);
    // The pages wanted next, as far as pages may be held.
    std::unordered_set<std::string_view> WantedSoon() const;
    void Forget(const std::string& url);
    std::size_t InFlight() const;
    void ConfigureEasy(CURL* easy, TTransfer& transfer) const;
    std::string TooLargeMessage() const;

    THttpSettings settings_;
    std::size_t maxInFlight_ = 1;
    CURLM* multi_ = nullptr;
    std::vector<TTransferPtr> spare_;  // easy handles ready for reuse
    TTransfer* current_ = nullptr;     // the transfer Fetch waits for
    std::unordered_map<std::string, TTransferPtr> held_;
    std::vector<std::deque<std::string>> groups_;  // the newest last
    // The pages asked for so far: a walk wants each page once, so another mention of
    // one in a group is not fetched ahead.
    std::unordered_set<std::string> fetched_;
    // When each host was last asked for a page, for DelayMs.
    std::map<std::string, TClock::time_point> lastRequest_;
};
