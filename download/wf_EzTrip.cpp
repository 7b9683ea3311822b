#include "download/wf_EzTrip.h"

#include "text/Blanks.h"

namespace {

constexpr std::string_view BeginContent = "<!-- BEGIN CONTENT -->";
constexpr std::string_view EndContent = "<!-- END CONTENT -->";
constexpr std::string_view BeginCenter = "<!-- BEGIN CENTER PAGE -->";
constexpr std::string_view GuideTable = "</tr><tr><td alig=\"center\"><table>";

bool Contains(std::string_view text, std::string_view what) {
    return text.find(what) != std::string_view::npos;
}

std::string_view CutTrimmed(std::string_view& text, std::string_view startMarker,
                            std::string_view endMarker) {
    return TrimBlanks(CutBetween(text, startMarker, endMarker));
}

}  // namespace

TEzTripPageKind PageKindOf(std::string_view url) {
    if (Contains(url, "destinationguide")) return TEzTripPageKind::pkGuide;
    if (Contains(url, "_viewLocation_")) return TEzTripPageKind::pkLocation;
    if (Contains(url, "_viewCities_")) return TEzTripPageKind::pkCities;
    return TEzTripPageKind::pkDefault;
}

std::string_view KeepHtmlLink(std::string_view href) {
    return Contains(href, ".html") ? href : std::string_view();
}

void TEzTripDownload::ParseContent(const std::string& url, const std::string& html,
                                   TDownloadHandle& handle) {
    std::string body;
    if (PageKindOf(url) == TEzTripPageKind::pkLocation) {
        std::string_view page = html;
        std::string_view content = CutBetween(page, BeginContent, EndContent);
        // Moves past the heading cell's text; the heading itself is the node's title.
        CutBetween(content, "<td class=\"guides-Bluehighlightbar\">", "<");
        const std::string_view afterHeading = content;
        body = CutBetween(content, "<div class=\"sectionSpacer\">", "</div>");
        if (body.empty()) {
            // Older location pages keep the text in the orange box; its closing div
            // may be missing at the end of the content, hence the extra one.
            std::string rest(afterHeading);
            rest += "</div>";
            std::string_view restView = rest;
            CutBetween(restView, "<", "<td class=\"guides-OrngBoxText\"");
            body = CutBetween(restView, "<div class=\"guides-Spacer7\">", "</div>");
        }
    }
    DoContent("", body, "", FindCharset(html, "iso-8859-1"), url, MakeOrigId(url), handle);
}

bool TEzTripDownload::KnowsLayout(const std::string& url, const std::string& html) const {
    switch (PageKindOf(url)) {
        case TEzTripPageKind::pkGuide:
            return HasMarkers(html, GuideTable, "</table>");
        case TEzTripPageKind::pkLocation:
            return HasMarkers(html, BeginContent, EndContent) ||
                   HasMarkers(html, BeginCenter, BeginContent);
        case TEzTripPageKind::pkCities:
        case TEzTripPageKind::pkDefault:
            break;
    }
    return HasMarkers(html, BeginContent, EndContent);
}

void TEzTripDownload::ParseLinks(bool first, const std::string& url, const std::string& html,
                                 TDownloadHandle& handle) {
    // Every link is a child of the page itself: nothing in the parent's pass.
    if (!first) return;
    switch (PageKindOf(url)) {
        case TEzTripPageKind::pkGuide:
            ParseGuideLinks(first, url, html, handle);
            break;
        case TEzTripPageKind::pkDefault:
            ParseDefaultLinks(first, url, html, handle);
            break;
        case TEzTripPageKind::pkLocation:
            ParseLocationLinks(first, url, html, handle);
            break;
        case TEzTripPageKind::pkCities:
            ParseCitiesLinks(first, url, html, handle);
            break;
    }
}

