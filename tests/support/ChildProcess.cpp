#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

// This process's environment with the entries of changes in place of those of the
// same name.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& changes) {
    auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    std::vector<std::string> result;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const std::string& change : changes) replaced |= nameOf(change) == nameOf(entry);
        if (!replaced) result.push_back(entry);
    }
    result.insert(result.end(), changes.begin(), changes.end());
    return result;
}

}  // namespace

TChildProcess::TChildProcess(const std::string& program, std::vector<std::string> args,
                             const std::string& outputFile,
                             const std::vector<std::string>& environment) {
    args.insert(args.begin(), program);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    // A group of its own, so that a kill takes the helpers it started too (the window's
    // web engine processes), as when the machine goes down.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = ChildEnvironment(environment);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const int rc =
        posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) throw std::runtime_error("cannot start " + program);
}

TChildProcess::~TChildProcess() {
    if (pid_ > 0) Kill();
}

void TChildProcess::Reap(int status, long maxRssKb) {
    kill(-pid_, SIGKILL);  // helpers left behind
    pid_ = -1;
    Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    PeakMemoryKb = maxRssKb;
}

bool TChildProcess::Ended() {
    if (pid_ <= 0) return true;
    int status = 0;
    rusage usage{};
    if (wait4(pid_, &status, WNOHANG, &usage) != pid_) return false;
    Reap(status, usage.ru_maxrss);
    return true;
}

bool TChildProcess::Wait(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!Ended()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void TChildProcess::Signal(int number) {
    if (pid_ > 0) kill(pid_, number);
}

void TChildProcess::Kill() {
    if (pid_ <= 0) return;
    kill(-pid_, SIGKILL);
    int status = 0;
    rusage usage{};
    wait4(pid_, &status, 0, &usage);
    Reap(status, usage.ru_maxrss);
}
