// wayfolio-cli end to end: the built program against a fresh database file and a
// local HTTP server. The program opens the database itself, so the test looks at the
// results through the program's own "children" and "show" commands, and opens the
// database in-process only while no program runs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/Compose.h"
#include "samples/SamplePages.h"
#include "store/Database.h"
#include "store/Query.h"
#include "tests/support/Canonical.h"
#include "tests/support/Files.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/SiteDatabase.h"
#include "tests/support/TempDatabase.h"

extern char** environ;

namespace {

struct TResult {
    int Status = -1;
    std::string Out;
    std::string Err;
};

// The program with its standard output and error in files of the test's folder.
class TCli {
public:
    TCli(const std::string& folder, std::vector<std::string> args) : folder_(folder) {
        args.insert(args.begin(), WF_CLI);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (folder + "/out").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (folder + "/err").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, WF_CLI, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) throw std::runtime_error("cannot start " WF_CLI);
    }
    ~TCli() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    void Signal(int number) { kill(pid_, number); }
    TResult Wait(std::chrono::seconds bound = std::chrono::seconds(60)) {
        TResult r;
        const auto deadline = std::chrono::steady_clock::now() + bound;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) return r;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        pid_ = -1;
        r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.Out = ReadWholeFile(folder_ + "/out");
        r.Err = ReadWholeFile(folder_ + "/err");
        return r;
    }

private:
    std::string folder_;
    pid_t pid_ = -1;
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_.Http().Get(R"(/site/(.*))", [this](const httplib::Request& req,
                                                   httplib::Response& res) {
            std::unique_lock<std::mutex> lock(mutex_);
            requested_.push_back(req.path);
            changed_.notify_all();
            if (req.path == "/site/X_viewLocation_Slow.html")
                changed_.wait(lock, [this] { return released_; });
            const auto name = req.matches[1].str();
            const std::string base = name.substr(0, name.find('.'));
            std::vector<SamplePages::TLink> links;
            if (base == "X_viewLocation_Top") {
                links = {{"X_viewLocation_Slow.html", "Slow"}, {"X_viewLocation_Two.html", "Two"}};
            }
            if (base == "X_viewLocation_Gone") {
                res.status = 500;
                return;
            }
            res.set_content(SamplePages::EzTripLocationPage("T", name, links, "Body of " + base),
                            "text/html");
        });
        server_.Start();
        config_ = temp_.Folder() + "/wayfolio.ini";
        log_ = temp_.Folder() + "/wayfolio.log";
        std::ofstream(config_) << "[Interbase]\r\nDatabaseName=" << temp_.Path() << "\r\n"
                               << temp_.IniLogin() << "LogFile=" << log_ << "\r\n";
        temp_.RunIsql(
            "INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE) VALUES (1, 'Top', '" +
            server_.Url("/site/X_viewLocation_Top.html") +
            "', 'X_viewLocation_Top', 'EZTRIP');\n"
            "INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE) VALUES (2, 'Notes', "
            "'', 'notes', 'NOTES');\n"
            "INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE) VALUES (3, 'Gone', "
            "'" +
            server_.Url("/site/X_viewLocation_Gone.html") +
            "', 'X_viewLocation_Gone', 'EZTRIP');\n"
            "INSERT INTO MASTER_DETAIL VALUES (0, 1, 1);\n"
            "INSERT INTO MASTER_DETAIL VALUES (0, 2, 2);\n"
            "INSERT INTO MASTER_DETAIL VALUES (0, 3, 3);\n"
            "ALTER SEQUENCE NODE_ID RESTART WITH 10;");
    }
    void TearDown() override { Release(); }

    TResult Run(std::vector<std::string> args) { return TCli(temp_.Folder(), args).Wait(); }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    bool WaitForRequest(const std::string& path) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] {
            for (const auto& r : requested_)
                if (r == path) return true;
            return false;
        });
    }
    bool Requested(const std::string& path) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& r : requested_)
            if (r == path) return true;
        return false;
    }

    TTempDatabase temp_{true};
    THttpTestServer server_;
    std::string config_, log_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> requested_;
    bool released_ = false;
};

