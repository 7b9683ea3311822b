// Every way a server can misbehave, met by a real run of wayfolio-cli: a branch whose
// top page links to one address per fault, each followed by a good page. For every
// fault the run goes on with the next document, the log says what happened in one line
// of its own, the body stored earlier for the faulty document is kept, and the program's
// memory stays bounded. A few of the faults again through a real proxy (tinyproxy).
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "download/wf_Download.h"
#include "samples/SamplePages.h"
#include "store/Database.h"
#include "store/Query.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FaultServer.h"
#include "tests/support/Files.h"
#include "tests/support/TempDatabase.h"
#include "tests/support/TinyProxy.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr long kMemoryBoundKb = 600 * 1024;  // the sanitizer's shadow memory comes on top
#else
constexpr long kMemoryBoundKb = 150 * 1024;
#endif

struct TFault {
    std::string Name;  // the path below /fault/, or "refused"
    // What its log line must say; through a proxy some faults read differently, so
    // either of two words.
    std::string Message, OrMessage;
    bool Stored;  // whether the page arrives whole and its body is stored
};

// The log line that follows a fault's "Downloading" line must name it.
const std::vector<TFault> kFaults = {
    {"refused", "onnect", "502", false},
    {"reset", "reset", "remaining", false},
    {"chunked-cut", "closed", "", false},
    {"500", "500", "", false},
    {"503", "503", "", false},
    {"404", "404", "", false},
    {"redirect", "302", "", false},
    {"bad-status", "HTTP", "", false},
    {"silence", "timed out", "", false},
    {"trickle", "not recognised", "", false},
    {"endless", "MaxPageSize", "", false},
    {"huge", "MaxPageSize", "", false},
    // Compression is asked for, so a body that is no gzip is a failed page.
    {"gzip", "ncoding", "", false},
    {"nul-utf8", "", "", true},
};

const std::string kBinaryBody("NUL \0 here, \xff\xfe invalid \xc3 UTF-8 \x80", 32);

class FaultTest : public ::testing::Test {
protected:
    FaultTest() : server_([this](const std::string& path) { return Page(path); }) {}

    std::string Url(const TFault& f) const {
        return f.Name == "refused"    ? server_.RefusedUrl("/X_viewLocation_refused.html")
               : f.Name == "nul-utf8" ? server_.Url("/X_viewLocation_nul-utf8.html")
                                      : server_.Url("/fault/X_viewLocation_" + f.Name + ".html");
    }
    std::string Page(const std::string& path) {
        if (path == "/X_viewLocation_Top.html") {
            std::vector<SamplePages::TLink> links;
            for (const TFault& f : kFaults) {
                links.push_back({Url(f), f.Name});
                links.push_back(
                    {server_.Url("/X_viewLocation_after-" + f.Name + ".html"), "after " + f.Name});
            }
            return SamplePages::EzTripLocationPage("Top", "X_viewLocation_Top.html", links, "Top");
        }
        if (path == "/X_viewLocation_Many.html") {
            std::vector<SamplePages::TLink> links;
            for (int i = 0; i < 50000; ++i)
                links.push_back({"X_viewLocation_m" + std::to_string(i) + ".html",
                                 "Link " + std::to_string(i)});
            return SamplePages::EzTripLocationPage("Many", "X_viewLocation_Many.html", links,
                                                   "Many links");
        }
        const std::string name =
            path.substr(path.rfind('_') + 1, path.find('.') - path.rfind('_') - 1);
        return SamplePages::EzTripLocationPage(name, path.substr(1), {},
                                               name == "nul-utf8" ? kBinaryBody : "Good " + name);
    }

