#include "tests/support/FaultSite.h"

namespace {
constexpr auto kGuide = SamplePages::TSyntheticGuide::sgEzTrip;
}

TFaultSite::TFaultSite(int pages, TFaultServer::TOptions options,
                       std::map<int, std::vector<SamplePages::TLink>> extra)
    : pages_(pages),
      extra_(std::move(extra)),
      server_([this](const std::string& path) { return Page(path); }, std::move(options)) {}

std::string TFaultSite::Url(int page) const {
    return server_.Url(SamplePages::SyntheticPath(kGuide, page));
}

std::string TFaultSite::Href(int page) {
    const std::string path = SamplePages::SyntheticPath(kGuide, page);
    return path.substr(path.rfind('/') + 1);
}

int TFaultSite::Requests() const {
    return static_cast<int>(server_.Requested().size());
}

std::map<std::string, int> TFaultSite::RequestsByPath() const {
    std::map<std::string, int> byPath;
    for (const std::string& path : server_.Requested()) ++byPath[path];
    return byPath;
}

std::string TFaultSite::Page(const std::string& path) const {
    const int page = SamplePages::SyntheticPageOf(kGuide, pages_, path);
    if (page < 0) return "";
    std::vector<SamplePages::TLink> links;
    for (int target : SamplePages::SyntheticLinks(pages_, page))
        links.push_back({Href(target), SamplePages::SyntheticTitle(kGuide, target)});
    const auto more = extra_.find(page);
    if (more != extra_.end()) {
        // Addresses from the server's root are written out in full.
        for (SamplePages::TLink link : more->second) {
            if (link.Href[0] == '/') link.Href = server_.Url(link.Href);
            links.push_back(link);
        }
    }
    const std::string title = SamplePages::SyntheticTitle(kGuide, page);
    if (page == 0) return SamplePages::EzTripGuidePage(title, links);
    return SamplePages::EzTripLocationPage(title, Href(page), links,
                                           SamplePages::SyntheticBody(kGuide, page));
}
