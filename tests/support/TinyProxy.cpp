#include "tests/support/TinyProxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {

const char* const TinyProxyProgram = "/usr/bin/tinyproxy";

// A port that was free a moment ago. tinyproxy cannot be told to pick one itself, so
// a start that loses the port to someone else is retried with a new one.
int FreePort() {
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    if (sock < 0) return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof(addr);
    int port = 0;
    if (::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
        ::getsockname(sock, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        port = ntohs(addr.sin_port);
    }
    ::close(sock);
    return port;
}

bool Accepts(int port) {
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    if (sock < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(sock, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    ::close(sock);
    return ok;
}

}  // namespace

bool TTinyProxy::Available() {
    return ::access(TinyProxyProgram, X_OK) == 0;
}

TTinyProxy::TTinyProxy(const std::string& user, const std::string& password) {
    char dirTemplate[] = "/tmp/wf-tinyproxy-XXXXXX";
    if (!::mkdtemp(dirTemplate)) throw std::runtime_error("Cannot create a folder for tinyproxy");
    dir_ = dirTemplate;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (TryStart(user, password)) return;
    }
    const std::string log = Log();
    Stop();
    std::filesystem::remove_all(dir_);
    throw std::runtime_error("tinyproxy did not start:\n" + log);
}

TTinyProxy::~TTinyProxy() {
    Stop();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

bool TTinyProxy::TryStart(const std::string& user, const std::string& password) {
    port_ = FreePort();
    if (port_ == 0) return false;
    const std::string conf = dir_ + "/tinyproxy.conf";
    {
        std::ofstream out(conf, std::ios::trunc);
        out << "Port " << port_ << "\n"
            << "Listen 127.0.0.1\n"
            << "Timeout 60\n"
            << "MaxClients 20\n"
            << "LogLevel Info\n"
            << "LogFile \"" << dir_ << "/tinyproxy.log\"\n"
            << "Allow 127.0.0.1\n";
        if (!user.empty()) out << "BasicAuth " << user << " " << password << "\n";
        if (!out) return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string output = dir_ + "/output.txt";
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    // -d keeps it in the foreground, so the pid is the proxy's and SIGTERM stops it.
    char* const argv[] = {const_cast<char*>(TinyProxyProgram), const_cast<char*>("-d"),
                          const_cast<char*>("-c"), const_cast<char*>(conf.c_str()), nullptr};
    const int rc = posix_spawn(&pid_, TinyProxyProgram, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (Accepts(port_)) return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;  // exited, most likely because the port was taken meanwhile
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Stop();
    return false;
}

void TTinyProxy::Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
}

std::string TTinyProxy::Log() const {
    std::ostringstream text;
    for (const char* name : {"/output.txt", "/tinyproxy.log"}) {
        std::ifstream in(dir_ + name);
        if (in && in.peek() != std::ifstream::traits_type::eof()) text << in.rdbuf();
    }
    return text.str();
}
