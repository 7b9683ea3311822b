// The database client library takes SIGINT and SIGTERM for itself once, at its first
// use. The programs have it do so before anything else and put their own handlers in
// place after it: no later connect may take the signals back. Alone in its program,
// so that the library is used here for the first time.
#include <gtest/gtest.h>
#include <signal.h>

#include "core/StopSignals.h"
#include "store/Database.h"
#include "store/DbError.h"

namespace {

using THandler = void (*)(int);

THandler HandlerOf(int signalNumber) {
    struct sigaction action {};
    sigaction(signalNumber, nullptr, &action);
    return action.sa_handler;
}

TEST(ClientLibrarySignals, TakenOnceBeforeOursAndNeverAgain) {
    ASSERT_EQ(HandlerOf(SIGINT), SIG_DFL);
    SetUpClientLibrary();
    const THandler library = HandlerOf(SIGINT);
    EXPECT_NE(library, SIG_DFL) << "the library did not set itself up";
    EXPECT_EQ(HandlerOf(SIGTERM), library);

    InstallStopSignals();
    const THandler ours = HandlerOf(SIGINT);
    EXPECT_NE(ours, library);
    // A connect that fails goes as far into the library as one that succeeds.
    TDatabase db;
    db.DatabaseName = "/nonexistent/folder/missing.fdb";
    db.SQLDialect = 3;
    EXPECT_THROW(db.Open(), EDatabaseError);
    EXPECT_EQ(HandlerOf(SIGINT), ours);
    EXPECT_EQ(HandlerOf(SIGTERM), ours);
}

}  // namespace
