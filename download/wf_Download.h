// Page readers: fetch one web page, cut the guide text out of it and report the
// links to its sub-pages through callbacks. Also the scanning routines the readers
// are built on.
//
// A reader's life: CreateDownload (by guide type), Open, then for each document
// assign the callbacks and call RunDownload, then Close. Everything runs on the
// caller's thread; a fetch lasts until the response is complete, the read time-out
// expires, the connection fails or OnIdle abandons it, and OnIdle gives the caller
// its turn meanwhile.
//
// All text is raw 8-bit bytes in std::string, never converted; the character set a
// page declares travels beside it as a separate value.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// ---------------------------------------------------------------------------------
// Scanning routines. They find fixed markers in raw page text, compare bytes exactly
// and never fail: a missing marker yields empty text.

// Cuts the text between the first StartMarker and the first EndMarker after it and
// consumes it: afterwards Text holds what follows the end marker. When either marker
// is missing (an empty marker counts as missing), Text becomes empty and the result
// is empty. So a loop that cuts items until Text is empty always ends.
//
// The string_view form only narrows the view and returns a view into the same
// buffer; readers use it so that a loop over a page never copies what remains.
std::string_view CutBetween(std::string_view& text, std::string_view startMarker,
                            std::string_view endMarker);
std::string CutBetween(std::string& text, std::string_view startMarker, std::string_view endMarker);

// Whether Text holds StartMarker and, after it, EndMarker: whether CutBetween finds
// its markers (what lies between them may be empty).
bool HasMarkers(std::string_view text, std::string_view startMarker, std::string_view endMarker);

// The character set the page declares in <head><meta http-equiv="content-type"
// ... charset=NAME"...>, letter case ignored, returned in lower case and not
// trimmed; Default when the page declares none in that exact form.
std::string FindCharset(std::string_view html, std::string_view def);

// Resolves a link's href: an href with "://" stays as it is; a bare file name is
// resolved against the page's folder; any other relative href against the root of
// the page's host (so "/x" gives "http://host//x"). "./", "../", queries and
// fragments get no special treatment. The href is trimmed first.
std::string MakeAbsoluteUrl(std::string_view pageUrl, std::string_view href);

// A page's identifier on its site: the text after the last "/", cut at its first ".".
std::string UrlBaseName(std::string_view url);

// ---------------------------------------------------------------------------------
// Per-document context of the host.

// A string that never holds more than N bytes; a longer value is cut to its first N.
template <std::size_t N>
class TFixedString {
public:
    TFixedString() = default;
    TFixedString(std::string_view value) : value_(value.substr(0, N)) {}
    TFixedString(const char* value) : TFixedString(std::string_view(value)) {}
    TFixedString(const std::string& value) : TFixedString(std::string_view(value)) {}
    operator const std::string&() const { return value_; }
    const std::string& str() const { return value_; }
    friend bool operator==(const TFixedString& a, std::string_view b) { return a.value_ == b; }
    friend bool operator!=(const TFixedString& a, std::string_view b) { return a.value_ != b; }

private:
    std::string value_;
};

// The host's context for one document. The readers never look into it; RunDownload
// hands the very object it was given to every content and link delivery of that
// document, so the host may derive from it to carry more.
class TDownloadHandle {
public:
    TDownloadHandle() = default;
    TDownloadHandle(int nodeId, int parentId, std::string_view guideType)
        : NodeId(nodeId), ParentId(parentId), GuideType(guideType) {}
    virtual ~TDownloadHandle() = default;

    int NodeId = 0;              // the document being downloaded
    int ParentId = 0;            // the node whose reload led here; 0 for the chosen node
    TFixedString<20> GuideType;  // the document's guide type, at most 20 bytes
    // Set by RunDownload once the page has arrived, before anything is delivered:
    // whether its reader recognised the page's layout (see TDownload::KnowsLayout).
    bool LayoutKnown = true;
    // The address of the top-level document (the guide) the document belongs to, when
    // the host knows it: readers that keep to a guide's own pages bound its links by
    // it. Empty: the document's own address stands in.
    std::string TopUrl;
};

// ---------------------------------------------------------------------------------
// Readers.

