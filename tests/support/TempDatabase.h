// A fresh document database in a temporary folder, created with isql-fb from the
// project's own scripts, removed again when the object goes.
#pragma once

#include <string>

class TDatabase;
class TTransaction;

class TTempDatabase {
public:
    // Creates the schema; the templates and the demo rows on request.
    explicit TTempDatabase(bool withTemplates = false, bool withDemo = false);
    ~TTempDatabase();
    TTempDatabase(const TTempDatabase&) = delete;
    TTempDatabase& operator=(const TTempDatabase&) = delete;

    const std::string& Path() const { return path_; }
    const std::string& Folder() const { return folder_; }
    // Runs SQL through isql-fb against the database (statements end with ";").
    // Fails the current test when isql-fb reports an error.
    void RunIsql(const std::string& sql) const;
    // Opens db on this database (user SYSDBA) with tr as its default transaction,
    // started on every connect.
    void Connect(TDatabase& db, TTransaction& tr, int dialect = 3) const;

private:
    std::string folder_;
    std::string path_;
};

// The project's source folder (for db/, samples/ ...).
std::string SourceDir();
