// The window and wayfolio-cli reloading the same branch at once, on one database
// served by a Firebird server: together they store what one run stores alone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QTreeWidget>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>

#include "app/WayfolioFr.h"
#include "config/AuxProj.h"
#include "samples/SamplePages.h"
#include "tests/support/Canonical.h"
#include "tests/support/Files.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/SiteDatabase.h"
#include "tests/support/TempDatabase.h"

extern char** environ;

namespace {

constexpr int kPages = 200;
constexpr auto kGuide = SamplePages::TSyntheticGuide::sgEzTrip;

// wayfolio-cli with its standard error in a file; killed if the test leaves early.
class TCliRun {
public:
    TCliRun(const std::string& errFile, std::vector<std::string> args) : errFile_(errFile) {
        args.insert(args.begin(), WF_CLI);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, WF_CLI, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) throw std::runtime_error("cannot start " WF_CLI);
    }
    ~TCliRun() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // The exit status (-1 when it does not end within the bound), and its standard error.
    int Wait(std::string& err) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        pid_ = -1;
        err = ReadWholeFile(errFile_);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    std::string errFile_;
    pid_t pid_ = -1;
};

class SharedWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TTempDatabase::OnServer()) GTEST_SKIP() << "the embedded engine serves one program";
        server_.Http().Get(
            R"(/gen/.*)", [this](const httplib::Request& req, httplib::Response& res) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    ++requests_;
                    changed_.notify_all();
                }
                const int page = SamplePages::SyntheticPageOf(kGuide, kPages, req.path);
                if (page < 0) {
                    res.status = 404;
                    return;
                }
                res.set_content(SamplePages::SyntheticPage(kGuide, kPages, page), "text/html");
            });
        server_.Start();
    }

    // The configuration file of a program using db, set up for the generated site.
    std::string Prepare(TTempDatabase& db) {
        return PrepareSiteDatabase(db, server_.Url(SamplePages::SyntheticPath(kGuide, 0)));
    }
    bool WaitForRequests(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(60),
                                 [&] { return requests_ >= count; });
    }

    THttpTestServer server_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int requests_ = 0;
};

TEST_F(SharedWindowTest, TheWindowAndTheCommandLineToolReloadTheSameBranchAtOnce) {
    TTempDatabase alone(true);
    std::string err;
    const int single =
        TCliRun(alone.Folder() + "/err", {"-I:" + Prepare(alone), "reload-branch", "1"}).Wait(err);
    ASSERT_EQ(single, 0) << err;
    const std::vector<std::string> expected = CanonicalContents(alone);

    TTempDatabase shared(true);
    const std::string ini = Prepare(shared);
    ProjIni = std::make_unique<TIniStore>(TIniStore::FromFile(ini));
    auto form = std::make_unique<TForm1>();
    form->FormShow();
    ASSERT_TRUE(form->IBDB.Connected());

    // The program is under way when the window starts the same branch.
    const int before = requests_;
    TCliRun cli(shared.Folder() + "/err", {"-I:" + ini, "reload-branch", "1"});
    ASSERT_TRUE(WaitForRequests(before + 3));
    form->Nodes->setCurrentItem(form->RootItem()->child(0));
    form->ReloadChildrenAction->trigger();
    const std::string status = form->StatusPanel2->text().toStdString();
    EXPECT_NE(status.find(" 0 errors"), std::string::npos) << status;
    form.reset();
    ProjIni.reset();

    EXPECT_EQ(cli.Wait(err), 0) << err;
    EXPECT_EQ(err.find("error: "), std::string::npos) << err;
    ExpectSameContents(expected, CanonicalContents(shared));
}

}  // namespace
