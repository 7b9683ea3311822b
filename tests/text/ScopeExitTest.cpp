// The clean-up must run on every way out of a scope, and only once; a dismissed one
// not at all.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "text/ScopeExit.h"

TEST(ScopeExit, RunsOnceOnReturnAndOnException) {
    int runs = 0;
    { TScopeExit onExit([&] { ++runs; }); }
    EXPECT_EQ(runs, 1);

    try {
        TScopeExit onExit([&] { ++runs; });
        throw std::runtime_error("unwinding");
    } catch (const std::runtime_error&) {
        EXPECT_EQ(runs, 2);  // already ran while the stack unwound
    }
    EXPECT_EQ(runs, 2);
}

TEST(ScopeExit, DismissedDoesNotRun) {
    int runs = 0;
    {
        TScopeExit onExit([&] { ++runs; });
        onExit.Dismiss();
    }
    EXPECT_EQ(runs, 0);
}

TEST(ScopeExit, RunsInReverseOrderOfCreation) {
    std::string order;
    {
        TScopeExit first([&] { order += "1"; });
        TScopeExit second([&] { order += "2"; });
    }
    EXPECT_EQ(order, "21");
}
