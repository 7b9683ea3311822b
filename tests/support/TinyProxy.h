// A real tinyproxy for tests, started by the fixture on 127.0.0.1 with a generated
// configuration in a temporary folder, and stopped (SIGTERM, then SIGKILL) when the
// object goes away.
//
//   TTinyProxy proxy;                     // open proxy
//   TTinyProxy proxy("bob", "secret");    // basic authentication required
//   if (!TTinyProxy::Available()) GTEST_SKIP() << "tinyproxy is not installed";
//   ... "Proxy.Host" = "127.0.0.1", "Proxy.Port" = proxy.Port() ...
//
// The proxy adds a "Via" header naming tinyproxy to every request it forwards, so a
// test server can tell proxied requests from direct ones; Log() returns tinyproxy's
// own log for failure messages.
#pragma once

#include <sys/types.h>

#include <string>

class TTinyProxy {
public:
    // An empty user means no authentication. Throws std::runtime_error when the proxy
    // does not come up within a few seconds.
    explicit TTinyProxy(const std::string& user = {}, const std::string& password = {});
    ~TTinyProxy();
    TTinyProxy(const TTinyProxy&) = delete;
    TTinyProxy& operator=(const TTinyProxy&) = delete;

    int Port() const { return port_; }
    std::string Log() const;

    // Whether the tinyproxy program can be found.
    static bool Available();

private:
    bool TryStart(const std::string& user, const std::string& password);
    void Stop();

    std::string dir_;
    int port_ = 0;
    pid_t pid_ = -1;
};
