// wayfolio-cli export on the demo database: a branch as a PDF and as an EPUB.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>

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

}  // namespace
