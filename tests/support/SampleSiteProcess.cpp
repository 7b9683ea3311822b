#include "tests/support/SampleSiteProcess.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

std::vector<std::string> GeneratedSiteArgs(int pages, const std::string& guide, int latencyMs) {
    std::vector<std::string> args = {"--port",  "0",  "--generate", std::to_string(pages),
                                     "--guide", guide};
    if (latencyMs > 0) {
        args.push_back("--latency");
        args.push_back(std::to_string(latencyMs));
    }
    return args;
}

}  // namespace

TSampleSiteProcess::TSampleSiteProcess(const std::string& program, std::vector<std::string> args) {
    args.insert(args.begin(), program);
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_ = fds[0];
    if (rc != 0) {
        pid_ = -1;
        close(out_);
        throw std::runtime_error("cannot start " + program);
    }
}

TSampleSiteProcess::~TSampleSiteProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    close(out_);
}

std::string TSampleSiteProcess::ReadLine(std::chrono::seconds bound) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    char c;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        if (read(out_, &c, 1) != 1 || c == '\n') break;
        line += c;
    }
    return line;
}

int TSampleSiteProcess::Stop(bool terminate) {
    if (pid_ <= 0) return -1;  // stopped before; kill(-1) would reach every process
    if (terminate) kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TGeneratedSite::TGeneratedSite(const std::string& program, int pages, const std::string& guide,
                               int latencyMs)
    : process_(program, GeneratedSiteArgs(pages, guide, latencyMs)),
      topUrl_(process_.ReadLine(std::chrono::seconds(10))) {
    if (topUrl_.empty()) throw std::runtime_error(program + " printed no address");
}

TGeneratedSite::~TGeneratedSite() {
    process_.Stop(true);
}
