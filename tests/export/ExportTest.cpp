// Books written from a real database: the EPUB is checked by epubcheck, the text a
// reader shows is read back out of the archive.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "export/Book.h"
#include "export/BookText.h"
#include "export/EpubWriter.h"
#include "store/Database.h"
#include "store/Query.h"
#include "tests/support/Files.h"
#include "tests/support/TempDatabase.h"

namespace {

struct TRun {
    int Status = -1;
    std::string Output;
};

// Runs a shell command, its standard output and error together.
TRun Shell(const std::string& command) {
    TRun run;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.Output.append(buffer, n);
    const int status = pclose(pipe);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

TRun EpubCheck(const std::string& path) {
    return Shell("java -jar /usr/share/java/epubcheck.jar " + Quoted(path));
}

std::string Member(const std::string& archive, const std::string& name) {
    return Shell("unzip -p " + Quoted(archive) + " " + Quoted(name)).Output;
}

class ExportTest : public ::testing::Test {
protected:
    void SetUp() override { temp_.Connect(db_, tr_); }

    void AddNode(int id, const std::string& title, const std::string& body,
                 const std::string& encoding,
                 const std::string& url = "http://site.test/a/page.html") {
        TQuery q(db_);
        q.SetSQL(
            "INSERT INTO NODE (NODE_ID, TITLE, ORIG_URL, ORIG_ID, GUIDE_TYPE, BODY, ENCODING) "
            "VALUES (:Id, :Title, :Url, :OrigId, 'EZTRIP', :Body, :Enc)");
        q.SetParam("Id", id);
        q.SetParam("Title", title);
        q.SetParam("Url", url);
        q.SetParam("OrigId", "o" + std::to_string(id));
        q.SetParam("Body", body);
        q.SetParam("Enc", encoding);
        q.ExecSQL();
        tr_.CommitRetaining();
    }
    void Link(int parent, int child, int order) {
        TQuery q(db_);
        q.SetSQL("INSERT INTO MASTER_DETAIL (MASTER_ID, DETAIL_ID, ORDER_) VALUES (:P, :C, :O)");
        q.SetParam("P", parent);
        q.SetParam("C", child);
        q.SetParam("O", order);
        q.ExecSQL();
        tr_.CommitRetaining();
    }
    std::string File(const std::string& name) const { return temp_.Folder() + "/" + name; }

    TTempDatabase temp_;
    TDatabase db_;
    TTransaction tr_{db_};
};

// A guide of three levels whose pages are what the web really serves: Latin-1 bytes
// that are no UTF-8, an unknown character set, layout tables around forms, scripts,
// links inside links, relative images, addresses with blanks.
TEST_F(ExportTest, BranchBecomesAValidEpubInTreeOrder) {
    AddNode(1, "Europe",
            "<center>c</center><p>Intro <b>bold<div>block in "
            "bold</div></b></p><script>alert(1)</script>",
            "utf-8");
    AddNode(2, "Caf\xE9s of Paris",
            "<table><tr><td><form><input name=q></form>Caf\xE9 cr\xE8me</td></tr><p>stray</table>"
            "<a href=\"#top\">top</a> <a href=\"menu page.html\">menu<a href=x.html>inner</a></a>"
            "<img src=\"pics/eiffel.jpg\" alt=\"Tower\"><ul>loose text<li>item</ul>",
            "iso-8859-1", "http://site.test/fr/paris.html");
    AddNode(3, "Lyon",
            "<h1>Old town</h1><table><tbody><tr><td colspan=2>a</td></tr></tbody></table>",
            "x-no-such-charset");
    AddNode(4, "Rome", "\x93Quoted\x94 \xFF\xFE", "windows-1252");
    Link(0, 1, 1);
    Link(1, 2, 2);
    Link(1, 4, 3);  // Rome after Paris by order, though it sorts after Lyon by id
    Link(2, 3, 1);
    Link(4, 2, 1);  // Paris again below Rome: exported once, at its first place

    const std::vector<TBookEntry> entries = BranchEntries(db_, 1);
    const std::vector<TBookEntry> expected{{1, 0}, {2, 1}, {3, 2}, {4, 1}};
    EXPECT_EQ(entries, expected);

    const std::string path = File("book.epub");
    WriteEpub(path, ReadChapters(db_, entries));
    const TRun check = EpubCheck(path);
    EXPECT_EQ(check.Status, 0) << check.Output;
    EXPECT_EQ(check.Output.find("ERROR"), std::string::npos) << check.Output;

    const std::string nav = Member(path, "OEBPS/nav.xhtml");
    const std::size_t europe = nav.find(">Europe<"), paris = nav.find(">Caf\xC3\xA9s of Paris<"),
                      lyon = nav.find(">Lyon<"), rome = nav.find(">Rome<");
    ASSERT_NE(europe, std::string::npos) << nav;
    ASSERT_NE(paris, std::string::npos) << nav;
    EXPECT_LT(europe, paris);
    EXPECT_LT(paris, lyon);
    EXPECT_LT(lyon, rome);
    // Lyon nests under Paris, Paris under Europe; Rome is Paris's sibling.
    EXPECT_NE(nav.find("Lyon</a></li>\n</ol>\n</li>\n<li><a href=\"c0004.xhtml\">Rome"),
              std::string::npos)
        << nav;

    const std::string paris_text = Member(path, "OEBPS/c0002.xhtml");
    EXPECT_NE(paris_text.find("Caf\xC3\xA9 cr\xC3\xA8me"), std::string::npos) << paris_text;
    EXPECT_NE(paris_text.find("stray"), std::string::npos);
    EXPECT_NE(paris_text.find("href=\"http://site.test/fr/menu%20page.html\""), std::string::npos)
        << paris_text;
    EXPECT_NE(paris_text.find("href=\"http://site.test/fr/pics/eiffel.jpg\">[Tower]"),
              std::string::npos);
    EXPECT_EQ(paris_text.find("#top"), std::string::npos);
    EXPECT_EQ(paris_text.find("<input"), std::string::npos);
    EXPECT_EQ(Member(path, "OEBPS/c0001.xhtml").find("alert"), std::string::npos);
    // An unknown character set reads as Latin-1; Windows-1252 quotes become quotes.
    EXPECT_NE(Member(path, "OEBPS/c0003.xhtml").find("<td colspan=\"2\">a</td>"),
              std::string::npos);
    EXPECT_NE(
        Member(path, "OEBPS/c0004.xhtml").find("\xE2\x80\x9CQuoted\xE2\x80\x9D \xC3\xBF\xC3\xBE"),
        std::string::npos);
}

// Marked documents need not be parent and child: a deeper level right after a
// shallower one, or a book that starts deep, still nests one step at a time.
TEST_F(ExportTest, UnevenLevelsAndEmptyBooksStayValid) {
    AddNode(1, "", "", "");
    AddNode(2, "Deep", "<p>x</p>", "utf-8");
    const std::string uneven = File("uneven.epub");
    WriteEpub(uneven, ReadChapters(db_, {{2, 3}, {1, 5}, {2, 1}, {999, 0}}));
    const TRun check = EpubCheck(uneven);
    EXPECT_EQ(check.Status, 0) << check.Output;
    EXPECT_NE(Member(uneven, "OEBPS/nav.xhtml").find("Document 1"), std::string::npos);

    const std::string empty = File("empty.epub");
    WriteEpub(empty, {});
    EXPECT_EQ(EpubCheck(empty).Status, 0) << EpubCheck(empty).Output;
}

TEST(BookTextTest, DecodesEveryByteAndKeepsXmlClean) {
    // Decoded as anywhere else (a stray byte in a UTF-8 page reads as Latin-1), then
    // without what XML cannot hold: C0 controls but tab and line ends, U+FFFE, U+FFFF.
    EXPECT_EQ(DecodeForBook("a\xE9z \xC3\xA9", "UTF-8"), "a\xC3\xA9z \xC3\xA9");
    EXPECT_EQ(DecodeForBook(std::string("a\0b\x01"
                                        "c\td\xEF\xBF\xBE\xEF\xBF\xBF\n",
                                        14),
                            "utf-8"),
              "abc\td\n");
    EXPECT_EQ(BodyToXhtml("<a href=\"javascript:x()\">x</a><img src=\"file:///etc/passwd\">", ""),
              "x");
    EXPECT_EQ(BodyToXhtml("<p>100% <a href=\"http://h/a%zz#b#c\">y</a>", "http://h/"),
              "<p>100% <a href=\"http://h/a%25zz#b%23c\">y</a></p>");
}

std::string Repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

// Pages that nest deeper than the parser would go keep all their text: the markup
// beyond a depth is left out, not what follows it.
TEST(BookTextTest, DeepNestingKeepsItsText) {
    for (const char* tag : {"<b>", "<font color=red>", "<div>", "<table><tr><td>"}) {
        const std::string xhtml = BodyToXhtml(Repeat(tag, 400) + "deep end" + "<p>after</p>", "");
        EXPECT_NE(xhtml.find("deep end"), std::string::npos) << tag;
        EXPECT_NE(xhtml.find("after"), std::string::npos) << tag;
    }
    // Far deeper, and end tags that the parser and a count of them read apart.
    const std::string hostile = BodyToXhtml(Repeat("<div><b></div>", 100000) + "bottom", "");
    EXPECT_NE(hostile.find("bottom"), std::string::npos);
    EXPECT_NE(BodyToXhtml(Repeat("<span>", 200000) + "bottom", "").find("bottom"),
              std::string::npos);

    EXPECT_EQ(FlattenDeepTags("<b><i><u>x</u></i></b><br><img src=a>", 2),
              "<b><i>x</i></b><br><img src=a>");
    // Paragraphs and items a browser closes by themselves are not counted as nested.
    EXPECT_EQ(FlattenDeepTags(Repeat("<p>a", 50) + "<li>b<li>c", 2), Repeat("<p>a", 50) + "<li>b<li>c");
    EXPECT_EQ(FlattenDeepTags("<div title='a>b'><script>if (a<b) x('<i>')</script></div>", 1),
              "<div title='a>b'><script>if (a<b) x('<i>')</script></div>");
}

// A link a strict reader would refuse loses its address and keeps its text; captions
// stay with their tables.
TEST(BookTextTest, MalformedLinksBecomeTextAndCaptionsStay) {
    for (const char* href : {"http://", "http:///path", "http://exa mple.com/", "http://a..b/",
                             "http://host:80x/", "http://[zz]/", "http://-a.test/", "https://:8/",
                             "http://h\xC3\xA9.test/"}) {
        EXPECT_EQ(BodyToXhtml(std::string("<a href=\"") + href + "\">text</a>", ""), "text")
            << href;
    }
    EXPECT_EQ(BodyToXhtml("<a href=\"http://h.test:8080/x\">a</a><a href=\"http://[::1]/\">b</a>"
                          "<a href=\"HTTP://user@h.test./\">c</a>",
                          ""),
              "<a href=\"http://h.test:8080/x\">a</a><a href=\"http://[::1]/\">b</a>"
              "<a href=\"HTTP://user@h.test./\">c</a>");
    EXPECT_EQ(BodyToXhtml("<table><tr><td>1</td></tr><caption>Prices <b>2026</b></caption>"
                          "<caption>and more</caption></table>",
                          ""),
              "<table><caption>Prices <b>2026</b> and more</caption><tr><td>1</td></tr></table>");
    EXPECT_NE(BodyToXhtml("<table><caption>Layout</caption><tr><td><div>x</div></td></tr>"
                          "<p>stray</p></table>",
                          "")
                  .find("Layout"),
              std::string::npos);
}

// A branch of 2,000 documents with what real pages hold and worse: unclosed and
// deeply nested tags, control bytes, links a reader refuses, every character set.
TEST_F(ExportTest, HostileBranchPassesEpubCheck) {
    const char* bodies[] = {
        "<p>Unclosed <b>bold <i>italic <table><tr><td>cell",
        "ctl \x01\x02\x0B\x1F end <a href=\"http://\">empty host</a>",
        "<a href=\"http://exa mple.com/\">blank</a> <a href=\"ht tp://x\">scheme</a>"
        " <a href=\"http://a..b/\">dots</a> <img src=\"http://\">",
        "<table><caption>Cap</caption><tr><td>1</td></tr></table>",
        "\xFF\xFE bytes \x80\x81 <div id=a id=a><p id=\"1x\">x</div>",
    };
    const std::string deep = Repeat("<b>", 400) + Repeat("<font>", 400) + "deep end";
    AddNode(1, "Top \x01 <guide>", deep, "utf-8");
    Link(0, 1, 1);
    for (int id = 2; id <= 2000; ++id) {
        AddNode(id, id % 7 ? "Doc " + std::to_string(id) : "", bodies[id % 5],
                id % 3 ? "utf-8" : "koi8-r", id % 11 ? "http://site.test/a/page.html" : "");
        Link(id < 40 ? 1 : id / 20, id, id);
    }
    const std::string path = File("hostile.epub");
    WriteEpub(path, ReadChapters(db_, BranchEntries(db_, 1)));
    const TRun check = EpubCheck(path);
    EXPECT_EQ(check.Status, 0) << check.Output.substr(0, 4000);
    EXPECT_NE(Member(path, "OEBPS/c0001.xhtml").find("deep end"), std::string::npos);
}

}  // namespace
