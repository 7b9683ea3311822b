// Reader for EzTrip travel-guide pages ("EZTRIP"). The page kind follows from the
// address alone; each kind is cut with its own fixed markers. Every link is reported
// in the first pass, so it becomes a child of the page itself. Only location pages
// carry a body; the character set defaults to "iso-8859-1".
#pragma once

#include <string>
#include <string_view>

#include "download/wf_Download.h"

enum class TEzTripPageKind { pkGuide, pkLocation, pkCities, pkDefault };

// First match wins: "destinationguide", "_viewLocation_", "_viewCities_", else default.
TEzTripPageKind PageKindOf(std::string_view url);

// Navigation lists also hold script and map links; only pages (".html") are kept.
// Returns an empty href for any other.
std::string_view KeepHtmlLink(std::string_view href);

class TEzTripDownload : public THttpDownload {
public:
    static std::string MakeOrigId(std::string_view url) { return UrlBaseName(url); }

    void ParseContent(const std::string& url, const std::string& html,
                      TDownloadHandle& handle) override;
    void ParseLinks(bool first, const std::string& url, const std::string& html,
                    TDownloadHandle& handle) override;
    // The markers of the page's kind: the content block (and, on a location page, the
    // navigation list), or the guide page's table of regions.
    bool KnowsLayout(const std::string& url, const std::string& html) const override;

private:
    void ParseGuideLinks(bool first, const std::string& url, std::string_view html,
                         TDownloadHandle& handle);
    void ParseDefaultLinks(bool first, const std::string& url, std::string_view html,
                           TDownloadHandle& handle);
    void ParseLocationLinks(bool first, const std::string& url, std::string_view html,
                            TDownloadHandle& handle);
    void ParseCitiesLinks(bool first, const std::string& url, std::string_view html,
                          TDownloadHandle& handle);
};
