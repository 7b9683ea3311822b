// Branch reloads from a distant site: the generated site of 2,000 pages (10 links
// each) served by wayfolio-sample-site with every answer held back 50 ms, as over a
// real network, into the embedded engine with forced writes on. One run for each of
// Connections=1, 4 and 8 (section [Download] of the settings), each into a fresh
// database. The site answers up to 8 requests at once (its thread pool), so it never
// holds back a run of 8 connections.
//
// A run can be no faster than the commits it makes, nor than its pages' latency spread
// over its connections:
//
//   floor = max(commits x cost of one commit retaining, pages x 50 ms / connections)
//
// The commits are counted as long as they took during the run itself (run_commit_s):
// the disk is shared, and a commit costs what the disk gives at that moment, which
// varies several times over on a busy machine. Counters: wget_s, the time wget -r takes
// over the same delayed site (measured once, with the first run); vs_wget, wget_s / run
// time (the aim is 2 or more); latency_s, pages x 50 ms / connections; floor_s and ratio
// (run time / floor_s; the aim is 1.3 or less); other_s, the run's time outside its
// commits (reading pages, parsing, statements, waiting for pages not yet arrived).
// alone_commit_s is the same commits at their cost timed alone on the same database
// after the run (as in BM_BranchReload), alone_floor_s and alone_ratio the floor and
// ratio with it: to be trusted on a quiet machine only. Also pages (requested), failed
// (requests that brought no page), errors, commits, pages_per_s, peak_rss_MB (this
// process's peak during the run) and rss_grew_MB (that peak less its size when the run
// began).
//
// Run: build/bench/reload/wf_reload_bench --benchmark_filter=BM_DistantReload
//      (about five minutes: wget and Connections=1 take near 2,000 x 50 ms each)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <string>

#include "bench/reload/BranchRun.h"
#include "bench/reload/CommitCost.h"
#include "bench/reload/WgetCrawl.h"
#include "config/AuxProj.h"
#include "store/Database.h"
#include "tests/support/SampleSiteProcess.h"
#include "tests/support/TempDatabase.h"

namespace {

constexpr int kPages = 2000;
constexpr int kLatencyMs = 50;

// wget over the delayed site takes as long as a run on one connection; every run's
// site is the same, so it is timed once.
double DelayedWgetSeconds(const std::string& topUrl, const std::string& folder) {
    static const double seconds = [&] {
        int files = 0;
        return WgetSeconds(topUrl, folder, files);
    }();
    return seconds;
}

void BM_DistantReload(benchmark::State& state) {
    const int connections = static_cast<int>(state.range(0));
    TGeneratedSite site(WF_SAMPLE_SITE, kPages, "EZTRIP", kLatencyMs);
    TTempDatabase temp;  // forced writes are on for a new database
    TDatabase db;
    TTransaction tr(db);
    temp.Connect(db, tr);
    SeedGeneratedSite(db, tr, site.TopUrl());

    ProjIni = std::make_unique<TIniStore>(
        TIniStore::FromText("[Download]\r\nConnections=" + std::to_string(connections) + "\r\n"));
    TBranchRun run;
    for (auto _ : state) {
        run = RunBranchReload(db);
        state.SetIterationTime(run.Seconds);
    }
    ProjIni.reset();
    const TReloadProgress& progress = run.Progress;
    const int nodeInserts = NodeCount(db) - 1;  // all but the top node came from links
    const double aloneCommitSeconds =
        MeasureCommitCost(db, tr, site.TopUrl()).RunSeconds(progress, nodeInserts);
    db.Close();

    const double wgetSeconds = DelayedWgetSeconds(site.TopUrl(), temp.Folder());
    const double latencySeconds = progress.Downloads * (kLatencyMs / 1000.0) / connections;
    const double floorSeconds = std::max(progress.CommitSeconds, latencySeconds);
    const double aloneFloorSeconds = std::max(aloneCommitSeconds, latencySeconds);

    state.counters["pages"] = progress.Downloads;
    state.counters["failed"] = progress.FailedDownloads;
    state.counters["errors"] = progress.Errors;
    state.counters["commits"] = progress.Commits;
    state.counters["pages_per_s"] = progress.Downloads / run.Seconds;
    state.counters["peak_rss_MB"] = run.PeakMemoryKb / 1024.0;
    state.counters["rss_grew_MB"] = (run.PeakMemoryKb - run.StartMemoryKb) / 1024.0;
    state.counters["wget_s"] = wgetSeconds;
    state.counters["vs_wget"] = wgetSeconds / run.Seconds;
    state.counters["run_commit_s"] = progress.CommitSeconds;
    state.counters["other_s"] = run.Seconds - progress.CommitSeconds;
    state.counters["latency_s"] = latencySeconds;
    state.counters["floor_s"] = floorSeconds;
    state.counters["ratio"] = run.Seconds / floorSeconds;
    state.counters["alone_commit_s"] = aloneCommitSeconds;
    state.counters["alone_floor_s"] = aloneFloorSeconds;
    state.counters["alone_ratio"] = run.Seconds / aloneFloorSeconds;
}

BENCHMARK(BM_DistantReload)
    ->ArgName("connections")
    ->Arg(1)
    ->Arg(4)
    ->Arg(8)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace
