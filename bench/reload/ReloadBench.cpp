// A branch reload of a generated site of 2,000 pages with 10 links each, served by
// wayfolio-sample-site on 127.0.0.1, into the embedded engine with forced writes on and
// a commit after every write, against the floor such a run cannot beat:
//
//   floor = commits x (cost of one commit retaining on the same database)
//         + (time wget -r takes to fetch the same pages from the same server)
//
// The commit cost is measured after each kind of write the run makes (a new node, a new
// link, a content update) and weighted by how many of each the run made (commit_ms);
// small_commit_ms, after a one-column update, gives the lowest floor (floor_small_s).
// Other counters: pages_per_s, peak_rss_MB (this process's peak during the run),
// rss_grew_MB (that peak less its size when the run began), commits, wget_s, floor_s and
// ratio (run time / floor_s; the aim is 1.5 or less).
//
// Then the same branch is reloaded again, unchanged: every page is downloaded and
// compared, and only what differs is written. rerun_commits_per_page (the aim is 2 or
// less), rerun_s and rerun_fraction (rerun_s / the first run's time; the aim is 0.25 or
// less).
//
// Run: build/bench/reload/wf_reload_bench --benchmark_filter=BM_BranchReload
//      (half a minute; without the filter the distant-site runs of NetworkReloadBench.cpp
//      follow, five minutes more)
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "bench/reload/BranchRun.h"
#include "bench/reload/CommitCost.h"
#include "bench/reload/WgetCrawl.h"
#include "store/Database.h"
#include "tests/support/SampleSiteProcess.h"
#include "tests/support/TempDatabase.h"

namespace {

constexpr int kPages = 2000;

void BM_BranchReload(benchmark::State& state) {
    TGeneratedSite site(WF_SAMPLE_SITE, kPages);
    TTempDatabase temp;  // forced writes are on for a new database
    // WF_RELOAD_BENCH_ASYNC=1 turns them off, to tell the disk's share of a run from
    // the rest.
    const char* async = std::getenv("WF_RELOAD_BENCH_ASYNC");
    if (async && *async == '1' &&
        std::system(("gfix -write async '" + temp.Path() + "' -user SYSDBA").c_str()) != 0)
        throw std::runtime_error("gfix failed");
    TDatabase db;
    TTransaction tr(db);
    temp.Connect(db, tr);
    SeedGeneratedSite(db, tr, site.TopUrl());

    TBranchRun run;
    for (auto _ : state) {
        run = RunBranchReload(db);
        state.SetIterationTime(run.Seconds);
    }
    const TReloadProgress& progress = run.Progress;
    const int nodeInserts = NodeCount(db) - 1;  // all but the top node came from links
    const TBranchRun rerun = RunBranchReload(db);

    const TCommitCost cost = MeasureCommitCost(db, tr, site.TopUrl());
    const double commitsSeconds = cost.RunSeconds(progress, nodeInserts);
    db.Close();

    int wgetFiles = 0;
    const double wgetSeconds = WgetSeconds(site.TopUrl(), temp.Folder(), wgetFiles);
    const double floorSeconds = commitsSeconds + wgetSeconds;

    state.counters["pages"] = progress.Downloads;
    state.counters["links"] = progress.Links;
    state.counters["errors"] = progress.Errors;
    state.counters["pages_per_s"] = progress.Downloads / run.Seconds;
    state.counters["peak_rss_MB"] = run.PeakMemoryKb / 1024.0;
    state.counters["rss_grew_MB"] = (run.PeakMemoryKb - run.StartMemoryKb) / 1024.0;
    state.counters["commits"] = progress.Commits;
    state.counters["commit_ms"] = commitsSeconds / progress.Commits * 1000;
    state.counters["node_commit_ms"] = cost.Node * 1000;
    state.counters["link_commit_ms"] = cost.Link * 1000;
    state.counters["content_commit_ms"] = cost.Content * 1000;
    state.counters["small_commit_ms"] = cost.Small * 1000;
    state.counters["floor_small_s"] = progress.Commits * cost.Small + wgetSeconds;
    state.counters["wget_s"] = wgetSeconds;
    state.counters["wget_pages"] = wgetFiles;
    state.counters["floor_s"] = floorSeconds;
    state.counters["ratio"] = run.Seconds / floorSeconds;
    // The same floor with the commits as long as they took during the run itself: the
    // disk is shared, and its speed at the moment of the run is what the run met.
    state.counters["run_commit_ms"] = progress.CommitSeconds / progress.Commits * 1000;
    state.counters["run_floor_s"] = progress.CommitSeconds + wgetSeconds;
    state.counters["run_ratio"] = run.Seconds / (progress.CommitSeconds + wgetSeconds);
    state.counters["rerun_s"] = rerun.Seconds;
    state.counters["rerun_commits_per_page"] =
        static_cast<double>(rerun.Progress.Commits) / rerun.Progress.Downloads;
    state.counters["rerun_fraction"] = rerun.Seconds / run.Seconds;
    state.counters["rerun_errors"] = rerun.Progress.Errors;
}

BENCHMARK(BM_BranchReload)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
