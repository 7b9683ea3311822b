// Guides of sites that have no reader of their own, read by the generic readers: two
// HTML manuals written by others (installed by Debian packages, served on 127.0.0.1)
// are gathered by a branch reload and checked against their own tables of contents,
// and feeds point at their pages. Creating guides is checked here as well.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "config/AuxProj.h"
#include "core/NewGuide.h"
#include "core/Reload.h"
#include "store/Database.h"
#include "store/Query.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TempDatabase.h"

namespace {

const char* const PythonDocs = "/usr/share/doc/python3.11/html";   // python3.11-doc
const char* const DebianReference = "/usr/share/debian-reference";  // debian-reference-en

class THost : public TReloadHost {
public:
    void ProcessMessages() override {}
    void WriteLog(unsigned char channel, const std::string& text) override {
        if (channel == 3) Errors.push_back(text);
    }
    std::vector<std::string> Errors;
};

// Manuals write non-breaking spaces and runs of blanks where a title has one blank.
std::string Spaced(std::string text) {
    for (std::size_t pos; (pos = text.find("\xC2\xA0")) != std::string::npos;) text.replace(pos, 2, " ");
    std::string out;
    for (char c : text)
        if (!(c == ' ' && !out.empty() && out.back() == ' ')) out += c;
    return out;
}

std::string ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The table of contents' top entries, (file, text) in the manual's order: the
// first capture group of pattern is the file, the second its text.
std::vector<std::pair<std::string, std::string>> TocEntries(const std::string& file,
                                                            const std::string& pattern) {
    const std::string page = ReadFile(file);
    std::vector<std::pair<std::string, std::string>> out;
    const std::regex re(pattern);
    for (std::sregex_iterator it(page.begin(), page.end(), re), end; it != end; ++it)
        out.push_back({(*it)[1].str(), (*it)[2].str()});
    return out;
}

struct TStoredChild {
    std::string OrigId, Title, Body;
    int Order;
};

class WebGuideTest : public ::testing::Test {
protected:
    void SetUp() override {
        StopFlag = false;
        for (const char* folder : {PythonDocs, DebianReference})
            ASSERT_TRUE(std::filesystem::is_directory(folder))
                << folder << " is missing: scripts/install-deps installs the manuals the tests read";
        ASSERT_TRUE(server_.Http().set_mount_point("/python", PythonDocs));
        ASSERT_TRUE(server_.Http().set_mount_point("/debref", DebianReference));
        server_.Http().Get("/feeds/(.*)", [this](const httplib::Request& req, httplib::Response& res) {
            const auto it = feeds_.find(req.matches[1].str());
            if (it == feeds_.end()) {
                res.status = 404;
                return;
            }
            res.set_content(it->second, "application/xml");
        });
        server_.Start();
        temp_.Connect(db_, tr_);
    }
    void TearDown() override { db_.Close(); }

    std::string Host() const { return "127.0.0.1:" + std::to_string(server_.Port()); }

    int BranchReload(int nodeId) {
        TReloadEngine engine(db_, host_);
        EXPECT_TRUE(engine.ReloadNodes(nodeId, true, 999, true));
        EXPECT_EQ(host_.Errors, std::vector<std::string>{});
        return engine.Progress().Documents;
    }
    std::vector<TStoredChild> Children(int nodeId) {
        TQuery q(db_);
        q.SetSQL("SELECT N.ORIG_ID, N.TITLE, N.BODY, MD.ORDER_ FROM NODE N JOIN MASTER_DETAIL MD "
                 "ON N.NODE_ID=MD.DETAIL_ID WHERE MD.MASTER_ID=" + std::to_string(nodeId) +
                 " ORDER BY MD.ORDER_");
        std::vector<TStoredChild> out;
        for (q.ExecQuery(); !q.Eof(); q.Next())
            out.push_back({q.AsText("ORIG_ID"), q.AsText("TITLE"), q.AsText("BODY"),
                           q.AsInteger("ORDER_")});
        return out;
    }
    std::vector<std::string> Column(const std::string& sql) {
        TQuery q(db_);
        q.SetSQL(sql);
        std::vector<std::string> out;
        for (q.ExecQuery(); !q.Eof(); q.Next()) out.push_back(q.AsText(0));
        return out;
    }
    int Count(const std::string& sql) {
        TQuery q(db_);
        q.SetSQL(sql);
        q.ExecQuery();
        return q.AsInteger(0);
    }