using TDownloadLogEvent = std::function<void(const std::string& msg)>;
using TDownloadContentEvent =
    std::function<void(const std::string& title, const std::string& body, const std::string& head,
                       const std::string& encoding, const std::string& url,
                       const std::string& origId, TDownloadHandle& handle)>;
// First true: the link is a child of the page itself; false: of the page's parent.
using TDownloadLinkEvent =
    std::function<void(bool first, const std::string& title, const std::string& url,
                       const std::string& origId, int order, TDownloadHandle& handle)>;
// Called again and again while a transfer is under way, at least every 50 ms, on the
// thread that fetches. It gives the host its turn (a window handles its user's input
// here); returning false abandons the transfer, which then fails like any other.
using TDownloadIdleEvent = std::function<bool()>;

class TDownload {
public:
    TDownload() = default;
    virtual ~TDownload() = default;
    TDownload(const TDownload&) = delete;
    TDownload& operator=(const TDownload&) = delete;

    // Unassigned callbacks are skipped silently; they may change between documents.
    TDownloadLogEvent OnLog;
    TDownloadContentEvent OnContent;
    TDownloadLinkEvent OnLink;
    TDownloadIdleEvent OnIdle;
    // When false (how the host leaves it), a failed request is logged through OnLog
    // and Fetch reports it by returning false; when true the error propagates.
    bool RaiseErrors = false;

    // Writes the resource at Url into Stream. Returns false when the request failed
    // and its message went to the log; Stream then holds nothing.
    virtual bool Fetch(const std::string& url, std::string& stream) = 0;
    // Delivers the page's content through DoContent exactly once.
    virtual void ParseContent(const std::string& url, const std::string& html,
                              TDownloadHandle& handle) = 0;
    // Delivers links through DoLink, passing First through unchanged.
    virtual void ParseLinks(bool first, const std::string& url, const std::string& html,
                            TDownloadHandle& handle) = 0;
    // Whether the page holds any of the markers the reader cuts its content or its
    // links by. A page without any is one whose site changed its layout: what the
    // reader delivers for it is empty, and no sign that the page has nothing.
    virtual bool KnowsLayout(const std::string& /*url*/, const std::string& /*html*/) const {
        return true;
    }
    // The identifier (ORIG_ID) this reader gives the page at Url when a link leads to
    // it; a guide created for Url is stored under it, so that links back find it.
    virtual std::string OrigIdOf(std::string_view url) const { return UrlBaseName(url); }
    // Run once before the first document and once after the last one.
    virtual void Open() {}
    virtual void Close() {}

    // What the host will ask for next, so that a reader may fetch it ahead while the
    // host stores the page before. Only hints: a reader may ignore them (these do), and
    // Fetch behaves the same whether a page was fetched ahead or not. The pages wanted
    // next form a stack of groups, the newest wanted first: a depth-first walk begins
    // a group for a document's children and ends it once they are walked.
    virtual void BeginAhead() {}
    virtual void EndAhead() {}
    // A page at the end of the newest group.
    virtual void FetchAhead(const std::string& /*url*/) {}
    // The newest group becomes exactly these pages, in this order.
    virtual void SetAhead(const std::vector<std::string>& /*urls*/) {}
    // A page of the newest group that will not be asked for after all.
    virtual void DropAhead(const std::string& /*url*/) {}
    // Lets transfers under way go on while the host is busy elsewhere.
    virtual void Pump() {}
    // Whether the hints above are used at all.
    virtual bool FetchesAhead() const { return false; }
    // Whatever was fetched ahead for Url is stale (its document was stored since):
    // the next Fetch of Url asks the server.
    virtual void Refetch(const std::string& /*url*/) {}
    // The run is stopping: nothing more is fetched ahead, and what is on its way is
    // abandoned.
    virtual void StopAhead() {}

