// Branch reloads by wayfolio-cli, as a user runs it, from servers that behave like real
// ones (the fault server of the tests), each into a fresh database:
//
// BM_RateLimitedReload: a generated site of 300 pages whose server answers 429 with
// Retry-After: 1 to any request beyond two at once, each answer after 100 ms, over
// kept-alive connections. With Connections=1 (first) and the default. Counters: requests
// (all, refused ones included), too_many (answers 429), requests_per_page (the aim is
// 1.1 or less), stored (documents), and vs_one, the run's time over the one-connection
// run's (the aim is 1.2 or less).
//
// BM_EndlessPages: a site of 30 pages, one of which links to ten pages that never end
// (MaxPageSize stops each). With Connections=1, 4 and 16. Counter: peak_rss_MB of the
// command-line tool (the aim is under 180 MB with 16 connections).
//
// Run: build/bench/reload/wf_reload_bench --benchmark_filter='BM_RateLimited|BM_Endless'
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "store/Database.h"
#include "store/Query.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FaultSite.h"
#include "tests/support/SiteDatabase.h"
#include "tests/support/TempDatabase.h"

namespace {

struct TCliRun {
    double Seconds = 0;
    long PeakMemoryKb = 0;
    int Stored = 0;
};

// A branch reload of the site at TopUrl by the command-line tool, with this many
// connections (0: the default).
TCliRun ReloadBranch(const std::string& topUrl, int connections) {
    TTempDatabase db;
    const std::string ini = PrepareSiteDatabase(db, topUrl);
    std::ofstream(ini, std::ios::app)
        << "[Download]\r\n"
        << (connections > 0 ? "Connections=" + std::to_string(connections) + "\r\n" : "");
    const auto start = std::chrono::steady_clock::now();
    TChildProcess cli(WF_CLI, {"-I:" + ini, "reload-branch", "1"}, db.Folder() + "/out");
    if (!cli.Wait(std::chrono::minutes(10)) || cli.Status != 0)
        throw std::runtime_error("the run failed; see " + db.Folder() + "/out");
    TCliRun run;
    run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.PeakMemoryKb = cli.PeakMemoryKb;
    TDatabase conn;
    TTransaction tr(conn);
    db.Connect(conn, tr);
    TQuery q(conn);
    q.SetSQL("SELECT COUNT(*) FROM NODE WHERE BODY IS NOT NULL");
    q.ExecQuery();
    run.Stored = q.AsInteger(0);
    return run;
}

void BM_RateLimitedReload(benchmark::State& state) {
    static double oneSeconds = 0;
    const int connections = static_cast<int>(state.range(0));
    constexpr int kPages = 300;
    TFaultServer::TOptions options;
    options.KeepAlive = true;
    options.MostAtOnce = 2;
    options.Latency = std::chrono::milliseconds(100);
    TFaultSite site(kPages, options);
    TCliRun run;
    for (auto _ : state) {
        run = ReloadBranch(site.Url(0), connections);
        state.SetIterationTime(run.Seconds);
    }
    if (connections == 1) oneSeconds = run.Seconds;
    state.counters["requests"] = site.Requests();
    state.counters["too_many"] = site.Server().TooMany();
    state.counters["requests_per_page"] = static_cast<double>(site.Requests()) / (kPages + 1);
    state.counters["stored"] = run.Stored;
    if (connections != 1 && oneSeconds > 0) state.counters["vs_one"] = run.Seconds / oneSeconds;
}

BENCHMARK(BM_RateLimitedReload)
    ->ArgName("connections")
    ->Arg(1)
    ->Arg(0)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

void BM_EndlessPages(benchmark::State& state) {
    const int connections = static_cast<int>(state.range(0));
    std::vector<SamplePages::TLink> endless;
    for (int i = 0; i < 10; ++i)
        endless.push_back({"/fault/e" + std::to_string(i) + "_viewLocation_endless.html", "endless"});
    TFaultSite site(30, {}, {{1, endless}});
    TCliRun run;
    for (auto _ : state) {
        run = ReloadBranch(site.Url(0), connections);
        state.SetIterationTime(run.Seconds);
    }
    state.counters["peak_rss_MB"] = run.PeakMemoryKb / 1024.0;
    state.counters["stored"] = run.Stored;
}

BENCHMARK(BM_EndlessPages)
    ->ArgName("connections")
    ->Arg(1)
    ->Arg(4)
    ->Arg(16)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace
