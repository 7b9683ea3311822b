// The shipped reader files against the compiled readers they stand for, on any page:
// both must recognise the same pages and deliver the same content and links, in the
// same order. Every input is read by each reader, under each kind of address (EzTrip
// tells its pages apart by address).
#include <memory>
#include <string>
#include <vector>

#include "download/wf_AlphaBeds.h"
#include "download/wf_EzTrip.h"
#include "fuzz/FuzzCheck.h"
#include "script/LuaReader.h"

namespace {

struct TReaderPair {
    std::unique_ptr<TDownload> Compiled;
    std::unique_ptr<TLuaReader> File;
    std::string Url;
};

std::vector<std::string> Read(TDownload& reader, const std::string& url, const std::string& html) {
    std::vector<std::string> got;
    reader.OnContent = [&](const std::string& title, const std::string& body,
                           const std::string& head, const std::string& encoding,
                           const std::string& pageUrl, const std::string& origId,
                           TDownloadHandle&) {
        got.push_back("content|" + title + "|" + body + "|" + head + "|" + encoding + "|" +
                      pageUrl + "|" + origId);
    };
    reader.OnLink = [&](bool first, const std::string& title, const std::string& linkUrl,
                        const std::string& origId, int order, TDownloadHandle&) {
        got.push_back("link|" + std::to_string(first) + "|" + title + "|" + linkUrl + "|" + origId +
                      "|" + std::to_string(order));
    };
    TDownloadHandle handle(1, 2, "FUZZ");
    // The order of a run: the layout check reads the page, the rest reuses it.
    got.push_back(reader.KnowsLayout(url, html) ? "known" : "unknown");
    reader.ParseContent(url, html, handle);
    reader.ParseLinks(true, url, html, handle);
    reader.ParseLinks(false, url, html, handle);
    return got;
}

std::vector<TReaderPair>& Pairs() {
    static std::vector<TReaderPair> pairs = [] {
        const std::string dir = WF_SOURCE_DIR "/readers/";
        const char* ezTripUrls[] = {
            "http://127.0.0.1:8808/eztrip/destinationguide.html",
            "http://127.0.0.1:8808/eztrip/Europe_viewLocation_France.html",
            "http://127.0.0.1:8808/eztrip/Europe_viewCities_France.html",
            "http://127.0.0.1:8808/eztrip/europe.html",
        };
        std::vector<TReaderPair> made;
        made.push_back({std::make_unique<TAlphaBedsDownload>(),
                        std::make_unique<TLuaReader>(dir + "alphabeds.lua", "ALPHABEDS"),
                        "http://127.0.0.1:8808/alphabeds/france.html"});
        for (const char* url : ezTripUrls)
            made.push_back({std::make_unique<TEzTripDownload>(),
                            std::make_unique<TLuaReader>(dir + "eztrip.lua", "EZTRIP"), url});
        for (const TReaderPair& p : made) FUZZ_CHECK(p.File->LoadError().empty());
        return made;
    }();
    return pairs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string html(reinterpret_cast<const char*>(data), size);
    for (TReaderPair& pair : Pairs())
        FUZZ_CHECK(Read(*pair.Compiled, pair.Url, html) == Read(*pair.File, pair.Url, html));
    return 0;
}
