#include <gtest/gtest.h>

#include "logging/LogLines.h"

namespace {

TEST(LogLinesTest, EveryKindOfLineBreakBecomesCrLfAndNoneEndsTheText) {
    EXPECT_EQ(LogLines("one\ntwo\r\nthree\rfour"), "one\r\ntwo\r\nthree\r\nfour");
    // An empty line stays; a CR LF pair is one break, LF CR two.
    EXPECT_EQ(LogLines("a\n\nb\n\rc"), "a\r\n\r\nb\r\n\r\nc");
    EXPECT_EQ(LogLines("last\n\r\n"), "last");
    EXPECT_EQ(LogLines("\nfirst"), "\r\nfirst");
    EXPECT_EQ(LogLines("plain \x1B text"), "plain \x1B text");
    EXPECT_EQ(LogLines(""), "");
}

}  // namespace
