#include "download/HttpClient.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string_view>
#include <thread>
#include <unordered_set>

#include "download/wf_Download.h"
#include "text/Blanks.h"
#include "text/UrlBytes.h"

namespace {

constexpr const char* StoppedMessage = "Download stopped before the page arrived";
// Pages that arrived ahead of their turn take at most this much memory together.
constexpr std::size_t MaxHeldBytes = 64u * 1024 * 1024;

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

}  // namespace

// One request: its easy handle, kept from request to request, and what has arrived.
struct THttpClient::TTransfer {
    CURL* Easy = nullptr;
    long MaxPageBytes = 0;
    std::string Url;
    std::string Body;
    std::string StatusLine;
    std::string Location;
    long RetryAfter = -1;  // seconds, from a Retry-After header; -1: none
    long Status = 0;
    bool OutOfMemory = false;
    bool TooLarge = false;
    bool Added = false;  // to the multi handle
    bool Done = false;
    std::string Error;  // once Done: empty on success
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
        Body.clear();
        StatusLine.clear();
        Location.clear();
        RetryAfter = -1;
        Status = 0;
        OutOfMemory = TooLarge = Done = false;
        Error.clear();
        ErrorBuffer[0] = '\0';
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* self) {
        auto* t = static_cast<TTransfer*>(self);
        t->LastData = TClock::now();
        // A page without Content-Length (or with a false one) is measured as it comes.
        if (t->MaxPageBytes > 0 &&
            t->Body.size() + size * count > static_cast<size_t>(t->MaxPageBytes)) {
            t->TooLarge = true;
            return 0;
        }
        try {
            t->Body.append(data, size * count);
        } catch (...) {
            t->OutOfMemory = true;
            return 0;  // makes libcurl abort the transfer
        }
        return size * count;
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
        auto* t = static_cast<TTransfer*>(self);
        t->LastData = TClock::now();
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
            // Only the number of seconds is understood; a date counts as no answer.
            if (name == "retry-after:") {
                const std::string_view value = TrimBlanks(line.substr(12));
                long seconds = 0;
                const auto r = std::from_chars(value.data(), value.data() + value.size(), seconds);
                if (!value.empty() && r.ec == std::errc() && r.ptr == value.data() + value.size() &&
                    seconds >= 0)
                    t->RetryAfter = seconds;
            }
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
}

THttpClient::~THttpClient() {
    for (auto& [url, transfer] : held_)
        if (transfer->Added) curl_multi_remove_handle(multi_, transfer->Easy);
    held_.clear();
    spare_.clear();
    curl_multi_cleanup(multi_);
}

std::size_t THttpClient::MaxHeld() const {
    return FetchesAhead() ? 4 * maxInFlight_ : 0;
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
    SetOpt(easy, CURLOPT_WRITEFUNCTION, &TTransfer::OnBody);
    SetOpt(easy, CURLOPT_WRITEDATA, static_cast<void*>(&transfer));
    SetOpt(easy, CURLOPT_HEADERFUNCTION, &TTransfer::OnHeader);
    SetOpt(easy, CURLOPT_HEADERDATA, static_cast<void*>(&transfer));
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

THttpClient::TTransferPtr THttpClient::Start(const std::string& url) {
    TTransferPtr t;
    if (!spare_.empty()) {
        t = std::move(spare_.back());
        spare_.pop_back();
    } else {
        t = std::make_unique<TTransfer>();
        t->Easy = curl_easy_init();
        if (!t->Easy) throw EDownloadError("Cannot create the HTTP client");
        ConfigureEasy(t->Easy, *t);
    }
    t->Reset(url);
    // Pages write addresses with blanks and bytes of their own character set; those go
    // out percent-encoded, as a browser sends them.
    curl_easy_setopt(t->Easy, CURLOPT_URL, EncodeUrlBytes(url).c_str());
    if (curl_multi_add_handle(multi_, t->Easy) != CURLM_OK) {
        t->Done = true;
        t->Error = "Cannot start the request";
        return t;
    }
    t->Added = true;
    t->LastData = TClock::now();
    return t;
}

void THttpClient::Recycle(TTransferPtr t) {
    if (!t) return;
    if (t->Added) curl_multi_remove_handle(multi_, t->Easy);  // abandons one under way
    t->Added = false;
    // A refused page of many megabytes is not kept for nothing.
    if (t->Body.capacity() > (1u << 20)) std::string().swap(t->Body);
    t->Body.clear();
    if (spare_.size() <= maxInFlight_) spare_.push_back(std::move(t));
}

std::string THttpClient::TooLargeMessage() const {
    return "The page is larger than " + std::to_string(settings_.MaxPageBytes) +
           " bytes, the limit set by MaxPageSize";
}

std::size_t THttpClient::InFlight() const {
    std::size_t n = current_ && !current_->Done ? 1 : 0;
    for (const auto& [url, t] : held_) n += t->Done ? 0 : 1;
    return n;
}

long THttpClient::Progress() {
    int running = 0;
    const CURLMcode mc = curl_multi_perform(multi_, &running);
    if (mc != CURLM_OK) throw EDownloadError(curl_multi_strerror(mc));

    int pending = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &pending)) {
        if (msg->msg != CURLMSG_DONE) continue;
        TTransfer* t = nullptr;
        curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, reinterpret_cast<char**>(&t));
        if (!t || t->Done) continue;
        const CURLcode result = msg->data.result;
        curl_easy_getinfo(t->Easy, CURLINFO_RESPONSE_CODE, &t->Status);
        // The connection goes back to the cache, for the next request to the host.
        curl_multi_remove_handle(multi_, t->Easy);
        t->Added = false;
        t->Done = true;
        if (t->OutOfMemory) {
            t->Error = "Out of memory while receiving the page";
        } else if (t->TooLarge || result == CURLE_FILESIZE_EXCEEDED) {
            t->Error = TooLargeMessage();
        } else if (result != CURLE_OK) {
            t->Error = t->ErrorBuffer[0] ? std::string(t->ErrorBuffer) : curl_easy_strerror(result);
        } else if (t->Status < 200 || t->Status >= 300) {
            t->Error =
                t->StatusLine.empty() ? "HTTP status " + std::to_string(t->Status) : t->StatusLine;
            if (t->Status >= 300 && t->Status < 400 && !t->Location.empty())
                t->Error += " (redirect to " + t->Location + ")";
        }
    }

    // Data that arrived while the caller was busy was read just now, so time spent
    // elsewhere (a dialog, a commit) does not count as a server's silence.
    long waitMs = IdleMs;
    if (settings_.ReadTimeoutMs <= 0) return waitMs;
    const auto now = TClock::now();
    auto check = [&](TTransfer& t) {
        if (t.Done) return;
        const long silent =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - t.LastData).count();
        if (silent < settings_.ReadTimeoutMs) {
            waitMs = std::min(waitMs, settings_.ReadTimeoutMs - silent);
            return;
        }
        curl_multi_remove_handle(multi_, t.Easy);
        t.Added = false;
        t.Done = true;
        t.Error = "Read timed out: no data for " + std::to_string(settings_.ReadTimeoutMs) + " ms";
        curl_easy_getinfo(t.Easy, CURLINFO_RESPONSE_CODE, &t.Status);
    };
    if (current_) check(*current_);
    for (auto& [url, t] : held_) check(*t);
    return waitMs;
}

