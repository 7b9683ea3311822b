#include "download/HttpClient.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <ctime>
#include <string_view>
#include <thread>
#include <unordered_set>

#include "download/wf_Download.h"
#include "text/Blanks.h"
#include "text/UrlBytes.h"

namespace {

constexpr const char* StoppedMessage = "Download stopped before the page arrived";
constexpr const char* StoppedWaitingMessage =
    "Download stopped while waiting to ask the server again, as it asked";
// An answer nobody wants any more is read to its end, so that its kept-alive
// connection serves the next request, unless it is longer than this.
constexpr std::size_t OrphanMaxBytes = 256u * 1024;
// The least time a request may go unanswered while its host answers others before it
// is taken for one the host will not serve on that connection.
constexpr long MinPatienceMs = 1000;

template <typename T>
void SetOpt(CURL* easy, CURLoption option, T value) {
    const CURLcode rc = curl_easy_setopt(easy, option, value);
    if (rc != CURLE_OK) {
        throw EDownloadError(std::string("Cannot configure the HTTP client: ") +
                             curl_easy_strerror(rc));
    }
}

std::string HostOf(const std::string& url) {
    const size_t scheme = url.find("://");
    const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    return url.substr(start, url.find_first_of("/?#", start) - start);
}

// What the server is asked for: a fragment never leaves the client, so addresses that
// differ only by one are one page.
std::string KeyOf(const std::string& url) {
    return url.substr(0, url.find('#'));
}

long MsBetween(THttpClient::TClock::time_point from, THttpClient::TClock::time_point to) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count());
}

// Waits until Until, giving the caller its turn; false when Idle said stop.
bool Wait(THttpClient::TClock::time_point until, const THttpClient::TIdle& idle) {
    for (;;) {
        const auto now = THttpClient::TClock::now();
        if (now >= until) return true;
        std::this_thread::sleep_for(std::min<THttpClient::TClock::duration>(
            until - now, std::chrono::milliseconds(THttpClient::IdleMs)));
        if (!idle()) return false;
    }
}

// Retry-After holds seconds or an HTTP date; -1 when it holds neither.
long ParseRetryAfter(std::string_view value) {
    long seconds = 0;
    const auto r = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (!value.empty() && r.ec == std::errc() && r.ptr == value.data() + value.size())
        return seconds >= 0 ? seconds : -1;
    const std::string text(value);
    const time_t when = curl_getdate(text.c_str(), nullptr);
    if (when < 0) return -1;
    const time_t now = std::time(nullptr);
    return when > now ? static_cast<long>(when - now) : 0;
}

}  // namespace

// How a host is treated: how many connections it gets now, how far that may grow, and
// until when it asked to be left alone.
struct THttpClient::THost {
    int Limit = 1;
    int Ceiling = 1;
    bool CeilingFixed = false;  // it left requests waiting: no growing back
    int GoodRun = 0;            // good answers since the last change of Limit
    int SinceTrouble = 0;       // good answers since it last complained
    bool Probing = false;       // its ceiling grew since it last complained
    int FailedProbes = 0;       // complaints that followed such a growth
    TClock::time_point WaitUntil{};
    TClock::time_point LastRequest{};
    bool Requested = false;
    TClock::time_point LastAnswer{};  // when any answer of it last brought bytes
    long SlowestFirstByteMs = 0;
};

// One request: its easy handle, kept from request to request, and what has arrived.
struct THttpClient::TTransfer {
    THttpClient* Owner = nullptr;
    CURL* Easy = nullptr;
    long MaxPageBytes = 0;
    std::string Url;
    std::string Key;
    std::string HostName;
    THost* Host = nullptr;
    std::string Body;
    std::string StatusLine;
    std::string Location;
    long RetryAfter = -1;  // seconds; -1: none
    long Status = 0;
    bool OutOfMemory = false;
    bool TooLarge = false;
    bool Added = false;   // to the multi handle
    bool Done = false;
    bool Ahead = false;   // fetched ahead; nobody waits for it yet
    bool Orphan = false;  // nobody wants it; read to its end for the connection's sake
    bool Paused = false;  // by the cap on bytes held
    bool Sent = false;    // the request went out
    bool Answered = false;
    bool Resend = false;  // the host left it waiting while it answered others
    bool Shared = false;  // other requests to its host were under way when it ended
    std::size_t OrphanBytes = 0;
    std::string Error;  // once Done: empty on success
    TClock::time_point SentAt;
    TClock::time_point LastData;
    char ErrorBuffer[CURL_ERROR_SIZE] = {};