    void SetUp() override {
        std::string sql =
            "INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE) VALUES (1, 'Top', '" +
            server_.Url("/X_viewLocation_Top.html") +
            "', 'X_viewLocation_Top', 'EZTRIP');\n"
            "INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE) VALUES (2, 'Many', "
            "'" +
            server_.Url("/X_viewLocation_Many.html") +
            "', 'X_viewLocation_Many', 'EZTRIP');\n"
            "INSERT INTO MASTER_DETAIL VALUES (0, 1, 1);\n"
            "INSERT INTO MASTER_DETAIL VALUES (0, 2, 2);\n";
        // Each faulty document was stored before, with a body the fault must not touch.
        int id = 10;
        for (const TFault& f : kFaults) {
            sql +=
                "INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE, BODY) VALUES (" +
                std::to_string(id) + ", '" + f.Name + "', '" + Url(f) + "', '" +
                UrlBaseName(Url(f)) + "', 'EZTRIP', 'Kept body of " + f.Name + "');\n";
            sql += "INSERT INTO MASTER_DETAIL VALUES (1, " + std::to_string(id++) + ", 1);\n";
        }
        db_.RunIsql(sql + "ALTER SEQUENCE NODE_ID RESTART WITH 100;");
    }

    // A configuration file for the database, with the given lines for section Download.
    std::string Ini(const std::string& download) {
        const std::string ini = db_.Folder() + "/wayfolio.ini";
        std::ofstream(ini, std::ios::binary)
            << "[Interbase]\r\nDatabaseName=" << db_.Path() << "\r\n"
            << db_.IniLogin() << "LogFile=/dev/null\r\n[Download]\r\n"
            << download;
        return ini;
    }

    std::map<std::string, std::string> Bodies() {
        std::map<std::string, std::string> bodies;
        TDatabase db;
        TTransaction tr(db);
        db_.Connect(db, tr);
        TQuery q(db);
        q.SetSQL("SELECT ORIG_ID, BODY FROM NODE");
        for (q.ExecQuery(); !q.Eof(); q.Next()) bodies[q.AsText("ORIG_ID")] = q.AsText("BODY");
        db.Close();
        return bodies;
    }

    // The lines the run logged for a document: from its "Downloading" line to the next.
    static std::vector<std::string> LinesFor(const std::string& log, const std::string& url) {
        std::vector<std::string> lines;
        std::istringstream in(log);
        std::string line;
        bool inside = false;
        while (std::getline(in, line)) {
            if (line.find("Downloading \"") != std::string::npos) {
                if (inside) break;
                inside = line.find("\"" + url + "\"") != std::string::npos;
                continue;
            }
            if (inside) lines.push_back(line);
        }
        return lines;
    }

    // One branch run over all faults; checks each, and returns the run's output.
    std::string RunAllFaults(const std::string& download, const std::vector<std::string>& only) {
        TChildProcess cli(WF_CLI, {"-I:" + Ini(download), "reload-branch", "1"},
                          db_.Folder() + "/out");
        EXPECT_TRUE(cli.Wait(std::chrono::minutes(5)));
        const std::string log = ReadWholeFile(db_.Folder() + "/out");
        EXPECT_EQ(cli.Status, 0) << log;
        EXPECT_LT(cli.PeakMemoryKb, kMemoryBoundKb) << "peak memory of the run";
        const auto bodies = Bodies();
        for (const TFault& f : kFaults) {
            if (!only.empty() && std::find(only.begin(), only.end(), f.Name) == only.end())
                continue;
            SCOPED_TRACE(f.Name);
            // The run went on with the next document.
            EXPECT_EQ(bodies.count("X_viewLocation_after-" + f.Name)
                          ? bodies.at("X_viewLocation_after-" + f.Name)
                          : "<none>",
                      "Good after-" + f.Name);
            const std::string id = UrlBaseName(Url(f));
            if (f.Stored) {
                EXPECT_NE(bodies.at(id), "Kept body of " + f.Name);
                EXPECT_TRUE(LinesFor(log, Url(f)).empty()) << log;
                continue;
            }
            EXPECT_EQ(bodies.at(id), "Kept body of " + f.Name);
            const auto lines = LinesFor(log, Url(f));
            EXPECT_EQ(lines.size(), 1u) << "the fault's log lines:\n" << log;
            if (lines.empty()) continue;
            // The words must be the message's own, not the fault's name in its address.
            std::string line = lines[0];
            if (line.find(Url(f)) != std::string::npos)
                line.erase(line.find(Url(f)), Url(f).size());
            EXPECT_TRUE(line.find(f.Message) != std::string::npos ||
                        (!f.OrMessage.empty() && line.find(f.OrMessage) != std::string::npos))
                << lines[0];
            EXPECT_LE(lines[0].size(), 2100u);
        }
        return log;
    }

