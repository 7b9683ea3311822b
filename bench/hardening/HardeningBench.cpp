// How the gathering behaves against servers that misbehave:
//
// StopAgainstASilentServer: a reload run whose page comes from a server that accepts the
//   connection and never answers; Stop is pressed 200 ms into the transfer. Reports
//   stop_to_end_ms, the time from Stop to the run's return (the aim: under 500), and
//   turn_gap_ms, the longest wait between two of the host's turns during the transfer
//   (the aim: under 100).
// CliAgainstAnEndlessBody: wayfolio-cli reloading a page whose body never ends, with the
//   default page size limit. Reports peak_rss_MB of the program (the aim: under 100),
//   its exit status and how long it took to give up on the page.
//
// Run: build/bench/hardening/wf_hardening_bench
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <string>

#include "core/Reload.h"
#include "store/Database.h"
#include "store/Query.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TempDatabase.h"

extern char** environ;

namespace {

using TClock = std::chrono::steady_clock;

double Ms(TClock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// A port that takes connections (the kernel completes them) and never answers.
class TSilentServer {
public:
    TSilentServer() {
        sock_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        if (::bind(sock_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
            ::listen(sock_, 16) != 0 ||
            ::getsockname(sock_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        port_ = ntohs(addr.sin_port);
    }
    ~TSilentServer() { ::close(sock_); }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/page.html"; }

private:
    int sock_ = -1;
    int port_ = 0;
};

void AddTop(TTempDatabase& temp, const std::string& url) {
    temp.RunIsql(
        "INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE, BODY) VALUES (1, 'Top', "
        "'" +
        url +
        "', 'page', 'EZTRIP', 'old body');\n"
        "INSERT INTO MASTER_DETAIL VALUES (0, 1, 1);");
}

// Presses Stop 200 ms after the run started and notes the gaps between its turns.
class TStopHost : public TReloadHost {
public:
    void ProcessMessages() override {
        const auto now = TClock::now();
        if (lastTurn_ != TClock::time_point()) longestGap = std::max(longestGap, now - lastTurn_);
        lastTurn_ = now;
        if (!StopFlag && now - Started >= std::chrono::milliseconds(200)) {
            StopFlag = true;
            Stopped = now;
        }
    }
    void WriteLog(unsigned char, const std::string&) override {}

    TClock::time_point Started, Stopped;
    TClock::duration longestGap{};

private:
    TClock::time_point lastTurn_;
};

void StopAgainstASilentServer(benchmark::State& state) {
    TTempDatabase temp;
    TSilentServer silent;
    AddTop(temp, silent.Url());
    TDatabase db;
    TTransaction tr(db);
    temp.Connect(db, tr);
    double stopToEnd = 0, gap = 0;
    for (auto _ : state) {
        TStopHost host;
        StopFlag = false;
        TReloadEngine engine(db, host);
        host.Started = TClock::now();
        engine.ReloadNodes(1, true, 0, true);
        const auto end = TClock::now();
        if (host.Stopped == TClock::time_point()) {
            state.SkipWithError("the run ended before Stop");
            break;
        }
        stopToEnd = std::max(stopToEnd, Ms(end - host.Stopped));
        gap = std::max(gap, Ms(host.longestGap));
    }
    StopFlag = false;
    state.counters["stop_to_end_ms"] = stopToEnd;
    state.counters["turn_gap_ms"] = gap;
    db.Close();
}
BENCHMARK(StopAgainstASilentServer)->Iterations(5)->Unit(benchmark::kMillisecond);

void CliAgainstAnEndlessBody(benchmark::State& state) {
    THttpTestServer server;
    server.Start();
    TTempDatabase temp;
    AddTop(temp, server.Url("/endless"));
    const std::string ini = temp.Folder() + "/wayfolio.ini";
    std::ofstream(ini) << "[Interbase]\r\nDatabaseName=" << temp.Path() << "\r\nUser=SYSDBA\r\n";
    double peakMb = 0, seconds = 0;
    int status = -1;
    for (auto _ : state) {
        std::string args[] = {WF_CLI, "-I:" + ini, "reload", "1"};
        char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const auto start = TClock::now();
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, WF_CLI, &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            state.SkipWithError("cannot start wayfolio-cli");
            break;
        }
        int wstatus = 0;
        rusage usage{};
        wait4(pid, &wstatus, 0, &usage);
        seconds = std::chrono::duration<double>(TClock::now() - start).count();
        peakMb = std::max(peakMb, usage.ru_maxrss / 1024.0);
        status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    }
    state.counters["peak_rss_MB"] = peakMb;
    state.counters["exit_status"] = status;
    state.counters["seconds"] = seconds;
}
BENCHMARK(CliAgainstAnEndlessBody)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
