#include "download/wf_Download.h"

#include <curl/curl.h>
#include <string.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "config/AuxProj.h"
#include "download/WebAddress.h"
#include "download/wf_AlphaBeds.h"
#include "download/wf_EzTrip.h"

namespace {

// Markers are short and their first byte is rare enough in page text that memchr
// to a candidate plus one memcmp beats a general substring search, whose set-up per
// call dominates when a page is cut into hundreds of thousands of small pieces.
// Longer needles (a page's own name, taken from an address) go to memmem, which stays
// linear however the text repeats the needle's first byte.
std::size_t FindBytes(std::string_view text, std::string_view what) {
    const std::size_t n = what.size();
    if (n == 0 || n > text.size()) return std::string_view::npos;
    if (n > 32) {
        const void* hit = memmem(text.data(), text.size(), what.data(), n);
        return hit ? static_cast<const char*>(hit) - text.data() : std::string_view::npos;
    }
    const char* const begin = text.data();
    const char* const last = begin + (text.size() - n);  // last possible start
    const char* p = begin;
    while (p <= last) {
        p = static_cast<const char*>(memchr(p, what[0], last - p + 1));
        if (!p) break;
        if (memcmp(p + 1, what.data() + 1, n - 1) == 0) return p - begin;
        ++p;
    }
    return std::string_view::npos;
}

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

}  // namespace

// ---------------------------------------------------------------------------------
// Scanning routines

std::string_view CutBetween(std::string_view& text, std::string_view startMarker,
                            std::string_view endMarker) {
    const std::size_t start = FindBytes(text, startMarker);
    if (start == std::string_view::npos) {
        text = {};
        return {};
    }
    text.remove_prefix(start + startMarker.size());
    const std::size_t end = FindBytes(text, endMarker);
    if (end == std::string_view::npos) {
        text = {};
        return {};
    }
    const std::string_view part = text.substr(0, end);
    text.remove_prefix(end + endMarker.size());
    return part;
}

bool HasMarkers(std::string_view text, std::string_view startMarker, std::string_view endMarker) {
    if (startMarker.empty() || endMarker.empty()) return false;
    const std::size_t start = text.find(startMarker);
    return start != std::string_view::npos &&
           text.find(endMarker, start + startMarker.size()) != std::string_view::npos;
}

std::string CutBetween(std::string& text, std::string_view startMarker,
                       std::string_view endMarker) {
    std::string_view view = text;
    std::string part(CutBetween(view, startMarker, endMarker));
    text = std::string(view);
    return part;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

namespace {

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Like FindBytes, with the letters A to Z of text matching the lower-case letters of
// what; the first byte of what must not be a letter.
std::size_t FindBytesLowered(std::string_view text, std::string_view what) {
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t hit = FindBytes(text.substr(from), what.substr(0, 1));
        if (hit == std::string_view::npos) break;
        const std::size_t at = from + hit;
        if (text.size() - at < what.size()) break;
        std::size_t i = 1;
        while (i < what.size() && LowerAscii(text[at + i]) == what[i]) ++i;
        if (i == what.size()) return at;
        from = at + 1;
    }
    return std::string_view::npos;
}

}  // namespace

std::string FindCharset(std::string_view html, std::string_view def) {
    // The declaration is looked for in a lower-cased copy of the page. Lower-casing
    // keeps every byte in place, so the head can be found in the page itself and only
    // the head needs copying, not a page of many megabytes.
    const std::size_t headStart = FindBytesLowered(html, "<head>");
    if (headStart == std::string_view::npos) return std::string(def);
    html.remove_prefix(headStart + 6);
    const std::size_t headEnd = FindBytesLowered(html, "</head>");
    if (headEnd == std::string_view::npos) return std::string(def);
    std::string head(html.substr(0, headEnd));
    for (char& c : head) c = LowerAscii(c);

    std::string_view text = head;
    std::string_view meta = CutBetween(text, "<meta http-equiv=\"content-type\"", ">");
    std::string_view name = CutBetween(meta, "charset=", "\"");
    return std::string(name.empty() ? def : name);
}