    TTempDatabase temp_{true, false};
    THttpTestServer server_;
    std::map<std::string, std::string> feeds_;
    TDatabase db_;
    TTransaction tr_{db_};
    THost host_;
};

// Sphinx marks the main text with role="main"; the tutorial's folder bounds the guide,
// so the links to the library reference and the glossary stay out.
TEST_F(WebGuideTest, PythonTutorialFollowsItsTableOfContents) {
    const TNewGuide guide =
        CreateGuide(db_, server_.Url("/python/tutorial/index.html"), "ARTICLE", "", &host_);
    EXPECT_FALSE(guide.Existed);
    EXPECT_EQ(guide.Title, "The Python Tutorial");  // the page's own, fetched
    BranchReload(guide.NodeId);

    const auto toc = TocEntries(std::string(PythonDocs) + "/tutorial/index.html",
                                "<li class=\"toctree-l1\"><a class=\"reference internal\" "
                                "href=\"([a-z0-9]+\\.html)\">([^<]+)</a>");
    ASSERT_GE(toc.size(), 15u);
    const std::vector<TStoredChild> children = Children(guide.NodeId);
    ASSERT_EQ(children.size(), toc.size());
    for (std::size_t i = 0; i < toc.size(); ++i) {
        SCOPED_TRACE(toc[i].first);
        EXPECT_EQ(children[i].OrigId, Host() + "/python/tutorial/" + toc[i].first);
        EXPECT_EQ(children[i].Order, static_cast<int>(i + 1));
        // Stored with its content: the title is the page's heading, the contents' text
        // without the permalink sign.
        EXPECT_EQ(Spaced(children[i].Title), Spaced(toc[i].second));
        EXPECT_NE(children[i].Body.find("<h1>"), std::string::npos);
        EXPECT_EQ(children[i].Body.find("sphinxsidebar"), std::string::npos);
        EXPECT_EQ(children[i].Body.find("<script"), std::string::npos);
    }
    // The tutorial and nothing else: its pages are all in its contents.
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NODE"), static_cast<int>(toc.size() + 1));
    for (const std::string& id : Column("SELECT ORIG_ID FROM NODE"))
        EXPECT_EQ(id.rfind(Host() + "/python/tutorial/", 0), 0u) << id;
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NODE WHERE BODY IS NULL OR ENCODING<>'utf-8'"), 0);
}

// DocBook's pages mark nothing: the main text is the block holding most of the text,
// and the navigation bars around it stay out.
TEST_F(WebGuideTest, DebianReferenceFollowsItsTableOfContents) {
    const TNewGuide guide =
        CreateGuide(db_, server_.Url("/debref/index.en.html"), "ARTICLE", "", &host_);
    EXPECT_EQ(guide.Title, "Debian Reference");
    const int documents = BranchReload(guide.NodeId);

    const auto toc = TocEntries(std::string(DebianReference) + "/index.en.html",
                                "<span class=\"(?:preface|chapter|appendix)\">\\s*<a href=\""
                                "([a-z0-9]+\\.en\\.html)\">([^<]+)</a>");
    ASSERT_GE(toc.size(), 14u);
    const std::vector<TStoredChild> children = Children(guide.NodeId);
    ASSERT_EQ(children.size(), toc.size());
    std::set<std::string> ids;
    for (std::size_t i = 0; i < toc.size(); ++i) {
        SCOPED_TRACE(toc[i].first);
        EXPECT_EQ(children[i].OrigId, Host() + "/debref/" + toc[i].first);
        // The chapter's heading ("Chapter 1. GNU/Linux tutorials") ends in the contents'
        // text ("1. GNU/Linux tutorials").
        const std::string text = Spaced(toc[i].second), title = Spaced(children[i].Title);
        ASSERT_GE(title.size(), text.size());
        EXPECT_EQ(title.substr(title.size() - text.size()), text);
        EXPECT_GT(children[i].Body.size(), 1000u);
        EXPECT_EQ(children[i].Body.find("Navigation header"), std::string::npos);
        EXPECT_EQ(children[i].Body.find("accesskey=\"n\""), std::string::npos);
        ids.insert(children[i].OrigId);
    }
    // Cross references between chapters are links too, but no page is stored twice
    // and none outside the manual.
    EXPECT_EQ(documents, static_cast<int>(toc.size() + 1));
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NODE"), static_cast<int>(toc.size() + 1));
}

TEST_F(WebGuideTest, FeedsListTheirItemsNewestFirst) {
    feeds_["travel.rss"] =
        "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Manual news</title>"
        "<item><title>Networking</title><link>../debref/ch05.en.html</link>"
        "<pubDate>Mon, 01 Jan 2024 10:00:00 GMT</pubDate></item>"
        "<item><title>Tutorials</title><link>" + server_.Url("/debref/ch01.en.html") + "</link>"
        "<pubDate>Sat, 01 Jun 2024 10:00:00 +0200</pubDate></item>"
        "<item><title>Gone</title><link>../debref/missing.html</link>"
        "<pubDate>Sun, 01 Dec 2024 10:00:00 GMT</pubDate></item>"
        "</channel></rss>";
    feeds_["tutorial.atom"] =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><feed xmlns=\"http://www.w3.org/2005/Atom\">"
        "<title>Tutorial</title>"
        "<entry><title>Classes</title><link href=\"/python/tutorial/classes.html\"/>"
        "<updated>2024-03-01T00:00:00Z</updated></entry>"
        "<entry><title>Errors</title><link href=\"/python/tutorial/errors.html\"/>"
        "<updated>2024-04-01T00:00:00Z</updated></entry></feed>";

    const TNewGuide rss = CreateGuide(db_, server_.Url("/feeds/travel.rss"), "FEED", "", &host_);
    EXPECT_EQ(rss.Title, "Manual news");
    TReloadEngine engine(db_, host_);
    ASSERT_TRUE(engine.ReloadNodes(rss.NodeId, true, 999, true));
    // The missing page is a failed download (channel 1), not an error of the walk.
    EXPECT_EQ(host_.Errors, std::vector<std::string>{});
    std::vector<std::string> got;
    for (const TStoredChild& c : Children(rss.NodeId))
        got.push_back(std::to_string(c.Order) + " " + c.OrigId + " " + Spaced(c.Title));
    EXPECT_EQ(got, (std::vector<std::string>{
                       "1 " + Host() + "/debref/missing.html Gone",
                       "2 " + Host() + "/debref/ch01.en.html Chapter 1. GNU/Linux tutorials",
                       "3 " + Host() + "/debref/ch05.en.html Chapter 5. Network setup"}));
    // The items' pages are read as articles, and their links are not followed.
    EXPECT_EQ(Count("SELECT COUNT(*) FROM NODE"), 4);
    EXPECT_EQ(Count("SELECT COUNT(*) FROM MASTER_DETAIL"), 4);  // the guide under the root, 3 items
    const std::vector<std::string> feedBody =
        Column("SELECT BODY FROM NODE WHERE NODE_ID=" + std::to_string(rss.NodeId));
    ASSERT_EQ(feedBody.size(), 1u);
    EXPECT_NE(feedBody[0].find(">Tutorials</a> (2024-06-01)"), std::string::npos) << feedBody[0];

    const TNewGuide atom = CreateGuide(db_, server_.Url("/feeds/tutorial.atom"), "FEED", "", &host_);
    BranchReload(atom.NodeId);
    got.clear();
    for (const TStoredChild& c : Children(atom.NodeId)) got.push_back(c.OrigId);
    EXPECT_EQ(got, (std::vector<std::string>{Host() + "/python/tutorial/errors.html",
                                             Host() + "/python/tutorial/classes.html"}));
}

TEST_F(WebGuideTest, NewGuidesGoAfterTheOthersAndBadInputWritesNothing) {
    tr_.CommitRetaining();
    const auto rows = [this] {
        return Count("SELECT COUNT(*) FROM NODE") * 1000 + Count("SELECT COUNT(*) FROM MASTER_DETAIL");
    };
    const int before = rows();
    for (const auto& [url, type] : std::vector<std::pair<std::string, std::string>>{
             {"ftp://example.org/x", "ARTICLE"},
             {"file:///etc/passwd", "ARTICLE"},
             {"example.org/x.html", "ARTICLE"},
             {"", "ARTICLE"},
             {"http://example.org/", "NO_SUCH_READER"},
             {"http://example.org/", "ARTICLE_WITH_A_LONG_NAME"},
             {"http://example.org/", ""},
             {"http://example.org/" + std::string(2100, 'x'), "ARTICLE"}}) {
        SCOPED_TRACE(url.substr(0, 40) + " " + type);
        EXPECT_NE(NewGuideProblem(url, type), "");
        EXPECT_THROW(CreateGuide(db_, url, type, "T"), EProjError);
    }
    EXPECT_EQ(NewGuideProblem("http://example.org/", "ARTICLE_WITH_A_LONG_NAME"),
              "The guide type \"ARTICLE_WITH_A_LONG_NAME\" is longer than 20 characters");
    EXPECT_EQ(rows(), before);

    // After the guides there, whatever their orders; the given title kept, the address
    // standing in for a title nobody fetched.
    for (const char* sql : {"INSERT INTO NODE(NODE_ID,TITLE,ORIG_URL,ORIG_ID,GUIDE_TYPE) VALUES "
                            "(GEN_ID(NODE_ID,1),'Old','http://a/x.html','x','EZTRIP')",
                            "INSERT INTO MASTER_DETAIL VALUES (0, GEN_ID(NODE_ID,0), 7)"}) {
        TQuery q(db_);
        q.SetSQL(sql);
        q.ExecSQL();
    }
    tr_.CommitRetaining();
    const TNewGuide first = CreateGuide(db_, " https://Example.org/guide/ ", "ARTICLE", "My guide");
    const TNewGuide second = CreateGuide(db_, "http://example.org/other.html", "ARTICLE", "");
    EXPECT_EQ(second.Title, "http://example.org/other.html");
    EXPECT_EQ(Column("SELECT TITLE FROM NODE N JOIN MASTER_DETAIL MD ON N.NODE_ID=MD.DETAIL_ID "
                     "WHERE MD.MASTER_ID=0 ORDER BY MD.ORDER_"),
              (std::vector<std::string>{"Old", "My guide", "http://example.org/other.html"}));
    EXPECT_EQ(Column("SELECT ORIG_URL || '|' || ORIG_ID FROM NODE WHERE NODE_ID=" +
                     std::to_string(first.NodeId)),
              std::vector<std::string>{"https://Example.org/guide/|example.org/guide/"});

    // The same document again (any spelling of its address) is the one there.
    const int now = rows();
    const TNewGuide again = CreateGuide(db_, "http://example.org:80/guide/./", "ARTICLE", "Other");
    EXPECT_TRUE(again.Existed);
    EXPECT_EQ(again.NodeId, first.NodeId);
    EXPECT_EQ(again.Title, "My guide");
    EXPECT_EQ(rows(), now);
    // Another guide type reads the same address as another document.
    EXPECT_FALSE(CreateGuide(db_, "http://example.org/guide/", "FEED", "").Existed);
}

}  // namespace