    TTransfer() = default;
    TTransfer(const TTransfer&) = delete;
    TTransfer& operator=(const TTransfer&) = delete;
    ~TTransfer() {
        if (Easy) curl_easy_cleanup(Easy);
    }

    void Reset(const std::string& url) {
        Url = url;
        Key = KeyOf(url);
        HostName = HostOf(url);
        Body.clear();
        StatusLine.clear();
        Location.clear();
        RetryAfter = -1;
        Status = 0;
        OutOfMemory = TooLarge = Done = Ahead = Orphan = Paused = false;
        Sent = Answered = Resend = Shared = false;
        OrphanBytes = 0;
        Error.clear();
        ErrorBuffer[0] = '\0';
    }

    void Arrived() {
        const auto now = TClock::now();
        LastData = now;
        if (Host) {
            Host->LastAnswer = now;
            if (!Answered && Sent)
                Host->SlowestFirstByteMs = std::max(Host->SlowestFirstByteMs, MsBetween(SentAt, now));
        }
        Answered = true;
    }

    static int OnPrereq(void* self, char*, char*, int, int) {
        auto* t = static_cast<TTransfer*>(self);
        t->Sent = true;
        t->SentAt = t->LastData = TClock::now();
        return CURL_PREREQFUNC_OK;
    }

    // libcurl's sockets are opened and closed here so that the client knows which
    // connections each host has, busy or idle.
    static curl_socket_t OnOpenSocket(void* self, curlsocktype, curl_sockaddr* address) {
        auto* t = static_cast<TTransfer*>(self);
        const curl_socket_t fd =
            socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
        if (fd != CURL_SOCKET_BAD) t->Owner->sockets_[fd] = t->HostName;
        return fd;
    }

    static int OnCloseSocket(void* owner, curl_socket_t fd) {
        static_cast<THttpClient*>(owner)->sockets_.erase(fd);
        return close(fd);
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* self) {
        auto* t = static_cast<TTransfer*>(self);
        const size_t n = size * count;
        t->Arrived();
        if (t->Orphan) {
            t->OrphanBytes += n;
            return t->OrphanBytes > OrphanMaxBytes ? 0 : n;
        }
        // A page without Content-Length (or with a false one) is measured as it comes.
        const size_t limit = t->MaxPageBytes > 0 ? static_cast<size_t>(t->MaxPageBytes) : 0;
        if (limit > 0 && t->Body.size() + n > limit) {
            t->TooLarge = true;
            return 0;
        }
        const size_t need = t->Body.size() + n;
        size_t capacity = t->Body.capacity();
        if (need > capacity) {
            // Grown by doubling, but never past the largest page accepted.
            capacity = std::max(need, 2 * capacity);
            if (limit > 0) capacity = std::min(capacity, limit);
            if (t->Ahead && t->Owner->HeldBytes() - t->Body.capacity() + capacity >
                                THttpClient::MaxHeldBytes) {
                t->Paused = true;
                return CURL_WRITEFUNC_PAUSE;
            }
        }
        try {
            if (capacity > t->Body.capacity()) t->Body.reserve(capacity);
            t->Body.append(data, n);
        } catch (...) {
            t->OutOfMemory = true;
            return 0;  // makes libcurl abort the transfer
        }
        return n;
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
        auto* t = static_cast<TTransfer*>(self);
        t->Arrived();
        const std::string_view line = TrimBlanks(std::string_view(data, size * count));
        // A proxy's CONNECT answer comes first; the last status line is the server's.
        if (line.substr(0, 5) == "HTTP/") {
            t->StatusLine.assign(line);
            t->Location.clear();
            t->RetryAfter = -1;
        } else if (line.size() > 9) {
            std::string name(line.substr(0, std::min<size_t>(line.size(), 12)));
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return std::tolower(c); });
            if (name.compare(0, 9, "location:") == 0)
                t->Location.assign(TrimBlanks(line.substr(9)));
            if (name == "retry-after:") t->RetryAfter = ParseRetryAfter(TrimBlanks(line.substr(12)));
        }
        return size * count;
    }
};