// The guide page lists its regions in one table; the anchor text sits inside a
// nested element, which is why the href runs to the "\">" that closes the tag.
void TEzTripDownload::ParseGuideLinks(bool first, const std::string& url, std::string_view html,
                                      TDownloadHandle& handle) {
    std::string_view block = CutBetween(html, GuideTable, "</table>");
    int order = 1;
    do {
        std::string_view anchor = CutBetween(block, "<a ", "/a>");
        const std::string_view href = CutTrimmed(anchor, "href=\"", "\">");
        const std::string_view text = CutTrimmed(anchor, ">", "<");
        if (!href.empty() && !text.empty()) DoLinkHref(first, text, url, href, order++, handle);
    } while (!block.empty());
}

// Each highlighted cell names a place and, optionally, the list of its cities.
void TEzTripDownload::ParseDefaultLinks(bool first, const std::string& url, std::string_view html,
                                        TDownloadHandle& handle) {
    std::string_view block = CutBetween(html, BeginContent, EndContent);
    int order = 1;
    do {
        std::string_view cell = CutBetween(block, "<td class=\"guides-highlightbar\">", "</table>");
        const std::string_view href = CutTrimmed(cell, "<a href=\"", "\"");
        const std::string_view text = CutTrimmed(cell, ">", "<");
        if (!href.empty() && !text.empty()) DoLinkHref(first, text, url, href, order++, handle);
        const std::string_view citiesHref = CutTrimmed(cell, "<a href=\"", "\"");
        if (!citiesHref.empty()) {
            const std::string citiesTitle = std::string(text) + " (cities)";
            DoLinkHref(first, citiesTitle, url, citiesHref, order++, handle);
        }
    } while (!block.empty());
}

// The navigation list is a tree: an item with the "close" arrow is expanded. When the
// first item is expanded, the items after it are its sub-pages, numbered by their
// place in the list, up to the next expanded item. An expanded item further down that
// is this very page carries its sub-pages in an inner table, numbered from 1.
void TEzTripDownload::ParseLocationLinks(bool first, const std::string& url, std::string_view html,
                                         TDownloadHandle& handle) {
    std::string_view part = CutBetween(html, BeginCenter, BeginContent);
    std::string_view nav =
        CutBetween(part, "<div class=\"guides-Spacer7\"></div>", "class=\"guide-text\">");
    int index = 1;
    bool listing = false;
    do {
        std::string_view item = CutBetween(nav, "<img ", "<td width='5' valign='top'>");
        if (Contains(item, "DGarrow-close")) {
            listing = index == 1;
            if (index != 1) {
                const std::string_view ownHref = CutBetween(item, "<a href='", "'");
                if (!ownHref.empty() && Contains(url, ownHref)) {
                    CutBetween(item, "<", "cellpadding='3'");
                    int subOrder = 1;
                    do {
                        std::string_view row = CutBetween(item, "<tr>", "</tr>");
                        const std::string_view href =
                            KeepHtmlLink(CutTrimmed(row, "<a href='", "'"));
                        const std::string_view text = CutTrimmed(row, ">", "<");
                        if (!href.empty() && !text.empty()) {
                            DoLinkHref(first, text, url, href, subOrder++, handle);
                        }
                    } while (!item.empty());
                }
            }
        } else if (listing) {
            const std::string_view href = KeepHtmlLink(CutTrimmed(item, "<a href='", "'>"));
            const std::string_view text = CutTrimmed(item, ">", "<");
            if (!href.empty() && !text.empty()) DoLinkHref(first, text, url, href, index, handle);
        }
        ++index;
    } while (!nav.empty());
}

void TEzTripDownload::ParseCitiesLinks(bool first, const std::string& url, std::string_view html,
                                       TDownloadHandle& handle) {
    std::string_view block = CutBetween(html, BeginContent, EndContent);
    int order = 1;
    do {
        std::string_view entry = CutBetween(block, "'images/DGarrow.gif'", "/a>");
        const std::string_view href = CutTrimmed(entry, "<a href=\"", "\"");
        const std::string_view text = CutTrimmed(entry, ">", "<");
        if (!href.empty() && !text.empty()) DoLinkHref(first, text, url, href, order++, handle);
    } while (!block.empty());
}
