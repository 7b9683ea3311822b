#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "download/wf_AlphaBeds.h"
#include "download/wf_EzTrip.h"
#include "tests/download/Recorder.h"

using ::testing::ElementsAre;

namespace {

const std::string Site = "http://127.0.0.1:8808/eztrip/";

struct TEzTripFixture : TReaderFixture<TEzTripDownload> {
    TEzTripFixture() : TReaderFixture("eztrip", TDownloadHandle(7, 3, "EZTRIP")) {}
};

}  // namespace

TEST(EzTrip, PageKindTakesTheFirstMatchInOrder) {
    EXPECT_EQ(PageKindOf("http://x/destinationguide_viewCities_.html"), TEzTripPageKind::pkGuide);
    EXPECT_EQ(PageKindOf("http://x/a_viewLocation_b_viewCities_.html"),
              TEzTripPageKind::pkLocation);
    EXPECT_EQ(PageKindOf("http://x/a_viewCities_b.html"), TEzTripPageKind::pkCities);
    EXPECT_EQ(PageKindOf("http://x/a_viewlocation_b.html"), TEzTripPageKind::pkDefault)
        << "letter case counts";
    EXPECT_EQ(KeepHtmlLink("map.php"), "");
    EXPECT_EQ(KeepHtmlLink("a.html?x=1"), "a.html?x=1");
}

TEST(EzTrip, FactoryGivesTheRightReaders) {
    EXPECT_NE(dynamic_cast<TEzTripDownload*>(CreateDownload("EZTRIP").get()), nullptr);
    EXPECT_NE(dynamic_cast<TAlphaBedsDownload*>(CreateDownload("ALPHABEDS").get()), nullptr);
}

TEST_F(TEzTripFixture, GuidePageListsRegions) {
    ParseSample("destinationguide.html");
    ASSERT_EQ(rec.Contents.size(), 1u);
    EXPECT_EQ(rec.Contents[0].Body, "");
    EXPECT_EQ(rec.Contents[0].Encoding, "iso-8859-1");
    EXPECT_EQ(rec.Contents[0].OrigId, "destinationguide");
    EXPECT_THAT(rec.LinkSummary(), ElementsAre("1:Europe", "2:Asia"));
    EXPECT_EQ(rec.Links[0].Url, Site + "europe.html");
    EXPECT_EQ(rec.Links[0].OrigId, "europe");
    // An href with a folder resolves against the host's root.
    EXPECT_EQ(rec.Links[1].Url, "http://127.0.0.1:8808/eztrip/asia.html");
    for (const auto& link : rec.Links) {
        EXPECT_TRUE(link.First);
        EXPECT_EQ(link.NodeId, 7) << "the handle passed in travels with every link";
    }
    EXPECT_THAT(rec.Events, ElementsAre("content", "link1", "link1"));
}

TEST_F(TEzTripFixture, DefaultPageGivesPlacesAndTheirCities) {
    ParseSample("europe.html");
    EXPECT_THAT(rec.LinkSummary(), ElementsAre("1:France", "2:France (cities)", "3:Italy",
                                               "4:Italy (cities)", "5:Portugal"));
    EXPECT_EQ(rec.Links[1].Url, Site + "Europe_viewCities_France.html");
    EXPECT_EQ(rec.Links[1].OrigId, "Europe_viewCities_France");
    EXPECT_EQ(rec.Contents.at(0).Body, "");
}

TEST_F(TEzTripFixture, CitiesPageListsArrowEntries) {
    ParseSample("Europe_viewCities_France.html");
    EXPECT_THAT(rec.LinkSummary(), ElementsAre("1:Paris", "2:Lyon", "3:Nice"));
    EXPECT_EQ(rec.Links[2].Url, Site + "France_viewLocation_Nice.html");
}