THttpClient::THttpClient(THttpSettings settings) : settings_(std::move(settings)) {
    // A delay between requests to a host asks for one request at a time.
    maxInFlight_ =
        settings_.DelayMs > 0
            ? 1
            : static_cast<std::size_t>(std::clamp(settings_.Connections, 1, MaxConnections));
    multi_ = curl_multi_init();
    if (!multi_) throw EDownloadError("Cannot create the HTTP client");
    // Every connection a run opens stays in the cache, kept alive for the next
    // request: the page waited for may take one more than the transfers fetching ahead.
    curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, static_cast<long>(maxInFlight_ + 2));
}

THttpClient::~THttpClient() {
    for (auto& [url, transfer] : held_)
        if (transfer->Added) curl_multi_remove_handle(multi_, transfer->Easy);
    for (auto& transfer : orphans_)
        if (transfer->Added) curl_multi_remove_handle(multi_, transfer->Easy);
    held_.clear();
    orphans_.clear();
    spare_.clear();
    curl_multi_cleanup(multi_);
}

std::size_t THttpClient::MaxHeld() const {
    return FetchesAhead() ? 4 * maxInFlight_ : 0;
}

THttpClient::THost& THttpClient::HostState(const std::string& host) {
    auto it = hosts_.find(host);
    if (it == hosts_.end()) {
        it = hosts_.emplace(host, THost{}).first;
        it->second.Limit = it->second.Ceiling = static_cast<int>(maxInFlight_);
    }
    return it->second;
}

int THttpClient::HostLimit(const std::string& url) const {
    const auto it = hosts_.find(HostOf(url));
    return it == hosts_.end() ? static_cast<int>(maxInFlight_) : it->second.Limit;
}

