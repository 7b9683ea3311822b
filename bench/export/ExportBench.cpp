// Writing a large branch as a book: an EPUB and a PDF of N documents (2,000 by
// default) of travel-guide pages of a few kilobytes each, with the time taken and
// the peak memory of this process and every process it started (the printing
// engine's), sampled every 20 ms and added up.
//
//   wf_export_bench [COUNT [FOLDER]]
#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "export/EpubWriter.h"
#include "export/PdfWriter.h"

namespace {

std::vector<TBookChapter> MakeChapters(int count) {
    std::vector<TBookChapter> chapters;
    for (int i = 0; i < count; ++i) {
        TBookChapter c;
        c.NodeId = i + 1;
        c.Level = i == 0 ? 0 : (i % 10 == 1 ? 1 : 2);
        c.Title = "Guide page " + std::to_string(i + 1) + (i % 3 ? " Z\xFCrich" : " Caf\xE9");
        c.Encoding = "iso-8859-1";
        c.OrigUrl = "http://site.test/guide/" + std::to_string(i + 1) + ".html";
        for (int p = 0; p < 8; ++p)
            c.Body += "<p>Paragraph " + std::to_string(p) +
                      " of a travel guide: <b>sights</b>, <a href=\"../more.html\">more</a>, "
                      "caf\xE9s and <font color=red>prices</font> of the old town.</p>\n";
        c.Body += "<table><caption>Hotels</caption><tr><td>Name</td><td>Price</td></tr>"
                  "<tr><td>Inn</td><td>80</td></tr></table>";
        chapters.push_back(std::move(c));
    }
    return chapters;
}

// Resident bytes of a process and of all its descendants.
long long TreeRss(pid_t root) {
    std::vector<std::pair<pid_t, pid_t>> parents;  // pid, ppid
    if (DIR* proc = opendir("/proc")) {
        while (dirent* e = readdir(proc)) {
            const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
            if (pid <= 0) continue;
            std::ifstream stat("/proc/" + std::string(e->d_name) + "/stat");
            std::string line;
            if (!std::getline(stat, line)) continue;
            const std::size_t close = line.rfind(')');
            if (close == std::string::npos) continue;
            std::istringstream rest(line.substr(close + 2));
            char state;
            pid_t ppid = 0;
            rest >> state >> ppid;
            parents.emplace_back(pid, ppid);
        }
        closedir(proc);
    }
    std::set<pid_t> tree{root};
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& [pid, ppid] : parents)
            if (tree.count(ppid) && tree.insert(pid).second) grew = true;
    }
    long long bytes = 0;
    for (pid_t pid : tree) {
        std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
        long long size = 0, resident = 0;
        if (statm >> size >> resident) bytes += resident * sysconf(_SC_PAGESIZE);
    }
    return bytes;
}

template <typename F>
void Measure(const char* what, F&& write) {
    std::atomic<bool> done{false};
    std::atomic<long long> peak{0};
    std::thread sampler([&] {
        while (!done) {
            const long long now = TreeRss(getpid());
            if (now > peak) peak = now;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const auto start = std::chrono::steady_clock::now();
    const std::string result = write();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    done = true;
    sampler.join();
    std::printf("%-5s %8.1f s  peak %7.0f MB over all processes  %s\n", what, seconds,
                static_cast<double>(peak.load()) / (1024 * 1024), result.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    const std::string folder = argc > 2 ? argv[2] : "/tmp";
    const std::vector<TBookChapter> chapters = MakeChapters(count);
    std::printf("%d documents\n", count);
    Measure("EPUB", [&] {
        WriteEpub(folder + "/wf_bench.epub", chapters);
        return folder + "/wf_bench.epub";
    });
    Measure("PDF", [&] {
        const int pages = WritePdfWithoutWindow(folder + "/wf_bench.pdf", chapters);
        return folder + "/wf_bench.pdf, " + std::to_string(pages) + " pages";
    });
    return 0;
}
