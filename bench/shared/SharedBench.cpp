// A branch reload of a generated site of 1,000 pages (10 links each, served by
// wayfolio-sample-site on 127.0.0.1) by wayfolio-cli, timed from start to exit:
//
//   Embedded        one program, the database file opened in-process
//   Server          one program, the same database served by a Firebird server
//   ServerThreeAtOnce  three programs at once on one served database (two
//                   reload-branch, one load-empty), until the last one ends
//
// Every database is fresh, with forced writes on, as a user's would be. The server
// is one of this benchmark's own (tests/support/db-server-fixture, as root). Counters:
// pages_per_s (pages stored / time), and for three at once the slowest program's time.
//
// Run: build/bench/shared/wf_shared_bench   (a minute or two)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "samples/SamplePages.h"
#include "store/Database.h"
#include "store/Query.h"
#include "tests/support/SampleSiteProcess.h"
#include "tests/support/TempDatabase.h"

extern char** environ;

namespace {

constexpr int kPages = 1000;
using TClock = std::chrono::steady_clock;

pid_t Spawn(std::vector<std::string> args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The programs' log lines would drown the figures.
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + args[0]);
    return pid;
}

int WaitFor(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The benchmark's own server, started and stopped with the tests' fixture script.
class TServer {
public:
    TServer()
        : state_(std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") +
                 "/wf-bench-server." + std::to_string(getpid())) {
        if (std::system((Fixture() + " start " + state_ + " >/dev/null").c_str()) != 0)
            throw std::runtime_error("the database server did not start (run as root)");
    }
    ~TServer() { std::system((Fixture() + " stop " + state_ + " >/dev/null").c_str()); }
    const std::string& State() const { return state_; }

private:
    static std::string Fixture() { return SourceDir() + "/tests/support/db-server-fixture"; }
    std::string state_;
};

// A fresh database holding the site's top page, and a configuration naming it.
std::string Prepare(TTempDatabase& db, const std::string& topUrl) {
    db.RunIsql(
        "INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE) VALUES (1, "
        "'Top', '" +
        topUrl +
        "', 'destinationguide', 'EZTRIP');\nINSERT INTO MASTER_DETAIL VALUES "
        "(0, 1, 1);\nALTER SEQUENCE NODE_ID RESTART WITH 10;");
    const std::string ini = db.Folder() + "/bench.ini";
    std::ofstream(ini) << "[Interbase]\r\nDatabaseName=" << db.Path() << "\r\n" << db.IniLogin();
    return "-I:" + ini;
}

int StoredPages(const TTempDatabase& temp) {
    TDatabase db;
    TTransaction tr(db);
    temp.Connect(db, tr);
    TQuery q(db);
    q.SetSQL("SELECT COUNT(*) FROM NODE WHERE BODY IS NOT NULL");
    q.ExecQuery();
    return q.AsInteger(0);
}

// Runs the given commands at once on a fresh database; the time until the last ends.
void RunClients(benchmark::State& state, const std::string& serverState,
                const std::vector<std::string>& commands) {
    TGeneratedSite site(WF_SAMPLE_SITE, kPages);
    double seconds = 0;
    int pages = 0, failures = 0;
    for (auto _ : state) {
        TTempDatabase db(true, false, serverState);
        const std::string ini = Prepare(db, site.TopUrl());
        const auto start = TClock::now();
        std::vector<pid_t> clients;
        for (const auto& command : commands) clients.push_back(Spawn({WF_CLI, ini, command, "1"}));
        for (pid_t pid : clients) failures += WaitFor(pid) != 0;
        seconds = std::chrono::duration<double>(TClock::now() - start).count();
        state.SetIterationTime(seconds);
        pages = StoredPages(db);
    }
    state.counters["pages"] = pages;
    state.counters["pages_per_s"] = pages / seconds;
    state.counters["failed_programs"] = failures;
}

void Embedded(benchmark::State& state) {
    RunClients(state, "", {"reload-branch"});
}

void Server(benchmark::State& state) {
    TServer server;
    RunClients(state, server.State(), {"reload-branch"});
}

void ServerThreeAtOnce(benchmark::State& state) {
    TServer server;
    RunClients(state, server.State(), {"reload-branch", "reload-branch", "load-empty"});
}

}  // namespace

BENCHMARK(Embedded)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(Server)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(ServerThreeAtOnce)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