void THttpClient::ConfigureEasy(CURL* easy, TTransfer& transfer) const {
    const THttpSettings& s = settings_;
    transfer.MaxPageBytes = s.MaxPageBytes;
    SetOpt(easy, CURLOPT_PRIVATE, static_cast<void*>(&transfer));
    SetOpt(easy, CURLOPT_NOSIGNAL, 1L);
    SetOpt(easy, CURLOPT_ERRORBUFFER, transfer.ErrorBuffer);
    SetOpt(easy, CURLOPT_HTTPGET, 1L);
    SetOpt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    SetOpt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    SetOpt(easy, CURLOPT_BUFFERSIZE, 32768L);
    SetOpt(easy, CURLOPT_USERAGENT, s.UserAgent.c_str());
    // Whatever libcurl can decode; the page is stored as the server would send it
    // uncompressed.
    SetOpt(easy, CURLOPT_ACCEPT_ENCODING, "");
    SetOpt(easy, CURLOPT_WRITEFUNCTION, &TTransfer::OnBody);
    SetOpt(easy, CURLOPT_WRITEDATA, static_cast<void*>(&transfer));
    SetOpt(easy, CURLOPT_HEADERFUNCTION, &TTransfer::OnHeader);
    SetOpt(easy, CURLOPT_HEADERDATA, static_cast<void*>(&transfer));
    // The read time-out runs from the moment the request goes out, not from when it
    // was queued.
    SetOpt(easy, CURLOPT_PREREQFUNCTION, &TTransfer::OnPrereq);
    SetOpt(easy, CURLOPT_PREREQDATA, static_cast<void*>(&transfer));
    SetOpt(easy, CURLOPT_OPENSOCKETFUNCTION, &TTransfer::OnOpenSocket);
    SetOpt(easy, CURLOPT_OPENSOCKETDATA, static_cast<void*>(&transfer));
    // A connection outlives the transfer that opened it: its closing is told to the
    // client, which outlives them all.
    SetOpt(easy, CURLOPT_CLOSESOCKETFUNCTION, &TTransfer::OnCloseSocket);
    SetOpt(easy, CURLOPT_CLOSESOCKETDATA, static_cast<void*>(transfer.Owner));
    // A page that announces its size is refused before its body is read.
    if (s.MaxPageBytes > 0)
        SetOpt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(s.MaxPageBytes));
    // An empty proxy also overrides http_proxy and friends from the environment: the
    // settings file alone decides. An empty no-proxy list likewise stops NO_PROXY from
    // exempting hosts.
    SetOpt(easy, CURLOPT_PROXY, s.ProxyHost.c_str());
    SetOpt(easy, CURLOPT_NOPROXY, "");
    if (!s.ProxyHost.empty()) {
        SetOpt(easy, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
        if (s.ProxyPort > 0) SetOpt(easy, CURLOPT_PROXYPORT, static_cast<long>(s.ProxyPort));
        if (s.ProxyAuth) {
            SetOpt(easy, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
            SetOpt(easy, CURLOPT_PROXYUSERNAME, s.ProxyUser.c_str());
            SetOpt(easy, CURLOPT_PROXYPASSWORD, s.ProxyPassword.c_str());
        }
    }
}

THttpClient::TTransferPtr THttpClient::Start(const std::string& url, bool ahead) {
    TTransferPtr t;
    if (!spare_.empty()) {
        t = std::move(spare_.back());
        spare_.pop_back();
    } else {
        t = std::make_unique<TTransfer>();
        t->Owner = this;
        t->Easy = curl_easy_init();
        if (!t->Easy) throw EDownloadError("Cannot create the HTTP client");
        ConfigureEasy(t->Easy, *t);
    }
    t->Reset(url);
    t->Ahead = ahead;
    THost& host = HostState(t->HostName);
    t->Host = &host;
    host.LastRequest = TClock::now();
    host.Requested = true;
    ++counts_.Requests;
    // Pages write addresses with blanks and bytes of their own character set; those go
    // out percent-encoded, as a browser sends them.
    curl_easy_setopt(t->Easy, CURLOPT_URL, EncodeUrlBytes(url).c_str());
    t->LastData = TClock::now();
    if (curl_multi_add_handle(multi_, t->Easy) != CURLM_OK) {
        t->Done = true;
        t->Error = "Cannot start the request";
        return t;
    }
    t->Added = true;
    return t;
}

void THttpClient::Recycle(TTransferPtr t) {
    if (!t) return;
    if (t->Paused) {
        // What libcurl kept back while paused goes nowhere.
        t->Orphan = true;
        curl_easy_pause(t->Easy, CURLPAUSE_CONT);
        t->Paused = false;
    }
    if (t->Added) curl_multi_remove_handle(multi_, t->Easy);  // abandons one under way
    t->Added = false;
    t->Host = nullptr;
    // A refused page of many megabytes is not kept for nothing.
    if (t->Body.capacity() > (1u << 20)) std::string().swap(t->Body);
    t->Body.clear();
    if (spare_.size() <= maxInFlight_) spare_.push_back(std::move(t));
}

void THttpClient::Discard(TTransferPtr t) {
    if (!t) return;
    if (!t->Added || t->Done || t->Paused || !t->Answered ||
        t->Body.size() > OrphanMaxBytes) {
        Recycle(std::move(t));
        return;
    }
    t->Orphan = true;
    t->Ahead = false;
    t->OrphanBytes = t->Body.size();
    std::string().swap(t->Body);
    orphans_.push_back(std::move(t));
}

std::string THttpClient::TooLargeMessage() const {
    return "The page is larger than " + std::to_string(settings_.MaxPageBytes) +
           " bytes, the limit set by MaxPageSize";
}

std::string THttpClient::TransportMessage(const TTransfer& t, CURLcode result) const {
    std::string message = t.ErrorBuffer[0] ? std::string(t.ErrorBuffer) : curl_easy_strerror(result);
    // Through a proxy, libcurl only ever connects to the proxy: a failure to reach it
    // is the proxy's, whatever host the page is on.
    if (!settings_.ProxyHost.empty() &&
        (result == CURLE_COULDNT_RESOLVE_PROXY || result == CURLE_COULDNT_CONNECT ||
         result == CURLE_PROXY)) {
        std::string proxy = settings_.ProxyHost;
        if (settings_.ProxyPort > 0) proxy += ":" + std::to_string(settings_.ProxyPort);
        message = "The proxy " + proxy + " failed: " + message;
    }
    return message;
}

std::size_t THttpClient::InFlight() const {
    std::size_t n = current_ && current_->Added && !current_->Done ? 1 : 0;
    for (const auto& [url, t] : held_) n += t->Added && !t->Done ? 1 : 0;
    for (const auto& t : orphans_) n += t->Added && !t->Done ? 1 : 0;
    return n;
}

std::size_t THttpClient::InFlight(const std::string& host) const {
    auto busy = [&](const TTransfer& t) { return t.Added && !t.Done && t.HostName == host; };
    std::size_t n = current_ && busy(*current_) ? 1 : 0;
    for (const auto& [url, t] : held_) n += busy(*t) ? 1 : 0;
    for (const auto& t : orphans_) n += busy(*t) ? 1 : 0;
    return n;
}

std::size_t THttpClient::HeldBytes() const {
    std::size_t bytes = 0;
    for (const auto& [url, t] : held_) bytes += t->Body.capacity();
    return bytes;
}

void THttpClient::SlowDown(THost& host, long retryAfter, int underWay) {
    ++counts_.SlowedDown;
    if (host.Probing) ++host.FailedProbes;
    host.Probing = false;
    // It complained with this many requests under way: it gets fewer from now on.
    host.Ceiling = std::max(1, std::min(host.Ceiling, underWay) - 1);
    host.Limit = 1;
    host.GoodRun = host.SinceTrouble = 0;
    if (retryAfter >= 0 && retryAfter <= MaxRetryAfterSeconds) {
        const auto until =
            TClock::now() + std::chrono::seconds(std::min(retryAfter, MaxRetryAfterSeconds));
        host.WaitUntil = std::max(host.WaitUntil, until);
    }
}

void THttpClient::GoodAnswer(THost& host) {
    ++host.GoodRun;
    ++host.SinceTrouble;
    if (host.Limit < host.Ceiling && host.GoodRun >= GoodAnswersToGrow) {
        ++host.Limit;
        host.GoodRun = 0;
    }
    // A host that was only busy for a while gets its connections back, slowly; one
    // that complained again each time is tried ever more rarely, since every complaint
    // costs the wait it asks for.
    const int probeAfter = (4 * GoodAnswersToGrow) << std::min(host.FailedProbes, 6);
    if (!host.CeilingFixed && host.Ceiling < static_cast<int>(maxInFlight_) &&
        host.SinceTrouble >= probeAfter) {
        ++host.Ceiling;
        host.SinceTrouble = 0;
        host.Probing = true;
    }
}

void THttpClient::Finish(TTransfer& t, CURLcode result) {
    curl_easy_getinfo(t.Easy, CURLINFO_RESPONSE_CODE, &t.Status);
    // The connection goes back to the cache, for the next request to the host.
    curl_multi_remove_handle(multi_, t.Easy);
    t.Added = false;
    t.Done = true;
    if (t.Orphan) return;
    t.Shared = InFlight(t.HostName) > 0;
    if (t.OutOfMemory) {
        t.Error = "Out of memory while receiving the page";
    } else if (t.TooLarge || result == CURLE_FILESIZE_EXCEEDED) {
        t.Error = TooLargeMessage();
    } else if (result != CURLE_OK) {
        t.Error = TransportMessage(t, result);
    } else if (t.Status < 200 || t.Status >= 300) {
        t.Error = t.StatusLine.empty() ? "HTTP status " + std::to_string(t.Status) : t.StatusLine;
        if (t.Status >= 300 && t.Status < 400 && !t.Location.empty())
            t.Error += " (redirect to " + t.Location + ")";
    }
    if (t.Host) {
        if (result == CURLE_OK && (t.Status == 429 || t.Status == 503))
            SlowDown(*t.Host, t.RetryAfter, static_cast<int>(InFlight(t.HostName)) + 1);
        else if (t.Error.empty())
            GoodAnswer(*t.Host);
    }
    // Nobody needs the bytes of a failed page.
    if (!t.Error.empty()) std::string().swap(t.Body);
}

bool THttpClient::PassedOver(const TTransfer& t, TClock::time_point now) const {
    if (!t.Sent || t.Answered || t.Paused || !t.Host) return false;
    const THost& host = *t.Host;
    long patience = std::max(MinPatienceMs, 3 * host.SlowestFirstByteMs);
    if (settings_.ReadTimeoutMs > 0)
        patience = std::min(patience, std::max(200L, settings_.ReadTimeoutMs / 2));
    if (MsBetween(t.SentAt, now) < patience) return false;
    // Requests on one connection go one after another: an answer that arrived after
    // this request went out came on another connection.
    if (host.LastAnswer > t.SentAt) return true;
    // A host that serves one connection at a time may be waiting on one that has
    // nothing more to ask; the request goes there instead.
    return !resentForIdle_.count(t.Key) && IdleConnections(t.HostName) > 0;
}

void THttpClient::CountPassedOver(const TTransfer& t) {
    ++counts_.Resent;
    // Sent again for an idle connection, not for answers that overtook it: once only.
    if (t.Host->LastAnswer <= t.SentAt) resentForIdle_.insert(t.Key);
    // A host that leaves requests waiting has fewer connections than it was given.
    THost& host = *t.Host;
    host.Limit = std::max(1, host.Limit - 1);
    host.Ceiling = std::min(host.Ceiling, host.Limit);
    host.CeilingFixed = true;
}

std::size_t THttpClient::IdleConnections(const std::string& host) const {
    std::size_t open = 0;
    for (const auto& [fd, name] : sockets_) open += name == host ? 1 : 0;
    // A request still waiting for a connection counts as holding one: the guess errs
    // towards patience.
    const std::size_t busy = InFlight(host);
    return open > busy ? open - busy : 0;
}

void THttpClient::Unpause() {
    const bool room = HeldBytes() + (1u << 20) < MaxHeldBytes;
    auto resume = [&](TTransfer& t) {
        if (!t.Paused || !t.Added || (t.Ahead && !room)) return;
        t.Paused = false;
        t.LastData = TClock::now();  // a pause is not the server's silence
        curl_easy_pause(t.Easy, CURLPAUSE_CONT);
    };
    if (current_) resume(*current_);
    for (auto& [url, t] : held_) resume(*t);
}

long THttpClient::Progress() {
    Unpause();
    int running = 0;
    const CURLMcode mc = curl_multi_perform(multi_, &running);
    if (mc != CURLM_OK) throw EDownloadError(curl_multi_strerror(mc));

    int pending = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &pending)) {
        if (msg->msg != CURLMSG_DONE) continue;
        TTransfer* t = nullptr;
        curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, reinterpret_cast<char**>(&t));
        if (!t || t->Done) continue;
        Finish(*t, msg->data.result);
    }
    counts_.PeakHeldBytes = std::max(counts_.PeakHeldBytes, HeldBytes());

    const auto now = TClock::now();
    // Answers nobody wants: finished ones give their easy handle back; silent ones
    // are not worth their connection.
    for (auto it = orphans_.begin(); it != orphans_.end();) {
        TTransfer& t = **it;
        if (t.Done || MsBetween(t.LastData, now) > 2000) {
            Recycle(std::move(*it));
            it = orphans_.erase(it);
        } else {
            ++it;
        }
    }
    // A page fetched ahead that the server asked to wait for is asked again at its
    // turn, and one the host left waiting too; neither is an answer to keep.
    for (auto it = held_.begin(); it != held_.end();) {
        TTransfer& t = *it->second;
        const bool refused = t.Done && t.Error.size() && (t.Status == 429 || t.Status == 503);
        const bool passed = !t.Done && PassedOver(t, now);
        if (passed) CountPassedOver(t);
        if (refused || passed) {
            Recycle(std::move(it->second));
            it = held_.erase(it);
        } else {
            ++it;
        }
    }
    if (current_ && !current_->Done && !current_->Resend && PassedOver(*current_, now)) {
        CountPassedOver(*current_);
        current_->Resend = true;
    }

    // Silence is counted from the last byte, or from when the request went out, for
    // every transfer alike, whether its turn has come or not. A page held complete
    // never times out, and neither does a transfer paused by the cap on bytes held.
    long waitMs = IdleMs;
    if (settings_.ReadTimeoutMs <= 0) return waitMs;
    auto check = [&](TTransfer& t) {
        if (t.Done || t.Paused || !t.Added) return;
        const long silent = MsBetween(t.LastData, now);
        if (silent < settings_.ReadTimeoutMs) {
            waitMs = std::min(waitMs, settings_.ReadTimeoutMs - silent);
            return;
        }
        curl_multi_remove_handle(multi_, t.Easy);
        t.Added = false;
        t.Done = true;
        t.Error = "Read timed out: no data for " + std::to_string(settings_.ReadTimeoutMs) + " ms";
        curl_easy_getinfo(t.Easy, CURLINFO_RESPONSE_CODE, &t.Status);
        std::string().swap(t.Body);
    };
    if (current_) check(*current_);
    for (auto& [url, t] : held_) check(*t);
    return waitMs;
}

