// Text from pages and servers on its way to a log, a server or the desktop.
#include <gtest/gtest.h>

#include <string>

#include "text/Blanks.h"
#include "text/SafeText.h"
#include "text/UrlBytes.h"

TEST(TrimBlanks, DropsControlBytesAndSpacesAtBothEndsOnly) {
    EXPECT_EQ(TrimBlanks(" \t\r\n a b \x01\x1F "), "a b");
    EXPECT_EQ(TrimBlanks(" \t "), "");
    EXPECT_EQ(TrimBlanks(""), "");
    EXPECT_EQ(TrimBlanks(std::string_view("\0x\0", 3)), "x");
    // Bytes above 127 belong to the text (a non-breaking space in Latin-1, say).
    EXPECT_EQ(TrimBlanks("\xA0x\xA0"), "\xA0x\xA0");
    EXPECT_EQ(TrimBlanks("\x7Fx"), "\x7Fx");
}

TEST(SafeLogText, EscapesControlBytesAndCutsLongText) {
    EXPECT_EQ(SafeLogText("200 OK"), "200 OK");
    EXPECT_EQ(SafeLogText("a\x1B[2Jb\r\n\x7F"), "a\\x1B[2Jb\\x0D\\x0A\\x7F");
    EXPECT_EQ(SafeLogText(std::string_view("\0", 1)), "\\x00");
    EXPECT_EQ(SafeLogText("caf\xC3\xA9"), "caf\xC3\xA9");  // not a control byte
    EXPECT_EQ(SafeLogText("abcdef", 4), "abcd...");
    EXPECT_EQ(SafeLogText("abcd", 4), "abcd");
    // An escape that would not fit is left out whole, never cut in two.
    EXPECT_EQ(SafeLogText("ab\x01", 4), "ab...");
    EXPECT_EQ(SafeLogText("\x01\x02", 4), "\\x01...");
    EXPECT_EQ(SafeLogText(std::string(5000, 'x')).size(), 2003u);
}

TEST(IsWebAddress, OnlyHttpAndHttpsInAnyCase) {
    EXPECT_TRUE(IsWebAddress("http://example.org/"));
    EXPECT_TRUE(IsWebAddress("HTTPS://example.org/"));
    EXPECT_TRUE(IsWebAddress(" \thttp://x\n"));
    for (const char* url : {"file:///etc/passwd", "smb://host/share", "javascript:alert(1)",
                            "httpx://x", "http:/x", "//example.org", "", "mailto:a@b"})
        EXPECT_FALSE(IsWebAddress(url)) << url;
}

TEST(EncodeUrlBytes, EncodesWhatIsNotAUrlAndNothingElse) {
    const std::string valid = "https://ex.org/a%20b/c?d=1&e=%7E#f;g:h@i!$'()*+,=[]~-._";
    EXPECT_EQ(EncodeUrlBytes(valid), valid);
    EXPECT_EQ(EncodeUrlBytes("  http://x/a b\t"), "http://x/a%20b");
    EXPECT_EQ(EncodeUrlBytes("http://x/caf\xE9/\xC3\xA9"), "http://x/caf%E9/%C3%A9");
    EXPECT_EQ(EncodeUrlBytes("http://x/\"<>\\^`{|}"), "http://x/%22%3C%3E%5C%5E%60%7B%7C%7D");
    EXPECT_EQ(EncodeUrlBytes(std::string_view("http://x/\0\x7F", 11)), "http://x/%00%7F");
    // Encoding twice changes nothing more.
    const std::string once = EncodeUrlBytes("http://x/ a\xFF");
    EXPECT_EQ(EncodeUrlBytes(once), once);
}
