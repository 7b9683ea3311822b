// The sample-site server as a separate process, crawled with the real readers: every
// link of the sample pages must lead to a page, and the synthetic sites must hold
// exactly the pages and links they promise.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <map>
#include <set>

#include "config/AuxProj.h"
#include "download/wf_Download.h"
#include "samples/SamplePages.h"
#include "tests/support/SampleSiteProcess.h"

namespace {

struct TPage {
    std::string Body;
    std::vector<std::pair<int, std::string>> Links;  // order, url
    int Failures = 0;
};

// Walks a site from its top with the reader for guideType, following every link of
// both passes once.
std::map<std::string, TPage> Crawl(const std::string& guideType, const std::string& top) {
    std::map<std::string, TPage> pages;
    auto reader = CreateDownload(guideType);
    reader->Open();
    std::deque<std::string> queue{top};
    std::set<std::string> seen{top};
    TPage* current = nullptr;
    int logLines = 0;
    reader->OnLog = [&](const std::string&) { ++logLines; };
    reader->OnContent = [&](const std::string&, const std::string& body, const std::string&,
                            const std::string&, const std::string&, const std::string&,
                            TDownloadHandle&) { current->Body = body; };
    reader->OnLink = [&](bool, const std::string&, const std::string& url, const std::string&,
                         int order, TDownloadHandle&) {
        current->Links.emplace_back(order, url);
        if (seen.insert(url).second) queue.push_back(url);
    };
    while (!queue.empty()) {
        const std::string url = queue.front();
        queue.pop_front();
        current = &pages[url];
        logLines = 0;
        TDownloadHandle handle(1, 0, guideType);
        RunDownload(*reader, url, handle);
        current->Failures = logLines - 1;
    }
    reader->Close();
    return pages;
}

class TSampleSiteTest : public ::testing::Test {
protected:
    void SetUp() override { ProjIni = std::make_unique<TIniStore>(); }
    void TearDown() override { ProjIni.reset(); }
};

std::set<std::string> SampleFiles(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(WF_SOURCE_DIR) + "/samples/" + folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

std::set<std::string> CrawledFiles(const std::map<std::string, TPage>& pages,
                                   const std::string& prefix) {
    std::set<std::string> names;
    for (const auto& [url, page] : pages) {
        EXPECT_EQ(page.Failures, 0) << url;
        EXPECT_EQ(url.rfind(prefix, 0), 0u) << url;
        names.insert(url.substr(prefix.size()));
    }
    return names;
}

}  // namespace

TEST_F(TSampleSiteTest, SampleLinksReachEverySamplePage) {
    TSampleSiteProcess site(WF_SAMPLE_SITE, {"--port", "0"});
    const std::string root = site.ReadLine(std::chrono::seconds(10));
    ASSERT_EQ(root.rfind("http://127.0.0.1:", 0), 0u) << root;
    ASSERT_EQ(root.back(), '/');

    const auto ezTrip = Crawl("EZTRIP", root + "eztrip/destinationguide.html");
    EXPECT_EQ(CrawledFiles(ezTrip, root + "eztrip/"), SampleFiles("eztrip"));
    EXPECT_EQ(ezTrip.at(root + "eztrip/Italy_viewLocation_Rome.html").Body,
              "<p>Rome, the eternal city.</p>");

    const auto alphaBeds = Crawl("ALPHABEDS", root + "alphabeds/europe.html");
    EXPECT_EQ(CrawledFiles(alphaBeds, root + "alphabeds/"), SampleFiles("alphabeds"));

    EXPECT_EQ(site.Stop(true), 0);
}

TEST_F(TSampleSiteTest, SyntheticSitesHoldTheirPagesAndLinks) {
    using namespace SamplePages;
    const int pageCount = 137;
    for (const char* name : {"EZTRIP", "ALPHABEDS"}) {
        TSyntheticGuide guide;
        ASSERT_TRUE(ParseSyntheticGuide(name, guide));
        TSampleSiteProcess site(WF_SAMPLE_SITE, {"--port", "0", "--generate",
                                                 std::to_string(pageCount), "--guide", name});
        const std::string top = site.ReadLine(std::chrono::seconds(10));
        const std::string prefix = top.substr(0, top.find("/gen/"));
        ASSERT_EQ(top, prefix + SyntheticPath(guide, 0));

        const auto pages = Crawl(name, top);
        ASSERT_EQ(pages.size(), static_cast<std::size_t>(pageCount)) << name;
        for (int i = 0; i < pageCount; ++i) {
            const TPage& page = pages.at(prefix + SyntheticPath(guide, i));
            EXPECT_EQ(page.Failures, 0);
            EXPECT_EQ(page.Body, SyntheticBody(guide, i)) << name << " " << i;
            const std::vector<int> expected = SyntheticLinks(pageCount, i);
            ASSERT_EQ(page.Links.size(), expected.size()) << name << " " << i;
            // EzTrip numbers navigation items by their place after the page itself.
            const int firstOrder = guide == TSyntheticGuide::sgEzTrip && i > 0 ? 2 : 1;
            for (std::size_t k = 0; k < expected.size(); ++k) {
                EXPECT_EQ(page.Links[k].first, firstOrder + static_cast<int>(k));
                EXPECT_EQ(page.Links[k].second, prefix + SyntheticPath(guide, expected[k]));
            }
        }
        EXPECT_EQ(site.Stop(true), 0) << name;
    }
}

TEST(SyntheticLinks, AboutTenLinksNeverToItself) {
    using SamplePages::SyntheticLinks;
    EXPECT_TRUE(SyntheticLinks(1, 0).empty());
    EXPECT_EQ(SyntheticLinks(3, 2), (std::vector<int>{0, 1}));
    EXPECT_EQ(SyntheticLinks(1000, 5), (std::vector<int>{51, 52, 53, 54, 55, 56, 57, 58, 59, 60}));
    EXPECT_EQ(SyntheticLinks(25, 2), (std::vector<int>{21, 22, 23, 24, 3, 4, 5, 6, 7, 8}));
}

TEST(SampleSiteProgram, RejectsBadArguments) {
    for (std::vector<std::string> args : {std::vector<std::string>{"--generate", "5"},
                                          {"--guide", "EZTRIP"},
                                          {"--generate", "0", "--guide", "EZTRIP"},
                                          {"--generate", "5", "--guide", "eztrip"},
                                          {"--port", "70000"},
                                          {"--port"},
                                          {"--bogus", "1"}}) {
        TSampleSiteProcess site(WF_SAMPLE_SITE, args);
        EXPECT_EQ(site.ReadLine(std::chrono::seconds(10)), "");
        EXPECT_EQ(site.Stop(false), 2) << args[0];
    }
}

TEST_F(TSampleSiteTest, RootOptionServesAnotherFolder) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("wf-sample-root-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "alphabeds");
    std::filesystem::copy_file(std::string(WF_SOURCE_DIR) + "/samples/alphabeds/rome.html",
                               dir / "alphabeds/only.html",
                               std::filesystem::copy_options::overwrite_existing);
    {
        TSampleSiteProcess site(WF_SAMPLE_SITE, {"--root", dir.string(), "--port", "0"});
        const std::string root = site.ReadLine(std::chrono::seconds(10));
        const auto pages = Crawl("ALPHABEDS", root + "alphabeds/only.html");
        EXPECT_EQ(pages.at(root + "alphabeds/only.html").Body, "<p>Rooms near the Forum.</p>");
        EXPECT_EQ(Crawl("ALPHABEDS", root + "alphabeds/rome.html").begin()->second.Failures, 1);
        EXPECT_EQ(site.Stop(true), 0);
    }
    std::filesystem::remove_all(dir);

    TSampleSiteProcess missing(WF_SAMPLE_SITE, {"--root", (dir / "gone").string(), "--port", "0"});
    EXPECT_EQ(missing.ReadLine(std::chrono::seconds(10)), "");
    EXPECT_EQ(missing.Stop(false), 1);
}
