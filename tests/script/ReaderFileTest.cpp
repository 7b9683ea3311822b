// Reader files: what the sandbox refuses, how a failing file fails one page and not
// the run, and that the shipped files read every page exactly as the compiled
// readers do.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "download/wf_AlphaBeds.h"
#include "download/wf_EzTrip.h"
#include "samples/SamplePages.h"
#include "script/LuaReader.h"
#include "tests/support/Files.h"

namespace {

std::string SourceDir() {
    const char* dir = std::getenv("WF_SOURCE_DIR");
    return dir ? dir : ".";
}

// A folder of its own per test, removed with it.
class TScratch {
public:
    TScratch() {
        char name[] = "/tmp/wf-script-XXXXXX";
        folder_ = mkdtemp(name) ? name : "/tmp";
    }
    ~TScratch() { std::system(("rm -rf '" + folder_ + "'").c_str()); }
    std::string Write(const std::string& name, const std::string& text) const {
        const std::string path = folder_ + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    const std::string& Folder() const { return folder_; }

private:
    std::string folder_;
};

// Everything a reader delivers for one page, in order, as text lines.
std::vector<std::string> Deliveries(TDownload& reader, const std::string& url,
                                    const std::string& html) {
    std::vector<std::string> out;
    reader.OnLog = [&](const std::string& msg) { out.push_back("log|" + msg); };
    reader.OnContent = [&](const std::string& title, const std::string& body,
                           const std::string& head, const std::string& encoding,
                           const std::string& u, const std::string& origId, TDownloadHandle&) {
        out.push_back("content|" + title + "|" + body + "|" + head + "|" + encoding + "|" + u +
                      "|" + origId);
    };
    reader.OnLink = [&](bool first, const std::string& title, const std::string& u,
                        const std::string& origId, int order, TDownloadHandle&) {
        out.push_back("link|" + std::to_string(first) + "|" + title + "|" + u + "|" + origId + "|" +
                      std::to_string(order));
    };
    TDownloadHandle handle(1, 2, "X");
    out.push_back("layout|" + std::to_string(reader.KnowsLayout(url, html)));
    reader.ParseContent(url, html, handle);
    reader.ParseLinks(true, url, html, handle);
    reader.ParseLinks(false, url, html, handle);
    return out;
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') names.push_back(entry->d_name);
        closedir(dir);
    }
    return names;
}

void ExpectSameAsCompiled(TDownload& compiled, TDownload& file, const std::string& url,
                          const std::string& html) {
    EXPECT_EQ(Deliveries(compiled, url, html), Deliveries(file, url, html)) << url;
}

TEST(ReaderFileTest, ShippedFilesReadEveryPageAsTheCompiledReaders) {
    const std::string readers = SourceDir() + "/readers/";
    TLuaReader ezFile(readers + "eztrip.lua", "EZTRIP");
    TLuaReader abFile(readers + "alphabeds.lua", "ALPHABEDS");
    ASSERT_EQ(ezFile.LoadError(), "");
    ASSERT_EQ(abFile.LoadError(), "");
    TEzTripDownload ez;
    TAlphaBedsDownload ab;

    // The hand-made sample pages, each kind of page of both sites.
    for (const auto& site : {std::string("eztrip"), std::string("alphabeds")}) {
        const std::string folder = SourceDir() + "/samples/" + site + "/";
        const std::vector<std::string> pages = FilesIn(folder);
        ASSERT_GT(pages.size(), 5u);
        for (const std::string& name : pages) {
            const std::string html = ReadWholeFile(folder + name);
            const std::string url = "http://127.0.0.1:8080/" + site + "/" + name;
            if (site == "eztrip")
                ExpectSameAsCompiled(ez, ezFile, url, html);
            else
                ExpectSameAsCompiled(ab, abFile, url, html);
        }
    }
    // The generated sites, whose pages report links in both passes.
    using SamplePages::TSyntheticGuide;
    for (int page = 0; page < 120; ++page) {
        for (const TSyntheticGuide guide : {TSyntheticGuide::sgEzTrip, TSyntheticGuide::sgAlphaBeds}) {
            const std::string url = "http://127.0.0.1:8080" + SamplePages::SyntheticPath(guide, page);
            const std::string html = SamplePages::SyntheticPage(guide, 120, page);
            if (guide == TSyntheticGuide::sgEzTrip)
                ExpectSameAsCompiled(ez, ezFile, url, html);
            else
                ExpectSameAsCompiled(ab, abFile, url, html);
        }
    }
    // Pages in no layout, and truncated pages, where a missing marker empties a cut.
    for (const std::string& url : {std::string("http://h/destinationguide.html"),
                                   std::string("http://h/A_viewLocation_B.html"),
                                   std::string("http://h/A_viewCities_B.html"),
                                   std::string("http://h/x.html")}) {
        ExpectSameAsCompiled(ez, ezFile, url, "");
        ExpectSameAsCompiled(ez, ezFile, url, "<html><body>moved</body></html>");
        ExpectSameAsCompiled(ab, abFile, url, "<h2 class=\"smalltitle\">Destinations</h2><a ");
        const std::string europe = ReadWholeFile(SourceDir() + "/samples/eztrip/europe.html");
        ExpectSameAsCompiled(ez, ezFile, url, europe.substr(0, europe.size() / 2));
    }
}

// The Lua side of a test: a reader declared with the given content function body.
std::string ReaderWith(const std::string& content) {
    return "reader {\n"
           "  guide_type = \"T\",\n"
           "  content = function(page)\n" +
           content +
           "\n  end,\n"
           "  links = function(page, first) if first then page:link('a', 'a.html', 1) end end,\n"
           "}\n";
}

TEST(ReaderFileTest, AFailingPageDeliversNothingAndLogsOneLineNamingFileAndLine) {
    TScratch scratch;
    struct TCase {
        std::string Content;
        std::string Expected;  // in the log line, after the file's name
    };
    const TCase cases[] = {
        {"    error('no body here')", "bad.lua:4: no body here"},
        {"    local t = nil\n    return t.body", "bad.lua:5: attempt to index a nil value"},
        {"    while true do end", "bad.lua:4: the reader ran over its limit"},
        // The script's own pcall does not outlive the limit.
        {"    while true do pcall(function() while true do end end) end",
         "bad.lua:4: the reader ran over its limit"},
        {"    local s = 'x' while true do s = s .. s end", "bad.lua:4: the reader used more than"},
        // Links are kept outside the reader's memory, under the same limit.
        {"    local big = string.rep('x', 1 << 20)\n"
         "    for i = 1, 100 do page:link(big, 'a.html', i) end",
         "bad.lua:5: the page's links ran over the reader's 8 MB of memory"},
        {"    return {}", "content must give text"},
        {"    return io.open('/etc/passwd'):read('a')", "bad.lua:4: attempt to index a nil value (global 'io')"},
    };
    for (const TCase& c : cases) {
        const std::string file = scratch.Write("bad.lua", ReaderWith(c.Content));
        TLuaReader reader(file, "T", 8 * 1024 * 1024, 2'000'000);
        ASSERT_EQ(reader.LoadError(), "") << c.Content;
        const std::vector<std::string> got = Deliveries(reader, "http://h/p.html", "<p>page</p>");
        // Known layout (the failure is not a layout change), one log line, nothing else.
        ASSERT_EQ(got.size(), 2u) << c.Content;
        EXPECT_EQ(got[0], "layout|1");
        EXPECT_EQ(got[1].rfind("log|The reader file \"" + file + "\" failed on the page "
                               "\"http://h/p.html\": ",
                               0),
                  0u)
            << got[1];
        EXPECT_NE(got[1].find(c.Expected), std::string::npos) << got[1];
    }
    // After a failed page, the next one of the same reader reads normally.
    const std::string file = scratch.Write("flaky.lua", ReaderWith(
        "    if Contains(page.html, 'boom') then error('boom') end\n    return 'fine'"));
    TLuaReader reader(file, "T", 8 * 1024 * 1024, 2'000'000);
    EXPECT_EQ(Deliveries(reader, "http://h/1.html", "boom").size(), 2u);
    const std::vector<std::string> next = Deliveries(reader, "http://h/2.html", "calm");
    ASSERT_EQ(next.size(), 3u);
    EXPECT_EQ(next[1], "content||fine||utf-8|http://h/2.html|2");
    EXPECT_EQ(next[2], "link|1|a|http://h/a.html|a|1");
}

TEST(ReaderFileTest, TheSandboxHasNoWayOutAndNoBytecode) {
    TScratch scratch;
    const std::string probe = scratch.Write("probe.lua", R"lua(
local out = {}
for _, name in ipairs({ "io", "os", "require", "package", "debug", "dofile", "loadfile",
                        "print", "collectgarbage", "coroutine" }) do
  if _G[name] ~= nil then out[#out + 1] = name end
end
if string.dump ~= nil then out[#out + 1] = "string.dump" end
-- bytecode is refused, text loads into the sandbox's globals
local f, err = load("\27Lua\84\0\25\147\13\10\26\10")
if f ~= nil then out[#out + 1] = "bytecode" end
local g = load("return Contains('abc', 'b')")
if not g or g() ~= true then out[#out + 1] = "text load" end
reader { guide_type = "P", description = table.concat(out, ",") }
)lua");
    const std::vector<TReaderDeclaration> declared = ReadDeclarations(probe);
    ASSERT_EQ(declared.size(), 1u);
    EXPECT_EQ(declared[0].Description, "");
}

TEST(ReaderFileTest, ABrokenFileIsReportedAtItsLine) {
    TScratch scratch;
    struct TCase {
        std::string Text;
        std::string Expected;
    };
    const TCase cases[] = {
        {"reader {\n  guide_type = 'A',\n  content = function(page) return 'x' \n}\n",
         "broken.lua:4:"},  // a missing "end"
        {"local x = 1\nreader { guide_type = 'TWENTY_ONE_CHARACTERS' }\n",
         "broken.lua:2: reader: a guide type is text of 1 to 20 characters"},
        {"reader { guide_type = 'A' }\nreader { guide_type = 'A' }\n",
         "broken.lua:2: reader: guide type A is declared twice"},
        {"reader { guide_type = 'A', links = 5 }\n", "broken.lua:1: reader: links must be a function"},
        {"reader { guide_type = 'A', links = { xpath = '//a', pass = 'up' } }\n",
         "broken.lua:1: reader: links pass is"},
        {"while true do end\n", "broken.lua:1: the reader ran over its limit"},
        {"string.dump(print)\n", "broken.lua:1: attempt to call a nil value (field 'dump')"},
    };
    for (const TCase& c : cases) {
        const std::string file = scratch.Write("broken.lua", c.Text);
        try {
            ReadDeclarations(file);
            ADD_FAILURE() << "loaded: " << c.Text;
        } catch (const EReaderError& e) {
            EXPECT_NE(std::string(e.what()).find(c.Expected), std::string::npos) << e.what();
        }
        // A reader made of it fails every page with the same line.
        TLuaReader reader(file, "A");
        EXPECT_NE(reader.LoadError().find(c.Expected), std::string::npos);
        const std::vector<std::string> got = Deliveries(reader, "http://h/p.html", "x");
        ASSERT_EQ(got.size(), 2u);
        EXPECT_NE(got[1].find(c.Expected), std::string::npos);
    }
}

TEST(ReaderFileTest, TreeQueriesAndDeclarativeReaders) {
    TScratch scratch;
    const std::string file = scratch.Write("tree.lua", R"lua(
reader {
  guide_type = "DECL",
  content = { body = "//div[@id='main']", title = "//h1" },
  links = { xpath = "//ul[@class='nav']//a", pass = "parent" },
}
reader {
  guide_type = "CODE",
  content = function(page)
    local tree = page:tree()
    local main = tree:first("//div[@id='main']")
    local parts = {
      main:name(), main:attr("id"), tostring(main:attr("nope")),
      main:first("p"):text(), main:first("p"):html(),
      tostring(#tree:xpath("//a")), tostring(tree:xpath("count(//li)")),
      tostring(tree:first("//table")),
    }
    return table.concat(parts, "|"), nil, nil, "utf-8"
  end,
}
)lua");
    const std::string html =
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=iso-8859-1\"></head><body><h1> Caf\xe9 </h1><div id=main><p>One <b>two</b>"
        "</div><ul class=nav><li><a href='x.html'>X</a><li><a href='/y.html'> Y </a>"
        "<li><a href='z.html'></a><li><a>no href</a></ul></body></html>";
    TLuaReader decl(file, "DECL");
    const std::vector<std::string> got = Deliveries(decl, "http://h/a/p.html", html);
    ASSERT_EQ(got.size(), 4u);
    // Tree text is UTF-8, decoded by the set the page declares.
    EXPECT_EQ(got[1], "content|Caf\xc3\xa9|<p>One <b>two</b></p>||utf-8|http://h/a/p.html|p");
    EXPECT_EQ(got[2], "link|0|X|http://h/a/x.html|x|1");
    EXPECT_EQ(got[3], "link|0|Y|http://h//y.html|y|2");

    TLuaReader code(file, "CODE");
    const std::vector<std::string> coded = Deliveries(code, "http://h/a/p.html", html);
    ASSERT_EQ(coded.size(), 2u);
    EXPECT_EQ(coded[1],
              "content||div|main|nil|One two|<p>One <b>two</b></p>|4|4.0|nil||utf-8|"
              "http://h/a/p.html|p");

    // A bad XPath expression is the reader's error, at its line.
    const std::string bad = scratch.Write("badpath.lua",
                                          "reader { guide_type = 'B', content = function(page)\n"
                                          "  return page:tree():first('//[') end }\n");
    TLuaReader badReader(bad, "B");
    const std::vector<std::string> failed = Deliveries(badReader, "http://h/p.html", html);
    ASSERT_EQ(failed.size(), 2u);
    EXPECT_NE(failed[1].find("badpath.lua:2: invalid XPath expression"), std::string::npos)
        << failed[1];
}

TEST(ReaderFileTest, ScanningRoutinesGiveTheCompiledResults) {
    TScratch scratch;
    const std::string file = scratch.Write("scan.lua", R"lua(
reader {
  guide_type = "S",
  content = function(page)
    local out = {}
    local function add(...) for _, v in ipairs({...}) do out[#out + 1] = tostring(v) end end
    add(CutBetween("a[b]c[d]", "[", "]"))
    add(CutBetween("a[b", "[", "]"))
    add(CutBetween("[]x", "[", "]"))
    add(CutBetween("a[b]", "", "]"))
    local s = Scanner("a[b]c[d]")
    add(s:cut("[", "]"), s:text(), s:cut("[", "]"), s:empty(), s:cut("[", "]"))
    add(HasMarkers("a[]", "[", "]"), HasMarkers("a]", "[", "]"))
    add(TrimBlanks("\t x \n"), Contains("abc", "bc"), Contains("abc", "."))
    add(FindCharset('<HEAD><META HTTP-EQUIV="Content-Type" content="text/html; charset=ISO-8859-2"></head>', "d"))
    add(MakeAbsoluteUrl("http://host/a/b/page.html", " x.html "))
    add(MakeAbsoluteUrl("http://host/a/b/page.html", "/c/x.html"))
    add(UrlBaseName("http://host/a/b.c.html"), DecodeToUtf8("\233", "iso-8859-1"))
    -- A loop over parts steps as the compiled readers' loops do, to the last cut
    -- that misses its end marker, and leaves its list used up.
    local list = Scanner("x[a]y[ b ]z[c")
    for item in list:parts("[", "]") do add("<" .. item:text() .. ">") end
    add(list:empty())
    for item in Scanner(""):parts("[", "]") do add("never") end
    -- Several pairs of markers: one part each, each cut after the one before.
    add(Scanner(' <a href=" x.html ">Y </a><a href="z">'):cut_trimmed('href="', '"', ">", "<", "href=", ">"))
    add(select("#", Scanner("abc"):cut("a", "b", "x", "y")))
    add(pcall(function() return Scanner("abc"):cut("a", "b", "c") end))
    return table.concat(out, ";")
  end,
}
)lua");
    TLuaReader reader(file, "S");
    const std::vector<std::string> got = Deliveries(reader, "http://h/p.html", "");
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1],
              "content||b;c[d];;;;x;;;b;c[d];d;true;;true;false;x;true;false;iso-8859-2;"
              "http://host/a/b/x.html;http://host//c/x.html;b;\xc3\xa9;<a>;< b >;<>;true;x.html;Y;"
              "\"z\";2;false;scan.lua:28: cut takes markers in pairs: start, stop [, start, stop "
              "...]||utf-8|http://h/p.html|p");
}

}  // namespace

namespace {

// The example a user copies from the README works, and stays as short as promised.
TEST(ReaderFileTest, TheReadmeExampleReadsAPageOfItsSite) {
    const std::string readme = ReadWholeFile(SourceDir() + "/README.md");
    const std::size_t begin = readme.find("```lua\n-- wanderbook.lua");
    ASSERT_NE(begin, std::string::npos);
    const std::size_t end = readme.find("```", begin + 6);
    const std::string text = readme.substr(begin + 7, end - begin - 7);
    EXPECT_LE(std::count(text.begin(), text.end(), '\n'), 30);
    TScratch scratch;
    TLuaReader reader(scratch.Write("wanderbook.lua", text), "WANDERBOOK");
    ASSERT_EQ(reader.LoadError(), "");
    const std::string page =
        "<html><body><h1>Lyon </h1><div class='entry'><p>Old town.</p></div>"
        "<ul class='places'><li><a href='a.html'>A</a></li><li class='here'>"
        "<a href='lyon.html'>Lyon</a></li></ul></body></html>";
    const std::vector<std::string> got = Deliveries(reader, "http://w.example/fr/lyon.html", page);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[1], "content|Lyon|<p>Old town.</p>||utf-8|http://w.example/fr/lyon.html|lyon");
    EXPECT_EQ(got[2], "link|0|A|http://w.example/fr/a.html|a|1");
    EXPECT_EQ(got[3], "link|0|Lyon|http://w.example/fr/lyon.html|lyon|2");
}

}  // namespace