    void DoLog(const std::string& msg);
    void DoContent(const std::string& title, const std::string& body, const std::string& head,
                   const std::string& encoding, const std::string& url, const std::string& origId,
                   TDownloadHandle& handle);
    void DoLink(bool first, const std::string& title, const std::string& url,
                const std::string& origId, int order, TDownloadHandle& handle);
    // OnIdle's answer; true (go on) when it is unassigned.
    bool DoIdle();

protected:
    // DoLink for a link found on the page at pageUrl: Url is MakeAbsoluteUrl (pageUrl,
    // href) and OrigId is UrlBaseName (href).
    void DoLinkHref(bool first, std::string_view title, const std::string& pageUrl,
                    std::string_view href, int order, TDownloadHandle& handle);
    // The same with the reader's own OrigId.
    void DoLinkHref(bool first, std::string_view title, const std::string& pageUrl,
                    std::string_view href, std::string_view origId, int order,
                    TDownloadHandle& handle);

private:
    std::string linkTitle_, linkUrl_, linkOrigId_;
};

// Thrown by THttpDownload for a failed request when RaiseErrors is set; the message
// names the transport error, the time-out or the HTTP status.
class EDownloadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The largest page accepted unless "MaxPageSize" says otherwise: far above any real
// guide page, far below what would exhaust memory.
inline constexpr long DefaultMaxPageSize = 32L * 1024 * 1024;

// Transfers at once unless "Connections" says otherwise: enough to hide a distant
// server's answer time behind the work of storing pages, few enough to be polite.
inline constexpr int DefaultConnections = 4;

class THttpClient;

// Fetches over HTTP with libcurl. The settings of section "Download" are read once,
// in Open; a changed settings file takes effect with the next reader. Only http and
// https addresses are fetched: links come from untrusted pages, and a "file://" link
// must not read the local disk into the database. Not thread-safe; one reader, one
// thread.
class THttpDownload : public TDownload {
public:
    THttpDownload();
    ~THttpDownload() override;

    // Creates the HTTP client (one connection cache for all documents) and applies
    // "Proxy.Host", "Proxy.Port", "Proxy.UserName", "Proxy.Password", "Proxy.Auth",
    // "ReadTimeout" (milliseconds without any data arriving; 0 = no limit),
    // "MaxPageSize" (bytes; a larger page fails; 0 = no limit), "Delay" (milliseconds
    // between two requests to one host), "UserAgent" and "Connections" (transfers at
    // once when fetching ahead; 1 = one page at a time).
    void Open() override;
    // Frees the HTTP client, abandoning transfers under way. Safe to call twice; the
    // destructor calls it too.
    void Close() override;
    // Logs "Downloading "<url>"", then GETs Url, its blanks and 8-bit bytes
    // percent-encoded, or takes the page fetched ahead for it. Redirects are not
    // followed, no cookies are kept, and any status outside 2xx fails the request, as
    // does a page over MaxPageSize and a transfer that OnIdle abandons. Messages that
    // quote the server are made safe to log. Throws std::logic_error when the reader is
    // not open.
    bool Fetch(const std::string& url, std::string& stream) override;

    void BeginAhead() override;
    void EndAhead() override;
    void FetchAhead(const std::string& url) override;
    void SetAhead(const std::vector<std::string>& urls) override;
    void DropAhead(const std::string& url) override;
    void Pump() override;
    bool FetchesAhead() const override;
    void Refetch(const std::string& url) override;
    void StopAhead() override;

    bool IsOpen() const { return HttpClient != nullptr; }

protected:
    std::unique_ptr<THttpClient> HttpClient;
};

// Drives one document: Fetch, then ParseContent, then ParseLinks(true) and
// ParseLinks(false). After a failed fetch nothing is parsed, so a network error never
// delivers an empty body for the host to store over a good one. Errors raised by the
// reader or by a callback leave RunDownload unchanged. Once the page has arrived,
// Handle.LayoutKnown tells the callbacks whether its reader recognised it.
void RunDownload(TDownload& download, const std::string& url, TDownloadHandle& handle);

// The reader for a guide type, compared exactly ("ALPHABEDS", "EZTRIP"); nullptr
// for any other value.
using TDownloadClass = std::unique_ptr<TDownload> (*)();
TDownloadClass FindDownloadClass(std::string_view guideType);
std::unique_ptr<TDownload> CreateDownload(std::string_view guideType);

// The guide types served by readers compiled into the program, in table order.
struct TCompiledReader {
    std::string GuideType;
    std::string Description;
};
std::vector<TCompiledReader> CompiledReaders();