namespace {

// MakeAbsoluteUrl into a caller's buffer, which keeps its capacity between calls.
void AssignAbsoluteUrl(std::string_view pageUrl, std::string_view href, std::string& url) {
    const std::string_view result = TrimBlanks(href);
    std::size_t cut = std::string_view::npos;
    if (FindBytes(result, "://") != std::string_view::npos) {
        // Already absolute.
    } else if (result.find('/') == std::string_view::npos) {
        // A bare file name lives in the page's folder.
        cut = pageUrl.rfind('/');
    } else {
        // Anything else with a "/" is taken from the root of the page's host.
        const std::size_t scheme = FindBytes(pageUrl, "://");
        if (scheme != std::string_view::npos) cut = pageUrl.find('/', scheme + 3);
    }
    if (cut == std::string_view::npos) {
        url.assign(result);
    } else {
        url.assign(pageUrl.substr(0, cut + 1));
        url.append(result);
    }
}

}  // namespace

std::string MakeAbsoluteUrl(std::string_view pageUrl, std::string_view href) {
    std::string url;
    AssignAbsoluteUrl(pageUrl, href, url);
    return url;
}

namespace {

std::string_view UrlBaseNameView(std::string_view url) {
    const std::size_t slash = url.rfind('/');
    if (slash != std::string_view::npos) url.remove_prefix(slash + 1);
    return url.substr(0, url.find('.'));
}

}  // namespace

std::string UrlBaseName(std::string_view url) {
    return std::string(UrlBaseNameView(url));
}

// ---------------------------------------------------------------------------------
// TDownload

void TDownload::DoLog(const std::string& msg) {
    if (OnLog) OnLog(msg);
}

void TDownload::DoContent(const std::string& title, const std::string& body,
                          const std::string& head, const std::string& encoding,
                          const std::string& url, const std::string& origId,
                          TDownloadHandle& handle) {
    if (OnContent) OnContent(title, body, head, encoding, url, origId, handle);
}

void TDownload::DoLink(bool first, const std::string& title, const std::string& url,
                       const std::string& origId, int order, TDownloadHandle& handle) {
    if (OnLink) OnLink(first, title, url, origId, order, handle);
}

bool TDownload::DoIdle() {
    return !OnIdle || OnIdle();
}

void TDownload::DoLinkHref(bool first, std::string_view title, const std::string& pageUrl,
                           std::string_view href, int order, TDownloadHandle& handle) {
    if (!OnLink) return;
    // The buffers keep their capacity from link to link: a page with a hundred
    // thousand links then costs no allocation per link.
    linkTitle_.assign(title);
    AssignAbsoluteUrl(pageUrl, href, linkUrl_);
    linkOrigId_.assign(UrlBaseNameView(href));
    OnLink(first, linkTitle_, linkUrl_, linkOrigId_, order, handle);
}

// ---------------------------------------------------------------------------------
// THttpDownload

namespace {

void CurlGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

template <typename T>
void SetOpt(CURL* easy, CURLoption option, T value) {
    const CURLcode rc = curl_easy_setopt(easy, option, value);
    if (rc != CURLE_OK) {
        throw EDownloadError(std::string("Cannot configure the HTTP client: ") +
                             curl_easy_strerror(rc));
    }
}

}  // namespace

// One easy handle driven through a multi handle: the multi interface lets the fetch
// loop wake up often enough to enforce a read time-out in milliseconds, which
// libcurl's own low-speed limit (whole seconds) cannot, and to hand the host its turn
// while a page is on its way, so that a server that never answers cannot freeze it.
struct THttpDownload::THttpClient {
    using TClock = std::chrono::steady_clock;
    // How often the host gets its turn during a transfer: well within the 100 ms after
    // which a window feels stuck.
    static constexpr long IdleMs = 40;
    // The longest wait a server may ask for (Retry-After) before a page is asked again.
    static constexpr long MaxRetryAfterSeconds = 60;
    static constexpr const char* StoppedMessage = "Download stopped before the page arrived";

    CURL* Easy = nullptr;
    CURLM* Multi = nullptr;
    long ReadTimeoutMs = 0;
    long MaxPageBytes = 0;  // 0: no limit
    long DelayMs = 0;       // between two requests to the same host
    // When each host was last asked for a page, for DelayMs.
    std::map<std::string, TClock::time_point> LastRequest;
    char ErrorBuffer[CURL_ERROR_SIZE] = {};

