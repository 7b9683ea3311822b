#include <gtest/gtest.h>

#include "config/CmdLine.h"

using namespace CmdLine;

namespace {

void Params(std::vector<std::string> p) {
    p.insert(p.begin(), "/usr/bin/wayfolio");
    SetParams(std::move(p));
}

TEST(CmdLineTest, SwitchIsAPrefixMatchedCaseInsensitivelyAndFirstWins) {
    Params({"plain", "/i:one.ini", "-I:two.ini"});
    std::string value = "unchanged";
    ASSERT_TRUE(GetSwitchValue("I:", soAsIs, value));
    EXPECT_EQ(value, "one.ini");
    EXPECT_EQ(SwitchIndex, 2);
    ASSERT_TRUE(GetSwitchValue("I:", soUpperCase, value));
    EXPECT_EQ(value, "ONE.INI");
    ASSERT_TRUE(GetSwitchValue("I:", soLowerCase | soUpperCase, value));
    EXPECT_EQ(value, "ONE.INI");  // upper case wins over lower case
    // Case-sensitively, "/i:" no longer matches "I:" and the second parameter wins.
    EXPECT_TRUE(FindSwitch("I:", soCaseSensitive));
    EXPECT_EQ(SwitchIndex, 3);
}

TEST(CmdLineTest, NoMatchLeavesTheValueAndIndexPastTheEnd) {
    Params({"-Ix.ini", "other"});
    std::string value = "keep";
    EXPECT_FALSE(GetSwitchValue("I:", 0, value));
    EXPECT_EQ(value, "keep");
    EXPECT_EQ(SwitchIndex, 3);
}

TEST(CmdLineTest, EmptyValueAndEmptySwitch) {
    Params({"-I:", "/x", "file.txt", "second.txt"});
    std::string value = "keep";
    ASSERT_TRUE(GetSwitchValue("I:", soAsIs, value));
    EXPECT_EQ(value, "");
    // An empty switch finds the first parameter that is not a switch.
    ASSERT_TRUE(GetSwitchValue("", soAsIs, value));
    EXPECT_EQ(value, "file.txt");
    EXPECT_EQ(SwitchIndex, 3);
    // Continuing right after a match finds the same parameter; step past it first.
    EXPECT_TRUE(FindSwitch("", soContinue));
    EXPECT_EQ(SwitchIndex, 3);
    ++SwitchIndex;
    EXPECT_TRUE(FindSwitch("", soContinue));
    EXPECT_EQ(SwitchIndex, 4);
}

}  // namespace
