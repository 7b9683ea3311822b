#include "download/wf_Feed.h"

#include <curl/curl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_set>

#include "text/MarkupEscape.h"

namespace {

struct TDocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct TXmlFree {
    void operator()(xmlChar* p) const { xmlFree(p); }
};

bool Local(const xmlNode* node, const char* name) {
    return node && node->type == XML_ELEMENT_NODE && node->name &&
           xmlStrcmp(node->name, BAD_CAST name) == 0;
}

xmlNode* Child(const xmlNode* node, const char* name) {
    for (xmlNode* c = node ? node->children : nullptr; c; c = c->next)
        if (Local(c, name)) return c;
    return nullptr;
}

std::string Attr(const xmlNode* node, const char* name) {
    std::unique_ptr<xmlChar, TXmlFree> value(xmlGetProp(node, BAD_CAST name));
    return value ? std::string(reinterpret_cast<const char*>(value.get())) : std::string();
}

std::string Content(const xmlNode* node) {
    if (!node) return {};
    std::unique_ptr<xmlChar, TXmlFree> text(xmlNodeGetContent(node));
    return text ? std::string(reinterpret_cast<const char*>(text.get())) : std::string();
}

// Markup dropped: a "<" that opens a tag (a letter, "/" or "!" after it, a ">"
// later) up to that ">"; any other "<" is text.
std::string StripTags(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '<' && i + 1 < text.size() &&
            (std::isalpha(static_cast<unsigned char>(text[i + 1])) || text[i + 1] == '/' ||
             text[i + 1] == '!')) {
            const std::size_t close = text.find('>', i);
            if (close != std::string::npos) {
                i = close;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// Titles may carry markup, raw (Atom type="xhtml") or escaped once more (RSS, Atom
// type="html"); the tree shows plain text.
std::string PlainText(const std::string& text) {
    std::string out = StripTags(text);
    static const std::pair<const char*, const char*> entities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&apos;", "'"},
        {"&nbsp;", " "}, {"&amp;", "&"}};
    for (const auto& [from, to] : entities) {
        for (std::size_t pos = out.find(from); pos != std::string::npos;
             pos = out.find(from, pos + std::strlen(to)))
            out.replace(pos, std::strlen(from), to);
    }
    return CollapseBlanks(StripTags(out));
}

// The item's page: Atom's alternate link, RSS's link, else a guid that is a permalink.
std::string ItemLink(const xmlNode* item, bool atom) {
    if (atom) {
        std::string any;
        for (xmlNode* c = item->children; c; c = c->next) {
            if (!Local(c, "link")) continue;
            const std::string rel = Attr(c, "rel");
            if (rel.empty() || rel == "alternate") return Attr(c, "href");
            if (any.empty()) any = Attr(c, "href");
        }
        return any;
    }
    std::string link = CollapseBlanks(Content(Child(item, "link")));
    if (link.empty())
        if (xmlNode* guid = Child(item, "guid"); guid && Attr(guid, "isPermaLink") != "false")
            link = CollapseBlanks(Content(guid));
    return link;
}

std::time_t ItemDate(const xmlNode* item, bool atom) {
    const char* const names[] = {"published", "updated", "pubDate", "date", "issued", "modified"};
    for (const char* name : names) {
        if (!atom && (std::string(name) == "published" || std::string(name) == "updated")) continue;
        if (xmlNode* d = Child(item, name))
            if (const std::time_t t = ParseFeedDate(CollapseBlanks(Content(d)))) return t;
    }
    return 0;
}

// Only bytes that open with a feed's root are handed to the XML parser: every HTML
// page a feed links to passes through here.
bool LooksLikeFeed(std::string_view bytes) {
    const std::string_view start = bytes.substr(0, 2048);
    return start.find("<rss") != std::string_view::npos ||
           start.find("<feed") != std::string_view::npos ||
           start.find("RDF") != std::string_view::npos;
}

int Digits(std::string_view s, std::size_t pos, std::size_t n) {
    if (pos + n > s.size()) return -1;
    int v = 0;
    for (std::size_t i = pos; i < pos + n; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return -1;
        v = v * 10 + (s[i] - '0');
    }
    return v;
}

}  // namespace

std::time_t ParseFeedDate(std::string_view text) {
    // RFC 3339: 2003-12-13T18:30:02Z, fractions and numeric offsets allowed.
    const int year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
    if (year > 0 && text.size() >= 10 && text[4] == '-' && text[7] == '-' && month >= 1 &&
        month <= 12 && day >= 1 && day <= 31) {
        std::tm tm{};
        tm.tm_year = year - 1900;
        tm.tm_mon = month - 1;
        tm.tm_mday = day;
        long offset = 0;
        if (text.size() > 10 && (text[10] == 'T' || text[10] == 't' || text[10] == ' ')) {
            const int h = Digits(text, 11, 2), m = Digits(text, 14, 2);
            if (h < 0 || m < 0 || text.size() < 16 || text[13] != ':') return 0;
            tm.tm_hour = h;
            tm.tm_min = m;
            std::size_t pos = 16;
            if (pos < text.size() && text[pos] == ':') {
                const int s = Digits(text, pos + 1, 2);
                if (s < 0) return 0;
                tm.tm_sec = s;
                pos += 3;
            }
            while (pos < text.size() && (text[pos] == '.' || std::isdigit(static_cast<unsigned char>(text[pos]))))
                ++pos;
            if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
                const int oh = Digits(text, pos + 1, 2);
                const int om = text.size() > pos + 3 && text[pos + 3] == ':' ? Digits(text, pos + 4, 2)
                                                                             : Digits(text, pos + 3, 2);
                if (oh < 0 || om < 0) return 0;
                offset = (oh * 3600L + om * 60L) * (text[pos] == '+' ? 1 : -1);
            }
        }
        const std::time_t t = timegm(&tm);
        return t == static_cast<std::time_t>(-1) ? 0 : t - offset;
    }
    // RFC 822, as RSS writes it; libcurl reads it (and its obsolete zones) for cookies.
    const std::string copy(text);
    const std::time_t t = curl_getdate(copy.c_str(), nullptr);
    return t == static_cast<std::time_t>(-1) ? 0 : t;
}

