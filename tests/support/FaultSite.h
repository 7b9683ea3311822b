// A generated EzTrip site served by the fault server as a small real server would serve
// it (see TFaultServer::TOptions). Extra links may be added to a page: more of them (to
// make it long to store), ones that differ from others only by a fragment, or ones to
// the fault server's own pages.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "samples/SamplePages.h"
#include "tests/support/FaultServer.h"

class TFaultSite {
public:
    TFaultSite(int pages, TFaultServer::TOptions options,
               std::map<int, std::vector<SamplePages::TLink>> extra = {});

    std::string Url(int page) const;
    // As the site's own links are written: relative to the page's folder.
    static std::string Href(int page);
    TFaultServer& Server() { return server_; }
    int Requests() const;
    std::map<std::string, int> RequestsByPath() const;

private:
    std::string Page(const std::string& path) const;

    int pages_;
    std::map<int, std::vector<SamplePages::TLink>> extra_;
    TFaultServer server_;
};
