#include <gtest/gtest.h>

#include "download/wf_Download.h"

TEST(CutBetween, ConsumesUpToTheEndMarker) {
    std::string text = "a[b]c[d]";
    EXPECT_EQ(CutBetween(text, "[", "]"), "b");
    EXPECT_EQ(text, "c[d]");
    EXPECT_EQ(CutBetween(text, "[", "]"), "d");
    EXPECT_EQ(text, "");
}

TEST(CutBetween, AnyMissingMarkerEmptiesTheText) {
    std::string text = "a[b";
    EXPECT_EQ(CutBetween(text, "[", "]"), "");
    EXPECT_EQ(text, "") << "start marker found, end marker missing";

    text = "abc";
    EXPECT_EQ(CutBetween(text, "[", "]"), "");
    EXPECT_EQ(text, "");

    text = "a[b]c";
    EXPECT_EQ(CutBetween(text, "", "]"), "");
    EXPECT_EQ(text, "") << "an empty start marker counts as missing";
    text = "a[b]c";
    EXPECT_EQ(CutBetween(text, "[", ""), "");
    EXPECT_EQ(text, "") << "an empty end marker counts as missing";
}

TEST(CutBetween, EmptyPartKeepsTheRest) {
    std::string text = "[]x";
    EXPECT_EQ(CutBetween(text, "[", "]"), "");
    EXPECT_EQ(text, "x");
}

TEST(CutBetween, EndMarkerIsSearchedOnlyAfterTheStartMarker) {
    std::string text = "]x[y]z";
    EXPECT_EQ(CutBetween(text, "[", "]"), "y");
    EXPECT_EQ(text, "z");
    // Overlapping markers: the end marker may not reuse bytes of the start marker.
    text = "<a>b<a>";
    EXPECT_EQ(CutBetween(text, "<a>", "<a>"), "b");
}

TEST(CutBetween, WorksOnBinaryBytes) {
    const std::string page("\0\xff[x\0y]\x80", 8);
    std::string text = page;
    EXPECT_EQ(CutBetween(text, "[", "]"), std::string("x\0y", 3));
    EXPECT_EQ(text, "\x80");
    std::string_view view = page;
    EXPECT_EQ(CutBetween(view, std::string_view("\0\xff", 2), "x"), "[");
    EXPECT_EQ(view, std::string_view("\0y]\x80", 4));
}

TEST(FindCharset, ReadsTheDeclaredCharsetInLowerCase) {
    EXPECT_EQ(FindCharset("<HTML><HEAD><META HTTP-EQUIV=\"Content-Type\" "
                          "CONTENT=\"text/html; charset=ISO-8859-2\"></HEAD>",
                          "utf-8"),
              "iso-8859-2");
    // Found names are not trimmed.
    EXPECT_EQ(FindCharset("<head><meta http-equiv=\"content-type\" content=\"text/html; "
                          "charset= koi8-r \"></head>",
                          "x"),
              " koi8-r ");
}

TEST(FindCharset, FallsBackToTheDefault) {
    const std::string meta =
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-2\">";
    EXPECT_EQ(FindCharset(meta, "utf-8"), "utf-8") << "no head";
    EXPECT_EQ(FindCharset("<head lang=\"en\">" + meta + "</head>", "utf-8"), "utf-8")
        << "head tag with attributes";
    EXPECT_EQ(FindCharset("<head><meta http-equiv='Content-Type' content='text/html; "
                          "charset=iso-8859-2'></head>",
                          "utf-8"),
              "utf-8")
        << "single quotes";
    EXPECT_EQ(FindCharset("<head><meta http-equiv=\"Content-Type\" content=text/html;"
                          "charset=iso-8859-2></head>\"",
                          "utf-8"),
              "utf-8")
        << "no double quote before the end of the tag";
    EXPECT_EQ(FindCharset("<head><meta charset=\"iso-8859-2\"></head>", "utf-8"), "utf-8");
    EXPECT_EQ(FindCharset("", "iso-8859-1"), "iso-8859-1");
}

TEST(FindCharset, LooksOnlyInsideTheHead) {
    EXPECT_EQ(FindCharset("<head></head><meta http-equiv=\"content-type\" "
                          "content=\"text/html; charset=koi8-r\">",
                          "utf-8"),
              "utf-8");
}

TEST(MakeAbsoluteUrl, ResolvesAgainstFolderOrHostRoot) {
    const std::string page = "http://host/a/b/page.html";
    EXPECT_EQ(MakeAbsoluteUrl(page, " x.html "), "http://host/a/b/x.html");
    EXPECT_EQ(MakeAbsoluteUrl(page, "c/x.html"), "http://host/c/x.html");
    EXPECT_EQ(MakeAbsoluteUrl(page, "/c/x.html"), "http://host//c/x.html");
    EXPECT_EQ(MakeAbsoluteUrl(page, "ftp://other/x"), "ftp://other/x");
    EXPECT_EQ(MakeAbsoluteUrl(page, "\t\r\nhttp://other/y \n"), "http://other/y");
}

TEST(MakeAbsoluteUrl, LeavesWhatItCannotResolve) {
    EXPECT_EQ(MakeAbsoluteUrl("page.html", "c/x.html"), "c/x.html") << "page has no ://";
    EXPECT_EQ(MakeAbsoluteUrl("page.html", "x.html"), "x.html") << "page has no /";
    EXPECT_EQ(MakeAbsoluteUrl("http://host", "c/x.html"), "c/x.html") << "host has no root /";
    EXPECT_EQ(MakeAbsoluteUrl("http://host", "x.html"), "http://x.html")
        << "the last / of the page address is the one of ://";
    EXPECT_EQ(MakeAbsoluteUrl("http://host/a/", "   "), "http://host/a/");
}

TEST(UrlBaseName, LastSegmentCutAtItsFirstDot) {
    EXPECT_EQ(UrlBaseName("http://host/guide/paris.html"), "paris");
    EXPECT_EQ(UrlBaseName("http://host/a/b.c.html"), "b");
    EXPECT_EQ(UrlBaseName("http://host/a/"), "");
    EXPECT_EQ(UrlBaseName("paris"), "paris");
    EXPECT_EQ(UrlBaseName("a.b/c"), "c");
}

TEST(TDownloadHandle, GuideTypeKeepsAtMostTwentyBytes) {
    TDownloadHandle handle(5, 3, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    EXPECT_EQ(handle.GuideType.str(), "ABCDEFGHIJKLMNOPQRST");
    handle.GuideType = std::string(25, 'x');
    EXPECT_EQ(handle.GuideType.str().size(), 20u);
    handle.GuideType = "EZTRIP";
    EXPECT_TRUE(handle.GuideType == "EZTRIP");
}

TEST(CreateDownload, ChoosesTheReaderByExactGuideType) {
    EXPECT_NE(CreateDownload("EZTRIP"), nullptr);
    EXPECT_NE(CreateDownload("ALPHABEDS"), nullptr);
    EXPECT_EQ(CreateDownload("eztrip"), nullptr);
    EXPECT_EQ(CreateDownload("EZTRIP "), nullptr);
    EXPECT_EQ(CreateDownload(""), nullptr);
    EXPECT_EQ(CreateDownload("DEFAULT"), nullptr);
    EXPECT_NE(dynamic_cast<THttpDownload*>(CreateDownload("EZTRIP").get()), nullptr);
}