TFeed ReadFeed(std::string_view feedUrl, std::string_view bytes) {
    TFeed feed;
    if (!LooksLikeFeed(bytes) || bytes.size() > static_cast<std::size_t>(INT32_MAX)) return feed;
    static std::once_flag init;
    std::call_once(init, [] { xmlInitParser(); });
    const std::string url(feedUrl);
    std::unique_ptr<xmlDoc, TDocFree> doc(
        xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), url.c_str(), nullptr,
                      XML_PARSE_RECOVER | XML_PARSE_NONET | XML_PARSE_NOERROR |
                          XML_PARSE_NOWARNING));
    if (!doc) return feed;
    xmlNode* root = xmlDocGetRootElement(doc.get());
    const bool atom = Local(root, "feed");
    xmlNode* channel = nullptr;       // holds the feed's title and description
    xmlNode* itemParent = nullptr;    // holds the items
    const char* itemName = "item";
    if (atom) {
        channel = itemParent = root;
        itemName = "entry";
    } else if (Local(root, "rss")) {
        channel = itemParent = Child(root, "channel");
    } else if (Local(root, "RDF")) {
        channel = Child(root, "channel");
        itemParent = root;
    }
    if (!itemParent) return feed;
    feed.IsFeed = true;
    feed.Title = PlainText(Content(Child(channel, "title")));
    feed.Description = PlainText(Content(Child(channel, atom ? "subtitle" : "description")));

    std::unordered_set<std::string> seen{AddressIdentifier(url)};
    for (xmlNode* item = itemParent->children; item; item = item->next) {
        if (!Local(item, itemName)) continue;
        // An item without a page of its own (a link-less note) would otherwise resolve
        // to the feed itself.
        const std::string link = CollapseBlanks(ItemLink(item, atom));
        if (link.empty()) continue;
        TFeedItem entry;
        entry.Url = ResolveLink(url, link);
        if (entry.Url.empty() || !seen.insert(AddressIdentifier(entry.Url)).second) continue;
        entry.Title = PlainText(Content(Child(item, "title")));
        if (entry.Title.empty()) entry.Title = entry.Url;
        entry.Date = ItemDate(item, atom);
        feed.Items.push_back(std::move(entry));
    }
    std::stable_sort(feed.Items.begin(), feed.Items.end(), [](const TFeedItem& a, const TFeedItem& b) {
        if ((a.Date == 0) != (b.Date == 0)) return b.Date == 0;
        return a.Date > b.Date;
    });
    return feed;
}

const TFeed& TFeedDownload::Feed(const std::string& url, const std::string& html) {
    const std::size_t hash = std::hash<std::string_view>()(html);
    if (!cached_ || cachedUrl_ != url || cachedSize_ != html.size() || cachedHash_ != hash) {
        feed_ = ReadFeed(url, html);
        cachedUrl_ = url;
        cachedSize_ = html.size();
        cachedHash_ = hash;
        cached_ = true;
    }
    return feed_;
}

void TFeedDownload::ParseContent(const std::string& url, const std::string& html,
                                 TDownloadHandle& handle) {
    const TFeed& feed = Feed(url, html);
    if (!feed.IsFeed) {
        DeliverArticle(url, html, handle);
        return;
    }
    std::string body;
    if (!feed.Description.empty()) body += "<p>" + XmlEscape(feed.Description) + "</p>\n";
    body += "<ul>\n";
    for (const TFeedItem& item : feed.Items) {
        body += "<li><a href=\"" + XmlEscape(item.Url) + "\">" + XmlEscape(item.Title) + "</a>";
        if (item.Date) {
            char date[16];
            std::tm tm{};
            gmtime_r(&item.Date, &tm);
            std::strftime(date, sizeof date, "%Y-%m-%d", &tm);
            body += std::string(" (") + date + ")";
        }
        body += "</li>\n";
    }
    body += "</ul>\n";
    DoContent(feed.Title, body, "", "utf-8", url, MakeOrigId(url), handle);
}

void TFeedDownload::ParseLinks(bool first, const std::string& url, const std::string& html,
                               TDownloadHandle& handle) {
    if (!first) return;
    const TFeed& feed = Feed(url, html);
    int order = 1;
    for (const TFeedItem& item : feed.Items)
        DoLink(true, item.Title, item.Url, MakeOrigId(item.Url), order++, handle);
}
