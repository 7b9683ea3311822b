// The shipped reader files say what the compiled readers say: a branch reload of each
// generated site, once with the compiled reader and once with its file forced for the
// run, gives the same database row for row (node ids included) and the same log byte
// for byte, apart from the run's time. Some pages fail, so that failures are compared
// too; both link passes occur (AlphaBeds pages give their parent links).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "download/wf_Download.h"
#include "samples/SamplePages.h"
#include "tests/support/Canonical.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Files.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/SiteDatabase.h"
#include "tests/support/TempDatabase.h"

namespace {

using SamplePages::TSyntheticGuide;

constexpr int kPages = 150;

class TSite {
public:
    explicit TSite(TSyntheticGuide guide) : guide_(guide) {
        server_.Http().Get(R"(/gen/.*)", [this](const httplib::Request& req,
                                                httplib::Response& res) {
            const int page = SamplePages::SyntheticPageOf(guide_, kPages, req.path);
            if (page < 0 || (page > 0 && page % 37 == 0)) {
                res.status = 404;
            } else {
                res.set_content(SamplePages::SyntheticPage(guide_, kPages, page), "text/html");
            }
        });
        server_.Start();
    }
    std::string Url(int page) const { return server_.Url(SamplePages::SyntheticPath(guide_, page)); }

private:
    TSyntheticGuide guide_;
    THttpTestServer server_;
};

struct TRun {
    int Status = -1;
    std::string Log;
    std::vector<std::string> Contents;
};

TRun ReloadBranch(const TSite& site, TSyntheticGuide guide, const std::string& readerFile) {
    TTempDatabase db;
    const std::string ini = PrepareSiteDatabase(db, site.Url(0));
    if (guide == TSyntheticGuide::sgAlphaBeds)
        db.RunIsql("UPDATE NODE SET GUIDE_TYPE = 'ALPHABEDS', ORIG_ID = '" +
                   UrlBaseName(site.Url(0)) + "' WHERE NODE_ID = 1;");
    const std::string log = db.Folder() + "/run.log";
    std::ofstream(ini, std::ios::app) << "LogFile=" << log << "\r\n";
    std::vector<std::string> args{"-I:" + ini};
    if (!readerFile.empty()) {
        args.push_back("--reader");
        args.push_back(readerFile);
    }
    args.push_back("reload-branch");
    args.push_back("1");
    TChildProcess cli(WF_CLI, args, db.Folder() + "/out");
    TRun run;
    EXPECT_TRUE(cli.Wait(std::chrono::minutes(5)));
    run.Status = cli.Status;
    run.Log = std::regex_replace(ReadWholeFile(log), std::regex(R"(in [0-9]+\.[0-9] s:)"),
                                 "in (time) s:");
    run.Contents = ExactContents(db);
    return run;
}

void ExpectSameRuns(TSyntheticGuide guide, const std::string& file) {
    TSite site(guide);
    const TRun compiled = ReloadBranch(site, guide, "");
    const TRun scripted = ReloadBranch(site, guide, std::string(WF_SOURCE) + "/readers/" + file);
    EXPECT_EQ(compiled.Status, 0) << compiled.Log.substr(0, 2000);
    EXPECT_EQ(scripted.Status, 0) << scripted.Log.substr(0, 2000);
    // The run gathered the site and met its failures, or the comparison proves little.
    EXPECT_GT(compiled.Contents.size(), static_cast<size_t>(kPages));
    EXPECT_NE(compiled.Log.find("404"), std::string::npos);

    ASSERT_EQ(compiled.Contents.size(), scripted.Contents.size());
    const auto differs = std::mismatch(compiled.Contents.begin(), compiled.Contents.end(),
                                       scripted.Contents.begin());
    EXPECT_TRUE(differs.first == compiled.Contents.end())
        << "first difference:\n  compiled: " << differs.first->substr(0, 300)
        << "\n  file:     " << differs.second->substr(0, 300);
    if (compiled.Log != scripted.Log) {
        const auto at = std::mismatch(compiled.Log.begin(), compiled.Log.end(),
                                      scripted.Log.begin(), scripted.Log.end());
        const size_t offset = static_cast<size_t>(at.first - compiled.Log.begin());
        ADD_FAILURE() << "logs differ at byte " << offset << ":\n  compiled: "
                      << compiled.Log.substr(offset, 200)
                      << "\n  file:     " << scripted.Log.substr(offset, 200);
    }
}

TEST(ReaderRunTest, EzTripFileGivesTheCompiledReadersDatabaseAndLog) {
    ExpectSameRuns(TSyntheticGuide::sgEzTrip, "eztrip.lua");
}

TEST(ReaderRunTest, AlphaBedsFileGivesTheCompiledReadersDatabaseAndLog) {
    ExpectSameRuns(TSyntheticGuide::sgAlphaBeds, "alphabeds.lua");
}

}  // namespace
