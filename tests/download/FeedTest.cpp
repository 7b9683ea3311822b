// The feed reader on RSS and Atom as blogs write them: items in any order, dates in
// both formats and several zones, relative and repeated links, escaped titles.
#include <gtest/gtest.h>

#include "download/wf_Feed.h"
#include "Recorder.h"

namespace {

TEST(FeedDateTest, ReadsBothFormatsAndTheirZones) {
    const std::time_t noonUtc = 1031313600;  // 2002-09-06 12:00:00 UTC
    EXPECT_EQ(ParseFeedDate("Fri, 06 Sep 2002 12:00:00 GMT"), noonUtc);
    EXPECT_EQ(ParseFeedDate("Fri, 06 Sep 2002 14:00:00 +0200"), noonUtc);
    EXPECT_EQ(ParseFeedDate("2002-09-06T12:00:00Z"), noonUtc);
    EXPECT_EQ(ParseFeedDate("2002-09-06T07:00:00.25-05:00"), noonUtc);
    EXPECT_EQ(ParseFeedDate("2002-09-06"), noonUtc - 12 * 3600);
    EXPECT_EQ(ParseFeedDate(""), 0);
    EXPECT_EQ(ParseFeedDate("soon"), 0);
    EXPECT_EQ(ParseFeedDate("2002-09-06T1"), 0);
}

const char* const Rss =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
    "<rss version=\"2.0\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><channel>"
    "<title>Travel &amp; more</title><description>Notes from the road</description>"
    "<item><title>Old</title><link>posts/old.html</link>"
    "<pubDate>Mon, 01 Jan 2024 10:00:00 GMT</pubDate></item>"
    "<item><title>&lt;b&gt;Z\xFCrich&lt;/b&gt; in May</title>"
    "<guid>http://blog.example/posts/zurich.html</guid>"
    "<pubDate>Wed, 01 May 2024 08:00:00 +0200</pubDate></item>"
    "<item><title>Undated</title><link>http://blog.example/posts/undated.html</link></item>"
    "<item><title>Newest</title><link> http://other.example/newest.html </link>"
    "<dc:date>2024-06-01T00:00:00Z</dc:date></item>"
    "<item><title>Old, listed twice</title><link>http://blog.example/posts/old.html#c</link>"
    "<pubDate>Tue, 02 Jan 2024 10:00:00 GMT</pubDate></item>"
    "<item><title>No page</title><guid isPermaLink=\"false\">tag:1</guid></item>"
    "</channel></rss>";

TEST(FeedTest, RssItemsNewestFirst) {
    const TFeed feed = ReadFeed("http://blog.example/feed.xml", Rss);
    ASSERT_TRUE(feed.IsFeed);
    EXPECT_EQ(feed.Title, "Travel & more");
    EXPECT_EQ(feed.Description, "Notes from the road");
    std::vector<std::string> got;
    for (const TFeedItem& item : feed.Items) got.push_back(item.Title + " " + item.Url);
    EXPECT_EQ(got, (std::vector<std::string>{
                       "Newest http://other.example/newest.html",
                       "Z\xC3\xBCrich in May http://blog.example/posts/zurich.html",
                       "Old http://blog.example/posts/old.html",
                       "Undated http://blog.example/posts/undated.html"}));
}

TEST(FeedTest, AtomEntriesAndTheirAlternateLinks) {
    const std::string atom =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
        "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title type=\"html\">A &amp;lt;i&amp;gt;blog</title>"
        "<subtitle>Sub</subtitle>"
        "<entry><title>First</title><link rel=\"edit\" href=\"/edit/1\"/>"
        "<link rel=\"alternate\" type=\"text/html\" href=\"/2024/first.html\"/>"
        "<published>2024-01-05T10:00:00+01:00</published><updated>2024-09-01T00:00:00Z</updated></entry>"
        "<entry><title>Second</title><link href=\"2024/second.html\"/>"
        "<updated>2024-02-01T00:00:00Z</updated></entry>"
        "</feed>";
    const TFeed feed = ReadFeed("http://blog.example/atom/feed.xml", atom);
    ASSERT_TRUE(feed.IsFeed);
    EXPECT_EQ(feed.Title, "A blog");
    ASSERT_EQ(feed.Items.size(), 2u);
    // Published counts before updated: the second entry is the newer one.
    EXPECT_EQ(feed.Items[0].Url, "http://blog.example/atom/2024/second.html");
    EXPECT_EQ(feed.Items[1].Url, "http://blog.example/2024/first.html");
}

TEST(FeedTest, PagesThatAreNoFeed) {
    EXPECT_FALSE(ReadFeed("http://h/", "<html><body><p>feed me</p></body></html>").IsFeed);
    EXPECT_FALSE(ReadFeed("http://h/", "").IsFeed);
    EXPECT_FALSE(ReadFeed("http://h/", "<rss").IsFeed);
    // A "<" that opens no tag is text, also once unescaped.
    EXPECT_EQ(ReadFeed("http://h/", "<rss><channel><title>Fish &amp;lt; Chips</title></channel></rss>").Title,
              "Fish < Chips");
}

struct FeedReaderTest : TReaderFixture<TFeedDownload> {
    FeedReaderTest() : TReaderFixture("", TDownloadHandle(5, 0, "FEED")) {}
};

TEST_F(FeedReaderTest, FeedListsItsItemsAndTheirPagesAreLeaves) {
    Parse("http://blog.example/feed.xml", Rss);
    ASSERT_EQ(rec.Contents.size(), 1u);
    EXPECT_EQ(rec.Contents[0].Title, "Travel & more");
    EXPECT_EQ(rec.Contents[0].Encoding, "utf-8");
    EXPECT_NE(rec.Contents[0].Body.find("<a href=\"http://other.example/newest.html\">Newest</a> (2024-06-01)"),
              std::string::npos) << rec.Contents[0].Body;
    std::vector<std::string> got;
    for (const auto& l : rec.Links) got.push_back(std::to_string(l.Order) + " " + l.OrigId);
    EXPECT_EQ(got, (std::vector<std::string>{"1 other.example/newest.html",
                                             "2 blog.example/posts/zurich.html",
                                             "3 blog.example/posts/old.html",
                                             "4 blog.example/posts/undated.html"}));

    rec = TRecorder();
    rec.Attach(reader);
    Parse("http://blog.example/posts/old.html",
          "<html><body><article><h1>Old</h1><p>Text <a href=\"other.html\">more</a></p>"
          "</article></body></html>");
    ASSERT_EQ(rec.Contents.size(), 1u);
    EXPECT_EQ(rec.Contents[0].Title, "Old");
    EXPECT_EQ(rec.Contents[0].Body, "<h1>Old</h1><p>Text <a href=\"http://blog.example/posts/other.html\">more</a></p>");
    EXPECT_TRUE(rec.Links.empty());
}

}  // namespace
