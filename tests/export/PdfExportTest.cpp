// The PDF book printed by the real Qt WebEngine (offscreen) and read back with
// pdftotext: the titles in order, and page numbers that tell the truth.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <dirent.h>

#include <QByteArray>
#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "config/EAbort.h"
#include "export/EpubWriter.h"
#include "export/PdfWriter.h"

namespace {

std::string Shell(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
    return out;
}

std::string PageText(const std::string& pdf, int page) {
    return Shell("pdftotext -layout -f " + std::to_string(page) + " -l " + std::to_string(page) +
                 " '" + pdf + "' -");
}

TBookChapter Chapter(int id, int level, const std::string& title, const std::string& body,
                     const std::string& encoding = "utf-8") {
    TBookChapter c;
    c.NodeId = id;
    c.Level = level;
    c.Title = title;
    c.Body = body;
    c.Encoding = encoding;
    c.OrigUrl = "http://site.test/guide/page.html";
    return c;
}

TEST(PdfExportTest, ContentsGiveEachTitlesPageAndPagesAreNumbered) {
    std::string longBody;
    for (int i = 0; i < 400; ++i)
        longBody += "<p>Paragraph " + std::to_string(i) + " of the long guide.</p>";
    std::vector<TBookChapter> chapters{
        Chapter(1, 0, "Alpha Europe", "<p>Start</p>"),
        Chapter(2, 1, "Bravo Caf\xE9s", longBody + "<script>document.write('x')</script>",
                "iso-8859-1"),
        Chapter(3, 2, "Charlie Lyon", "<table><tr><td>cell</td></tr></table>"),
        Chapter(4, 1, "Delta Rome", "<p>Fin</p>"),
        Chapter(5, 0,
                "Echo " + std::string(30, 'w') +
                    " a title long enough to take two lines of the "
                    "contents page, with its page number beside its last line only",
                "<p>Long</p>"),
    };
    char folder[] = "/tmp/wf_pdf_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string pdf = std::string(folder) + "/book.pdf";
    const int pages = WritePdf(pdf, chapters);
    EXPECT_NE(Shell("pdfinfo '" + pdf + "'").find("Pages:           " + std::to_string(pages)),
              std::string::npos);

    // The titles in order: the contents first, then the chapters.
    const std::string all = Shell("pdftotext '" + pdf + "' -");
    std::size_t at = all.find("Contents");
    ASSERT_NE(at, std::string::npos) << all.substr(0, 500);
    const std::vector<std::string> titles{"Alpha Europe", "Bravo Caf\xC3\xA9s", "Charlie Lyon",
                                          "Delta Rome"};
    for (int pass = 0; pass < 2; ++pass) {
        for (const std::string& title : titles) {
            const std::size_t next = all.find(title, at);
            ASSERT_NE(next, std::string::npos) << title << " (pass " << pass << ")";
            at = next + title.size();
        }
    }
    EXPECT_EQ(all.find("document.write"), std::string::npos);

    // Each contents entry names the page its chapter starts on, and every page
    // carries its own number at its foot.
    const std::string contents = PageText(pdf, 1);
    int previous = 1;
    for (const std::string& title : titles) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(contents, m, std::regex(title + R"(\s+(\d+))"))) << contents;
        const int page = std::stoi(m[1]);
        EXPECT_GT(page, previous) << title;
        previous = page;
        const std::string text = PageText(pdf, page);
        EXPECT_EQ(text.find(title), text.find_first_not_of(" \n")) << title << "\n" << text;
        EXPECT_TRUE(std::regex_search(text, std::regex("\\s" + std::to_string(page) + "\\s*\f?$")))
            << text;
    }
    EXPECT_GE(previous, 5) << "the long chapter spans several pages";
    // One number per entry, and the page's own at its foot: the wrapped title has one.
    int numbers = 0;
    const std::regex number(R"(\s(\d+)\s*$)");
    std::istringstream lines(contents);
    for (std::string line; std::getline(lines, line);) numbers += std::regex_search(line, number);
    EXPECT_EQ(numbers, static_cast<int>(chapters.size()) + 1) << contents;
    std::remove(pdf.c_str());
    rmdir(folder);
}

int Entries(const std::string& folder) {
    int n = 0;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* e = readdir(dir)) n += e->d_name[0] != '.';
        closedir(dir);
    }
    return n;
}

// A target that cannot be written is told before anything is laid out; an export
// ended half-way leaves neither the book nor its temporary files.
TEST(PdfExportTest, TargetTriedFirstAndCancelLeavesNothing) {
    char folder[] = "/tmp/wf_pdf_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string temp = std::string(folder) + "/tmp";
    ASSERT_EQ(mkdir(temp.c_str(), 0700), 0);
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", temp.c_str());
    const std::vector<TBookChapter> chapters{Chapter(1, 0, "Only", "<p>text</p>")};

    int asked = 0;
    auto count = [&asked] { return ++asked, false; };
    try {
        WritePdf(std::string(folder) + "/no/such/folder/book.pdf", chapters, count);
        ADD_FAILURE() << "wrote into a missing folder";
    } catch (const EExportError& e) {
        EXPECT_NE(std::string(e.what()).find("No such file or directory"), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(asked, 0) << "nothing was laid out";

    const std::string pdf = std::string(folder) + "/book.pdf";
    EXPECT_THROW(WritePdf(pdf, chapters, [] { return true; }), EAbort);
    EXPECT_EQ(Entries(folder), 1) << "only the temporary folder itself";
    EXPECT_EQ(Entries(temp), 0);

    if (oldTmp.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", oldTmp);
    rmdir(temp.c_str());
    rmdir(folder);
}

}  // namespace
