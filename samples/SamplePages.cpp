#include "samples/SamplePages.h"

#include <algorithm>
#include <charconv>

namespace SamplePages {

namespace {

const char* const EzTripMeta =
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">\n";
const char* const AlphaBedsMeta =
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\n";

std::string EzTripHead(const std::string& title) {
    return "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">\n<html>\n<head>\n"
           "<title>" +
           title + " - EzTrip</title>\n" + EzTripMeta + "</head>\n<body>\n";
}

}  // namespace

std::string EzTripGuidePage(const std::string& title, const std::vector<TLink>& links) {
    std::string out = EzTripHead(title);
    out += "<table class=\"guides-main\">\n<tr><td class=\"guides-Bluehighlightbar\">" + title +
           "</td></tr><tr><td alig=\"center\"><table>\n";
    for (const TLink& link : links) {
        out += "<tr><td><a href=\"" + link.Href + "\"><b>" + link.Title + "</b></a></td></tr>\n";
    }
    out += "</table></td></tr>\n</table>\n</body>\n</html>\n";
    return out;
}

std::string EzTripLocationPage(const std::string& title, const std::string& selfHref,
                               const std::vector<TLink>& links, const std::string& body) {
    std::string out = EzTripHead(title);
    out +=
        "<!-- BEGIN CENTER PAGE -->\n<table class=\"guides-nav\"><tr><td>\n"
        "<div class=\"guides-Spacer7\"></div>\n<table>\n";
    out += "<tr><td><img src='images/DGarrow-close.gif' alt=''></td><td><a href='" + selfHref +
           "'>" + title + "</a></td><td width='5' valign='top'></td></tr>\n";
    for (const TLink& link : links) {
        out += "<tr><td><img src='images/DGarrow.gif' alt=''></td><td><a href='" + link.Href +
               "'><span class='nav'>" + link.Title +
               "</span></a></td><td width='5' valign='top'></td></tr>\n";
    }
    out +=
        "</table>\n</td><td>\n<div class=\"guide-text\">\n<!-- BEGIN CONTENT -->\n<table>\n"
        "<tr><td class=\"guides-Bluehighlightbar\">" +
        title + "</td></tr>\n<tr><td><div class=\"sectionSpacer\">" + body +
        "</div></td></tr>\n</table>\n<!-- END CONTENT -->\n</div>\n</td></tr></table>\n"
        "</body>\n</html>\n";
    return out;
}

std::string EzTripCitiesPage(const std::string& title, const std::vector<TLink>& links) {
    std::string out = EzTripHead(title);
    out += "<!-- BEGIN CONTENT -->\n<h1>" + title + "</h1>\n<table>\n";
    for (const TLink& link : links) {
        out += "<tr><td><img src='images/DGarrow.gif' alt=''> <a href=\"" + link.Href + "\">" +
               link.Title + "</a></td></tr>\n";
    }
    out += "</table>\n<!-- END CONTENT -->\n</body>\n</html>\n";
    return out;
}

std::string AlphaBedsPage(const std::string& title, const std::vector<TLink>& section,
                          const std::vector<TLink>& destinations, const std::string& body) {
    auto list = [](const std::vector<TLink>& links) {
        std::string out;
        for (const TLink& link : links) {
            out += "<li><a href=\"" + link.Href + "\">" + link.Title + "</a></li>\n";
        }
        return out;
    };
    std::string out =
        "<!DOCTYPE html>\n<html>\n<head>\n<title>" + title + " | AlphaBeds</title>\n" +
        AlphaBedsMeta +
        "</head>\n<body>\n<form name=\"aspnetForm\" method=\"post\" action=\"page\">\n";
    out +=
        "<div class=\"sidebox\">\n<h2 class=\"smalltitle\">In this section</h2>\n<ul>\n"
        "<li><a href=\"index.html\">Home</a></li>\n" +
        list(section) + "</ul>\n</div>\n";
    out += "<div class=\"sidebox\">\n<h2 class=\"smalltitle\">Destinations</h2>\n<ul>\n" +
           list(destinations) + "</ul>\n</div>\n";
    out +=
        "<div class=\"main\">\n<img id=\"LocationImage\" src=\"images/place.jpg\" alt=\"\">\n"
        "<table class=\"crumbs\"><tr><td>AlphaBeds &gt; " +
        title + "</td></tr></table>\n" + body +
        "\n<div>&nbsp;</div>\n</div>\n</form>\n</body>\n</html>\n";
    return out;
}

// ---------------------------------------------------------------------------------

bool ParseSyntheticGuide(std::string_view name, TSyntheticGuide& guide) {
    if (name == "EZTRIP") {
        guide = TSyntheticGuide::sgEzTrip;
        return true;
    }
    if (name == "ALPHABEDS") {
        guide = TSyntheticGuide::sgAlphaBeds;
        return true;
    }
    return false;
}

std::vector<int> SyntheticLinks(int pageCount, int page) {
    std::vector<int> links;
    if (page < 0 || page >= pageCount) return links;
    const int wanted = std::min(10, pageCount - 1);
    for (long long child = 10LL * page + 1; child <= 10LL * page + 10 && child < pageCount;
         ++child) {
        links.push_back(static_cast<int>(child));
    }
    for (int step = 1; static_cast<int>(links.size()) < wanted; ++step) {
        const int other = static_cast<int>((static_cast<long long>(page) + step) % pageCount);
        if (other != page && std::find(links.begin(), links.end(), other) == links.end()) {
            links.push_back(other);
        }
    }
    return links;
}

namespace {

// Relative to the page's folder, as the sites' own links are.
std::string SyntheticHref(TSyntheticGuide guide, int page) {
    if (guide == TSyntheticGuide::sgEzTrip) {
        if (page == 0) return "destinationguide.html";
        return "Gen_viewLocation_" + std::to_string(page) + ".html";
    }
    return "p" + std::to_string(page) + ".html";
}

std::string SyntheticFolder(TSyntheticGuide guide) {
    return guide == TSyntheticGuide::sgEzTrip ? "/gen/eztrip/" : "/gen/alphabeds/";
}

bool ParsePageNumber(std::string_view text, int& page) {
    if (text.empty() || (text.size() > 1 && text[0] == '0')) return false;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), page);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

}  // namespace

