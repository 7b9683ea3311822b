// "Reload branch documents" of a generated site in the window (offscreen, the real
// TForm1 with its log pane, status bar and progress bar, its event queue pumped as
// the run goes) against the same run by wayfolio-cli, each into a fresh database of
// its own, from one sample-site server. The runs alternate, window and command line,
// and the fastest of each is compared: the machine is shared, and the fastest run is
// the one least disturbed. The aim: window_s / cli_s at most 1.15.
//
// Run: build/bench/window/wf_window_bench [pages [rounds]]   (defaults 601 and 2)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QApplication>
#include <QTreeWidget>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

#include "app/WayfolioFr.h"
#include "bench/reload/BranchRun.h"
#include "config/AuxProj.h"
#include "store/Database.h"
#include "tests/support/SampleSiteProcess.h"
#include "tests/support/TempDatabase.h"

extern char** environ;

namespace {

using TClock = std::chrono::steady_clock;

double Seconds(TClock::time_point from) {
    return std::chrono::duration<double>(TClock::now() - from).count();
}

// A fresh database holding the site's top page, and a configuration naming it.
struct TRunDatabase {
    TTempDatabase temp;
    std::string ini;
    explicit TRunDatabase(const std::string& topUrl) {
        TDatabase db;
        TTransaction tr(db);
        temp.Connect(db, tr);
        SeedGeneratedSite(db, tr, topUrl);
        db.Close();
        ini = temp.Folder() + "/bench.ini";
        std::ofstream(ini, std::ios::binary)
            << "[Interbase]\r\nDatabaseName=" << temp.Path() << "\r\n"
            << temp.IniLogin() << "LogFile=\r\n";
    }
};

double CliRun(const std::string& topUrl) {
    TRunDatabase run(topUrl);
    const std::string iniArg = "-I:" + run.ini;
    const std::string node = std::to_string(GeneratedTopNode);
    const char* argv[] = {WF_CLI, iniArg.c_str(), "reload-branch", node.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = TClock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, WF_CLI, &actions, nullptr, const_cast<char**>(argv), environ) != 0)
        throw std::runtime_error("cannot start wayfolio-cli");
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const double seconds = Seconds(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("wayfolio-cli failed");
    return seconds;
}

double WindowRun(const std::string& topUrl, int& documents) {
    TRunDatabase run(topUrl);
    ProjIniName = run.ini;
    ProjIni = std::make_unique<TIniStore>(TIniStore::FromFile(run.ini));
    double seconds = 0;
    {
        TForm1 form;
        form.show();
        QApplication::processEvents();
        form.FormShow();
        form.Nodes->setCurrentItem(form.RootItem()->child(0));
        const auto start = TClock::now();
        form.ReloadChildrenAction->trigger();
        seconds = Seconds(start);
        TDatabase db;
        TTransaction tr(db);
        run.temp.Connect(db, tr);
        documents = NodeCount(db);
    }
    ProjIni.reset();
    return seconds;
}

}  // namespace

int main(int argc, char* argv[]) {
    const int pages = argc > 1 ? std::atoi(argv[1]) : 601;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 2;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    try {
        TGeneratedSite site(WF_SAMPLE_SITE, pages);
        double cli = 1e9, window = 1e9;
        int documents = 0;
        for (int round = 0; round < rounds; ++round) {
            const double w = WindowRun(site.TopUrl(), documents);
            const double c = CliRun(site.TopUrl());
            std::printf("round %d: window %.2f s, cli %.2f s (%d documents)\n", round + 1, w, c,
                        documents);
            window = std::min(window, w);
            cli = std::min(cli, c);
        }
        std::printf("pages=%d window_s=%.2f cli_s=%.2f ratio=%.3f (aim <= 1.15)\n", pages, window,
                    cli, window / cli);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "wf_window_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