TEST_F(TEzTripFixture, CountryPageListsItemsByTheirPlace) {
    ParseSample("Europe_viewLocation_France.html");
    // The fourth item is a map script: dropped, but it still takes its place number.
    EXPECT_THAT(rec.LinkSummary(), ElementsAre("2:Paris", "3:Lyon", "5:Nice"));
    ASSERT_EQ(rec.Contents.size(), 1u);
    EXPECT_EQ(rec.Contents[0].Body,
              "<p>France reaches from the Channel to the Mediterranean. Its capital, Paris, is "
              "known for caf\xe9s, museums and the Seine.</p>");
    EXPECT_EQ(rec.Contents[0].Encoding, "iso-8859-1");
    EXPECT_EQ(rec.Contents[0].Title, "");
    EXPECT_EQ(rec.Contents[0].Head, "");
    EXPECT_EQ(rec.Contents[0].Url, Site + "Europe_viewLocation_France.html");
    EXPECT_EQ(rec.Contents[0].OrigId, "Europe_viewLocation_France");
}

TEST_F(TEzTripFixture, CityPageListsTheInnerTableOfItsOwnItem) {
    ParseSample("France_viewLocation_Paris.html");
    EXPECT_THAT(rec.LinkSummary(), ElementsAre("1:Louvre", "2:Montmartre"));
    EXPECT_EQ(rec.Contents.at(0).Encoding, "windows-1252");
    EXPECT_EQ(rec.Contents.at(0).Body,
              "<p>Paris \x96 boulevards, bistros and the Eiffel Tower.</p>");
}

TEST_F(TEzTripFixture, OrangeBoxBodyAndDefaultCharset) {
    ParseSample("France_viewLocation_Lyon.html");
    EXPECT_EQ(rec.Contents.at(0).Body, "<p>Lyon lies where the Rh\xf4ne meets the Sa\xf4ne.</p>");
    EXPECT_EQ(rec.Contents.at(0).Encoding, "iso-8859-1");
    EXPECT_THAT(rec.LinkSummary(), ElementsAre("1:Vieux Lyon"));
}

TEST_F(TEzTripFixture, SecondPassDeliversNothing) {
    for (const char* name :
         {"destinationguide.html", "europe.html", "Europe_viewCities_France.html",
          "Europe_viewLocation_France.html", "France_viewLocation_Paris.html"}) {
        const std::string html = ReadSample("eztrip", name);
        reader.ParseLinks(false, Site + name, html, handle);
    }
    EXPECT_TRUE(rec.Links.empty());
}

TEST_F(TEzTripFixture, GuideAnchorsNeedNestedTextAndEndAtTheTagClose) {
    Parse("http://h/g/destinationguide.html",
          "</tr><tr><td alig=\"center\"><table>"
          "<a href=\"plain.html\">Plain</a>"
          "<a href=\"a.html\" class=\"x\"><b>With class</b></a>"
          "<a href=\" b.html \"><span> Nested </span></a>"
          "</table><a href=\"out.html\"><b>Outside</b></a>");
    // "Plain" has no element inside the anchor, so its text is empty and it is skipped.
    EXPECT_THAT(rec.LinkSummary(), ElementsAre("1:With class", "2:Nested"));
    EXPECT_EQ(rec.Links[0].Url, "http://h/g/a.html\" class=\"x");
    EXPECT_EQ(rec.Links[1].Url, "http://h/g/b.html");
    EXPECT_EQ(rec.Links[1].OrigId, "b");
}

TEST_F(TEzTripFixture, DefaultCellsWithMissingParts) {
    Parse("http://h/region.html",
          "<!-- BEGIN CONTENT -->"
          "<td class=\"guides-highlightbar\"><a href=\"\">No href</a><a "
          "href=\"c1.html\">x</a></table>"
          "<td class=\"guides-highlightbar\"><a href=\"p2.html\">Two</a></table>"
          "<!-- END CONTENT -->"
          "<td class=\"guides-highlightbar\"><a href=\"p3.html\">Three</a></table>");
    // The first cell's place is skipped, but its cities link still counts, with the
    // text that was cut.
    EXPECT_THAT(rec.LinkSummary(), ElementsAre("1:No href (cities)", "2:Two"));
    EXPECT_EQ(rec.Links[0].Url, "http://h/c1.html");
}

