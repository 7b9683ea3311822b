// The UTF-8 check decides whether stored bytes show as UTF-8 or as Latin-1, so
// anything it wrongly accepts reaches Qt as malformed text, and anything it wrongly
// refuses shows as mojibake.
#include <gtest/gtest.h>

#include <string>

#include "text/Utf8.h"

TEST(Utf8, AcceptsWellFormedTextOfEveryLength) {
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8("plain ascii\t\r\n"));
    EXPECT_TRUE(IsValidUtf8(std::string("a\0b", 3)));
    EXPECT_TRUE(IsValidUtf8("caf\xC3\xA9"));              // two bytes
    EXPECT_TRUE(IsValidUtf8("\xE2\x82\xAC 10"));          // three bytes
    EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x8C\x8D"));         // four bytes
    EXPECT_TRUE(IsValidUtf8("\xEF\xBB\xBFtext"));         // a BOM is a character
    EXPECT_TRUE(IsValidUtf8("\xF4\x8F\xBF\xBF"));         // U+10FFFF, the last one
    EXPECT_TRUE(IsValidUtf8("\xED\x9F\xBF\xEE\x80\x80"));  // either side of the surrogates
}

TEST(Utf8, RefusesWhatTheStandardForbids) {
    const char* const bad[] = {
        "caf\xE9",             // Latin-1
        "\x80",                // a lone continuation byte
        "\xC3",                // cut at the end
        "\xE2\x82",            // cut at the end
        "\xE2\x82x",           // a continuation byte missing in the middle
        "\xC0\xAF",            // overlong "/"
        "\xC1\xBF",            // overlong
        "\xE0\x80\xAF",        // overlong in three bytes
        "\xF0\x80\x80\xAF",    // overlong in four bytes
        "\xED\xA0\x80",        // a surrogate
        "\xF4\x90\x80\x80",    // above U+10FFFF
        "\xF5\x80\x80\x80",    // a lead byte that cannot occur
        "\xFF",
    };
    for (const char* text : bad) EXPECT_FALSE(IsValidUtf8(text)) << text;
    // One bad byte after a long good run still counts.
    EXPECT_FALSE(IsValidUtf8(std::string(1000, 'a') + "\xC3\xA9\xE9"));
}

TEST(Utf8, SequenceLengthStopsAtTheEndOfTheBuffer) {
    const std::string text = "\xE2\x82\xAC";
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    EXPECT_EQ(Utf8SequenceAt(p, p + 3), 3u);
    // The bytes past end are not looked at, even though they would complete it.
    EXPECT_EQ(Utf8SequenceAt(p, p + 2), 0u);
    EXPECT_EQ(Utf8SequenceAt(p + 1, p + 3), 0u);
}