    // State of the request in progress.
    std::string* Sink = nullptr;
    TClock::time_point LastData;
    std::string StatusLine;
    std::string Location;
    long RetryAfter = -1;  // seconds, from a Retry-After header; -1: none
    bool OutOfMemory = false;
    bool TooLarge = false;

    THttpClient() {
        Easy = curl_easy_init();
        Multi = curl_multi_init();
        if (!Easy || !Multi) {
            Free();
            throw EDownloadError("Cannot create the HTTP client");
        }
    }
    ~THttpClient() { Free(); }
    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    void Free() {
        if (Multi) curl_multi_cleanup(Multi);
        if (Easy) curl_easy_cleanup(Easy);
        Multi = nullptr;
        Easy = nullptr;
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* self) {
        auto* client = static_cast<THttpClient*>(self);
        client->LastData = TClock::now();
        // A page without Content-Length (or with a false one) is measured as it comes.
        if (client->MaxPageBytes > 0 &&
            client->Sink->size() + size * count > static_cast<size_t>(client->MaxPageBytes)) {
            client->TooLarge = true;
            return 0;
        }
        try {
            client->Sink->append(data, size * count);
        } catch (...) {
            client->OutOfMemory = true;
            return 0;  // makes libcurl abort the transfer
        }
        return size * count;
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
        auto* client = static_cast<THttpClient*>(self);
        client->LastData = TClock::now();
        const std::string_view line = TrimBlanks(std::string_view(data, size * count));
        // A proxy's CONNECT answer comes first; the last status line is the server's.
        if (line.substr(0, 5) == "HTTP/") {
            client->StatusLine.assign(line);
            client->Location.clear();
            client->RetryAfter = -1;
        } else if (line.size() > 9) {
            std::string name(line.substr(0, std::min<size_t>(line.size(), 12)));
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return std::tolower(c); });
            if (name.compare(0, 9, "location:") == 0)
                client->Location.assign(TrimBlanks(line.substr(9)));
            // Only the number of seconds is understood; a date counts as no answer.
            if (name == "retry-after:") {
                const std::string_view value = TrimBlanks(line.substr(12));
                long seconds = 0;
                const auto r = std::from_chars(value.data(), value.data() + value.size(), seconds);
                if (!value.empty() && r.ec == std::errc() && r.ptr == value.data() + value.size() &&
                    seconds >= 0)
                    client->RetryAfter = seconds;
            }
        }
        return size * count;
    }

    // Waits until Until, giving owner's OnIdle its turn; false when OnIdle said stop.
    static bool Wait(TClock::time_point until, TDownload& owner) {
        for (;;) {
            const auto now = TClock::now();
            if (now >= until) return true;
            std::this_thread::sleep_for(
                std::min<TClock::duration>(until - now, std::chrono::milliseconds(IdleMs)));
            if (!owner.DoIdle()) return false;
        }
    }

    static std::string HostOf(const std::string& url) {
        const size_t scheme = url.find("://");
        const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
        return url.substr(start, url.find_first_of("/?#", start) - start);
    }

    // One GET as Get runs it, after the politeness delay for the page's host; a 429 or
    // 503 answer that asks to come back within a minute is asked again once, after
    // that wait.
    std::string Fetch(const std::string& url, std::string& sink, TDownload& owner) {
        const std::string host = HostOf(url);
        for (int attempt = 0;; ++attempt) {
            if (DelayMs > 0) {
                const auto last = LastRequest.find(host);
                if (last != LastRequest.end() &&
                    !Wait(last->second + std::chrono::milliseconds(DelayMs), owner))
                    return StoppedMessage;
            }
            LastRequest[host] = TClock::now();
            sink.clear();
            std::string error = Get(url, sink, owner);
            long status = 0;
            curl_easy_getinfo(Easy, CURLINFO_RESPONSE_CODE, &status);
            if (error.empty() || (status != 429 && status != 503) || RetryAfter < 0) return error;
            if (RetryAfter > MaxRetryAfterSeconds || attempt > 0) {
                return error + " (asked to come back after " + std::to_string(RetryAfter) + " s" +
                       (attempt > 0 ? ", a second time)" : ", longer than this program waits)");
            }
            if (!Wait(TClock::now() + std::chrono::seconds(RetryAfter), owner))
                return StoppedMessage;
        }
    }

    std::string TooLargeMessage() const {
        return "The page is larger than " + std::to_string(MaxPageBytes) +
               " bytes, the limit set by MaxPageSize";
    }

    // Runs one GET into sink, giving owner's OnIdle its turn while it waits; returns
    // the error's message, empty on success. The message may quote the server.
    std::string Get(const std::string& url, std::string& sink, TDownload& owner) {
        Sink = &sink;
        StatusLine.clear();
        Location.clear();
        OutOfMemory = false;
        TooLarge = false;
        RetryAfter = -1;
        ErrorBuffer[0] = '\0';
        // Pages write addresses with blanks and bytes of their own character set;
        // those go out percent-encoded, as a browser sends them.
        curl_easy_setopt(Easy, CURLOPT_URL, EncodeUrlBytes(url).c_str());

        if (curl_multi_add_handle(Multi, Easy) != CURLM_OK) return "Cannot start the request";
        struct TRemove {
            THttpClient* c;
            ~TRemove() { curl_multi_remove_handle(c->Multi, c->Easy); }
        } remove{this};

        LastData = TClock::now();
        TClock::time_point lastIdle = LastData;
        for (;;) {
            int running = 0;
            CURLMcode mc = curl_multi_perform(Multi, &running);
            if (mc != CURLM_OK) return curl_multi_strerror(mc);
            if (running == 0) break;
            // Data that arrived while the host had its turn was read just now, so time
            // the host spent (a dialog, say) does not count as the server's silence.
            auto now = TClock::now();
            long waitMs = IdleMs;
            if (ReadTimeoutMs > 0) {
                const long silent =
                    std::chrono::duration_cast<std::chrono::milliseconds>(now - LastData).count();
                if (silent >= ReadTimeoutMs) {
                    return "Read timed out: no data for " + std::to_string(ReadTimeoutMs) + " ms";
                }
                waitMs = std::min(waitMs, ReadTimeoutMs - silent);
            }
            if (now - lastIdle >= std::chrono::milliseconds(IdleMs)) {
                if (!owner.DoIdle()) return StoppedMessage;
                lastIdle = now = TClock::now();
            }
            const long sinceIdle =
                std::chrono::duration_cast<std::chrono::milliseconds>(now - lastIdle).count();
            waitMs = std::max(1L, std::min(waitMs, IdleMs - sinceIdle));
            mc = curl_multi_poll(Multi, nullptr, 0, static_cast<int>(waitMs), nullptr);
            if (mc != CURLM_OK) return curl_multi_strerror(mc);
        }

        CURLcode result = CURLE_OK;
        int pending = 0;
        while (CURLMsg* msg = curl_multi_info_read(Multi, &pending)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == Easy) result = msg->data.result;
        }
        if (OutOfMemory) return "Out of memory while receiving the page";
        if (TooLarge || result == CURLE_FILESIZE_EXCEEDED) return TooLargeMessage();
        if (result != CURLE_OK) {
            return ErrorBuffer[0] ? std::string(ErrorBuffer) : curl_easy_strerror(result);
        }
        long status = 0;
        curl_easy_getinfo(Easy, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 200 && status < 300) return {};
        std::string message =
            StatusLine.empty() ? "HTTP status " + std::to_string(status) : StatusLine;
        if (status >= 300 && status < 400 && !Location.empty()) {
            message += " (redirect to " + Location + ")";
        }
        return message;
    }
};

