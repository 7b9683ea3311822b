// Builders for pages in the two sites' structures, and the deterministic synthetic
// sites that the sample server offers for scale tests and benchmarks.
//
// The builders produce the markup the readers look for and nothing they would trip
// over; hrefs and titles are written as given (no escaping), so callers pass plain
// text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace SamplePages {

struct TLink {
    std::string Href;
    std::string Title;
};

// EzTrip guide page: the regions in one table, each anchor text inside a <b>.
std::string EzTripGuidePage(const std::string& title, const std::vector<TLink>& links);
// EzTrip location page whose navigation list opens with the page itself, expanded,
// followed by its sub-pages; the body sits in a "sectionSpacer" div.
std::string EzTripLocationPage(const std::string& title, const std::string& selfHref,
                               const std::vector<TLink>& links, const std::string& body);
// EzTrip cities page: one arrow-marked entry per city.
std::string EzTripCitiesPage(const std::string& title, const std::vector<TLink>& links);
// AlphaBeds page with both headed sections; "In this section" starts with a Home link.
std::string AlphaBedsPage(const std::string& title, const std::vector<TLink>& section,
                          const std::vector<TLink>& destinations, const std::string& body);

// ---------------------------------------------------------------------------------
// Synthetic sites of pageCount pages (numbered from 0, page 0 at the top). Page i
// links to its tree children 10i+1 .. 10i+10 that exist, then to the following pages
// (i+1, i+2, ... wrapping round, never itself) until it has min(10, pageCount-1)
// links. So every page is reachable from the top and every page has about 10 links.

enum class TSyntheticGuide { sgEzTrip, sgAlphaBeds };

// "EZTRIP" or "ALPHABEDS"; false for anything else.
bool ParseSyntheticGuide(std::string_view name, TSyntheticGuide& guide);

std::vector<int> SyntheticLinks(int pageCount, int page);
// Path of page i below the server's root, beginning with "/".
std::string SyntheticPath(TSyntheticGuide guide, int page);
std::string SyntheticTitle(TSyntheticGuide guide, int page);
// The page's number for a path, or -1 when the path is no page of the site.
int SyntheticPageOf(TSyntheticGuide guide, int pageCount, std::string_view path);
std::string SyntheticPage(TSyntheticGuide guide, int pageCount, int page);
// The body the page's reader cuts out of it (empty for the EzTrip guide page).
std::string SyntheticBody(TSyntheticGuide guide, int page);

}  // namespace SamplePages
