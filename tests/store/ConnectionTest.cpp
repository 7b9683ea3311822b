#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "store/Query.h"
#include "tests/support/TempDatabase.h"

namespace {

TEST(ConnectionTest, ParameterListReplacesAndRemovesEntries) {
    TDatabase db;
    db.SetParam("user_name", "A");
    db.SetParam("password", "p");
    db.SetParam("USER_NAME", "B");
    ASSERT_EQ(db.Params().size(), 2u);
    EXPECT_EQ(db.Param("user_name"), "B");
    db.SetParam("password", "");  // an empty value is not sent at all
    EXPECT_EQ(db.Params().size(), 1u);
    EXPECT_EQ(db.Param("password"), "");
}

TEST(ConnectionTest, DialectBelowOneIsRefusedBeforeAttaching) {
    TDatabase db;
    db.DatabaseName = "/nonexistent/never-opened.fdb";
    db.SQLDialect = 0;
    try {
        db.Open();
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "SQL Dialect Invalid");
    }
    EXPECT_FALSE(db.Connected());
}

TEST(ConnectionTest, MissingFileGivesTheClientsMessage) {
    TDatabase db;
    db.DatabaseName = "/nonexistent/folder/missing.fdb";
    db.SQLDialect = 3;
    try {
        db.Open();
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("missing.fdb"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(db.Connected());
}

TEST(ConnectionTest, LowerDatabaseDialectWinsAndCloseCommits) {
    TTempDatabase file;
    file.RunIsql("CREATE TABLE T (N INTEGER);");
    {
        TDatabase db;
        TTransaction tr(db);
        file.Connect(db, tr);
        EXPECT_EQ(db.EffectiveDialect(), 3);
        TQuery q(db);
        q.SetSQL("INSERT INTO T VALUES (7)\r\n");
        q.ExecSQL();
        db.Close();  // no commit retaining: closing must commit
        EXPECT_FALSE(tr.InTransaction());
    }
    TDatabase db;
    TTransaction tr(db);
    file.Connect(db, tr);
    TQuery q(db);
    q.SetSQL("SELECT COUNT(*) AS C FROM T\r\n");
    q.ExecQuery();
    EXPECT_EQ(q.AsInteger("C"), 1);
}

}  // namespace

namespace {

TEST(ConnectionTest, ADatabaseHeldByAnotherProgramSaysSo) {
    if (TTempDatabase::OnServer()) GTEST_SKIP() << "a server shares its databases";
    TTempDatabase file;
    // Another program opens the file with its own embedded engine and keeps it open.
    int toChild[2], fromChild[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(fromChild), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        dup2(fromChild[1], 2);
        close(toChild[1]);
        close(fromChild[0]);
        execlp("isql-fb", "isql-fb", "-q", file.Path().c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    // isql buffers its results in a pipe but not its errors: a failing statement is
    // the sign that it has opened the file.
    const std::string query = "SELECT * FROM WF_NO_SUCH_TABLE;\n";
    ASSERT_EQ(write(toChild[1], query.data(), query.size()), static_cast<ssize_t>(query.size()));
    std::string seen;
    char buf[256];
    while (seen.find("WF_NO_SUCH_TABLE") == std::string::npos) {
        const ssize_t n = read(fromChild[0], buf, sizeof buf);
        ASSERT_GT(n, 0) << seen;
        seen.append(buf, static_cast<size_t>(n));
    }

    TDatabase db;
    db.DatabaseName = file.Path();
    db.SQLDialect = 3;
    try {
        db.Open();
        ADD_FAILURE() << "the second engine opened a file in use";
    } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("in use by another program"), std::string::npos)
            << e.what();
    }
    close(toChild[1]);  // isql-fb ends at end of input
    int status = 0;
    waitpid(pid, &status, 0);
    close(fromChild[0]);
}

}  // namespace