THttpClient::TDriven THttpClient::Drive(TTransfer& transfer, const TIdle& idle, std::string& error) {
    TClock::time_point lastIdle = TClock::now();
    for (;;) {
        long waitMs = 0;
        try {
            waitMs = Progress();
        } catch (const EDownloadError& e) {
            error = e.what();
            return TDriven::Failed;
        }
        if (transfer.Done) return TDriven::Done;
        if (transfer.Resend) return TDriven::Resend;
        TopUp();  // a connection that came free takes the next page wanted
        auto now = TClock::now();
        if (now - lastIdle >= std::chrono::milliseconds(IdleMs)) {
            if (!idle()) {
                StopAhead();
                return TDriven::Stopped;
            }
            lastIdle = now = TClock::now();
        }
        const long sinceIdle = MsBetween(lastIdle, now);
        waitMs = std::max(1L, std::min(waitMs, IdleMs - sinceIdle));
        const CURLMcode mc = curl_multi_poll(multi_, nullptr, 0, static_cast<int>(waitMs), nullptr);
        if (mc != CURLM_OK) {
            error = curl_multi_strerror(mc);
            return TDriven::Failed;
        }
    }
}

bool THttpClient::WaitForHost(const std::string& hostName, const TIdle& idle) {
    THost& host = HostState(hostName);
    TClock::time_point lastIdle = TClock::now();
    for (;;) {
        const auto now = TClock::now();
        const std::size_t busy = InFlight(hostName);
        // An untroubled host takes the page waited for on top of those fetched ahead;
        // a slowed one waits for a connection of its own.
        const bool free = busy < static_cast<std::size_t>(host.Limit) ||
                          (host.Limit == static_cast<int>(maxInFlight_) && busy <= maxInFlight_);
        if (now >= host.WaitUntil && free) return true;
        if (now >= host.WaitUntil) {
            // Pages fetched ahead give way, those not yet answering first; the walk
            // asks for them at their turn.
            for (auto it = held_.begin(); it != held_.end(); ++it) {
                TTransfer& t = *it->second;
                if (t.HostName == hostName && t.Added && !t.Done &&
                    (!t.Answered || t.Paused || MsBetween(t.LastData, now) > MinPatienceMs)) {
                    Recycle(std::move(it->second));
                    held_.erase(it);
                    break;
                }
            }
        }
        try {
            Progress();
        } catch (const EDownloadError&) {
            // The request itself meets the same trouble and reports it.
            return true;
        }
        if (MsBetween(lastIdle, TClock::now()) >= IdleMs) {
            if (!idle()) {
                StopAhead();
                return false;
            }
            lastIdle = TClock::now();
        }
        curl_multi_poll(multi_, nullptr, 0, 10, nullptr);
    }
}

