// What a reader file costs against the compiled reader it imitates.
//
// BM_ReadPage: CPU time to read one page (layout check, content, both link passes),
// over every page of generated EzTrip and AlphaBeds sites of 500 pages, compiled and
// file; counters compiled_us, file_us and ratio (file / compiled; the aim is 3 or
// less).
//
// BM_BranchRun: a branch reload of a generated EzTrip site of 1,000 pages served on
// 127.0.0.1, into the embedded engine, once with the compiled reader and once with
// readers/eztrip.lua, alternating, the best of three each; counters compiled_s, file_s
// and ratio (the aim is 1.05 or less).
//
// Run: build/bench/readers/wf_readers_bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "bench/reload/BranchRun.h"
#include "download/wf_AlphaBeds.h"
#include "download/wf_EzTrip.h"
#include "samples/SamplePages.h"
#include "script/LuaReader.h"
#include "script/ReaderCatalogue.h"
#include "store/Database.h"
#include "tests/support/SampleSiteProcess.h"
#include "tests/support/TempDatabase.h"

namespace {

using SamplePages::TSyntheticGuide;

constexpr int kSitePages = 500;

struct TPage {
    std::string Url, Html;
};

std::vector<TPage> SitePages(TSyntheticGuide guide) {
    std::vector<TPage> pages;
    for (int i = 0; i < kSitePages; ++i)
        pages.push_back({"http://127.0.0.1:8808" + SamplePages::SyntheticPath(guide, i),
                         SamplePages::SyntheticPage(guide, kSitePages, i)});
    return pages;
}

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// CPU seconds per page, the best of several passes over all pages.
double PerPage(TDownload& reader, const std::vector<TPage>& pages) {
    long delivered = 0;
    reader.OnContent = [&](const std::string&, const std::string& body, const std::string&,
                           const std::string&, const std::string&, const std::string&,
                           TDownloadHandle&) { delivered += static_cast<long>(body.size()); };
    reader.OnLink = [&](bool, const std::string&, const std::string&, const std::string&, int,
                        TDownloadHandle&) { ++delivered; };
    TDownloadHandle handle(1, 2, "X");
    double best = 1e9;
    for (int pass = 0; pass < 20; ++pass) {
        const double start = CpuSeconds();
        for (const TPage& page : pages) {
            benchmark::DoNotOptimize(reader.KnowsLayout(page.Url, page.Html));
            reader.ParseContent(page.Url, page.Html, handle);
            reader.ParseLinks(true, page.Url, page.Html, handle);
            reader.ParseLinks(false, page.Url, page.Html, handle);
        }
        best = std::min(best, (CpuSeconds() - start) / pages.size());
    }
    benchmark::DoNotOptimize(delivered);
    return best;
}

void BM_ReadPage(benchmark::State& state) {
    const bool ezTrip = state.range(0) == 0;
    const std::vector<TPage> pages =
        SitePages(ezTrip ? TSyntheticGuide::sgEzTrip : TSyntheticGuide::sgAlphaBeds);
    std::unique_ptr<TDownload> compiled;
    if (ezTrip)
        compiled = std::make_unique<TEzTripDownload>();
    else
        compiled = std::make_unique<TAlphaBedsDownload>();
    TLuaReader file(std::string(WF_SOURCE_DIR) + (ezTrip ? "/readers/eztrip.lua" : "/readers/alphabeds.lua"),
                    ezTrip ? "EZTRIP" : "ALPHABEDS");
    double compiledSeconds = 0, fileSeconds = 0;
    for (auto _ : state) {
        compiledSeconds = PerPage(*compiled, pages);
        fileSeconds = PerPage(file, pages);
    }
    state.SetLabel(ezTrip ? "EZTRIP" : "ALPHABEDS");
    state.counters["compiled_us"] = compiledSeconds * 1e6;
    state.counters["file_us"] = fileSeconds * 1e6;
    state.counters["ratio"] = fileSeconds / compiledSeconds;
}
BENCHMARK(BM_ReadPage)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_BranchRun(benchmark::State& state) {
    TGeneratedSite site(WF_SAMPLE_SITE, 1000);
    const std::string file = std::string(WF_SOURCE_DIR) + "/readers/eztrip.lua";
    double compiledBest = 1e9, fileBest = 1e9;
    int pages = 0;
    for (auto _ : state) {
        for (int round = 0; round < 3; ++round) {
            for (const bool withFile : {false, true}) {
                Readers().ForceFile(withFile ? file : "");
                TTempDatabase temp;
                TDatabase db;
                TTransaction tr(db);
                temp.Connect(db, tr);
                SeedGeneratedSite(db, tr, site.TopUrl());
                const TBranchRun run = RunBranchReload(db);
                pages = run.Progress.Downloads;
                double& best = withFile ? fileBest : compiledBest;
                best = std::min(best, run.Seconds);
                db.Close();
            }
        }
    }
    Readers().ForceFile("");
    state.counters["pages"] = pages;
    state.counters["compiled_s"] = compiledBest;
    state.counters["file_s"] = fileBest;
    state.counters["ratio"] = fileBest / compiledBest;
}
BENCHMARK(BM_BranchRun)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