TFetchResult THttpClient::Drive(TTransfer& transfer, const TIdle& idle) {
    TClock::time_point lastIdle = TClock::now();
    for (;;) {
        long waitMs = 0;
        try {
            waitMs = Progress();
        } catch (const EDownloadError& e) {
            return TFetchResult::Failed(e.what());
        }
        if (transfer.Done)
            return transfer.Error.empty() ? TFetchResult::Page()
                                          : TFetchResult::Failed(transfer.Error);
        TopUp();  // a connection that came free takes the next page wanted
        auto now = TClock::now();
        if (now - lastIdle >= std::chrono::milliseconds(IdleMs)) {
            if (!idle()) return TFetchResult::Stopped(StoppedMessage);
            lastIdle = now = TClock::now();
        }
        const long sinceIdle =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - lastIdle).count();
        waitMs = std::max(1L, std::min(waitMs, IdleMs - sinceIdle));
        const CURLMcode mc = curl_multi_poll(multi_, nullptr, 0, static_cast<int>(waitMs), nullptr);
        if (mc != CURLM_OK) return TFetchResult::Failed(curl_multi_strerror(mc));
    }
}

TFetchResult THttpClient::Fetch(const std::string& url, std::string& page, const TIdle& idle) {
    page.clear();
    const std::string host = HostOf(url);
    for (int attempt = 0;; ++attempt) {
        if (settings_.DelayMs > 0) {
            const auto last = lastRequest_.find(host);
            if (last != lastRequest_.end() &&
                !Wait(last->second + std::chrono::milliseconds(settings_.DelayMs), idle))
                return TFetchResult::Stopped(StoppedMessage);
        }
        lastRequest_[host] = TClock::now();
        fetched_.insert(url);

        TTransferPtr transfer;
        if (attempt == 0) {
            transfer = TakeHeld(url);
            Forget(url);
        }
        if (!transfer) {
            // The page wanted now goes first: a transfer fetching ahead makes way.
            if (InFlight() >= maxInFlight_) {
                auto victim = std::find_if(held_.begin(), held_.end(),
                                           [](const auto& h) { return !h.second->Done; });
                if (victim != held_.end()) {
                    Recycle(std::move(victim->second));
                    held_.erase(victim);
                }
            }
            transfer = Start(url);
        }

        struct TCurrent {
            THttpClient& client;
            TTransferPtr& transfer;
            ~TCurrent() {
                client.current_ = nullptr;
                client.Recycle(std::move(transfer));
            }
        } current{*this, transfer};
        current_ = transfer.get();
        TFetchResult result = Drive(*transfer, idle);
        if (result.Arrived()) page.swap(transfer->Body);
        if (result.Kind() != TFetchResult::TKind::Failed) return result;
        const long status = transfer->Status;
        const long retryAfter = transfer->RetryAfter;
        if ((status != 429 && status != 503) || retryAfter < 0) return result;
        if (retryAfter > MaxRetryAfterSeconds || attempt > 0) {
            return TFetchResult::Failed(
                result.Message() + " (asked to come back after " + std::to_string(retryAfter) +
                " s" + (attempt > 0 ? ", a second time)" : ", longer than this program waits)"));
        }
        if (!Wait(TClock::now() + std::chrono::seconds(retryAfter), idle))
            return TFetchResult::Stopped(StoppedMessage);
    }
}

