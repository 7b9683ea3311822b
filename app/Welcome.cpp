#include "app/Welcome.h"

#include <string_view>

#include "text/MarkupEscape.h"

namespace {

struct TExample {
    std::string_view GuideType;
    std::string_view Address;
};

// Addresses of pages the shipped readers were made for. The two travel sites' readers
// are shown on the sample site's pages, laid out as those sites lay theirs out.
constexpr TExample kExamples[] = {
    {"ARTICLE", "https://en.wikivoyage.org/wiki/Lisbon"},
    {"FEED", "https://www.theguardian.com/travel/rss"},
    {"EZTRIP", "http://127.0.0.1:8808/eztrip/destinationguide.html"},
    {"ALPHABEDS", "http://127.0.0.1:8808/alphabeds/europe.html"},
};

}  // namespace

std::string ExampleAddress(const std::string& guideType) {
    for (const TExample& example : kExamples)
        if (example.GuideType == guideType) return std::string(example.Address);
    return {};
}

std::string WelcomePage(const std::vector<TWelcomeReader>& readers,
                        const TWelcomeFolders& folders) {
    std::string page =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Welcome to Wayfolio</title>\n"
        "<style>body{font-family:sans-serif;margin:2em;max-width:50em;line-height:1.4}"
        "th,td{text-align:left;padding:.2em .8em .2em 0;vertical-align:top}"
        "code{background:#f0f0f0;padding:0 .2em}</style></head><body>\n"
        "<h1>Welcome to Wayfolio</h1>\n"
        "<p>Wayfolio gathers travel-guide pages from the web into a database, so that you can "
        "read them offline, join the ones you want into one document and save it, or export "
        "them as a book. A <em>guide</em> is the first page of a site or of a part of it; "
        "Wayfolio downloads it and the pages it links to, and keeps them as a tree.</p>\n"
        "<h2>Your first guide</h2>\n<ol>\n"
        "<li>Choose <b>Edit &gt; New guide...</b> (Ctrl+N), give the address of the page and "
        "the guide type whose reader understands it.</li>\n"
        "<li>With the new guide selected in the tree, <b>Tools &gt; Try reader...</b> shows "
        "what a reload would store, without storing anything.</li>\n"
        "<li><b>Reload document</b> (Ctrl+R) downloads the page and the links on it; "
        "<b>Reload branch documents</b> goes on to every page below it.</li>\n"
        "<li>Double-click a document, or press Enter, to read it here.</li>\n</ol>\n";

    page += "<h2>Guide types</h2>\n";
    if (readers.empty()) {
        page += "<p>No page reader is installed.</p>\n";
    } else {
        page += "<table>\n<tr><th>Guide type</th><th>Reads</th><th>For example</th></tr>\n";
        for (const TWelcomeReader& reader : readers) {
            page += "<tr><td><code>" + XmlEscape(reader.GuideType) + "</code></td><td>" +
                    XmlEscape(reader.Description) + "</td><td>";
            if (!reader.Example.empty()) page += "<code>" + XmlEscape(reader.Example) + "</code>";
            page += "</td></tr>\n";
        }
        page += "</table>\n";
        page += "<p>Addresses on <code>127.0.0.1:8808</code> are pages of the sample site that "
                "a build of Wayfolio serves (<code>wayfolio-sample-site --port 8808</code>); "
                "they show the layout those readers expect.</p>\n";
    }

    page += "<h2>Readers for other sites</h2>\n"
            "<p>A site of your own is read by a reader file: a short Lua script that cuts the "
            "text out of a page and names the links to follow. Put reader files in</p>\n<ul>\n"
            "<li>your own folder: <code>" + XmlEscape(folders.User) + "</code></li>\n";
    if (!folders.Configured.empty())
        page += "<li>the folder your configuration names: <code>" + XmlEscape(folders.Configured) +
                "</code></li>\n";
    page += "</ul>\n";
    if (!folders.Shipped.empty())
        page += "<p>The readers that come with Wayfolio are in <code>" + XmlEscape(folders.Shipped) +
                "</code>; a file of yours that declares the same guide type is used instead. "
                "A changed file is read again at the next reload.</p>\n";
    page += "<p>This page is shown while the database holds no guides.</p>\n</body></html>\n";
    return page;
}
