#include "tests/support/FaultServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace {

int BindLoopback(int& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket");
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        throw std::runtime_error("bind");
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

// Sends all bytes; false when the client has gone.
bool SendAll(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::string Response(const std::string& status, const std::string& headers,
                     const std::string& body, bool keepAlive = false) {
    return "HTTP/1.1 " + status +
           "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
           (keepAlive ? "\r\n" : "\r\nConnection: close\r\n") + headers + "\r\n" + body;
}

}  // namespace

TFaultServer::TFaultServer(TPageFunction pages) : TFaultServer(std::move(pages), TOptions{}) {}

TFaultServer::TFaultServer(TPageFunction pages, TOptions options)
    : pages_(std::move(pages)), options_(std::move(options)) {
    if (options_.OneConnection) options_.KeepAlive = true;
    // A port that was free a moment ago and is closed again refuses connections.
    close(BindLoopback(refusedPort_));
    listener_ = BindLoopback(port_);
    if (listen(listener_, 64) != 0) throw std::runtime_error("listen");
    acceptor_ = std::thread([this] { Accept(); });
}

TFaultServer::~TFaultServer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        for (int fd : connections_) shutdown(fd, SHUT_RDWR);
        changed_.notify_all();
    }
    shutdown(listener_, SHUT_RDWR);
    acceptor_.join();
    close(listener_);
    for (auto& w : workers_) w.join();
}

std::string TFaultServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::string TFaultServer::RefusedUrl(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(refusedPort_) + path;
}

std::vector<std::string> TFaultServer::Requested() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requested_;
}

bool TFaultServer::WaitForRequest(const std::string& path, std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, bound, [&] {
        return std::find(requested_.begin(), requested_.end(), path) != requested_.end();
    });
}

int TFaultServer::Connections() const {
    return accepted_;
}

int TFaultServer::TooMany() const {
    return tooMany_;
}

bool TFaultServer::Pause(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !changed_.wait_for(lock, bound, [this] { return stopping_; });
}

void TFaultServer::Accept() {
    for (;;) {
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;  // the listener was shut down
        ++accepted_;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) {
                close(fd);
                return;
            }
            connections_.push_back(fd);
            if (!options_.OneConnection) {
                workers_.emplace_back([this, fd] { Serve(fd); });
                continue;
            }
        }
        // The next connection waits in the backlog until this one closes.
        Serve(fd);
    }
}

void TFaultServer::Forget(int fd) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connections_.erase(std::find(connections_.begin(), connections_.end(), fd));
    }
    close(fd);
}

void TFaultServer::Serve(int fd) {
    // However the exchange ends, the connection is closed and forgotten.
    struct TDone {
        TFaultServer* server;
        int fd;
        ~TDone() { server->Forget(fd); }
    } done{this, fd};
    std::string pending;
    while (ServeOne(fd, pending) && options_.KeepAlive) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) break;
    }
}

bool TFaultServer::ServeOne(int fd, std::string& pending) {
    std::string request;
    char buf[4096];
    request.swap(pending);
    while (request.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        request.append(buf, static_cast<size_t>(n));
    }
    // A client that goes before asking (a transfer abandoned while connecting) gets
    // nothing and is not counted as a request.
    const size_t end = request.find("\r\n\r\n");
    if (end == std::string::npos) return false;
    pending = request.substr(end + 4);
    const size_t start = request.find(' ') + 1;
    const std::string path = request.substr(start, request.find(' ', start) - start);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requested_.push_back(path);
        changed_.notify_all();
    }
    std::string fault;
    if (path.rfind("/fault/", 0) == 0) {
        fault = path.substr(7);
        fault = fault.substr(0, fault.find(".html"));
        if (fault.find('_') != std::string::npos) fault = fault.substr(fault.rfind('_') + 1);
    }
    const std::string filler(64 * 1024, 'x');
    if (fault == "reset") {
        SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 10000\r\n\r\n" + std::string(100, 'r'));
        linger hard{1, 0};  // close with RST instead of FIN
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    } else if (fault == "chunked-cut") {
        SendAll(fd,
                "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\n<html><body>cut\r\n");
    } else if (fault == "500" || fault == "503" || fault == "404") {
        SendAll(fd, Response(fault + " Trouble", "",
                             "<html><body>server says " + fault + "</body></html>"));
    } else if (fault == "redirect") {
        SendAll(fd, Response("302 Found", "Location: " + Url(path) + "\r\n", ""));
    } else if (fault == "bad-status") {
        SendAll(fd, "HTTP/1.1 OK\x1b[31m no status\r\n\r\n<html></html>");
    } else if (fault == "silence") {
        SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n");
        Pause(std::chrono::minutes(10));
    } else if (fault == "trickle") {
        const std::string page = "<html><body>slow</body></html>";
        if (SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(page.size()) +
                            "\r\n\r\n")) {
            for (char c : page)
                if (!SendAll(fd, std::string(1, c)) || !Pause(std::chrono::milliseconds(1000)))
                    break;
        }
    } else if (fault == "endless" || fault == "huge") {
        SendAll(fd, fault == "huge" ? "HTTP/1.1 200 OK\r\nContent-Length: 1073741824\r\n\r\n"
                                    : "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
        // Until the client gives up (or the server stops): never more than 4 GiB.
        for (int i = 0; i < 65536 && SendAll(fd, filler); ++i) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) break;
        }
    } else if (fault == "gzip") {
        SendAll(fd, Response("200 OK", "Content-Encoding: gzip\r\n",
                             std::string("\x1f\x8b\x08\x00not gzip at all\xff\x00\x01", 22)));
    } else if (!fault.empty()) {
        SendAll(fd, Response("404 Not Found", "", "no such fault"));
    } else {
        const bool keep = options_.KeepAlive;
        // Counted while it is being answered: a rate limiter sees requests at once.
        struct TAtOnce {
            std::atomic<int>& n;
            ~TAtOnce() { --n; }
        } atOnce{atOnce_};
        if (++atOnce_ > options_.MostAtOnce && options_.MostAtOnce > 0) {
            ++tooMany_;
            return SendAll(fd, Response("429 Too Many Requests",
                                        "Retry-After: " + options_.RetryAfter + "\r\n",
                                        "slow down", keep)) &&
                   keep;
        }
        const int silence = options_.SilenceMs ? options_.SilenceMs(path) : 0;
        if (silence > 0 && !Pause(std::chrono::milliseconds(silence))) return false;
        if (options_.Latency.count() > 0 && !Pause(options_.Latency)) return false;
        const std::string page = pages_(path);
        return SendAll(fd, page.empty() ? Response("404 Not Found", "", "", keep)
                                        : Response("200 OK", "", page, keep)) &&
               keep;
    }
    return false;
}
