#include "download/wf_Download.h"

#include <curl/curl.h>
#include <string.h>

#include <mutex>

#include "config/AuxProj.h"
#include "download/HttpClient.h"
#include "download/wf_AlphaBeds.h"
#include "download/wf_Article.h"
#include "download/wf_EzTrip.h"
#include "download/wf_Feed.h"
#include "text/Blanks.h"
#include "text/SafeText.h"

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
    DoLinkHref(first, title, pageUrl, href, UrlBaseNameView(href), order, handle);
}

void TDownload::DoLinkHref(bool first, std::string_view title, const std::string& pageUrl,
                           std::string_view href, std::string_view origId, int order,
                           TDownloadHandle& handle) {
    if (!OnLink) return;
    // The buffers keep their capacity from link to link: a page with a hundred
    // thousand links then costs no allocation per link.
    linkTitle_.assign(title);
    AssignAbsoluteUrl(pageUrl, href, linkUrl_);
    linkOrigId_.assign(origId);
    OnLink(first, linkTitle_, linkUrl_, linkOrigId_, order, handle);
}

// ---------------------------------------------------------------------------------
// THttpDownload

namespace {

void CurlGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

THttpDownload::THttpDownload() = default;

THttpDownload::~THttpDownload() {
    Close();
}

void THttpDownload::Open() {
    TDownload::Open();
    CurlGlobalInit();
    THttpSettings s;
    s.ProxyHost = GetIniText("Download", "Proxy.Host", "");
    s.ProxyPort = GetIniNumber("Download", "Proxy.Port", 0);
    s.ProxyUser = GetIniText("Download", "Proxy.UserName", "");
    s.ProxyPassword = GetIniText("Download", "Proxy.Password", "");
    s.ProxyAuth = GetIniFlag("Download", "Proxy.Auth", false);
    s.ReadTimeoutMs = std::max(0, GetIniNumber("Download", "ReadTimeout", 0));
    s.DelayMs = std::max(0, GetIniNumber("Download", "Delay", 0));
    s.UserAgent =
        GetIniText("Download", "UserAgent", std::string("Wayfolio/") + WF_PROJECT_VERSION);
    s.MaxPageBytes =
        std::max(0, GetIniNumber("Download", "MaxPageSize", static_cast<int>(DefaultMaxPageSize)));
    s.Connections = GetIniNumber("Download", "Connections", DefaultConnections);
    HttpClient = std::make_unique<THttpClient>(std::move(s));
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
    const TFetchResult result = HttpClient->Fetch(url, stream, [this] { return DoIdle(); });
    if (result.Arrived()) return true;
    const std::string error = SafeLogText(result.Message());
    stream.clear();
    stream.shrink_to_fit();  // a refused page of many megabytes is not kept for nothing
    if (RaiseErrors) throw EDownloadError(error);
    DoLog(error);
    return false;
}

void THttpDownload::BeginAhead() {
    if (HttpClient) HttpClient->BeginAhead();
}

void THttpDownload::EndAhead() {
    if (HttpClient) HttpClient->EndAhead();
}

void THttpDownload::FetchAhead(const std::string& url) {
    if (HttpClient) HttpClient->FetchAhead(url);
}

void THttpDownload::SetAhead(const std::vector<std::string>& urls) {
    if (HttpClient) HttpClient->SetAhead(urls);
}

void THttpDownload::DropAhead(const std::string& url) {
    if (HttpClient) HttpClient->DropAhead(url);
}

void THttpDownload::Pump() {
    if (HttpClient) HttpClient->Pump();
}

bool THttpDownload::FetchesAhead() const {
    return HttpClient && HttpClient->FetchesAhead();
}

void THttpDownload::Refetch(const std::string& url) {
    if (HttpClient) HttpClient->Refetch(url);
}

void THttpDownload::StopAhead() {
    if (HttpClient) HttpClient->StopAhead();
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
    std::string_view Description;  // one line, for whoever lets a user pick a reader
};

constexpr TDownloadClassEntry DownloadClasses[] = {
    {"ALPHABEDS", &MakeDownload<TAlphaBedsDownload>, "AlphaBeds travel guide pages"},
    {"EZTRIP", &MakeDownload<TEzTripDownload>, "EzTrip destination guide pages"},
    {"ARTICLE", &MakeDownload<TArticleDownload>,
     "Any web page: its main text, and the links in it to pages under the guide's folder"},
    {"FEED", &MakeDownload<TFeedDownload>,
     "An RSS or Atom feed: its items' pages, newest first, each read as an article"},
};

}  // namespace

std::vector<TCompiledReader> CompiledReaders() {
    std::vector<TCompiledReader> out;
    for (const auto& entry : DownloadClasses)
        out.push_back({std::string(entry.GuideType), std::string(entry.Description)});
    return out;
}

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
