// What a reader file costs against the compiled reader it imitates.
//
// BM_ReadPage: CPU time to read one page (layout check, content, both link passes),
// over every page of generated EzTrip and AlphaBeds sites of 500 pages, compiled and
// file taking turns, the best of 20 passes each; counters compiled_us, file_us and
// ratio (file / compiled; the aim is 3 or less).
//
// BM_BranchRun: a branch reload of a generated EzTrip site of 1,000 pages served on
// 127.0.0.1, into the embedded engine with forced writes off, with the compiled reader
// and with readers/eztrip.lua, alternating, the best of three each; counters
// compiled_s, file_s and ratio (the aim is 1.05 or less).
//
// Run: build/bench/readers/wf_readers_bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
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

// Counts what a reader delivers, so that the delivering cannot be left out.
void Deliver(TDownload& reader, long& delivered) {
    reader.OnContent = [&](const std::string&, const std::string& body, const std::string&,
                           const std::string&, const std::string&, const std::string&,
                           TDownloadHandle&) { delivered += static_cast<long>(body.size()); };
    reader.OnLink = [&](bool, const std::string&, const std::string&, const std::string&, int,
                        TDownloadHandle&) { ++delivered; };
}

// CPU seconds per page of one pass over all pages.
double OnePass(TDownload& reader, const std::vector<TPage>& pages) {
    TDownloadHandle handle(1, 2, "X");
    const double start = CpuSeconds();
    for (const TPage& page : pages) {
        benchmark::DoNotOptimize(reader.KnowsLayout(page.Url, page.Html));
        reader.ParseContent(page.Url, page.Html, handle);
        reader.ParseLinks(true, page.Url, page.Html, handle);
        reader.ParseLinks(false, page.Url, page.Html, handle);
    }
    return (CpuSeconds() - start) / pages.size();
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
    long delivered = 0;
    Deliver(*compiled, delivered);
    Deliver(file, delivered);
    // The two take turns, pass by pass, so that a slower spell of the machine falls
    // on both; each keeps its best pass.
    double compiledSeconds = 1e9, fileSeconds = 1e9;
    for (auto _ : state) {
        for (int pass = 0; pass < 20; ++pass) {
            compiledSeconds = std::min(compiledSeconds, OnePass(*compiled, pages));
            fileSeconds = std::min(fileSeconds, OnePass(file, pages));
        }
    }
    benchmark::DoNotOptimize(delivered);
    state.SetLabel(ezTrip ? "EZTRIP" : "ALPHABEDS");
    state.counters["compiled_us"] = compiledSeconds * 1e6;
    state.counters["file_us"] = fileSeconds * 1e6;
    state.counters["ratio"] = fileSeconds / compiledSeconds;
}
BENCHMARK(BM_ReadPage)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_BranchRun(benchmark::State& state) {
    TGeneratedSite site(WF_SAMPLE_SITE, 1000);
    const std::string file = std::string(WF_SOURCE_DIR) + "/readers/eztrip.lua";
    // Every database stays open to the end: the embedded engine is not shut down and
    // started again between runs, which would be timed with them.
    struct TRunDatabase {
        TTempDatabase Temp;
        TDatabase Db;
        TTransaction Tr{Db};
    };
    constexpr int kRounds = 3;
    std::vector<std::unique_ptr<TRunDatabase>> databases;
    for (int i = 0; i < 2 * kRounds; ++i) {
        databases.push_back(std::make_unique<TRunDatabase>());
        TRunDatabase& d = *databases.back();
        // Both readers store the same rows; with forced writes the disk's flush
        // times, which vary from run to run by far more than the readers differ,
        // would decide the ratio.
        const std::string async = "gfix -write async '" + d.Temp.Path() + "' " + d.Temp.ToolLogin();
        if (std::system(async.c_str()) != 0) {
            state.SkipWithError("gfix could not switch forced writes off");
            return;
        }
        d.Temp.Connect(d.Db, d.Tr);
        SeedGeneratedSite(d.Db, d.Tr, site.TopUrl());
    }
    double compiledBest = 1e9, fileBest = 1e9;
    int pages = 0;
    for (auto _ : state) {
        for (int i = 0; i < 2 * kRounds; ++i) {
            const bool withFile = i % 2 == 1;
            Readers().ForceFile(withFile ? file : "");
            const TBranchRun run = RunBranchReload(databases[i]->Db);
            pages = run.Progress.Downloads;
            double& best = withFile ? fileBest : compiledBest;
            best = std::min(best, run.Seconds);
        }
    }
    Readers().ForceFile("");
    for (auto& d : databases) d->Db.Close();
    state.counters["pages"] = pages;
    state.counters["compiled_s"] = compiledBest;
    state.counters["file_s"] = fileBest;
    state.counters["ratio"] = fileBest / compiledBest;
}
BENCHMARK(BM_BranchRun)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
