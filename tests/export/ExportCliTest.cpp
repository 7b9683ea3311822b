// wayfolio-cli export on the demo database: a branch as a PDF and as an EPUB.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

#include "tests/support/ChildProcess.h"
#include "tests/support/Files.h"
#include "tests/support/TempDatabase.h"

namespace {

struct TRun {
    int Status = -1;
    std::string Output;
};

TRun Shell(const std::string& command) {
    TRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.Output.append(buffer, n);
    const int status = pclose(pipe);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class ExportCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ini_ = temp_.Folder() + "/wayfolio.ini";
        std::ofstream(ini_) << "[Interbase]\r\nDatabaseName=" << temp_.Path() << "\r\n";
    }
    TRun Cli(const std::string& args) {
        return Shell(std::string(WF_CLI) + " -I:" + ini_ + " " + args + " 2>/dev/null");
    }
    std::string File(const std::string& name) const { return temp_.Folder() + "/" + name; }

    TTempDatabase temp_{true, true};
    std::string ini_;
};

TEST_F(ExportCliTest, BranchInTreeOrderAsPdfAndEpub) {
    // The demo's top level and, below the first guide, its stored children.
    const TRun top = Cli("children 0");
    ASSERT_EQ(top.Status, 0);
    const std::string firstId = top.Output.substr(0, top.Output.find('\t'));
    const std::string firstTitle = top.Output.substr(
        top.Output.find('\t') + 1, top.Output.find('\n') - top.Output.find('\t') - 1);

    const std::string pdf = File("guide.PDF");
    ASSERT_EQ(Cli("export " + firstId + " '" + pdf + "'").Status, 0);
    const std::string text = Shell("pdftotext '" + pdf + "' -").Output;
    // The contents, then the chapter, both under the document's title.
    const std::size_t inContents = text.find(firstTitle);
    ASSERT_NE(inContents, std::string::npos) << text;
    EXPECT_NE(text.find(firstTitle, inContents + 1), std::string::npos);

    const std::string epub = File("all.epub");
    ASSERT_EQ(Cli("export 0 '" + epub + "'").Status, 0);
    const std::string nav = Shell("unzip -p '" + epub + "' OEBPS/nav.xhtml").Output;
    std::size_t at = 0;
    for (std::size_t line = 0; line < top.Output.size();) {
        const std::size_t tab = top.Output.find('\t', line), end = top.Output.find('\n', line);
        const std::string title = top.Output.substr(tab + 1, end - tab - 1);
        at = nav.find(">" + title + "<", at);
        EXPECT_NE(at, std::string::npos) << title << "\n" << nav;
        line = end + 1;
    }

    EXPECT_EQ(Cli("export 999999 '" + File("none.epub") + "'").Status, 1);
    EXPECT_EQ(Cli("export 0 '" + File("book.txt") + "'").Status, 2);
    EXPECT_EQ(Cli("export 0").Status, 2);
}

std::string Listing(const std::string& folder) {
    std::string names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* e = readdir(dir))
            if (std::string(".") != e->d_name && std::string("..") != e->d_name)
                names += std::string(e->d_name) + " ";
        closedir(dir);
    }
    return names;
}

int Entries(const std::string& folder) {
    const std::string names = Listing(folder);
    return static_cast<int>(std::count(names.begin(), names.end(), ' '));
}

// A PDF export says on standard output what it wrote, and nothing on standard
// error; a target that cannot be written is refused; SIGTERM while the book is
// printed ends the export at once and leaves nothing behind.
TEST_F(ExportCliTest, PdfExportReportsRefusesAndStopsCleanly) {
    const std::string pdf = File("quiet.pdf"), errors = File("stderr.txt");
    const TRun run =
        Shell(std::string(WF_CLI) + " -I:" + ini_ + " export 0 '" + pdf + "' 2>'" + errors + "'");
    ASSERT_EQ(run.Status, 0);
    ASSERT_EQ(run.Output.rfind(pdf + "\t", 0), 0u) << run.Output;
    std::smatch m;
    const std::string rest = run.Output.substr(pdf.size());
    ASSERT_TRUE(std::regex_match(rest, m, std::regex("\t(\\d+) documents, (\\d+) pages\n"))) << rest;
    EXPECT_NE(Shell("pdfinfo '" + pdf + "'").Output.find("Pages:           " + m[2].str() + "\n"),
              std::string::npos);
    // (LeakSanitizer, in a sanitizer build, reports the suppressions it used there.)
    std::string said = ReadWholeFile(errors);
    const std::size_t report = said.find("-----------------------------------------------------\nSuppressions used:");
    if (report != std::string::npos) said.erase(report);
    EXPECT_EQ(said, "");

    const TRun refused =
        Shell(std::string(WF_CLI) + " -I:" + ini_ + " export 0 '" + File("no/such/b.pdf") + "' 2>&1");
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Output.find("Cannot write"), std::string::npos) << refused.Output;

    // Qt keeps a runtime folder of its own, which is not the export's to remove.
    const std::string tmp = File("tmp"), runtime = File("run"), stopped = File("stopped.pdf");
    ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
    TChildProcess cli(WF_CLI, {"-I:" + ini_, "export", "0", stopped}, File("stopped.txt"),
                      {"TMPDIR=" + tmp, "XDG_RUNTIME_DIR=" + runtime});
    // The printing has begun once the export's temporary folder is there.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (Entries(tmp) == 0 && !cli.Ended() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_GT(Entries(tmp), 0) << ReadWholeFile(File("stopped.txt"));
    cli.Signal(SIGTERM);
    ASSERT_TRUE(cli.Wait(std::chrono::seconds(60)));
    EXPECT_EQ(cli.Status, 128 + SIGTERM) << ReadWholeFile(File("stopped.txt"));
    EXPECT_EQ(Listing(tmp), "");
    EXPECT_FALSE(std::ifstream(stopped).good());
    EXPECT_FALSE(std::ifstream(stopped + ".part").good());
}

}  // namespace