TEST_F(CliTest, BranchReloadThenListAndShowWhatWasStored) {
    Release();
    const TResult reload = Run({"-I:" + config_, "reload-branch", "1"});
    ASSERT_EQ(reload.Status, 0) << reload.Err;
    const std::string downloading =
        "Downloading \"" + server_.Url("/site/X_viewLocation_Top.html") + "\"";
    EXPECT_EQ(reload.Err.find(downloading), 0u) << reload.Err;
    EXPECT_NE(reload.Err.find("3 documents walked, 3 downloaded (0 failed), 2 links stored"),
              std::string::npos)
        << reload.Err;
    // What changed: the start document's content is not stored by a branch run.
    EXPECT_NE(reload.Err.find(": 3 documents, 2 new, 0 changed, 0 unchanged, 0 failed, 2 links "
                              "added, 0 errors\n"),
              std::string::npos)
        << reload.Err;
    EXPECT_EQ(reload.Out, "");
    // The log file gets the window's format: CR LF after every line.
    EXPECT_NE(ReadWholeFile(log_).find(downloading + "\r\n"), std::string::npos);

    const TResult children = Run({"/i:" + config_, "children", "1"});
    ASSERT_EQ(children.Status, 0) << children.Err;
    EXPECT_EQ(children.Out, "11\tSlow\n12\tTwo\n");
    const TResult top = Run({"children", "0", "-I:" + config_});
    EXPECT_EQ(top.Out, "1\tTop\n2\tNotes\n3\tGone\n");

    const TResult shown = Run({"-I:" + config_, "show", "12"});
    ASSERT_EQ(shown.Status, 0) << shown.Err;
    TDatabase db;
    TTransaction tr(db);
    temp_.Connect(db, tr);
    std::string expected;
    ASSERT_TRUE(ComposeNode(db, 12, kKindDefault, expected));
    db.Close();
    EXPECT_EQ(shown.Out, expected);
    EXPECT_NE(shown.Out.find("Body of X_viewLocation_Two"), std::string::npos);
}

TEST_F(CliTest, FailuresOfTheStartDocumentAndWrongArgumentsEndWithAMessage) {
    Release();
    struct TCase {
        std::vector<std::string> Args;
        int Status;
        std::string Message;
    };
    const std::string i = "-I:" + config_;
    // A database that cannot be opened (named outright: the default one beside the
    // program exists once the program has been run from the build folder).
    const std::string missingIni = temp_.Folder() + "/missing.ini";
    std::ofstream(missingIni, std::ios::binary)
        << "[Interbase]\r\nDatabaseName=" << temp_.Folder() << "/missing.fdb\r\n";
    // A log file that cannot be created fails the run after the database is open.
    const std::string badLogIni = temp_.Folder() + "/badlog.ini";
    std::ofstream(badLogIni, std::ios::binary)
        << "[Interbase]\r\nDatabaseName=" << temp_.Path() << "\r\n"
        << temp_.IniLogin() << "LogFile=" << temp_.Folder() << "/no/such/folder/x.log\r\n";
    const std::vector<TCase> cases = {
        {{i, "reload", "99"}, 1, "no document 99"},
        {{i, "show", "99"}, 1, "no document 99"},
        {{i, "children", "99"}, 1, "no document 99"},
        {{i, "reload", "2"}, 1, "guide type \"NOTES\""},
        {{i, "reload", "3"}, 1, "could not be downloaded"},
        {{"-I:" + missingIni, "children", "0"}, 1, "wayfolio-cli: "},
        {{"-I:" + badLogIni, "reload", "1"}, 1, "x.log"},
        {{}, 2, "no command"},
        {{i, "fetch", "1"}, 2, "unknown command"},
        {{i, "reload"}, 2, "one NODE_ID"},
        {{i, "reload", "1", "2"}, 2, "one NODE_ID"},
        {{i, "reload", "x1"}, 2, "no node id"},
        {{i, "reload", "-1"}, 2, "unknown option"},
    };
    for (const TCase& c : cases) {
        const TResult r = Run(c.Args);
        EXPECT_EQ(r.Status, c.Status) << c.Args.size() << " " << r.Err;
        EXPECT_NE(r.Err.find(c.Message), std::string::npos) << r.Err;
        EXPECT_EQ(r.Out, "");
    }
    // The failed page stores nothing and the error reaches the log as well.
    EXPECT_NE(ReadWholeFile(log_).find("500"), std::string::npos);

    const TResult help = Run({"--help"});
    EXPECT_EQ(help.Status, 0);
    for (const char* word : {"reload", "reload-branch", "load-empty", "children", "show",
                             "-I:", "Ctrl+C", "abandoned", "Exit status"})
        EXPECT_NE(help.Out.find(word), std::string::npos) << word;
}