TEST_F(TEzTripFixture, LocationListingStopsAtTheNextExpandedItem) {
    const std::string nav =
        "<!-- BEGIN CENTER PAGE --><div class=\"guides-Spacer7\"></div>"
        "<img src='DGarrow-close.gif'><a href='top.html'>Top</a><td width='5' valign='top'>"
        "<img src='DGarrow.gif'><a href='a.html'><i>A</i></a><td width='5' valign='top'>"
        "<img src='DGarrow.gif'><a href='b.php'><i>B</i></a><td width='5' valign='top'>"
        "<img src='DGarrow.gif'><a href='c.html'><i></i></a><td width='5' valign='top'>"
        "<img src='DGarrow.gif'><a href='d.html'><i>D</i></a><td width='5' valign='top'>"
        "<img src='DGarrow-close.gif'><a href='other.html'>Other</a><table cellpadding='3'>"
        "<tr><a href='o1.html'>O1</a></tr></table><td width='5' valign='top'>"
        "<img src='DGarrow.gif'><a href='e.html'><i>E</i></a><td width='5' valign='top'>"
        "class=\"guide-text\"><!-- BEGIN CONTENT -->";
    Parse("http://h/x_viewLocation_top.html", nav);
    // "other.html" is not this page, so its inner table is not read.
    EXPECT_THAT(rec.LinkSummary(), ElementsAre("2:A", "5:D"));
}

TEST_F(TEzTripFixture, LocationFirstItemNotExpandedListsNothingButOwnRows) {
    const std::string nav =
        "<!-- BEGIN CENTER PAGE --><div class=\"guides-Spacer7\"></div>"
        "<img src='DGarrow.gif'><a href='up.html'><i>Up</i></a><td width='5' valign='top'>"
        "<img src='DGarrow.gif'><a href='sib.html'><i>Sib</i></a><td width='5' valign='top'>"
        "<img src='DGarrow-close.gif'><a href='x_viewLocation_me.html'>Me</a>"
        "<table cellpadding='3'><tr><a href=' r1.html '> R1 </a></tr><tr><a href='r2.php'>R2</a>"
        "</tr><tr><a href='r3.html'>R3</a></tr></table><td width='5' valign='top'>"
        "class=\"guide-text\">";
    Parse("http://h/x_viewLocation_me.html", nav + "<!-- BEGIN CONTENT -->");
    EXPECT_THAT(rec.LinkSummary(), ElementsAre("1:R1", "2:R3"));
    EXPECT_EQ(rec.Links[0].Url, "http://h/r1.html");
}

TEST_F(TEzTripFixture, LocationBodyFallbacks) {
    const std::string url = "http://h/x_viewLocation_y.html";
    // Without a closing div the orange-box body runs to the end of the content.
    Parse(url,
          "<!-- BEGIN CONTENT --><td class=\"guides-Bluehighlightbar\">Head</td></tr>"
          "<tr><td class=\"guides-OrngBoxText\"><div class=\"guides-Spacer7\"> open text "
          "<!-- END CONTENT -->");
    // An empty sectionSpacer falls back to the orange box as well.
    Parse(url,
          "<!-- BEGIN CONTENT --><td class=\"guides-Bluehighlightbar\">Head</td>"
          "<div class=\"sectionSpacer\"></div><td class=\"guides-OrngBoxText\">"
          "<div class=\"guides-Spacer7\">box</div><!-- END CONTENT -->");
    // Markers in the wrong order give no body.
    Parse(url, "<!-- END CONTENT --><div class=\"sectionSpacer\">x</div><!-- BEGIN CONTENT -->");
    ASSERT_EQ(rec.Contents.size(), 3u);
    EXPECT_EQ(rec.Contents[0].Body, " open text ") << "the body is not trimmed";
    EXPECT_EQ(rec.Contents[1].Body, "box");
    EXPECT_EQ(rec.Contents[2].Body, "");
    EXPECT_TRUE(rec.Links.empty());
}

TEST_F(TEzTripFixture, BinaryAndMarkerlessPagesYieldNothing) {
    const std::string junk("\0\x01<a \0/a>\xff<!-- BEGIN CONTENT -->\0", 33);
    for (const char* url : {"http://h/destinationguide.html", "http://h/r.html",
                            "http://h/a_viewLocation_b.html", "http://h/a_viewCities_b.html"}) {
        Parse(url, junk);
        Parse(url, "");
    }
    EXPECT_TRUE(rec.Links.empty());
    ASSERT_EQ(rec.Contents.size(), 8u);
    for (const auto& c : rec.Contents) EXPECT_EQ(c.Body, "");
}
