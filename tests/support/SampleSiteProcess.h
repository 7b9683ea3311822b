// wayfolio-sample-site run as a separate process by a test or a benchmark, its
// standard output read through a pipe. Killed when the object goes, unless stopped.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

class TSampleSiteProcess {
public:
    // Starts Program (the sample-site executable) with Args; std::runtime_error when it
    // cannot be started.
    TSampleSiteProcess(const std::string& program, std::vector<std::string> args);
    ~TSampleSiteProcess();
    TSampleSiteProcess(const TSampleSiteProcess&) = delete;
    TSampleSiteProcess& operator=(const TSampleSiteProcess&) = delete;

    // Everything the program printed up to its first line end, or up to its exit, or
    // up to Bound.
    std::string ReadLine(std::chrono::seconds bound);
    // Exit status after SIGTERM (or of a program that ends by itself), -1 when it has
    // not ended within ten seconds.
    int Stop(bool terminate);

private:
    pid_t pid_ = -1;
    int out_ = -1;
};

// The sample site serving a generated site, for runs that need many pages: on a free
// port, stopped with SIGTERM when the object goes.
class TGeneratedSite {
public:
    // Pages: the site's size; Guide: "EZTRIP" or "ALPHABEDS"; LatencyMs: how long every
    // answer waits (0: none). std::runtime_error when the program prints no address
    // within ten seconds.
    TGeneratedSite(const std::string& program, int pages, const std::string& guide = "EZTRIP",
                   int latencyMs = 0);
    ~TGeneratedSite();

    const std::string& TopUrl() const { return topUrl_; }

private:
    TSampleSiteProcess process_;
    std::string topUrl_;
};
