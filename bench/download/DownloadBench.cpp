// Scanning speed of the page readers on large synthetic pages (1, 4 and 16 MB, tens of
// thousands of links). A reader must stay linear in the page size: a cut consumes
// the text it scanned instead of copying what remains.
//
// Run: wf_download_bench [--benchmark_filter=...]; compare bytes_per_second across sizes.
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "download/wf_AlphaBeds.h"
#include "download/wf_EzTrip.h"
#include "samples/SamplePages.h"

namespace {

using SamplePages::TLink;

enum TPageShape { psEzTripLocation, psEzTripCities, psEzTripGuide, psAlphaBeds };

std::vector<TLink> Links(int count) {
    std::vector<TLink> links;
    links.reserve(count);
    for (int i = 0; i < count; ++i) {
        links.push_back({"Place_viewLocation_" + std::to_string(i) + ".html",
                         "Place number " + std::to_string(i)});
    }
    return links;
}

std::string Build(TPageShape shape, int linkCount) {
    const std::vector<TLink> links = Links(linkCount);
    const std::string body = "<p>" + std::string(2000, 'x') + "</p>";
    switch (shape) {
        case psEzTripLocation:
            return SamplePages::EzTripLocationPage("Big", "Big_viewLocation_0.html", links, body);
        case psEzTripCities:
            return SamplePages::EzTripCitiesPage("Big", links);
        case psEzTripGuide:
            return SamplePages::EzTripGuidePage("Big", links);
        case psAlphaBeds: {
            const std::vector<TLink> half(links.begin(), links.begin() + linkCount / 2);
            const std::vector<TLink> rest(links.begin() + linkCount / 2, links.end());
            return SamplePages::AlphaBedsPage("Big", half, rest, body);
        }
    }
    return {};
}

// A page of the given shape of about megabytes MB, built once per shape and size.
const std::string& Page(TPageShape shape, int megabytes) {
    static std::map<std::pair<int, int>, std::string> cache;
    std::string& page = cache[{shape, megabytes}];
    if (page.empty()) {
        const double perLink = Build(shape, 1000).size() / 1000.0;
        page = Build(shape, static_cast<int>(megabytes * 1048576.0 / perLink));
    }
    return page;
}

const char* UrlFor(TPageShape shape) {
    switch (shape) {
        case psEzTripLocation:
            return "http://127.0.0.1/eztrip/Big_viewLocation_0.html";
        case psEzTripCities:
            return "http://127.0.0.1/eztrip/Big_viewCities_0.html";
        case psEzTripGuide:
            return "http://127.0.0.1/eztrip/destinationguide.html";
        case psAlphaBeds:
            return "http://127.0.0.1/alphabeds/big.html";
    }
    return "";
}

void ParseWholePage(benchmark::State& state, TPageShape shape) {
    const std::string& html = Page(shape, static_cast<int>(state.range(0)));
    const std::string url = UrlFor(shape);
    std::unique_ptr<TDownload> reader;
    if (shape == psAlphaBeds) {
        reader = std::make_unique<TAlphaBedsDownload>();
    } else {
        reader = std::make_unique<TEzTripDownload>();
    }
    std::size_t links = 0;
    std::size_t bodyBytes = 0;
    reader->OnLink = [&](bool, const std::string&, const std::string&, const std::string&, int,
                         TDownloadHandle&) { ++links; };
    reader->OnContent = [&](const std::string&, const std::string& body, const std::string&,
                            const std::string&, const std::string&, const std::string&,
                            TDownloadHandle&) { bodyBytes += body.size(); };
    TDownloadHandle handle(1, 0, "BENCH");
    for (auto _ : state) {
        links = 0;
        reader->ParseContent(url, html, handle);
        reader->ParseLinks(true, url, html, handle);
        reader->ParseLinks(false, url, html, handle);
        benchmark::DoNotOptimize(bodyBytes);
    }
    if (links < 5000u * static_cast<std::size_t>(state.range(0)))
        state.SkipWithError("too few links found");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(html.size()));
    state.counters["links"] = static_cast<double>(links);
    state.counters["MB"] = html.size() / 1048576.0;
}

void BM_EzTripLocation(benchmark::State& state) {
    ParseWholePage(state, psEzTripLocation);
}
void BM_EzTripCities(benchmark::State& state) {
    ParseWholePage(state, psEzTripCities);
}
void BM_EzTripGuide(benchmark::State& state) {
    ParseWholePage(state, psEzTripGuide);
}
void BM_AlphaBeds(benchmark::State& state) {
    ParseWholePage(state, psAlphaBeds);
}

BENCHMARK(BM_EzTripLocation)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EzTripCities)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EzTripGuide)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AlphaBeds)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);

// The scanning routine alone: cutting every anchor out of a 16 MB text.
void BM_CutBetweenLoop(benchmark::State& state) {
    const std::string& html = Page(psAlphaBeds, static_cast<int>(state.range(0)));
    std::size_t cuts = 0;
    for (auto _ : state) {
        std::string_view text = html;
        cuts = 0;
        do {
            benchmark::DoNotOptimize(CutBetween(text, "<a ", "/a>"));
            ++cuts;
        } while (!text.empty());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(html.size()));
    state.counters["cuts"] = static_cast<double>(cuts);
}
BENCHMARK(BM_CutBetweenLoop)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
