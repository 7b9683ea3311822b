// Reader for AlphaBeds travel-guide pages ("ALPHABEDS"). The body lies after the
// location image; the links are listed under two headed sections. A page that names
// itself in its first section is one of several pages of a section, so its links
// belong to its parent and are reported in the second pass; any other page's links
// are its own children and come in the first pass. The character set defaults to
// "utf-8".
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "download/wf_Download.h"

// The headings whose lists hold the links, in the order the links are numbered.
inline constexpr std::array<std::string_view, 2> SectionTitles = {"In this section",
                                                                  "Destinations"};

class TAlphaBedsDownload : public THttpDownload {
public:
    static std::string MakeOrigId(std::string_view url) { return UrlBaseName(url); }

    void ParseContent(const std::string& url, const std::string& html,
                      TDownloadHandle& handle) override;
    void ParseLinks(bool first, const std::string& url, const std::string& html,
                    TDownloadHandle& handle) override;
    // The location image's region (the body) or either headed section (the links).
    bool KnowsLayout(const std::string& url, const std::string& html) const override;
};
