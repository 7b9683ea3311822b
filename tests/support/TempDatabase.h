// A fresh document database in a temporary folder, created with isql-fb from the
// project's own scripts, removed again when the object goes.
//
// When the environment names a running server (WF_TEST_DB_SERVER: a file with the
// server's address on its first line and a folder the server writes in on its
// second), the database is created on that server instead and every login carries
// the server's SYSDBA password, so the same suites run on both engines.
#pragma once

#include <string>

class TDatabase;
class TTransaction;

class TTempDatabase {
public:
    // Creates the schema; the templates and the demo rows on request.
    explicit TTempDatabase(bool withTemplates = false, bool withDemo = false);
    // The same on the server that the state file of tests/support/db-server-fixture
    // describes (the run's own server is named by WF_TEST_DB_SERVER).
    TTempDatabase(bool withTemplates, bool withDemo, const std::string& serverState);
    ~TTempDatabase();
    TTempDatabase(const TTempDatabase&) = delete;
    TTempDatabase& operator=(const TTempDatabase&) = delete;

    // The name the SQL client opens: a file, or "host/port:/path" on the server.
    const std::string& Path() const { return path_; }
    const std::string& Folder() const { return folder_; }
    // Runs SQL through isql-fb against the database (statements end with ";").
    // Fails the current test when isql-fb reports an error.
    void RunIsql(const std::string& sql) const;
    // Opens db on this database (user SYSDBA) with tr as its default transaction,
    // started on every connect.
    void Connect(TDatabase& db, TTransaction& tr, int dialect = 3) const;
    // The login lines of a configuration file's section "Interbase" (CR LF ended).
    std::string IniLogin() const;
    // The login as options of Firebird's command-line tools (gfix, gstat).
    std::string ToolLogin() const;

    // Whether the suites run against a server; its address ("localhost/port").
    static bool OnServer();
    static std::string ServerAddress();
    // The server's login: ISC_USER and ISC_PASSWORD when set, else SYSDBA with the
    // password Debian's package keeps in /etc/firebird/3.0/SYSDBA.password.
    static std::string ServerUser();
    static std::string ServerPassword();

private:
    bool onServer_ = false;
    std::string folder_;
    std::string path_;
};

// The project's source folder (for db/, samples/ ...).
std::string SourceDir();