TEST_F(CliTest, InterruptEndsAStalledDownloadAtOnceKeepsTheRestAndFails) {
    // The server accepts the request for Slow and then says nothing.
    TCli cli(temp_.Folder(), {"-I:" + config_, "reload-branch", "1"});
    ASSERT_TRUE(WaitForRequest("/site/X_viewLocation_Slow.html"));
    // It may have been asked for ahead of its turn; the run waits for it once its
    // "Downloading" line is out.
    const std::string slowLine =
        "Downloading \"" + server_.Url("/site/X_viewLocation_Slow.html") + "\"";
    const auto turn = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ReadWholeFile(temp_.Folder() + "/err").find(slowLine) == std::string::npos &&
           std::chrono::steady_clock::now() < turn)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    cli.Signal(SIGINT);
    // The page is abandoned and the run ends without the server's help: its summary
    // is out long before the server would ever answer.
    std::string err;
    const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (err.find("\nstopped\n") == std::string::npos &&
           std::chrono::steady_clock::now() < bound) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        err = ReadWholeFile(temp_.Folder() + "/err");
    }
    EXPECT_NE(err.find("Download stopped before the page arrived"), std::string::npos) << err;
    EXPECT_NE(err.find("\nstopped\n"), std::string::npos) << err;
    const TResult r = cli.Wait(std::chrono::seconds(30));
    Release();
    EXPECT_EQ(r.Status, 130) << r.Err;
    // Nothing had its turn after the abandoned page (Two may have been fetched ahead).
    EXPECT_EQ(r.Err.find("X_viewLocation_Two.html"), std::string::npos) << r.Err;

    // What the stopped run stored stays: both links; the abandoned page stored nothing.
    const TResult children = Run({"-I:" + config_, "children", "1"});
    EXPECT_EQ(children.Out, "11\tSlow\n12\tTwo\n");
    const TResult shown = Run({"-I:" + config_, "show", "11"});
    EXPECT_EQ(shown.Out.find("Body of X_viewLocation_Slow"), std::string::npos);
}

}  // namespace

namespace {

TEST_F(CliTest, SearchListsTheDocumentsFoundBestFirst) {
    Release();
    setenv("XDG_CACHE_HOME", (temp_.Folder() + "/cache").c_str(), 1);
    ASSERT_EQ(Run({"-I:" + config_, "reload-branch", "1"}).Status, 0);
    // A title with terminal controls: ESC, and CSI as U+009B.
    temp_.RunIsql(
        "UPDATE NODE SET TITLE='Notes' || ASCII_CHAR(27) || '[2J' || ASCII_CHAR(194) || "
        "ASCII_CHAR(155) || '31m' WHERE NODE_ID=2;\nCOMMIT;\n");

    // "Two" is the title of 12 and a word of its text; 1 and 11 only link to it.
    const TResult two = Run({"-I:" + config_, "search", "two"});
    ASSERT_EQ(two.Status, 0) << two.Err;
    EXPECT_EQ(two.Out.rfind("12\tTwo\t", 0), 0u) << two.Out;
    EXPECT_NE(two.Out.find("Body of X_viewLocation_Two\n"), std::string::npos) << two.Out;

    // The words of a phrase together; several words make one query.
    const TResult phrase = Run({"-I:" + config_, "search", "\"body of\"", "slow"});
    ASSERT_EQ(phrase.Status, 0) << phrase.Err;
    EXPECT_EQ(phrase.Out.rfind("11\tSlow\t", 0), 0u) << phrase.Out;
    EXPECT_EQ(std::count(phrase.Out.begin(), phrase.Out.end(), '\n'), 1) << phrase.Out;

    // The query language's refusals are said, not searched.
    const TResult refused = Run({"-I:" + config_, "search", "-two"});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Err.find("word to look for"), std::string::npos) << refused.Err;

    const TResult none = Run({"-I:" + config_, "search", "nowhere"});
    EXPECT_EQ(none.Status, 0) << none.Err;
    EXPECT_EQ(none.Out, "");
    const TResult hostile = Run({"-I:" + config_, "search", "notes"});
    EXPECT_EQ(hostile.Out.rfind("2\tNotes", 0), 0u) << hostile.Out;
    EXPECT_EQ(hostile.Out.find('\x1b'), std::string::npos) << hostile.Out;
    EXPECT_EQ(hostile.Out.find("\xc2\x9b"), std::string::npos) << hostile.Out;
    const TResult usage = Run({"-I:" + config_, "search"});
    EXPECT_EQ(usage.Status, 2);
    EXPECT_NE(usage.Err.find("QUERY"), std::string::npos) << usage.Err;
    unsetenv("XDG_CACHE_HOME");
}

}  // namespace

