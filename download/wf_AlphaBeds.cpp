#include "download/wf_AlphaBeds.h"

#include "text/Blanks.h"

namespace {

// A section's list runs from its heading to the end of the enclosing div.
std::string SectionHeading(std::string_view heading) {
    std::string marker = "<h2 class=\"smalltitle\">";
    marker += heading;
    marker += "</h2>";
    return marker;
}

std::string_view SectionList(std::string_view html, std::string_view heading) {
    return CutBetween(html, SectionHeading(heading), "</div>");
}

constexpr std::string_view BodyStart = "<img id=\"LocationImage\"";
constexpr std::string_view BodyEnd = "</form>";

}  // namespace

void TAlphaBedsDownload::ParseContent(const std::string& url, const std::string& html,
                                      TDownloadHandle& handle) {
    std::string_view page = html;
    std::string_view region = CutBetween(page, BodyStart, BodyEnd);
    const std::string body(TrimBlanks(CutBetween(region, "</table>", "<div>&nbsp;</div>")));
    DoContent("", body, "", FindCharset(html, "utf-8"), url, MakeOrigId(url), handle);
}

bool TAlphaBedsDownload::KnowsLayout(const std::string& /*url*/, const std::string& html) const {
    if (HasMarkers(html, BodyStart, BodyEnd)) return true;
    for (std::string_view heading : SectionTitles)
        if (HasMarkers(html, SectionHeading(heading), "</div>")) return true;
    return false;
}

void TAlphaBedsDownload::ParseLinks(bool first, const std::string& url, const std::string& html,
                                    TDownloadHandle& handle) {
    const std::string ownName = UrlBaseName(url) + ".";
    const bool listed = SectionList(html, SectionTitles[0]).find(ownName) != std::string_view::npos;
    if (listed == first) return;

    int order = 1;  // runs on across both sections
    for (std::size_t section = 0; section < SectionTitles.size(); ++section) {
        std::string_view list = SectionList(html, SectionTitles[section]);
        do {
            std::string_view anchor = CutBetween(list, "<a ", "/a>");
            const std::string_view href = TrimBlanks(CutBetween(anchor, "href=\"", "\""));
            const std::string_view text = TrimBlanks(CutBetween(anchor, ">", "<"));
            if (href.empty() || text.empty()) continue;
            // The section's own way back to the start page is not a sub-page.
            if (section == 0 && text == "Home") continue;
            DoLinkHref(first, text, url, href, order++, handle);
        } while (!list.empty());
    }
}
