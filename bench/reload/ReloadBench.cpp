// A branch reload of a generated site of 2,000 pages with 10 links each, served by
// wayfolio-sample-site on 127.0.0.1, into the embedded engine with forced writes on and
// a commit after every write, against the floor such a run cannot beat:
//
//   floor = commits x (cost of one commit retaining on the same database)
//         + (time wget -r takes to fetch the same pages from the same server)
//
// Reported counters: pages_per_s, peak_rss_MB, commits, commit_ms (a commit after a new
// link, which most of the run's commits are), small_commit_ms (after a one-column
// update), wget_s, floor_s (with commit_ms), floor_small_s (with small_commit_ms) and
// ratio (run time / floor_s; the aim is 1.5 or less).
//
// Run: build/bench/reload/wf_reload_bench   (one iteration; takes a minute or so)
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "app/Reload.h"
#include "store/Database.h"
#include "store/Query.h"
#include "tests/support/TempDatabase.h"

extern char** environ;

namespace {

constexpr int kPages = 2000;
using TClock = std::chrono::steady_clock;

double Seconds(TClock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// wayfolio-sample-site serving the generated site; stopped with SIGTERM.
class TSiteProcess {
public:
    TSiteProcess() {
        int fds[2];
        if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::string args[] = {WF_SAMPLE_SITE,         "--port",  "0",     "--generate",
                              std::to_string(kPages), "--guide", "EZTRIP"};
        char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(),
                        args[4].data(), args[5].data(), args[6].data(), nullptr};
        const int rc = posix_spawn(&pid_, WF_SAMPLE_SITE, &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (rc != 0) throw std::runtime_error("cannot start " WF_SAMPLE_SITE);
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n') topUrl_ += c;
        close(fds[0]);
        if (topUrl_.empty()) throw std::runtime_error("the sample site printed no address");
    }
    ~TSiteProcess() {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    const std::string& TopUrl() const { return topUrl_; }

private:
    pid_t pid_ = -1;
    std::string topUrl_;
};

class TQuietHost : public TReloadHost {
public:
    void ProcessMessages() override {}
    void WriteLog(unsigned char, const std::string&) override { ++Lines; }
    long Lines = 0;
};

long PeakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// wget -r over the same site: every page once (pages only, not their images).
double WgetSeconds(const std::string& topUrl, const std::string& folder, int& files) {
    const std::string dir = folder + "/wget";
    const std::string cmd =
        "wget -q -r -l inf -np -nd -e robots=off -A html -P '" + dir + "' '" + topUrl + "'";
    const auto start = TClock::now();
    const int rc = std::system(cmd.c_str());
    const double seconds = Seconds(TClock::now() - start);
    if (rc != 0) throw std::runtime_error("wget failed: " + cmd);
    files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        (void)entry;
        ++files;
    }
    std::filesystem::remove_all(dir);
    return seconds;
}

void BM_BranchReload(benchmark::State& state) {
    TSiteProcess site;
    TTempDatabase temp;  // forced writes are on for a new database
    // WF_RELOAD_BENCH_ASYNC=1 turns them off, to tell the disk's share of a run from
    // the rest.
    const char* async = std::getenv("WF_RELOAD_BENCH_ASYNC");
    if (async && *async == '1' &&
        std::system(("gfix -write async '" + temp.Path() + "' -user SYSDBA").c_str()) != 0)
        throw std::runtime_error("gfix failed");
    TDatabase db;
    TTransaction tr(db);
    db.DatabaseName = temp.Path();
    db.SQLDialect = 3;
    db.SetParam("user_name", "SYSDBA");
    db.SetDefaultTransaction(&tr);
    db.AfterConnect = [&](TDatabase&) { tr.StartTransaction(); };
    db.Open();
    {
        TQuery q(db);
        q.SetSQL(
            "INSERT INTO NODE(NODE_ID,TITLE,ORIG_URL,ORIG_ID,READ_CONTENT,GUIDE_TYPE) "
            "VALUES(1000000,'Generated guide',:Url,'destinationguide','Y','EZTRIP')");
        q.SetParam("Url", site.TopUrl());
        q.ExecSQL();
        q.SetSQL("INSERT INTO MASTER_DETAIL VALUES (0, 1000000, 1)");
        q.ExecSQL();
        tr.CommitRetaining();
    }
    const long rssBefore = PeakRssKb();

    TQuietHost host;
    TReloadProgress progress;
    double runSeconds = 0;
    for (auto _ : state) {
        StopFlag = false;
        TReloadEngine engine(db, host);
        const auto start = TClock::now();
        engine.ReloadNodes(1000000, false, 999, true);
        runSeconds = Seconds(TClock::now() - start);
        state.SetIterationTime(runSeconds);
        progress = engine.Progress();
    }
    const long rssAfter = PeakRssKb();

    // The cost of one commit retaining on the same database, timed alone, after the
    // two kinds of write the run makes: a new link (most of its commits, a row and
    // three index entries) and, for comparison, the smallest write (one column of one
    // row).
    constexpr int kCommits = 300;
    TClock::duration linkCommits{}, smallCommits{};
    {
        TQuery insert(db);
        insert.SetSQL("INSERT INTO MASTER_DETAIL VALUES (-1, :D, :D)");
        TQuery update(db);
        update.SetSQL("UPDATE MASTER_DETAIL SET ORDER_=:O WHERE MASTER_ID=0 AND DETAIL_ID=1000000");
        for (int i = 0; i < kCommits; ++i) {
            insert.SetParam("D", i + 1);  // nodes the run created
            insert.ExecSQL();
            auto start = TClock::now();
            tr.CommitRetaining();
            linkCommits += TClock::now() - start;
            update.SetParam("O", i);
            update.ExecSQL();
            start = TClock::now();
            tr.CommitRetaining();
            smallCommits += TClock::now() - start;
        }
    }
    const double commitSeconds = Seconds(linkCommits) / kCommits;
    const double smallCommitSeconds = Seconds(smallCommits) / kCommits;
    db.Close();

    int wgetFiles = 0;
    const double wgetSeconds = WgetSeconds(site.TopUrl(), temp.Folder(), wgetFiles);
    const double floorSeconds = progress.Commits * commitSeconds + wgetSeconds;

    state.counters["pages"] = progress.Downloads;
    state.counters["links"] = progress.Links;
    state.counters["errors"] = progress.Errors;
    state.counters["pages_per_s"] = progress.Downloads / runSeconds;
    state.counters["peak_rss_MB"] = rssAfter / 1024.0;
    state.counters["rss_grew_MB"] = (rssAfter - rssBefore) / 1024.0;
    state.counters["commits"] = progress.Commits;
    state.counters["commit_ms"] = commitSeconds * 1000;
    state.counters["small_commit_ms"] = smallCommitSeconds * 1000;
    state.counters["floor_small_s"] = progress.Commits * smallCommitSeconds + wgetSeconds;
    state.counters["wget_s"] = wgetSeconds;
    state.counters["wget_pages"] = wgetFiles;
    state.counters["floor_s"] = floorSeconds;
    state.counters["ratio"] = runSeconds / floorSeconds;
}

BENCHMARK(BM_BranchReload)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
