#include "bench/reload/PeakMemory.h"

#include <sys/resource.h>

#include <fstream>
#include <stdexcept>

void ResetPeakMemory() {
    // "5" resets the high-water mark of the resident set (Linux 4.0 and later), which is
    // what getrusage reports as ru_maxrss.
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    if (!clear) throw std::runtime_error("cannot reset the peak memory in /proc/self/clear_refs");
}

long PeakMemoryKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}
