#include "bench/reload/WgetCrawl.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

double WgetSeconds(const std::string& topUrl, const std::string& folder, int& files) {
    const std::string dir = folder + "/wget";
    const std::string cmd =
        "wget -q -r -l inf -np -nd -e robots=off -A html -P '" + dir + "' '" + topUrl + "'";
    const auto start = std::chrono::steady_clock::now();
    const int rc = std::system(cmd.c_str());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (rc != 0) throw std::runtime_error("wget failed: " + cmd);
    files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        (void)entry;
        ++files;
    }
    std::filesystem::remove_all(dir);
    return seconds;
}
