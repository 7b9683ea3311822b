#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "download/wf_AlphaBeds.h"
#include "tests/download/Recorder.h"

using ::testing::ElementsAre;

namespace {

const std::string Site = "http://127.0.0.1:8808/alphabeds/";

std::string Section(const std::string& heading, const std::string& items) {
    return "<h2 class=\"smalltitle\">" + heading + "</h2><ul>" + items + "</ul></div>";
}

struct TAlphaBedsFixture : TReaderFixture<TAlphaBedsDownload> {
    TAlphaBedsFixture() : TReaderFixture("alphabeds", TDownloadHandle(11, 4, "ALPHABEDS")) {}
};

}  // namespace

TEST_F(TAlphaBedsFixture, UnlistedPageOwnsItsLinksInBothSections) {
    ParseSample("europe.html");
    // Home in the first section is skipped; the order runs on into Destinations.
    EXPECT_THAT(rec.LinkSummary(), ElementsAre("1:Travel tips", "2:France", "3:Italy", "4:Poland"));
    EXPECT_THAT(rec.Events, ElementsAre("content", "link1", "link1", "link1", "link1"));
    EXPECT_EQ(rec.Links[1].Url, Site + "france.html");
    EXPECT_EQ(rec.Links[1].OrigId, "france");
    ASSERT_EQ(rec.Contents.size(), 1u);
    EXPECT_EQ(rec.Contents[0].Body,
              "<p>Beds and breakfasts across Europe \xe2\x80\x93 from Brittany to "
              "Krak\xc3\xb3w.</p>");
    EXPECT_EQ(rec.Contents[0].Encoding, "utf-8");
    EXPECT_EQ(rec.Contents[0].Title, "");
    EXPECT_EQ(rec.Contents[0].Head, "");
    EXPECT_EQ(rec.Contents[0].OrigId, "europe");
}

TEST_F(TAlphaBedsFixture, ListedPageHandsItsLinksToItsParent) {
    ParseSample("paris.html");
    EXPECT_THAT(rec.LinkSummary(), ElementsAre("1:Paris", "2:Provence", "3:Paris hotels"));
    for (const auto& link : rec.Links) EXPECT_FALSE(link.First);
    EXPECT_EQ(rec.Contents.at(0).Encoding, "iso-8859-1");
}

TEST_F(TAlphaBedsFixture, CharsetsDeclaredInDifferentWays) {
    ParseSample("poland.html");    // ISO-8859-2 in capitals
    ParseSample("tips.html");      // head tag with attributes: not recognised
    ParseSample("provence.html");  // meta in single quotes: not recognised
    ASSERT_EQ(rec.Contents.size(), 3u);
    EXPECT_EQ(rec.Contents[0].Encoding, "iso-8859-2");
    EXPECT_EQ(rec.Contents[1].Encoding, "utf-8");
    EXPECT_EQ(rec.Contents[2].Encoding, "utf-8");
    EXPECT_THAT(rec.LinkSummary(), ElementsAre("1:Krak\xf3w"));
}

TEST_F(TAlphaBedsFixture, HomeIsSkippedOnlyAsExactTextInTheFirstSection) {
    Parse("http://h/a/page.html", Section("In this section",
                                          "<a href=\"h.html\">Home</a><a href=\"l.html\">home</a>"
                                          "<a href=\"s.html\"> Home </a>") +
                                      Section("Destinations", "<a href=\"d.html\">Home</a>"));
    // " Home " is trimmed before the comparison.
    EXPECT_THAT(rec.LinkSummary(), ElementsAre("1:home", "2:Home"));
    EXPECT_EQ(rec.Links[1].Url, "http://h/a/d.html");
}

TEST_F(TAlphaBedsFixture, OwnNameDecidesThePass) {
    const std::string page = Section("In this section", "<a href=\"x.html\">X</a>");
    reader.ParseLinks(true, "http://h/x.html", page, handle);
    EXPECT_TRUE(rec.Links.empty());
    reader.ParseLinks(false, "http://h/x.html", page, handle);
    ASSERT_EQ(rec.Links.size(), 1u);
    EXPECT_FALSE(rec.Links[0].First);
    // The own name is looked for as plain text: "xx.html" lists "x.".
    rec.Links.clear();
    reader.ParseLinks(false, "http://h/x.html",
                      Section("In this section", "<a href=\"xx.html\">XX</a>"), handle);
    EXPECT_EQ(rec.Links.size(), 1u);
    // A page whose address ends in "/" has the name ".", listed by any ".".
    rec.Links.clear();
    reader.ParseLinks(true, "http://h/dir/", page, handle);
    reader.ParseLinks(false, "http://h/dir/", page, handle);
    ASSERT_EQ(rec.Links.size(), 1u);
    EXPECT_FALSE(rec.Links[0].First);
}

TEST_F(TAlphaBedsFixture, SectionsNeedTheirHeadingAndClosingDiv) {
    Parse("http://h/p.html",
          "<h2 class=\"smalltitle\">In This Section</h2><a href=\"a.html\">A</a></div>"
          "<h2 class=\"smalltitle\">Destinations</h2><a href=\"b.html\">B</a>");
    EXPECT_TRUE(rec.Links.empty());
    ASSERT_EQ(rec.Contents.size(), 1u);
    EXPECT_EQ(rec.Contents[0].Body, "");
    EXPECT_EQ(rec.Contents[0].Encoding, "utf-8");
}

TEST_F(TAlphaBedsFixture, BodyIsTrimmedAndMayHoldMarkup) {
    Parse("http://h/p.html",
          "<table>early</table><img id=\"LocationImage\" src=x><table><tr><td>t</td></tr>"
          "</table>\r\n <p>One</p><div><b>two</b></div>\t<div>&nbsp;</div>rest</form>"
          "<div>&nbsp;</div>");
    EXPECT_EQ(rec.Contents.at(0).Body, "<p>One</p><div><b>two</b></div>");
    // A body marker after the form's end does not count.
    Parse("http://h/p.html", "<img id=\"LocationImage\"></table>text</form><div>&nbsp;</div>");
    EXPECT_EQ(rec.Contents.at(1).Body, "");
}

TEST_F(TAlphaBedsFixture, EmptyOrBinaryPageYieldsEmptyBodyAndNoLinks) {
    Parse("http://h/p.html", "");
    Parse("http://h/p.html", std::string("\0<a \0href=\"\0\">\0/a>", 17));
    EXPECT_TRUE(rec.Links.empty());
    ASSERT_EQ(rec.Contents.size(), 2u);
    EXPECT_EQ(rec.Contents[0].Body, "");
    EXPECT_EQ(rec.Contents[0].Encoding, "utf-8");
}
