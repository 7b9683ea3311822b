// The generic page reader and the address routines it stands on, on crafted pages
// that each hold one way real sites mark (or fail to mark) their main text.
#include <gtest/gtest.h>

#include "download/LinkAddress.h"
#include "download/MainText.h"
#include "download/wf_Article.h"
#include "Recorder.h"

namespace {

TEST(LinkAddressTest, ResolvesAsBrowsersDo) {
    const std::string base = "http://host/a/b/page.html?q=1#top";
    EXPECT_EQ(ResolveLink(base, " x.html "), "http://host/a/b/x.html");
    EXPECT_EQ(ResolveLink(base, "../c/./x.html#sec"), "http://host/a/c/x.html");
    EXPECT_EQ(ResolveLink(base, "../../../../x.html"), "http://host/x.html");
    EXPECT_EQ(ResolveLink(base, "/c/x.html"), "http://host/c/x.html");
    EXPECT_EQ(ResolveLink(base, "//other/x"), "http://other/x");
    EXPECT_EQ(ResolveLink(base, "?r=2"), "http://host/a/b/page.html?r=2");
    EXPECT_EQ(ResolveLink(base, "#frag"), "http://host/a/b/page.html?q=1");
    EXPECT_EQ(ResolveLink(base, ""), "http://host/a/b/page.html?q=1");
    EXPECT_EQ(ResolveLink("http://host", "x.html"), "http://host/x.html");
    EXPECT_EQ(ResolveLink(base, "HTTPS://Other.org/y"), "HTTPS://Other.org/y");
    // Nothing that is no web page comes out, nor anything from a base that is none.
    EXPECT_EQ(ResolveLink(base, "mailto:a@b.c"), "");
    EXPECT_EQ(ResolveLink(base, "javascript:void(0)"), "");
    EXPECT_EQ(ResolveLink(base, "file:///etc/passwd"), "");
    EXPECT_EQ(ResolveLink("page.html", "x.html"), "");
}

TEST(LinkAddressTest, OneIdentifierPerDocument) {
    EXPECT_EQ(AddressIdentifier("HTTP://Example.ORG:80/a/./b/../c?x=%7e#y"), "example.org/a/c?x=%7E");
    EXPECT_EQ(AddressIdentifier("https://example.org"), "example.org/");
    EXPECT_EQ(AddressIdentifier("https://user:pw@example.org:443/"), "example.org/");
    // Another port is another server; the path keeps its case.
    EXPECT_EQ(AddressIdentifier("http://127.0.0.1:8808/Guide/A.html"), "127.0.0.1:8808/Guide/A.html");
    EXPECT_EQ(AddressIdentifier("ftp://example.org/x"), "");
    EXPECT_EQ(AddressIdentifier("/relative/x.html"), "");
    EXPECT_EQ(AddressFolder("http://example.org/guide/index.html?x/y"), "example.org/guide/");
    EXPECT_EQ(AddressFolder("http://example.org"), "example.org/");
    EXPECT_EQ(RemoveDotSegments("/a/b/c/./../../g"), "/a/g");
    EXPECT_EQ(RemoveDotSegments("mid/content=5/../6"), "mid/6");
}

TEST(MainTextTest, MarkedMainTextWinsInOrder) {
    // <main> before a single <article>, a single <article> before role="main".
    const std::string page =
        "<html><head><title>Site | Page</title></head><body>"
        "<div role=\"main\"><p>role text</p></div>"
        "<article><p>article text</p></article>"
        "<main><p>main text</p></main></body></html>";
    EXPECT_EQ(ReadMainText("http://h/p.html", page).Body, "<p>main text</p>");
    const std::string noMain =
        "<body><div role=\"main\"><p>role text</p></div><article><p>article</p></article></body>";
    EXPECT_EQ(ReadMainText("http://h/p.html", noMain).Body, "<p>article</p>");
    // Several articles (a blog's front page) mark no single main text.
    const std::string two =
        "<body><div role=\"main\"><article><p>one</p></article><article><p>two</p></article>"
        "</div><div><p>side</p></div></body>";
    const TMainText read = ReadMainText("http://h/p.html", two);
    EXPECT_NE(read.Body.find("one"), std::string::npos);
    EXPECT_NE(read.Body.find("two"), std::string::npos);
    EXPECT_EQ(read.Body.find("side"), std::string::npos);
}

TEST(MainTextTest, UnmarkedPageGivesTheBlockWithMostText) {
    const std::string page =
        "<html><body>"
        "<div id=\"top\"><a href=\"/\">Home</a> <a href=\"/about\">About us</a></div>"
        "<div id=\"wrap\">"
        "  <div class=\"menu\"><ul><li><a href=\"a.html\">A short menu</a></li></ul></div>"
        "  <div class=\"text\"><h2>Old town</h2><p>The old town lies on a hill above the river,"
        "  with narrow lanes and a market square.</p><p>Its churches date from the twelfth"
        "  century; the largest holds a famous altar.</p><p>See <a href=\"sights/castle.html\">"
        "  the castle</a>.</p></div>"
        "</div>"
        "<div class=\"footer\">Copyright, all the small print of the whole site here</div>"
        "</body></html>";
    const TMainText read = ReadMainText("http://h/guide/town.html", page);
    EXPECT_EQ(read.Body.rfind("<h2>Old town</h2>", 0), 0u) << read.Body;
    EXPECT_EQ(read.Body.find("menu"), std::string::npos);
    ASSERT_EQ(read.Links.size(), 1u);
    EXPECT_EQ(read.Links[0].Url, "http://h/guide/sights/castle.html");
    EXPECT_EQ(read.Links[0].Text, "the castle");
    // No <h1> anywhere: the page's <title> names it.
    EXPECT_EQ(read.Title, "");
}

TEST(MainTextTest, LeavesOutNavigationScriptsAndStyles) {
    const std::string page =
        "<html><head><title> The\n title </title><base href=\"http://cdn.h/base/\"></head><body>"
        "<main><header><p>Site banner</p></header>"
        "<h1>Lyon <a class=\"headerlink\" href=\"#lyon\">\xC2\xB6</a></h1>"
        "<nav><a href=\"prev.html\">Previous</a></nav>"
        "<div role=\"navigation\"><a href=\"up.html\">Up</a></div>"
        "<div class=\"breadcrumb nav-x\"><a href=\"crumb.html\">Crumb</a></div>"
        "<script>var x = '<a href=\"s.html\">';</script><style>p{}</style>"
        "<!-- <a href=\"c.html\">commented</a> -->"
        "<p>Caf\xC3\xA9s by the <a href=\"river.html#banks\">Rh\xC3\xB4ne</a>"
        " <img src=\"img/a.png\"> <a href=\"mailto:x@y\">mail</a></p>"
        "<footer><a href=\"legal.html\">Legal</a></footer></main></body></html>";
    const TMainText read = ReadMainText("http://h/g/lyon.html", page);
    EXPECT_EQ(read.Title, "Lyon");
    for (const char* gone : {"banner", "Previous", "Up", "Crumb", "var x", "p{}", "commented", "Legal"})
        EXPECT_EQ(read.Body.find(gone), std::string::npos) << gone;
    // References work wherever the body is shown: made absolute against <base>, the
    // fragment kept; a heading's own permalink stays a fragment.
    EXPECT_NE(read.Body.find("href=\"http://cdn.h/base/river.html#banks\""), std::string::npos);
    EXPECT_NE(read.Body.find("src=\"http://cdn.h/base/img/a.png\""), std::string::npos);
    EXPECT_NE(read.Body.find("href=\"#lyon\""), std::string::npos);
    EXPECT_NE(read.Body.find("Caf\xC3\xA9s"), std::string::npos);
    ASSERT_EQ(read.Links.size(), 1u);
    EXPECT_EQ(read.Links[0].Url, "http://cdn.h/base/river.html");
    EXPECT_EQ(read.Links[0].Text, "Rh\xC3\xB4ne");
}

TEST(MainTextTest, DecodesTheDeclaredCharacterSet) {
    const std::string page =
        "<html><head><meta charset=\"iso-8859-1\"><title>x</title></head>"
        "<body><h1>Z\xFCrich</h1><p>Gr\xFC\x65zi</p></body></html>";
    const TMainText read = ReadMainText("http://h/z.html", page);
    EXPECT_EQ(read.Title, "Z\xC3\xBCrich");
    EXPECT_NE(read.Body.find("Gr\xC3\xBC" "ezi"), std::string::npos) << read.Body;
}

TEST(MainTextTest, AnyBytesGiveAResult) {
    EXPECT_FALSE(ReadMainText("http://h/", "").Parsed);
    const std::string junk("\0\xFF<<<>>>&&&;<a href=", 21);
    const TMainText read = ReadMainText("http://h/", junk);
    EXPECT_TRUE(read.Links.empty());
    const std::string deep = std::string(20000, '<') + "div>";
    (void)ReadMainText("http://h/", std::string(5000, 'x') + "<div><div><div>" + deep);
}

struct ArticleTest : TReaderFixture<TArticleDownload> {
    ArticleTest() : TReaderFixture("", TDownloadHandle(7, 3, "ARTICLE")) {}
};

TEST_F(ArticleTest, ChildrenStayUnderTheGuidesFolderInPageOrder) {
    handle.TopUrl = "http://Site.org/guide/index.html";
    const std::string page =
        "<html><head><title>T</title></head><body><main><h1>France</h1>"
        "<p><a href=\"paris/\">Paris</a> <a href=\"lyon.html#old\">Lyon</a>"
        " <a href=\"../guide/./lyon.html\">Lyon again</a>"
        " <a href=\"france.html#top\">this page</a>"
        " <a href=\"/shop/\">Shop</a> <a href=\"http://other.org/guide/x.html\">Other site</a>"
        " <a href=\"http://site.org:8080/guide/x.html\">Other port</a>"
        " <a href=\"https://site.org/guide/nice.html?lang=fr\">Nice</a>"
        " <a href=\"map.PDF\">Map</a> <a href=\"photos/\"><img src=\"p.jpg\" alt=\"Photos\"></a>"
        " <a href=\"empty.html\"></a></p></main></body></html>";
    Parse("http://site.org/guide/france.html", page);
    ASSERT_EQ(rec.Contents.size(), 1u);
    EXPECT_EQ(rec.Contents[0].Title, "France");
    EXPECT_EQ(rec.Contents[0].Encoding, "utf-8");
    EXPECT_EQ(rec.Contents[0].OrigId, "site.org/guide/france.html");
    std::vector<std::string> got;
    for (const auto& l : rec.Links) {
        EXPECT_TRUE(l.First);
        got.push_back(std::to_string(l.Order) + " " + l.Title + " " + l.OrigId + " " + l.Url);
    }
    EXPECT_EQ(got, (std::vector<std::string>{
                       "1 Paris site.org/guide/paris/ http://site.org/guide/paris/",
                       "2 Lyon site.org/guide/lyon.html http://site.org/guide/lyon.html",
                       "3 Nice site.org/guide/nice.html?lang=fr https://site.org/guide/nice.html?lang=fr",
                       "4 Photos site.org/guide/photos/ http://site.org/guide/photos/",
                       "5 http://site.org/guide/empty.html site.org/guide/empty.html "
                       "http://site.org/guide/empty.html"}));
}

TEST_F(ArticleTest, WithoutTheGuidesAddressThePagesOwnFolderBounds) {
    Parse("http://h/a/b/page.html",
          "<body><p><a href=\"../up.html\">Up</a> <a href=\"c/d.html\">Down</a></p></body>");
    ASSERT_EQ(rec.Links.size(), 1u);
    EXPECT_EQ(rec.Links[0].OrigId, "h/a/b/c/d.html");
    EXPECT_EQ(rec.Links[0].Order, 1);
}

TEST_F(ArticleTest, SecondPassAndEmptyPagesDeliverNoLinks) {
    reader.ParseLinks(false, "http://h/a.html", "<body><a href=\"b.html\">B</a></body>", handle);
    EXPECT_TRUE(rec.Links.empty());
    Parse("http://h/a.html", "");
    ASSERT_EQ(rec.Contents.size(), 1u);
    EXPECT_EQ(rec.Contents[0].Body, "");
    EXPECT_TRUE(rec.Links.empty());
    EXPECT_FALSE(reader.KnowsLayout("http://h/a.html", ""));
    EXPECT_TRUE(reader.KnowsLayout("http://h/a.html", "<p>x</p>"));
}

}  // namespace
