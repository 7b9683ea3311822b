#include <gtest/gtest.h>

#include <optional>

#include "store/OneValue.h"
#include "store/Query.h"
#include "store/Statements.h"
#include "tests/support/TempDatabase.h"

namespace {

class QueryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { db_ = new TTempDatabase(true); }
    static void TearDownTestSuite() {
        delete db_;
        db_ = nullptr;
    }
    void SetUp() override { db_->Connect(conn, tr); }

    int InsertNode(const std::string& title, const std::string& origId) {
        TQuery q(conn);
        q.SetSQL(std::string(Statements::InsertNode));
        q.SetParam("Title", title);
        q.SetParam("OrigUrl", "http://127.0.0.1/" + origId);
        q.SetParam("OrigId", origId);
        q.SetParam("Guide", std::string("EZTRIP"));
        q.ExecSQL();
        tr.CommitRetaining();
        q.SetSQL(std::string(Statements::FindNodeByOrigId));
        q.SetParam("OrigId", origId);
        q.SetParam("Guide", std::string("EZTRIP"));
        q.ExecQuery();
        EXPECT_FALSE(q.Eof());
        return q.AsInteger("NODE_ID");
    }

    static TTempDatabase* db_;
    TDatabase conn;
    TTransaction tr{conn};
};
TTempDatabase* QueryTest::db_ = nullptr;

TEST_F(QueryTest, TextsKeepTheirBytesInColumnsAndBlobs) {
    // Quotes, a NUL byte, Latin-1 and UTF-8 bytes, and a body far beyond one blob segment.
    const std::string title = std::string("O'Brien's \"caf\xE9\" \xC3\xA9", 19);
    const int id = InsertNode(title, "bytes");
    std::string body(300000, 'x');
    body[5] = '\0';
    body[70000] = '\xFF';
    TQuery q(conn);
    q.SetSQL(std::string(Statements::UpdateNodeContent));
    q.SetParam("NodeId", id);
    q.SetParam("Title", title);
    q.SetParam("Body", body);
    q.SetParam("Head", std::string());
    q.SetParam("Encoding", std::string("windows-1250"));
    q.ExecSQL();
    tr.CommitRetaining();

    q.SetSQL(Statements::WithId(Statements::NodeRowQuery, id));
    q.ExecQuery();
    ASSERT_FALSE(q.Eof());
    EXPECT_EQ(q.AsText("TITLE"), title);
    EXPECT_EQ(q.AsText("BODY"), body);
    // An empty text goes into a text column as empty, not NULL.
    EXPECT_FALSE(q.IsNull(q.FieldIndex("HEAD")));
    EXPECT_EQ(q.AsText("HEAD"), "");
    EXPECT_EQ(q.AsText("READ_CONTENT"), "Y");
    EXPECT_FALSE(q.AsText("STAMP_UPDATED").empty());
    q.Next();
    EXPECT_TRUE(q.Eof());
}

TEST_F(QueryTest, NullsReadAsEmptyAndZeroAndUnknownColumnsAreReported) {
    const int id = InsertNode("fresh", "nulls");
    TQuery q(conn);
    q.SetSQL(Statements::WithId(Statements::NodeByIdQuery, id));
    q.ExecQuery();
    ASSERT_FALSE(q.Eof());
    EXPECT_EQ(q.AsText("BODY"), "");
    EXPECT_EQ(q.AsInteger("STAMP_UPDATED"), 0);
    EXPECT_EQ(q.FieldIndex("NO_SUCH_COLUMN"), -1);
    EXPECT_EQ(q.FieldIndex("title"), -1);  // names are matched exactly
    EXPECT_THROW(q.AsText("NO_SUCH_COLUMN"), EDatabaseError);
}

TEST_F(QueryTest, OneQueryReadsEachStatementByItsOwnColumns) {
    // Where each column lies in a row is taken once per prepared statement; a query
    // object moved on to another statement must read that statement's layout.
    const int id = InsertNode("layout", "layout");
    TQuery q(conn);
    const std::string literals =
        "SELECT CAST(-12.5 AS NUMERIC(9,2)) AS N, CAST('ab' AS CHAR(5)) AS C, "
        "CAST(NULL AS INTEGER) AS Z, CAST('x' AS BLOB SUB_TYPE TEXT) AS B FROM RDB$DATABASE\r\n";
    for (int round = 0; round < 2; ++round) {
        q.SetSQL(literals);
        q.ExecQuery();
        ASSERT_FALSE(q.Eof());
        EXPECT_EQ(q.AsText(0), "-12.50");
        EXPECT_EQ(q.AsText("C"), "ab");
        EXPECT_TRUE(q.IsNull(2));
        EXPECT_EQ(q.AsInteger("Z"), 0);
        EXPECT_EQ(q.AsText("B"), "x");

        q.SetSQL(Statements::WithId(Statements::NodeRowQuery, id));
        q.ExecQuery();
        ASSERT_FALSE(q.Eof());
        EXPECT_EQ(q.AsInteger(0), id);
        EXPECT_EQ(q.AsText("TITLE"), "layout");
        EXPECT_EQ(q.AsText("READ_CONTENT"), "Y");
        EXPECT_TRUE(q.IsNull(q.FieldIndex("BODY")));
    }
}

