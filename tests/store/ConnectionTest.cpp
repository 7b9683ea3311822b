#include <gtest/gtest.h>

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
        db.DatabaseName = file.Path();
        db.SQLDialect = 3;
        db.SetDefaultTransaction(&tr);
        db.AfterConnect = [&](TDatabase&) { tr.StartTransaction(); };
        db.Open();
        EXPECT_EQ(db.EffectiveDialect(), 3);
        TQuery q(db);
        q.SetSQL("INSERT INTO T VALUES (7)\r\n");
        q.ExecSQL();
        db.Close();  // no commit retaining: closing must commit
        EXPECT_FALSE(tr.InTransaction());
    }
    TDatabase db;
    TTransaction tr(db);
    db.DatabaseName = file.Path();
    db.SQLDialect = 3;
    db.SetDefaultTransaction(&tr);
    db.AfterConnect = [&](TDatabase&) { tr.StartTransaction(); };
    db.Open();
    TQuery q(db);
    q.SetSQL("SELECT COUNT(*) AS C FROM T\r\n");
    q.ExecQuery();
    EXPECT_EQ(q.AsInteger("C"), 1);
}

}  // namespace
