// Two connections on one database (the embedded engine shares a file within one
// process; on a server they are two clients): the refusals one client meets while
// the other writes, how they are told apart, and the bounded retry.
#include <gtest/gtest.h>

#include <string>

#include "store/Query.h"
#include "store/Retry.h"
#include "store/Statements.h"
#include "tests/support/TempDatabase.h"

namespace {

class RetryTest : public ::testing::Test {
protected:
    void SetUp() override {
        temp_.Connect(a_, trA_);
        temp_.Connect(b_, trB_);
    }

    static void Exec(TDatabase& db, const std::string& sql) {
        TQuery q(db);
        q.SetSQL(sql);
        q.ExecSQL();
    }
    static void InsertNode(TDatabase& db, const std::string& origId) {
        TQuery q(db);
        q.SetSQL(std::string(Statements::InsertNode));
        q.SetParam("Title", origId);
        q.SetParam("OrigUrl", "http://127.0.0.1/" + origId);
        q.SetParam("OrigId", origId);
        q.SetParam("Guide", std::string("EZTRIP"));
        q.ExecSQL();
    }
    static int FindNode(TDatabase& db, const std::string& origId) {
        TQuery q(db);
        q.SetSQL(std::string(Statements::FindNodeByOrigId));
        q.SetParam("OrigId", origId);
        q.SetParam("Guide", std::string("EZTRIP"));
        q.ExecQuery();
        return q.Eof() ? 0 : q.AsInteger("NODE_ID");
    }
    // What the engine does for a link: look the node up, insert it when missing.
    static int FindOrInsert(TDatabase& db, TTransaction& tr, const std::string& origId) {
        if (const int id = FindNode(db, origId)) return id;
        InsertNode(db, origId);
        tr.CommitRetaining();
        return FindNode(db, origId);
    }
    static EDatabaseError Refusal(const std::function<void()>& write) {
        try {
            write();
        } catch (const EDatabaseError& e) {
            return e;
        }
        ADD_FAILURE() << "the write was not refused";
        return EDatabaseError("none");
    }

    TTempDatabase temp_{true};
    TDatabase a_, b_;
    TTransaction trA_{a_}, trB_{b_};
};

TEST_F(RetryTest, ARowHeldByAnotherClientIsALockConflictThatPassesOnItsCommit) {
    InsertNode(a_, "held");
    trA_.CommitRetaining();
    const std::string update = "UPDATE NODE SET TITLE='from %s' WHERE ORIG_ID='held'\r\n";
    Exec(a_, "UPDATE NODE SET TITLE='from a' WHERE ORIG_ID='held'\r\n");  // a holds the row

    const EDatabaseError refused =
        Refusal([&] { Exec(b_, "UPDATE NODE SET TITLE='b' WHERE ORIG_ID='held'\r\n"); });
    EXPECT_TRUE(IsLockConflict(refused)) << refused.what();
    EXPECT_FALSE(IsDuplicateKey(refused));
    EXPECT_FALSE(IsConnectionLost(refused));

    // The other client commits while b waits: b's write then goes through.
    int retries = 0;
    TRetryPolicy policy;
    policy.OnRetry = [&](int attempt, const EDatabaseError& e) {
        retries = attempt;
        EXPECT_TRUE(IsLockConflict(e));
        trA_.CommitRetaining();
    };
    RetryConflicts([&] { Exec(b_, "UPDATE NODE SET TITLE='b' WHERE ORIG_ID='held'\r\n"); }, policy);
    trB_.CommitRetaining();
    EXPECT_EQ(retries, 1);

    // A row held for good: the bounded number of runs, then the refusal itself.
    Exec(a_, "UPDATE NODE SET TITLE='a again' WHERE ORIG_ID='held'\r\n");
    int runs = 0;
    policy.Attempts = 3;
    policy.OnRetry = nullptr;
    const EDatabaseError last = Refusal([&] {
        RetryConflicts(
            [&] {
                ++runs;
                Exec(b_, "UPDATE NODE SET TITLE='b' WHERE ORIG_ID='held'\r\n");
            },
            policy);
    });
    EXPECT_EQ(runs, 3);
    EXPECT_TRUE(IsLockConflict(last));
    (void)update;
}

TEST_F(RetryTest, ANodeAnotherClientInsertedMeanwhileIsFoundAgain) {
    // Committed before b inserts: the unique key refuses b's insert.
    EXPECT_EQ(FindNode(b_, "first"), 0);
    InsertNode(a_, "first");
    trA_.CommitRetaining();
    const EDatabaseError refused = Refusal([&] { InsertNode(b_, "first"); });
    EXPECT_TRUE(IsDuplicateKey(refused)) << refused.what();
    EXPECT_FALSE(IsLockConflict(refused));

    // Not yet committed while b inserts: b is refused until a commits, and then finds
    // a's node instead of storing a second one.
    InsertNode(a_, "second");
    const EDatabaseError pending = Refusal([&] { InsertNode(b_, "second"); });
    EXPECT_TRUE(IsDuplicateKey(pending) || IsLockConflict(pending)) << pending.what();
    int found = 0;
    TRetryPolicy policy;
    policy.OnRetry = [&](int, const EDatabaseError&) { trA_.CommitRetaining(); };
    RetryConflicts([&] { found = FindOrInsert(b_, trB_, "second"); }, policy);
    EXPECT_EQ(found, FindNode(a_, "second"));
    TQuery count(b_);
    count.SetSQL("SELECT COUNT(*) AS N FROM NODE WHERE ORIG_ID='second'\r\n");
    count.ExecQuery();
    EXPECT_EQ(count.AsInteger("N"), 1);
}

TEST_F(RetryTest, OtherErrorsAreNotRepeated) {
    int runs = 0;
    const EDatabaseError e = Refusal([&] {
        RetryConflicts([&] {
            ++runs;
            Exec(b_, "UPDATE NO_SUCH_TABLE SET X=1\r\n");
        });
    });
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(IsLockConflict(e) || IsDuplicateKey(e) || IsConnectionLost(e));
}

// Connecting to a server that refuses: one message each that says what is wrong.
TEST(ServerConnectionTest, WrongPasswordAndNoServerSayWhatIsWrong) {
    if (!TTempDatabase::OnServer()) GTEST_SKIP() << "needs a server";
    TTempDatabase temp;
    struct TCase {
        std::string Name, Password, Expected;
        bool (*Kind)(const EDatabaseError&);
    };
    const std::string path = temp.Path().substr(temp.Path().find(':'));
    for (const TCase& c : {TCase{temp.Path(), "wrong-password",
                                 "refused this user name and password", IsLoginRefused},
                           // Port 1 is a privileged port nothing here listens on.
                           TCase{"localhost/1" + path, TTempDatabase::ServerPassword(),
                                 "No database server answers", IsServerUnreachable}}) {
        TDatabase db;
        db.DatabaseName = c.Name;
        db.SQLDialect = 3;
        db.SetParam("user_name", TTempDatabase::ServerUser());
        db.SetParam("password", c.Password);
        try {
            db.Open();
            ADD_FAILURE() << c.Name << " opened";
        } catch (const EDatabaseError& e) {
            EXPECT_TRUE(c.Kind(e)) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.Expected), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos) << e.what();
        }
        EXPECT_FALSE(db.Connected());
    }
}

}  // namespace
