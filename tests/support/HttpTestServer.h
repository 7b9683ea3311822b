// A real HTTP server on 127.0.0.1 for tests, on a free port, run by cpp-httplib in a
// thread of the test process.
//
//   THttpTestServer server;              // nothing listens yet
//   server.MountSamples();               // optional: samples/ of the source tree at "/"
//   server.Http().Get("/x", handler);    // optional: handlers of your own
//   server.Start();                      // listening once this returns
//   fetch(server.Url("/status/404"));
//
// Built-in routes, ready after Start():
//   /status/<code>        answers with that status and the body "status <code>"
//   /redirect             302 to /status/200 (Location is a full address)
//   /set-cookie           200 with a Set-Cookie header
//   /bytes/<n>            200 with n bytes 0, 1, ..., 255, 0, ... (NULs included)
//   /stall-headers        sends nothing until the server shuts down
//   /stall-body           sends the headers and "partial", then nothing until shut-down
//   /slow/<chunks>/<ms>   sends <chunks> chunks "chunk <i>\n", <ms> apart
//   /endless              a chunked body of 'x' that never ends (until the client goes)
//   /sized/<n>            announces a Content-Length of n bytes, then sends them lazily
// A stalled route never outlives the server: the destructor wakes it before stopping.
//
// Every request is recorded (path and headers), so a test can see what reached the
// server, e.g. the "Via" header a proxy adds. Handlers of your own must be added
// before Start(); a handler that has to hang should wait with WaitForShutdown.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class THttpTestServer {
public:
    struct TRequest {
        std::string Method;
        std::string Path;
        std::multimap<std::string, std::string> Headers;    // names as sent
        bool HasHeader(const std::string& name) const;      // letter case ignored
        std::string Header(const std::string& name) const;  // first value, "" if none
    };

    THttpTestServer();
    ~THttpTestServer();
    THttpTestServer(const THttpTestServer&) = delete;
    THttpTestServer& operator=(const THttpTestServer&) = delete;

    httplib::Server& Http() { return server_; }
    // Serves the samples folder of the source tree at "/".
    void MountSamples();
    // Binds 127.0.0.1 on a free port and starts serving; throws std::runtime_error
    // when no port can be bound.
    void Start();

    int Port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by path (which should begin with "/").
    std::string Url(const std::string& path) const;

    std::vector<TRequest> Requests() const;
    // Waits until the server shuts down or bound passes; true on shut-down.
    bool WaitForShutdown(std::chrono::milliseconds bound);

    // The samples folder of the source tree, with a trailing "/".
    static std::string SamplesDir();

private:
    void AddBuiltInRoutes();

    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;

    mutable std::mutex mutex_;
    std::condition_variable shutdownCv_;
    bool shuttingDown_ = false;
    std::vector<TRequest> requests_;
};