// Several programs on one database served by a Firebird server: what they store
// together must equal what one of them stores alone.
namespace {

using SamplePages::TSyntheticGuide;

constexpr int kSharedPages = 300;

class SharedDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TTempDatabase::OnServer()) GTEST_SKIP() << "the embedded engine serves one program";
        server_.Http().Get(R"(/gen/.*)", [this](const httplib::Request& req,
                                                httplib::Response& res) {
            const int page = SamplePages::SyntheticPageOf(kGuide, kSharedPages, req.path);
            {
                std::unique_lock<std::mutex> lock(mutex_);
                ++requests_;
                changed_.notify_all();
                if (page == holdPage_) changed_.wait(lock, [this] { return !holding_; });
            }
            if (page < 0) {
                res.status = 404;
                return;
            }
            res.set_content(SamplePages::SyntheticPage(kGuide, kSharedPages, page), "text/html");
        });
        server_.Start();
    }
    void TearDown() override { Release(); }

    // The configuration switch of a program using db, set up for the generated site.
    std::string Prepare(TTempDatabase& db, const std::string& login = "") {
        return "-I:" +
               PrepareSiteDatabase(db, server_.Url(SamplePages::SyntheticPath(kGuide, 0)), login);
    }

    // One program's own folder for its output.
    static std::string Folder(const TTempDatabase& db, const std::string& name) {
        const std::string folder = db.Folder() + "/" + name;
        mkdir(folder.c_str(), 0700);
        return folder;
    }

    void Hold(int page) {
        std::lock_guard<std::mutex> lock(mutex_);
        holdPage_ = page;
        holding_ = true;
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        holding_ = false;
        changed_.notify_all();
    }
    int Requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    bool WaitForRequests(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(60),
                                 [&] { return requests_ >= count; });
    }

    static constexpr TSyntheticGuide kGuide = TSyntheticGuide::sgEzTrip;
    THttpTestServer server_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int requests_ = 0;
    int holdPage_ = -1;
    bool holding_ = false;
};

TEST_F(SharedDatabaseTest, ThreeProgramsAtOnceStoreWhatOneStoresAlone) {
    TTempDatabase alone(true);
    const std::string aloneIni = Prepare(alone);
    const TResult single = TCli(Folder(alone, "single"), {aloneIni, "reload-branch", "1"}).Wait();
    ASSERT_EQ(single.Status, 0) << single.Err;
    const std::vector<std::string> expected = CanonicalContents(alone);
    ASSERT_GT(expected.size(), static_cast<size_t>(kSharedPages));

    TTempDatabase shared(true);
    const std::string ini = Prepare(shared);
    TCli first(Folder(shared, "first"), {ini, "reload-branch", "1"});
    TCli second(Folder(shared, "second"), {ini, "reload-branch", "1"});
    TCli empty(Folder(shared, "empty"), {ini, "load-empty", "1"});
    for (TCli* cli : {&first, &second, &empty}) {
        const TResult r = cli->Wait();
        EXPECT_EQ(r.Status, 0) << r.Err;
        // Refusals met on the way were waited out, not logged as lost work.
        EXPECT_EQ(r.Err.find("error: "), std::string::npos) << r.Err;
    }
    ExpectSameContents(expected, CanonicalContents(shared));
}

