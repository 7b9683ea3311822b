// wayfolio-sample-site: serves the sample pages of both travel sites on 127.0.0.1,
// a local stand-in for the real sites, for the demo database and the tests.
//
//   wayfolio-sample-site [--port P] [--latency MS] [--root DIR]
//   wayfolio-sample-site [--port P] [--latency MS] --generate N --guide EZTRIP|ALPHABEDS
//
// The first form serves the folder of sample pages (by default the samples folder of
// the source tree this program was built from). The second serves a deterministic
// synthetic site of N linked pages instead. On start the program prints one line,
// the address of the site's top page, and serves until SIGTERM or SIGINT. Port 0
// picks a free port. --latency MS makes every answer wait MS milliseconds first, as
// a distant server's would, for measuring gathering over a real network.
#include <httplib.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>
#include <thread>

#include "samples/SamplePages.h"

namespace {

struct TOptions {
    int Port = 8808;
    std::string Root = WF_SAMPLES_DIR;
    int Generate = 0;
    int LatencyMs = 0;
    bool HasGuide = false;
    SamplePages::TSyntheticGuide Guide = SamplePages::TSyntheticGuide::sgEzTrip;
};

bool ParseInt(std::string_view text, int& value) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size();
}

int Usage(const char* error) {
    std::fprintf(stderr,
                 "%s\nusage: wayfolio-sample-site [--port P] [--latency MS] [--root DIR]\n"
                 "       wayfolio-sample-site [--port P] [--latency MS] --generate N --guide "
                 "EZTRIP|ALPHABEDS\n"
                 "--latency MS delays every answer by MS milliseconds, as a distant server.\n",
                 error);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    TOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") return Usage("Serves the Wayfolio sample pages.");
        if (!hasValue) return Usage(("missing value after " + std::string(arg)).c_str());
        const std::string_view value = argv[++i];
        if (arg == "--port") {
            if (!ParseInt(value, options.Port) || options.Port < 0 || options.Port > 65535) {
                return Usage("--port needs a number from 0 to 65535");
            }
        } else if (arg == "--root") {
            options.Root = value;
        } else if (arg == "--latency") {
            if (!ParseInt(value, options.LatencyMs) || options.LatencyMs < 0) {
                return Usage("--latency needs a number of milliseconds, 0 or more");
            }
        } else if (arg == "--generate") {
            if (!ParseInt(value, options.Generate) || options.Generate < 1) {
                return Usage("--generate needs a page count of at least 1");
            }
        } else if (arg == "--guide") {
            if (!SamplePages::ParseSyntheticGuide(value, options.Guide)) {
                return Usage("--guide must be EZTRIP or ALPHABEDS");
            }
            options.HasGuide = true;
        } else {
            return Usage(("unknown option " + std::string(arg)).c_str());
        }
    }
    if (options.Generate > 0 && !options.HasGuide) return Usage("--generate needs --guide");
    if (options.Generate == 0 && options.HasGuide) return Usage("--guide needs --generate");

    // Block the stop signals in every thread; one thread waits for them and stops the
    // server, which is not safe to do from a signal handler.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    httplib::Server server;
    // Headers and body go out in separate writes; without this, Nagle's algorithm and
    // delayed acknowledgement cost tens of milliseconds per request on a kept-alive
    // connection.
    server.set_tcp_nodelay(true);
    std::string topPath = "/";
    // Every answer waits this long before it is made, as a distant server's would.
    if (options.LatencyMs > 0) {
        const std::chrono::milliseconds latency(options.LatencyMs);
        server.set_pre_routing_handler([latency](const httplib::Request&, httplib::Response&) {
            std::this_thread::sleep_for(latency);
            return httplib::Server::HandlerResponse::Unhandled;
        });
    }
    if (options.Generate > 0) {
        const int pageCount = options.Generate;
        const SamplePages::TSyntheticGuide guide = options.Guide;
        topPath = SamplePages::SyntheticPath(guide, 0);
        server.Get(
            R"(/gen/.*)", [pageCount, guide](const httplib::Request& req, httplib::Response& res) {
                const int page = SamplePages::SyntheticPageOf(guide, pageCount, req.path);
                if (page < 0) {
                    res.status = 404;
                    res.set_content("No such page\n", "text/plain");
                    return;
                }
                res.set_content(SamplePages::SyntheticPage(guide, pageCount, page), "text/html");
            });
    } else if (!server.set_mount_point("/", options.Root)) {
        std::fprintf(stderr, "wayfolio-sample-site: no folder \"%s\"\n", options.Root.c_str());
        return 1;
    }

    int port = options.Port;
    if (port == 0) {
        port = server.bind_to_any_port("127.0.0.1");
        if (port < 0) port = 0;
    } else if (!server.bind_to_port("127.0.0.1", port)) {
        port = 0;
    }
    if (port == 0) {
        std::fprintf(stderr, "wayfolio-sample-site: cannot listen on 127.0.0.1:%d: %s\n",
                     options.Port, std::strerror(errno));
        return 1;
    }

    // stop() is ignored while the server is not yet running, so it is repeated until
    // listening has ended.
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> listenEnded{false};
    std::thread stopper([&] {
        int signalNumber = 0;
        sigwait(&stopSignals, &signalNumber);
        stopRequested = true;
        while (!listenEnded) {
            server.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });

    std::printf("http://127.0.0.1:%d%s\n", port, topPath.c_str());
    std::fflush(stdout);

    const bool listened = server.listen_after_bind();
    listenEnded = true;
    // Should listening have failed on its own, wake the stopper; the signal stays
    // blocked, so it cannot end the process early.
    if (!stopRequested) kill(getpid(), SIGTERM);
    stopper.join();
    if (!listened && !stopRequested) {
        std::fprintf(stderr, "wayfolio-sample-site: serving failed\n");
        return 1;
    }
    return 0;
}
