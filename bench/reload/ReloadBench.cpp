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
// Other counters: pages_per_s, peak_rss_MB, commits, wget_s, floor_s and ratio (run
// time / floor_s; the aim is 1.5 or less).
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
#include "samples/SamplePages.h"
#include "store/Database.h"
#include "store/Query.h"
#include "store/Statements.h"
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
    temp.Connect(db, tr);
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

    int nodeInserts = 0;
    {
        TQuery q(db);
        q.SetSQL("SELECT COUNT(*) FROM NODE");
        q.ExecQuery();
        nodeInserts = q.AsInteger(0) - 1;  // all but the top node came from links
    }
    const int contentUpdates = progress.Commits - progress.Links - nodeInserts;

    // The cost of one commit retaining on the same database, timed alone, after each
    // kind of write the run makes (with the run's own statements), and after the
    // smallest write (one column of one row) for comparison.
    constexpr int kCommits = 200;
    TClock::duration nodeCommits{}, linkCommits{}, contentCommits{}, smallCommits{};
    auto timedCommit = [&](TClock::duration& total) {
        const auto start = TClock::now();
        tr.CommitRetaining();
        total += TClock::now() - start;
    };
    {
        TQuery node(db), link(db), content(db), small(db);
        node.SetSQL(std::string(Statements::InsertNode));
        link.SetSQL(std::string(Statements::InsertLink));
        content.SetSQL(std::string(Statements::UpdateNodeContent));
        small.SetSQL("UPDATE MASTER_DETAIL SET ORDER_=:O WHERE MASTER_ID=0 AND DETAIL_ID=1000000");
        const auto guide = SamplePages::TSyntheticGuide::sgEzTrip;
        for (int i = 0; i < kCommits; ++i) {
            const std::string name = "extra" + std::to_string(i);
            node.SetParam("Title", name);
            node.SetParam("OrigUrl", site.TopUrl() + name);
            node.SetParam("OrigId", name);
            node.SetParam("Guide", std::string("EZTRIP"));
            node.ExecSQL();
            timedCommit(nodeCommits);
            link.SetParam("Order", i);
            link.SetParam("MId", -1);
            link.SetParam("DId", i + 1);  // nodes the run created
            link.ExecSQL();
            timedCommit(linkCommits);
            content.SetParam("NodeId", i + 1);
            content.SetParam("Title", name);
            content.SetParam("Body", SamplePages::SyntheticBody(guide, i + 1));
            content.SetParam("Head", std::string());
            content.SetParam("Encoding", std::string("iso-8859-1"));
            content.ExecSQL();
            timedCommit(contentCommits);
            small.SetParam("O", i);
            small.ExecSQL();
            timedCommit(smallCommits);
        }
    }
    const double nodeCommit = Seconds(nodeCommits) / kCommits;
    const double linkCommit = Seconds(linkCommits) / kCommits;
    const double contentCommit = Seconds(contentCommits) / kCommits;
    const double smallCommit = Seconds(smallCommits) / kCommits;
    const double commitsSeconds =
        nodeInserts * nodeCommit + progress.Links * linkCommit + contentUpdates * contentCommit;
    db.Close();

    int wgetFiles = 0;
    const double wgetSeconds = WgetSeconds(site.TopUrl(), temp.Folder(), wgetFiles);
    const double floorSeconds = commitsSeconds + wgetSeconds;

    state.counters["pages"] = progress.Downloads;
    state.counters["links"] = progress.Links;
    state.counters["errors"] = progress.Errors;
    state.counters["pages_per_s"] = progress.Downloads / runSeconds;
    state.counters["peak_rss_MB"] = rssAfter / 1024.0;
    state.counters["rss_grew_MB"] = (rssAfter - rssBefore) / 1024.0;
    state.counters["commits"] = progress.Commits;
    state.counters["commit_ms"] = commitsSeconds / progress.Commits * 1000;
    state.counters["node_commit_ms"] = nodeCommit * 1000;
    state.counters["link_commit_ms"] = linkCommit * 1000;
    state.counters["content_commit_ms"] = contentCommit * 1000;
    state.counters["small_commit_ms"] = smallCommit * 1000;
    state.counters["floor_small_s"] = progress.Commits * smallCommit + wgetSeconds;
    state.counters["wget_s"] = wgetSeconds;
    state.counters["wget_pages"] = wgetFiles;
    state.counters["floor_s"] = floorSeconds;
    state.counters["ratio"] = runSeconds / floorSeconds;
    // The same floor with the commits as long as they took during the run itself: the
    // disk is shared, and its speed at the moment of the run is what the run met.
    state.counters["run_commit_ms"] = progress.CommitSeconds / progress.Commits * 1000;
    state.counters["run_floor_s"] = progress.CommitSeconds + wgetSeconds;
    state.counters["run_ratio"] = runSeconds / (progress.CommitSeconds + wgetSeconds);
}

BENCHMARK(BM_BranchReload)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