TEST_F(SharedDatabaseTest, AWrongPasswordNoServerAndAServerGoingAwayEachSaySo) {
    TTempDatabase temp(true);
    const std::string wrongLogin = "User=" + TTempDatabase::ServerUser() + "\r\nPassword=not-" +
                                   TTempDatabase::ServerPassword() + "\r\n";
    const TResult refused =
        TCli(Folder(temp, "refused"), {Prepare(temp, wrongLogin), "children", "0"}).Wait();
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Err.find("refused this user name and password"), std::string::npos)
        << refused.Err;

    const std::string nowhere = temp.Folder() + "/nowhere.ini";
    std::ofstream(nowhere) << "[Interbase]\r\nDatabaseName=localhost/1:" << temp.Folder()
                           << "/test.fdb\r\n"
                           << temp.IniLogin();
    const TResult unreachable =
        TCli(Folder(temp, "nowhere"), {"-I:" + nowhere, "children", "0"}).Wait();
    EXPECT_EQ(unreachable.Status, 1);
    EXPECT_NE(unreachable.Err.find("No database server answers"), std::string::npos)
        << unreachable.Err;

    // A server of this test's own, stopped while a run waits for a page (the run's
    // output stays outside its folder, which goes with it).
    char stateName[] = "/tmp/wf-private-server-XXXXXX";
    const int fd = mkstemp(stateName);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string fixture = SourceDir() + "/tests/support/db-server-fixture ";
    ASSERT_EQ(std::system((fixture + "start " + stateName + " >/dev/null").c_str()), 0);
    struct TStopAtEnd {
        std::string Command;
        ~TStopAtEnd() { std::system(Command.c_str()); }
    } stopAtEnd{fixture + "stop " + stateName + " >/dev/null; rm -f " + stateName};
    {
        TTempDatabase own(true, false, stateName);
        const std::string ini = Prepare(own);
        Hold(12);
        TCli cli(Folder(temp, "run"), {ini, "reload-branch", "1"});
        const bool reached = WaitForRequests(13);
        EXPECT_EQ(std::system((fixture + "stop " + stateName + " >/dev/null").c_str()), 0);
        const int before = Requests();
        Release();
        ASSERT_TRUE(reached);
        const TResult r = cli.Wait();
        EXPECT_EQ(r.Status, 1) << r.Err;
        // One line says so: not also a "connection changed" line, nor a second verdict.
        size_t lost = 0;
        for (size_t at = r.Err.find("connection to the database server was lost");
             at != std::string::npos;
             at = r.Err.find("connection to the database server was lost", at + 1))
            ++lost;
        EXPECT_EQ(lost, 1u) << r.Err;
        EXPECT_EQ(r.Err.find("connection changed"), std::string::npos) << r.Err;
        // The run ends its branches instead of going on downloading for nothing, and
        // says so once, not once for every document left.
        EXPECT_LE(Requests(), before + 1) << r.Err;
        size_t errors = 0;
        for (size_t at = r.Err.find("error: "); at != std::string::npos;
             at = r.Err.find("error: ", at + 1))
            ++errors;
        EXPECT_LE(errors, 2u) << r.Err;
    }
}

// A guide made from the command line: refused input writes nothing, a guide is made
// once, after the others, and its id printed.
TEST_F(CliTest, AddCreatesAGuideOnceAndRefusesBadInput) {
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"add", "ftp://example.org/x", "EZTRIP"},
          {"add", "example.org/x.html", "EZTRIP"},
          {"add", "http://example.org/x.html", "NO_SUCH_READER"},
          {"add", "http://example.org/x.html", "GUIDE_TYPE_OF_21_CHAR"},
          {"add", "http://example.org/x.html"}}) {
        std::vector<std::string> args{"-I:" + config_};
        args.insert(args.end(), bad.begin(), bad.end());
        const TResult r = Run(args);
        EXPECT_EQ(r.Status, 2) << bad[1] << r.Err;
        EXPECT_EQ(r.Out, "");
        EXPECT_NE(r.Err, "");
    }
    EXPECT_NE(Run({"-I:" + config_, "add", "http://h/", "GUIDE_TYPE_OF_21_CHAR"})
                  .Err.find("longer than 20 characters"),
              std::string::npos);
    const std::string url = server_.Url("/site/X_viewLocation_New.html");
    const TResult made = Run({"-I:" + config_, "add", url, "EZTRIP", "New", "guide"});
    EXPECT_EQ(made.Status, 0) << made.Err;
    EXPECT_EQ(made.Out, "11\n");
    const TResult again = Run({"-I:" + config_, "add", url, "EZTRIP"});
    EXPECT_EQ(again.Status, 0) << again.Err;
    EXPECT_EQ(again.Out, "11\n");
    // A guide that was there before is found by its identifier.
    EXPECT_EQ(
        Run({"-I:" + config_, "add", server_.Url("/site/X_viewLocation_Top.html"), "EZTRIP"}).Out,
        "1\n");
    EXPECT_EQ(Run({"-I:" + config_, "children", "0"}).Out,
              "1\tTop\n2\tNotes\n3\tGone\n11\tNew guide\n");
    // Without a title the page is fetched for its own; an EzTrip page names none, so
    // the address stands in.
    const std::string other = server_.Url("/site/X_viewLocation_Other.html");
    EXPECT_EQ(Run({"-I:" + config_, "add", other, "EZTRIP"}).Out, "12\n");
    EXPECT_TRUE(Requested("/site/X_viewLocation_Other.html"));
    const std::string children = Run({"-I:" + config_, "children", "0"}).Out;
    EXPECT_NE(children.find("12\t" + other + "\n"), std::string::npos) << children;
}

}  // namespace
