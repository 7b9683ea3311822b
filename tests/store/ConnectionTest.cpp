#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>

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

// A socket listening on 127.0.0.1 at a free port. The kernel completes connections
// on it, but nothing ever reads or answers: a server that takes the connection and
// then says nothing. Closed at once, the port is one where nothing listens.
class TSilentPort {
public:
    TSilentPort() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(fd_, 8) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("no listening socket");
        port_ = ntohs(address.sin_port);
    }
    ~TSilentPort() { Close(); }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int Port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

// What a failed connect to a server says: one line, naming the server and the kind of
// failure. None of these needs a server to run.
TEST(ConnectionTest, AFailedConnectSaysWhichFailureInOneLine) {
    auto attempt = [](const std::string& name, int timeout, double* seconds = nullptr) {
        TDatabase db;
        db.DatabaseName = name;
        db.SQLDialect = 3;
        db.ConnectTimeout = timeout;
        db.SetParam("user_name", "SYSDBA");
        db.SetParam("password", "x");
        const auto started = std::chrono::steady_clock::now();
        try {
            db.Open();
        } catch (const EDatabaseError& e) {
            if (seconds)
                *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                                         started).count();
            EXPECT_FALSE(db.Connected());
            return std::string(e.what());
        }
        ADD_FAILURE() << name << " opened";
        return std::string();
    };

    TSilentPort silent;
    const std::string at = "127.0.0.1/" + std::to_string(silent.Port());
    double waited = 0;
    const std::string noAnswer = attempt(at + ":/srv/none.fdb", 2, &waited);
    EXPECT_EQ(noAnswer, "The database server at \"" + at +
                            "\" took the connection but did not answer within 2 s "
                            "(ConnectTimeout in section [Interbase] of the configuration).");
    EXPECT_LT(waited, 30.0);  // not the client library's three minutes

    silent.Close();
    const std::string refused = attempt(at + ":/srv/none.fdb", 2);
    EXPECT_EQ(refused.find("No database server answers at \"" + at + "\""), 0u) << refused;

    const std::string unknown = attempt("no-such-host.invalid:/srv/none.fdb", 2);
    EXPECT_EQ(unknown.find("The database server's host \"no-such-host.invalid\" is not known"), 0u)
        << unknown;
    for (const std::string& message : {noAnswer, refused, unknown})
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
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