TFetchResult THttpClient::Fetch(const std::string& url, std::string& page, const TIdle& idle) {
    page.clear();
    const std::string key = KeyOf(url);
    const std::string hostName = HostOf(url);
    fetched_.insert(key);
    TTransferPtr transfer = TakeHeld(key);
    Forget(key);
    if (transfer) transfer->Ahead = false;

    struct TCurrent {
        THttpClient& client;
        TTransferPtr& transfer;
        ~TCurrent() {
            client.current_ = nullptr;
            client.Recycle(std::move(transfer));
        }
    } current{*this, transfer};

    int attempt = 0;
    int shared = 0;
    for (;;) {
        if (!transfer) {
            THost& host = HostState(hostName);
            if (settings_.DelayMs > 0 && host.Requested &&
                !Wait(host.LastRequest + std::chrono::milliseconds(settings_.DelayMs), idle)) {
                StopAhead();
                return TFetchResult::Stopped(StoppedMessage);
            }
            const bool waitingAsked = TClock::now() < host.WaitUntil;
            if (!WaitForHost(hostName, idle))
                return TFetchResult::Stopped(waitingAsked ? StoppedWaitingMessage : StoppedMessage);
            transfer = Start(url, false);
        }
        current_ = transfer.get();
        std::string error;
        const TDriven driven = Drive(*transfer, idle, error);
        if (driven == TDriven::Stopped) return TFetchResult::Stopped(StoppedMessage);
        if (driven == TDriven::Failed) return TFetchResult::Failed(error);
        if (driven == TDriven::Resend) {
            current_ = nullptr;
            Recycle(std::move(transfer));
            continue;
        }
        if (transfer->Error.empty()) {
            page.swap(transfer->Body);
            return TFetchResult::Page();
        }
        const long status = transfer->Status;
        const long retryAfter = transfer->RetryAfter;
        if ((status != 429 && status != 503) || retryAfter < 0)
            return TFetchResult::Failed(transfer->Error);
        // A complaint while pages fetched ahead shared the host may be their doing:
        // the host is down to one connection now, so it is asked again.
        const bool ours = transfer->Shared && shared < 4;
        if (retryAfter > MaxRetryAfterSeconds || (attempt > 0 && !ours)) {
            return TFetchResult::Failed(
                transfer->Error + " (asked to come back after " + std::to_string(retryAfter) +
                " s" + (attempt > 0 ? ", a second time)" : ", longer than this program waits)"));
        }
        if (ours)
            ++shared;
        else
            ++attempt;
        current_ = nullptr;
        Recycle(std::move(transfer));
    }
}

