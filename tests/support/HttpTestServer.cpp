#include "tests/support/HttpTestServer.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace {

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

}  // namespace

bool THttpTestServer::TRequest::HasHeader(const std::string& name) const {
    return std::any_of(Headers.begin(), Headers.end(),
                       [&](const auto& h) { return SameName(h.first, name); });
}

std::string THttpTestServer::TRequest::Header(const std::string& name) const {
    for (const auto& h : Headers) {
        if (SameName(h.first, name)) return h.second;
    }
    return {};
}

THttpTestServer::THttpTestServer() {
    // Without it, kept-alive connections pay Nagle's delay on every response.
    server_.set_tcp_nodelay(true);
    // Recorded before any handler runs, so a request is visible to the test by the
    // time its client has the answer.
    server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        TRequest recorded{req.method, req.path, {}};
        for (const auto& h : req.headers) recorded.Headers.emplace(h.first, h.second);
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(std::move(recorded));
        return httplib::Server::HandlerResponse::Unhandled;
    });
    AddBuiltInRoutes();
}

THttpTestServer::~THttpTestServer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        shuttingDown_ = true;
    }
    shutdownCv_.notify_all();
    if (thread_.joinable()) {
        server_.stop();
        thread_.join();
    }
}

std::string THttpTestServer::SamplesDir() {
    return std::string(WF_SOURCE_DIR) + "/samples/";
}

void THttpTestServer::MountSamples() {
    if (!server_.set_mount_point("/", SamplesDir())) {
        throw std::runtime_error("No samples folder at " + SamplesDir());
    }
}

void THttpTestServer::Start() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("The test HTTP server cannot bind 127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    // stop() is ignored until the server runs, so a short test could otherwise leave
    // the thread accepting forever.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!server_.is_running()) {
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("The test HTTP server did not start");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::string THttpTestServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<THttpTestServer::TRequest> THttpTestServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

bool THttpTestServer::WaitForShutdown(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(mutex_);
    return shutdownCv_.wait_for(lock, bound, [this] { return shuttingDown_; });
}

void THttpTestServer::AddBuiltInRoutes() {
    using httplib::Request;
    using httplib::Response;
    // Long enough for any test, short enough that a forgotten client cannot hang CI.
    constexpr std::chrono::seconds stallBound(60);

    server_.Get(R"(/status/(\d+))", [](const Request& req, Response& res) {
        res.status = std::stoi(req.matches[1]);
        res.set_content("status " + std::string(req.matches[1]), "text/plain");
    });
    server_.Get("/redirect", [this](const Request&, Response& res) {
        res.set_redirect(Url("/status/200"), 302);
    });
    server_.Get("/set-cookie", [](const Request&, Response& res) {
        res.set_header("Set-Cookie", "session=abc123; Path=/");
        res.set_content("cookie set", "text/plain");
    });
    server_.Get(R"(/bytes/(\d+))", [](const Request& req, Response& res) {
        const std::size_t size = std::stoul(req.matches[1]);
        std::string body(size, '\0');
        for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>(i % 256);
        res.set_content(body, "application/octet-stream");
    });
    server_.Get("/stall-headers", [this, stallBound](const Request&, Response& res) {
        WaitForShutdown(stallBound);
        res.set_content("too late", "text/plain");
    });
    server_.Get("/stall-body", [this, stallBound](const Request&, Response& res) {
        res.set_chunked_content_provider(
            "text/html", [this, stallBound, sent = false](size_t, httplib::DataSink& sink) mutable {
                if (!sent) {
                    sent = true;
                    sink.write("partial", 7);
                    return true;
                }
                WaitForShutdown(stallBound);
                return false;  // drops the connection
            });
    });
    server_.Get("/endless", [this](const Request&, Response& res) {
        res.set_chunked_content_provider("text/html", [this](size_t, httplib::DataSink& sink) {
            static const std::string block(64 * 1024, 'x');
            // Ends when the client hangs up (the write fails) or the server stops.
            return !WaitForShutdown(std::chrono::milliseconds(0)) &&
                   sink.write(block.data(), block.size());
        });
    });
    server_.Get(R"(/sized/(\d+))", [this](const Request& req, Response& res) {
        const std::size_t size = std::stoull(req.matches[1]);
        res.set_content_provider(
            size, "text/html", [this](size_t offset, size_t length, httplib::DataSink& sink) {
                static const std::string block(64 * 1024, 'y');
                (void)offset;
                return !WaitForShutdown(std::chrono::milliseconds(0)) &&
                       sink.write(block.data(), std::min(length, block.size()));
            });
    });
    server_.Get(R"(/slow/(\d+)/(\d+))", [this](const Request& req, Response& res) {
        const int chunks = std::stoi(req.matches[1]);
        const std::chrono::milliseconds gap(std::stoi(req.matches[2]));
        // Not a text type: the server would compress it for a client that accepts gzip,
        // and hold the chunks back until the end.
        res.set_chunked_content_provider(
            "application/octet-stream", [this, chunks, gap, next = 0](size_t, httplib::DataSink& sink) mutable {
                if (next == chunks) {
                    sink.done();
                    return true;
                }
                // The gap is the point of this route: data arriving slowly but steadily.
                if (next > 0 && WaitForShutdown(gap)) return false;
                const std::string chunk = "chunk " + std::to_string(next++) + "\n";
                sink.write(chunk.data(), chunk.size());
                return true;
            });
    });
}