THttpDownload::THttpDownload() = default;

THttpDownload::~THttpDownload() {
    Close();
}

void THttpDownload::Open() {
    TDownload::Open();
    CurlGlobalInit();
    auto client = std::make_unique<THttpClient>();
    CURL* easy = client->Easy;

    const std::string proxyHost = GetIniText("Download", "Proxy.Host", "");
    const int proxyPort = GetIniNumber("Download", "Proxy.Port", 0);
    const std::string proxyUser = GetIniText("Download", "Proxy.UserName", "");
    const std::string proxyPassword = GetIniText("Download", "Proxy.Password", "");
    const bool proxyAuth = GetIniFlag("Download", "Proxy.Auth", false);
    client->ReadTimeoutMs = std::max(0, GetIniNumber("Download", "ReadTimeout", 0));
    client->DelayMs = std::max(0, GetIniNumber("Download", "Delay", 0));
    const std::string userAgent =
        GetIniText("Download", "UserAgent", std::string("Wayfolio/") + WF_PROJECT_VERSION);
    client->MaxPageBytes =
        std::max(0, GetIniNumber("Download", "MaxPageSize", static_cast<int>(DefaultMaxPageSize)));

    SetOpt(easy, CURLOPT_NOSIGNAL, 1L);
    SetOpt(easy, CURLOPT_ERRORBUFFER, client->ErrorBuffer);
    SetOpt(easy, CURLOPT_HTTPGET, 1L);
    SetOpt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    SetOpt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    SetOpt(easy, CURLOPT_BUFFERSIZE, 32768L);
    SetOpt(easy, CURLOPT_USERAGENT, userAgent.c_str());
    SetOpt(easy, CURLOPT_WRITEFUNCTION, &THttpClient::OnBody);
    SetOpt(easy, CURLOPT_WRITEDATA, static_cast<void*>(client.get()));
    SetOpt(easy, CURLOPT_HEADERFUNCTION, &THttpClient::OnHeader);
    SetOpt(easy, CURLOPT_HEADERDATA, static_cast<void*>(client.get()));
    // A page that announces its size is refused before its body is read.
    if (client->MaxPageBytes > 0)
        SetOpt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(client->MaxPageBytes));
    // An empty proxy also overrides http_proxy and friends from the environment: the
    // settings file alone decides. An empty no-proxy list likewise stops NO_PROXY from
    // exempting hosts.
    SetOpt(easy, CURLOPT_PROXY, proxyHost.c_str());
    SetOpt(easy, CURLOPT_NOPROXY, "");
    if (!proxyHost.empty()) {
        SetOpt(easy, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
        if (proxyPort > 0) SetOpt(easy, CURLOPT_PROXYPORT, static_cast<long>(proxyPort));
        if (proxyAuth) {
            SetOpt(easy, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
            SetOpt(easy, CURLOPT_PROXYUSERNAME, proxyUser.c_str());
            SetOpt(easy, CURLOPT_PROXYPASSWORD, proxyPassword.c_str());
        }
    }
    HttpClient = std::move(client);
}

void THttpDownload::Close() {
    HttpClient.reset();
    TDownload::Close();
}

bool THttpDownload::Fetch(const std::string& url, std::string& stream) {
    if (!HttpClient) throw std::logic_error("The download reader is not open");
    DoLog("Downloading \"" + SafeLogText(url) + "\"");
    stream.clear();
    // Status lines, redirect addresses and transport messages come from the server and
    // may carry bytes that would drive a terminal.
    const std::string error = SafeLogText(HttpClient->Fetch(url, stream, *this));
    if (error.empty()) return true;
    stream.clear();
    stream.shrink_to_fit();  // a refused page of many megabytes is not kept for nothing
    if (RaiseErrors) throw EDownloadError(error);
    DoLog(error);
    return false;
}

// ---------------------------------------------------------------------------------
// Driving one document; choosing the reader

void RunDownload(TDownload& download, const std::string& url, TDownloadHandle& handle) {
    std::string html;
    if (!download.Fetch(url, html)) return;
    handle.LayoutKnown = download.KnowsLayout(url, html);
    download.ParseContent(url, html, handle);
    download.ParseLinks(true, url, html, handle);
    download.ParseLinks(false, url, html, handle);
}

namespace {

template <typename T>
std::unique_ptr<TDownload> MakeDownload() {
    return std::make_unique<T>();
}

struct TDownloadClassEntry {
    std::string_view GuideType;
    TDownloadClass Class;
};

constexpr TDownloadClassEntry DownloadClasses[] = {
    {"ALPHABEDS", &MakeDownload<TAlphaBedsDownload>},
    {"EZTRIP", &MakeDownload<TEzTripDownload>},
};

}  // namespace

TDownloadClass FindDownloadClass(std::string_view guideType) {
    for (const auto& entry : DownloadClasses) {
        if (entry.GuideType == guideType) return entry.Class;
    }
    return nullptr;
}

std::unique_ptr<TDownload> CreateDownload(std::string_view guideType) {
    const TDownloadClass cls = FindDownloadClass(guideType);
    return cls ? cls() : nullptr;
}
