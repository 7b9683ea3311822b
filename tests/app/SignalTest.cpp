// SIGTERM and SIGINT end the window's program as closing the window does: a run
// stops, the database is closed and the temporary file removed. The real program is
// started offscreen and signalled; a run is stopped inside this process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/SignalClose.h"
#include "app/WayfolioFr.h"
#include "config/AuxProj.h"
#include "samples/SamplePages.h"
#include "store/Database.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TempDatabase.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The program's temporary HTML files in folder.
int TempFiles(const fs::path& folder) {
    int n = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        n += entry.path().filename().string().rfind("WF_", 0) == 0;
    return n;
}

// Whether process pid holds the file open.
bool HoldsOpen(pid_t pid, const std::string& file) {
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        std::error_code linkError;
        if (fs::read_symlink(fd.path(), linkError) == file) return true;
    }
    return false;
}

class SignalProcessTest : public ::testing::TestWithParam<int> {};

TEST_P(SignalProcessTest, TheWindowEndsCleanly) {
    if (TTempDatabase::OnServer())
        GTEST_SKIP() << "the embedded engine's own handlers are the point";
    TTempDatabase db(true, true);
    const fs::path tmp = fs::path(db.Folder()) / "tmp";
    fs::create_directory(tmp);
    const std::string ini = db.Folder() + "/wayfolio.ini";
    std::ofstream(ini, std::ios::binary) << "[Interbase]\r\nDatabaseName=" << db.Path() << "\r\n";

    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("TMPDIR", tmp.c_str(), 1);
        const std::string config = "-I:" + ini;
        execl(WF_GUI, WF_GUI, config.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Up and running: the temporary file made and the database open.
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < deadline && !(TempFiles(tmp) == 1 && HoldsOpen(pid, db.Path())))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(TempFiles(tmp), 1);
    EXPECT_TRUE(HoldsOpen(pid, db.Path()));

    ASSERT_EQ(kill(pid, GetParam()), 0);
    int status = 0;
    pid_t done = 0;
    const auto end = Clock::now() + std::chrono::seconds(30);
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "the program did not end on signal " << GetParam();
    }
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(TempFiles(tmp), 0);
    // Closed in order: another program opens it.
    TDatabase other;
    TTransaction tr(other);
    EXPECT_NO_THROW(db.Connect(other, tr));
}

INSTANTIATE_TEST_SUITE_P(TermAndInt, SignalProcessTest, ::testing::Values(SIGTERM, SIGINT),
                         [](const auto& info) { return info.param == SIGTERM ? "Term" : "Int"; });

TEST(SignalWindowTest, ASignalDuringARunStopsItAndClosesTheWindow) {
    // Top -> One, Two; One -> Three.
    THttpTestServer server;
    server.Http().Get(R"(/site/(.*))", [](const httplib::Request& req, httplib::Response& res) {
        const std::string name = req.matches[1].str();
        std::vector<SamplePages::TLink> links;
        if (name == "X_viewLocation_Top.html")
            links = {{"X_viewLocation_One.html", "One"}, {"X_viewLocation_Two.html", "Two"}};
        if (name == "X_viewLocation_One.html") links = {{"X_viewLocation_Three.html", "Three"}};
        res.set_content(SamplePages::EzTripLocationPage("T", name, links, "Body " + name),
                        "text/html");
    });
    server.Start();
    TTempDatabase db;
    db.RunIsql(
        "INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE) VALUES (1, 'Top', '" +
        server.Url("/site/X_viewLocation_Top.html") +
        "', 'X_viewLocation_Top', 'EZTRIP');\n"
        "INSERT INTO MASTER_DETAIL VALUES (0, 1, 1);\n");
    ProjIni = std::make_unique<TIniStore>();
    PutIniText("Interbase", "DatabaseName", db.Path());
    // The requests the server saw tell which pages had their turn: none ahead of it.
    PutIniText("Download", "Connections", "1");
    {
        TSignalClose signalClose;
        TForm1 form;
        form.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return form.RootItem()->childCount() == 1; }, 30000));
        form.Nodes->setCurrentItem(form.RootItem()->child(0));
        // At the run's first message processing the signal comes, and the window goes.
        QTimer::singleShot(0, &form, [&] {
            raise(SIGTERM);
            EXPECT_TRUE(QTest::qWaitFor([&] { return !form.isVisible(); }, 10000));
        });
        form.ReloadChildrenAction->trigger();
        EXPECT_FALSE(form.isVisible());
        EXPECT_TRUE(StopFlag);
        EXPECT_EQ(server.Requests().size(), 1u);  // no child was started
    }
    ProjIni.reset();
}

}  // namespace