    TTempDatabase db_;
    TFaultServer server_;
};

TEST_F(FaultTest, EachFaultIsLoggedOnceKeepsTheStoredBodyAndTheRunGoesOn) {
    RunAllFaults("ReadTimeout=1500\r\nMaxPageSize=1000000\r\n", {});
    // Bytes stay bytes: NULs and invalid UTF-8 reach the database exactly.
    EXPECT_EQ(Bodies().at("X_viewLocation_nul-utf8"), kBinaryBody);
}

TEST_F(FaultTest, ThroughTheProxyTheSameFaultsAreMetTheSameWay) {
    TTinyProxy proxy;
    RunAllFaults("ReadTimeout=1500\r\nMaxPageSize=1000000\r\nProxy.Host=127.0.0.1\r\nProxy.Port=" +
                     std::to_string(proxy.Port()) + "\r\n",
                 {"reset", "500", "404", "silence", "endless", "nul-utf8"});
}

TEST_F(FaultTest, SilenceWithoutATimeOutEndsAtCtrlC) {
    TChildProcess cli(WF_CLI, {"-I:" + Ini("ReadTimeout=0\r\n"), "reload-branch", "1"},
                      db_.Folder() + "/out");
    ASSERT_TRUE(
        server_.WaitForRequest("/fault/X_viewLocation_silence.html", std::chrono::minutes(2)));
    // The page may have been asked for ahead of its turn; the run waits for it once its
    // "Downloading" line is out.
    const std::string turn =
        "Downloading \"" + server_.Url("/fault/X_viewLocation_silence.html") + "\"";
    const auto bound = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (ReadWholeFile(db_.Folder() + "/out").find(turn) == std::string::npos &&
           std::chrono::steady_clock::now() < bound)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    cli.Signal(SIGINT);
    // Bounded generously: the transfer must end at the signal, not when the server does.
    ASSERT_TRUE(cli.Wait(std::chrono::seconds(60))) << ReadWholeFile(db_.Folder() + "/out");
    EXPECT_EQ(cli.Status, 130);
    const std::string log = ReadWholeFile(db_.Folder() + "/out");
    const auto lines = LinesFor(log, server_.Url("/fault/X_viewLocation_silence.html"));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Download stopped before the page arrived"),
              lines.end())
        << log;
    EXPECT_EQ(Bodies().at("X_viewLocation_silence"), "Kept body of silence");
}

// Disabled: the run stores each link with a commit of its own, and 50,000 of them took
// over eight minutes here (forced writes off), too long for the suite. Run it with
// --gtest_also_run_disabled_tests.
TEST_F(FaultTest, DISABLED_APageOfFiftyThousandLinksIsStoredWhole) {
    // Each link is committed on its own; without forced writes so that the disk's
    // flushes do not make this the longest test of the suite.
    ASSERT_EQ(system(("gfix -write async " + db_.ToolLogin() + " '" + db_.Path() + "'").c_str()),
              0);
    TChildProcess cli(WF_CLI, {"-I:" + Ini(""), "reload", "2"}, db_.Folder() + "/out");
    ASSERT_TRUE(cli.Wait(std::chrono::minutes(10)));
    EXPECT_EQ(cli.Status, 0) << ReadWholeFile(db_.Folder() + "/out");
    EXPECT_LT(cli.PeakMemoryKb, kMemoryBoundKb);
    TDatabase db;
    TTransaction tr(db);
    db_.Connect(db, tr);
    TQuery q(db);
    q.SetSQL(
        "SELECT COUNT(*) AS N, MIN(ORDER_) AS LO, MAX(ORDER_) AS HI FROM MASTER_DETAIL "
        "WHERE MASTER_ID = 2");
    q.ExecQuery();
    EXPECT_EQ(q.AsInteger("N"), 50000);
    EXPECT_EQ(q.AsInteger("HI") - q.AsInteger("LO"), 49999);
    db.Close();
}

}  // namespace
