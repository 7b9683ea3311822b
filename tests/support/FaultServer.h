// A web server on 127.0.0.1 that misbehaves on purpose, one address per fault, for
// proving that a run meets each the way it should. Written on raw sockets because an
// ordinary server library cannot send a broken status line, cut a chunked body short
// or reset a connection halfway through a body.
//
//   TFaultServer server([](const std::string& path) { return page or ""; });
//   server.Url("/fault/reset.html");   // "http://127.0.0.1:<port>/fault/reset.html"
//
// Faults, by the name after "/fault/" (any ".html" suffix and any prefix up to a last
// "_" ignored, so that the address may look like a page of a site):
//   reset        Content-Length 10000, 100 bytes, then a TCP reset
//   chunked-cut  a chunked body that ends without its last chunk
//   500 503 404  that status with a short HTML body
//   redirect     302 to its own address, for ever
//   bad-status   a status line that is no HTTP, with control bytes in it
//   silence      the headers of a 200, then nothing until the server stops
//   trickle      a small complete page, one byte per second
//   endless      200 without a length, then bytes for as long as the client reads
//   huge         200 declaring Content-Length of 1 GiB, then bytes as "endless"
//   gzip         "Content-Encoding: gzip" nobody asked for, over bytes that are no gzip
// Any other path is answered by the page function: 200 with its text, or 404 when it
// returns nothing. RefusedUrl() names a port where nothing listens.
//
// A fault that waits (silence, trickle, endless) never outlives the server: the
// destructor wakes it and closes every connection.
//
// With options it behaves like a small real server instead: pages kept alive on their
// connection, one connection served at a time (the others wait in the listen backlog
// until it closes), 429 with Retry-After when more than so many requests arrive at
// once, and a silence of its own before the answer of chosen pages.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TFaultServer {
public:
    using TPageFunction = std::function<std::string(const std::string& path)>;

    struct TOptions {
        bool KeepAlive = false;
        bool OneConnection = false;  // implies KeepAlive
        int MostAtOnce = 0;          // > 0: requests beyond it are answered 429
        std::string RetryAfter = "1";
        std::chrono::milliseconds Latency{0};  // before every page's answer
        // Silence before the answer of a page, by path; none when unset or 0.
        std::function<int(const std::string& path)> SilenceMs;
    };

    explicit TFaultServer(TPageFunction pages);
    TFaultServer(TPageFunction pages, TOptions options);
    ~TFaultServer();
    TFaultServer(const TFaultServer&) = delete;
    TFaultServer& operator=(const TFaultServer&) = delete;

    std::string Url(const std::string& path) const;
    // An address on 127.0.0.1 whose port refuses connections.
    std::string RefusedUrl(const std::string& path) const;
    // Paths requested so far, in order.
    std::vector<std::string> Requested() const;
    // Waits (bounded) until path has been requested.
    bool WaitForRequest(const std::string& path, std::chrono::milliseconds bound);
    // TCP connections accepted so far, and requests answered 429.
    int Connections() const;
    int TooMany() const;

private:
    void Accept();
    void Serve(int fd);
    // One request read and answered; false when the connection is to be closed.
    bool ServeOne(int fd, std::string& pending);
    void Forget(int fd);
    // Waits up to bound unless the server stops first; false once it stops.
    bool Pause(std::chrono::milliseconds bound);

    TPageFunction pages_;
    TOptions options_;
    std::atomic<int> accepted_{0};
    std::atomic<int> atOnce_{0};
    std::atomic<int> tooMany_{0};
    int listener_ = -1;
    int port_ = 0;
    int refusedPort_ = 0;
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    std::vector<int> connections_;
    std::vector<std::thread> workers_;
    std::vector<std::string> requested_;
};