THttpClient::TTransferPtr THttpClient::TakeHeld(const std::string& key) {
    const auto it = held_.find(key);
    if (it == held_.end()) return nullptr;
    TTransferPtr t = std::move(it->second);
    held_.erase(it);
    return t;
}

void THttpClient::Forget(const std::string& key) {
    for (auto group = groups_.rbegin(); group != groups_.rend(); ++group) {
        const auto it = std::find(group->begin(), group->end(), key);
        if (it != group->end()) {
            group->erase(it);
            return;
        }
    }
}

void THttpClient::TopUp() {
    if (!FetchesAhead() || aheadStopped_) return;
    // The pages wanted next, nearest first, as far as MaxHeld pages ahead. A page held
    // stays until its turn: dropping it would mean asking for it twice.
    const auto now = TClock::now();
    std::size_t looked = 0;
    for (auto group = groups_.rbegin(); group != groups_.rend(); ++group) {
        for (const std::string& key : *group) {
            if (looked >= MaxHeld()) return;
            // A page already fetched in this run is wanted again only when a link leads
            // back to the start, and is then fetched at its turn; so is one fetched
            // ahead before and let go.
            if (fetched_.count(key)) continue;
            ++looked;
            if (askedAhead_.count(key) || (current_ && current_->Key == key)) continue;
            if (InFlight() >= maxInFlight_ || HeldBytes() >= MaxHeldBytes ||
                held_.size() >= MaxHeldPages())
                return;
            const std::string host = HostOf(key);
            const THost& state = HostState(host);
            if (now < state.WaitUntil || InFlight(host) >= static_cast<std::size_t>(state.Limit))
                continue;
            askedAhead_.insert(key);
            held_.emplace(key, Start(key, true));
        }
    }
}