THttpClient::TTransferPtr THttpClient::TakeHeld(const std::string& url) {
    const auto it = held_.find(url);
    if (it == held_.end()) return nullptr;
    TTransferPtr t = std::move(it->second);
    held_.erase(it);
    return t;
}

void THttpClient::Forget(const std::string& url) {
    for (auto group = groups_.rbegin(); group != groups_.rend(); ++group) {
        const auto it = std::find(group->begin(), group->end(), url);
        if (it != group->end()) {
            group->erase(it);
            return;
        }
    }
}

void THttpClient::TopUp() {
    if (!FetchesAhead()) return;
    // The pages wanted next, nearest first, as far as pages may be held.
    std::vector<const std::string*> window;
    std::unordered_map<std::string_view, std::size_t> rank;
    for (auto group = groups_.rbegin(); group != groups_.rend() && window.size() < MaxHeld();
         ++group) {
        for (const std::string& url : *group) {
            if (window.size() >= MaxHeld()) break;
            // A page already fetched in this run is wanted again only when a link leads
            // back to the start, and is then fetched at its turn.
            if (fetched_.count(url)) continue;
            rank.emplace(url, window.size());
            window.push_back(&url);
        }
    }
    std::size_t heldBytes = 0;
    for (const auto& [url, t] : held_) heldBytes += t->Body.size();

    for (std::size_t i = 0; i < window.size(); ++i) {
        const std::string& url = *window[i];
        if (held_.count(url) || (current_ && current_->Url == url)) continue;
        if (InFlight() >= maxInFlight_ || heldBytes > MaxHeldBytes) break;
        if (held_.size() >= MaxHeld()) {
            // Make way by dropping the page held that is wanted last, if it is wanted
            // after this one (or not at all any more).
            auto last = held_.end();
            std::size_t lastRank = 0;
            for (auto it = held_.begin(); it != held_.end(); ++it) {
                const auto r = rank.find(it->first);
                const std::size_t itRank = r == rank.end() ? window.size() : r->second;
                if (last == held_.end() || itRank > lastRank) {
                    last = it;
                    lastRank = itRank;
                }
            }
            if (last == held_.end() || lastRank <= i) break;
            heldBytes -= std::min(heldBytes, last->second->Body.size());
            Recycle(std::move(last->second));
            held_.erase(last);
        }
        held_.emplace(url, Start(url));
    }
}

void THttpClient::Pump() {
    if (!FetchesAhead()) return;
    try {
        Progress();
        TopUp();
        Progress();  // sends the requests just started
    } catch (const EDownloadError&) {
        // The page's own Fetch meets the same trouble and reports it.
    }
}

void THttpClient::BeginAhead() {
    groups_.emplace_back();
}

std::unordered_set<std::string_view> THttpClient::WantedSoon() const {
    std::unordered_set<std::string_view> soon;
    for (auto group = groups_.rbegin(); group != groups_.rend() && soon.size() < MaxHeld(); ++group)
        for (auto url = group->begin(); url != group->end() && soon.size() < MaxHeld(); ++url)
            if (!fetched_.count(*url)) soon.insert(*url);
    return soon;
}

void THttpClient::EndAhead() {
    if (groups_.empty()) return;
    const std::deque<std::string> ended = std::move(groups_.back());
    groups_.pop_back();
    if (ended.empty() || held_.empty()) return;
    // What is left of the group will not be asked for. A page the older groups want
    // soon is kept; one they want later is only fetched again.
    const auto soon = WantedSoon();
    for (const std::string& url : ended) {
        if (soon.count(url)) continue;
        if (TTransferPtr t = TakeHeld(url)) Recycle(std::move(t));
    }
}

void THttpClient::FetchAhead(const std::string& url) {
    if (!FetchesAhead()) return;
    if (groups_.empty()) groups_.emplace_back();
    groups_.back().push_back(url);
    if (InFlight() < maxInFlight_ && held_.size() < MaxHeld()) Pump();
}

void THttpClient::SetAhead(const std::vector<std::string>& urls) {
    if (!FetchesAhead()) return;
    if (groups_.empty()) groups_.emplace_back();
    groups_.back().assign(urls.begin(), urls.end());
    Pump();
}

void THttpClient::DropAhead(const std::string& url) {
    if (!FetchesAhead() || groups_.empty()) return;
    auto& group = groups_.back();
    const auto it = std::find(group.begin(), group.end(), url);
    if (it != group.end()) group.erase(it);
    if (held_.count(url) && !WantedSoon().count(url)) Recycle(TakeHeld(url));
}