TEST_F(QueryTest, ParametersAreFoundOutsideQuotesOnlyAndMayRepeat) {
    TQuery q(conn);
    q.SetSQL(
        "SELECT ':NotAParam' AS A, CAST(:X AS INTEGER) + CAST(:x AS INTEGER) AS B "
        "FROM RDB$DATABASE\r\n");
    q.SetParam("X", 20);
    q.ExecQuery();
    EXPECT_EQ(q.AsText("A"), ":NotAParam");
    EXPECT_EQ(q.AsInteger("B"), 40);
    EXPECT_THROW(q.SetParam("NotAParam", 1), EDatabaseError);
}

TEST_F(QueryTest, EmptyTextForANonTextColumnIsNull) {
    TQuery q(conn);
    q.SetSQL("INSERT INTO MASTER_DETAIL(MASTER_ID,DETAIL_ID,ORDER_) VALUES(-5,:D,:O)\r\n");
    const int child = InsertNode("child", "emptyorder");
    q.SetParam("D", child);
    q.SetParam("O", std::string());
    q.ExecSQL();
    q.SetSQL("SELECT ORDER_ FROM MASTER_DETAIL WHERE MASTER_ID=-5\r\n");
    q.ExecQuery();
    ASSERT_FALSE(q.Eof());
    EXPECT_TRUE(q.IsNull(0));
}

TEST_F(QueryTest, TemplateQueryTakesAnyGuideTypeSafely) {
    TQuery q(conn);
    q.SetSQL(std::string(Statements::TemplateQuery));
    q.SetParam("Guide", std::string("O'REILLY"));
    q.SetParam("Kind", std::string("DEFAULT"));
    q.ExecQuery();
    ASSERT_FALSE(q.Eof());
    EXPECT_EQ(q.AsText("GUIDE_TYPE"), "DEFAULT");
}

TEST_F(QueryTest, ALockedRowFailsAtOnce) {
    const int id = InsertNode("locked", "locked");
    TDatabase other;
    TTransaction otherTr(other);
    // The embedded engine shares the file within one process, so a second
    // connection can hold the row.
    db_->Connect(other, otherTr);
    TQuery hold(other);
    hold.SetSQL(Statements::WithId("UPDATE NODE SET TITLE='held' WHERE NODE_ID=%d\r\n", id));
    hold.ExecSQL();

    TQuery q(conn);
    q.SetSQL(Statements::WithId(Statements::DeleteNode, id));
    EXPECT_THROW(q.ExecSQL(), EDatabaseError);
}

}  // namespace

TEST_F(QueryTest, OneValueIsTheFirstRowsColumnOrNothingAndTheStatementRunsAgain) {
    const int id = InsertNode("one value", "onevalue");
    const std::string row = Statements::WithId(Statements::NodeRowQuery, id);
    const std::string noRow = Statements::WithId(Statements::NodeRowQuery, id + 100000);
    EXPECT_EQ(OneText(conn, row, "TITLE"), std::optional<std::string>("one value"));
    EXPECT_EQ(OneText(conn, noRow, "TITLE"), std::nullopt);
    EXPECT_TRUE(HasAnyRow(conn, row));
    EXPECT_FALSE(HasAnyRow(conn, noRow));
    // A NULL in a row that exists is a value, not "no row".
    EXPECT_EQ(OneText(conn, Statements::WithId(Statements::NodeByIdQuery, id), "BODY"),
              std::optional<std::string>(""));

    TQuery find(conn);
    find.SetSQL(std::string(Statements::FindNodeByOrigId));
    find.SetParam("Guide", std::string("EZTRIP"));
    for (int round = 0; round < 2; ++round) {
        find.SetParam("OrigId", std::string("onevalue"));
        EXPECT_EQ(OneInteger(find, "NODE_ID"), std::optional<int>(id));
        find.SetParam("OrigId", std::string("no such node"));
        EXPECT_EQ(OneInteger(find, "NODE_ID"), std::nullopt);
        EXPECT_FALSE(HasAnyRow(find));
    }
    find.SetParam("OrigId", std::string("onevalue"));
    EXPECT_THROW(OneText(find, "NO_SUCH_COLUMN"), EDatabaseError);
}