std::string SyntheticPath(TSyntheticGuide guide, int page) {
    return SyntheticFolder(guide) + SyntheticHref(guide, page);
}

std::string SyntheticTitle(TSyntheticGuide guide, int page) {
    return (guide == TSyntheticGuide::sgEzTrip ? "Place " : "Destination ") + std::to_string(page);
}

int SyntheticPageOf(TSyntheticGuide guide, int pageCount, std::string_view path) {
    const std::string folder = SyntheticFolder(guide);
    if (path.substr(0, folder.size()) != folder) return -1;
    path.remove_prefix(folder.size());
    std::string_view prefix = guide == TSyntheticGuide::sgEzTrip ? "Gen_viewLocation_" : "p";
    if (guide == TSyntheticGuide::sgEzTrip && path == "destinationguide.html") return 0;
    if (path.size() < 5 || path.substr(path.size() - 5) != ".html") return -1;
    path.remove_suffix(5);
    if (path.substr(0, prefix.size()) != prefix) return -1;
    path.remove_prefix(prefix.size());
    int page = -1;
    if (!ParsePageNumber(path, page)) return -1;
    // EzTrip's page 0 is the guide page and has no location address.
    if (guide == TSyntheticGuide::sgEzTrip && page == 0) return -1;
    return page < pageCount ? page : -1;
}

std::string SyntheticBody(TSyntheticGuide guide, int page) {
    if (guide == TSyntheticGuide::sgEzTrip && page == 0) return {};
    const std::string title = SyntheticTitle(guide, page);
    return "<p>" + title + " is page " + std::to_string(page) +
           " of the synthetic site.</p>\n<p>Its text is generated so that every page has a "
           "body of a few hundred bytes: quiet streets, small hotels, a market on Saturdays "
           "and a view over the river.</p>";
}

std::string SyntheticPage(TSyntheticGuide guide, int pageCount, int page) {
    std::vector<TLink> links;
    for (int target : SyntheticLinks(pageCount, page)) {
        links.push_back({SyntheticHref(guide, target), SyntheticTitle(guide, target)});
    }
    const std::string title = SyntheticTitle(guide, page);
    const std::string body = SyntheticBody(guide, page);
    if (guide == TSyntheticGuide::sgEzTrip) {
        if (page == 0) return EzTripGuidePage(title, links);
        return EzTripLocationPage(title, SyntheticHref(guide, page), links, body);
    }
    // Half of the links in each section, so both sections are exercised.
    const std::size_t half = (links.size() + 1) / 2;
    const std::vector<TLink> section(links.begin(), links.begin() + half);
    const std::vector<TLink> destinations(links.begin() + half, links.end());
    return AlphaBedsPage(title, section, destinations, body);
}

}  // namespace SamplePages
