// The connection to the document database and its one shared transaction.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "store/FbApi.h"
#include "store/Retry.h"

class TDatabase;

// One transaction (read committed, latest record version, no wait on lock
// conflicts) that every statement of the program shares. Commit retaining keeps it
// open; it ends with a commit when the connection closes.
class TTransaction {
public:
    explicit TTransaction(TDatabase& db);
    ~TTransaction();
    TTransaction(const TTransaction&) = delete;
    TTransaction& operator=(const TTransaction&) = delete;

    void StartTransaction();
    void CommitRetaining();
    void Commit();
    bool InTransaction() const { return static_cast<bool>(tra_); }
    // The transaction interface; EDatabaseError when it is not started.
    Firebird::ITransaction* Handle();
    // Drops the handle without committing (the attachment is already gone).
    void Forget() { tra_.reset(); }

private:
    TDatabase& db_;
    fb::TransactionPtr tra_;
};

// Lets the client library do now, with no database involved, what it does once per
// process at its first connect: among it, taking SIGINT and SIGTERM for a handler of
// its own that shuts the engine down. A program that handles those signals itself
// calls this first and puts its handlers in place after it; the library never takes
// them again, so no signal can meet the library's handler in the middle of a connect
// (where its shutdown and the connect wait on each other for ever).
void SetUpClientLibrary();

class TDatabase {
public:
    TDatabase() = default;
    ~TDatabase();
    TDatabase(const TDatabase&) = delete;
    TDatabase& operator=(const TDatabase&) = delete;

    // The database as the SQL client names it: a file path for the embedded
    // engine, or "host:/path/file.fdb" for a server.
    std::string DatabaseName;
    // Client SQL dialect asked for; the database's own lower dialect wins.
    int SQLDialect = 1;
    // Seconds a server may take to answer a connect before it counts as not answering;
    // 0 (or less) leaves the client library's own limit (180 s). The embedded engine
    // ignores it.
    int ConnectTimeout = 0;
    // Run before every connect (to fill in name, parameters and dialect) and after
    // every successful one (to start the shared transaction).
    std::function<void(TDatabase&)> BeforeConnect;
    std::function<void(TDatabase&)> AfterConnect;

    // The parameter list: "user_name", "password", "lc_ctype". Setting a name
    // replaces its entry; an empty value removes it, so it is not sent at all.
    void SetParam(const std::string& name, const std::string& value);
    std::string Param(const std::string& name) const;
    const std::vector<std::pair<std::string, std::string>>& Params() const { return params_; }

    // Connects when not connected: BeforeConnect, dialect check ("SQL Dialect
    // Invalid" below 1), attach without a login prompt, AfterConnect. A server that
    // cannot be reached, refuses the login or does not answer in time gives one line
    // that says which and names the server.
    void Open();
    // Commits the default transaction and detaches; does nothing when closed.
    void Close();
    bool Connected() const { return static_cast<bool>(att_); }
    // Whether the connection ended because the server was lost (not closed by the
    // program); false again once connected afresh.
    bool ConnectionLost() const { return lost_; }

    // The dialect statements are prepared with (valid while connected).
    int EffectiveDialect() const { return effectiveDialect_; }
    void SetDefaultTransaction(TTransaction* tr) { defaultTransaction_ = tr; }
    TTransaction* DefaultTransaction() const { return defaultTransaction_; }
    // The attachment; EDatabaseError when not connected.
    Firebird::IAttachment* Attachment();

    // Runs f, turning Firebird's exception into EDatabaseError. When the error says the
    // connection to the server is gone, the attachment and the default transaction are
    // let go first: Connected() is then false, and the next Open() connects afresh.
    template <typename F>
    auto Guard(F&& f) -> decltype(f()) {
        try {
            return fb::Guard(std::forward<F>(f));
        } catch (const EDatabaseError& e) {
            if (IsConnectionLost(e)) DropLostConnection();
            throw;
        }
    }
    void DropLostConnection();

private:
    // A failed connect to a server told in one line that names the server; any other
    // error comes back as it was.
    EDatabaseError ConnectError(const EDatabaseError& error, double waitedSeconds) const;

    std::vector<std::pair<std::string, std::string>> params_;
    fb::AttachmentPtr att_;
    bool lost_ = false;
    int effectiveDialect_ = 3;
    TTransaction* defaultTransaction_ = nullptr;
};