void THttpClient::Pump() {
    if (!FetchesAhead() || aheadStopped_) return;
    try {
        Progress();
        TopUp();
        Progress();  // sends the requests just started
    } catch (const EDownloadError&) {
        // The page's own Fetch meets the same trouble and reports it.
    }
}

void THttpClient::StopAhead() {
    aheadStopped_ = true;
    groups_.clear();
    for (auto& [key, t] : held_) Recycle(std::move(t));
    held_.clear();
    for (auto& t : orphans_) Recycle(std::move(t));
    orphans_.clear();
}

void THttpClient::BeginAhead() {
    groups_.emplace_back();
}

std::unordered_set<std::string_view> THttpClient::Wanted() const {
    std::unordered_set<std::string_view> wanted;
    for (const auto& group : groups_)
        for (const std::string& key : group)
            if (!fetched_.count(key)) wanted.insert(key);
    return wanted;
}

void THttpClient::EndAhead() {
    if (groups_.empty()) return;
    const std::deque<std::string> ended = std::move(groups_.back());
    groups_.pop_back();
    if (ended.empty() || held_.empty()) return;
    // What is left of the group will not be asked for, unless an older group wants it.
    const auto wanted = Wanted();
    for (const std::string& key : ended) {
        if (wanted.count(key)) continue;
        if (TTransferPtr t = TakeHeld(key)) Discard(std::move(t));
    }
}

void THttpClient::FetchAhead(const std::string& url) {
    if (!FetchesAhead() || aheadStopped_) return;
    if (groups_.empty()) groups_.emplace_back();
    groups_.back().push_back(KeyOf(url));
    if (InFlight() < maxInFlight_) Pump();
}

void THttpClient::SetAhead(const std::vector<std::string>& urls) {
    if (!FetchesAhead() || aheadStopped_) return;
    if (groups_.empty()) groups_.emplace_back();
    auto& group = groups_.back();
    group.clear();
    for (const std::string& url : urls) group.push_back(KeyOf(url));
    Pump();
}

void THttpClient::DropAhead(const std::string& url) {
    if (!FetchesAhead() || groups_.empty()) return;
    const std::string key = KeyOf(url);
    auto& group = groups_.back();
    const auto it = std::find(group.begin(), group.end(), key);
    if (it != group.end()) group.erase(it);
    if (held_.count(key) && !Wanted().count(key)) Discard(TakeHeld(key));
}

void THttpClient::Refetch(const std::string& url) {
    if (TTransferPtr t = TakeHeld(KeyOf(url))) Discard(std::move(t));
}
