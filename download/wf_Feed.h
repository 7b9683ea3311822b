// Reader for a guide defined by a news feed ("FEED"): RSS 2.0, RSS 1.0 or Atom. The
// feed's document lists its items (title, date, link) as its body, and its children
// are the items' pages, newest first, each identified as ARTICLE identifies a page.
// Those pages are read with the ARTICLE rules for their content; their own links are
// not followed, so that a feed's guide holds the feed's articles and not the whole
// site they stand on. A page that turns out to be no feed is read as an article.
//
// Feeds are parsed with libxml2's XML parser, entities left unexpanded and nothing
// fetched from the network.
#pragma once

#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "download/wf_Article.h"

struct TFeedItem {
    std::string Title;  // UTF-8, blanks collapsed, markup removed
    std::string Url;    // the item's page, absolute
    std::time_t Date = 0;  // its publication (or, lacking that, update) time; 0: none
};

struct TFeed {
    bool IsFeed = false;  // false: the bytes are no RSS or Atom feed
    std::string Title, Description;
    // Newest first; items without a date after the dated ones, in feed order. An item
    // whose page was listed before (same identifier) is dropped.
    std::vector<TFeedItem> Items;
};

// Reads a feed fetched from feedUrl; relative item links are resolved against it.
TFeed ReadFeed(std::string_view feedUrl, std::string_view bytes);

// A feed's date: RFC 822 as RSS writes it ("Sat, 07 Sep 2002 09:42:31 GMT", numeric
// zones too) or RFC 3339 as Atom does ("2003-12-13T18:30:02Z", "...+01:00"). 0 when
// the text is neither.
std::time_t ParseFeedDate(std::string_view text);

class TFeedDownload : public TArticleDownload {
public:
    void ParseContent(const std::string& url, const std::string& html,
                      TDownloadHandle& handle) override;
    void ParseLinks(bool first, const std::string& url, const std::string& html,
                    TDownloadHandle& handle) override;

private:
    const TFeed& Feed(const std::string& url, const std::string& html);

    std::string cachedUrl_;
    std::size_t cachedHash_ = 0, cachedSize_ = 0;
    bool cached_ = false;
    TFeed feed_;
};
