// The full-text index file: one SQLite database with an FTS5 table of the documents'
// titles and texts, and the update stamp each document was indexed at. It is a cache
// of the document database, rebuilt from it whenever in doubt.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "search/SearchQuery.h"

struct sqlite3;
struct sqlite3_stmt;

// Any failure of the index file. Callers rebuild the index or go on without it; it
// never stops the program. Cause() says which recovery fits: only a damaged file is
// deleted and built again; one another program is writing is read as it stands (or
// waited for); an unwritable one is reported, since building it again cannot help.
class ESearchIndex : public std::runtime_error {
public:
    enum class TCause { Damaged, Busy, Unwritable };
    explicit ESearchIndex(const std::string& what, TCause cause = TCause::Damaged)
        : std::runtime_error(what), cause_(cause) {}
    TCause Cause() const { return cause_; }

private:
    TCause cause_;
};

// Snippets mark each match between these two characters (they never occur in the
// indexed text, see HtmlToText).
inline constexpr char kMatchStart = '\x02';
inline constexpr char kMatchEnd = '\x03';

struct TSearchHit {
    int NodeId = 0;
    std::string Title;    // UTF-8
    std::string Snippet;  // UTF-8, matches marked with kMatchStart ... kMatchEnd
};

// Where the index of a database lives: $XDG_CACHE_HOME/wayfolio/ (or ~/.cache/wayfolio/)
// and a file name made from a hash of the database's name, one index per database.
std::string IndexPathFor(const std::string& databaseName);

class TSearchIndex {
public:
    // Opens the file, creating it and its folders when missing. A file that is not a
    // readable index is deleted and created anew; one of another format version is
    // emptied and set up anew in one transaction, so that another program reading it
    // meanwhile sees either index whole. ESearchIndex when no index can be made at the
    // path (Unwritable: the message names the folder or file and the reason; Busy:
    // another program held the file longer than busyMilliseconds).
    explicit TSearchIndex(std::string path, int busyMilliseconds = kBusyWait);
    // How long a change waits for another program's change to the same index.
    static constexpr int kBusyWait = 5000;
    ~TSearchIndex();
    TSearchIndex(const TSearchIndex&) = delete;
    TSearchIndex& operator=(const TSearchIndex&) = delete;

    const std::string& Path() const { return path_; }
    // Deletes an index file with its journal files (no TSearchIndex may have it open).
    static void RemoveFiles(const std::string& path);

    // A named value kept with the index (which database it was built from).
    std::string Meta(const std::string& key);
    void SetMeta(const std::string& key, const std::string& value);

    // Every indexed document's id and the stamp it was indexed at.
    std::map<int, std::string> Stamps();

    // Changes go in batches: Begin, any number of Put and Remove, Commit.
    void Begin();
    void Commit();
    // Adds or replaces a document (title and text in UTF-8).
    void Put(int nodeId, const std::string& stamp, const std::string& title,
             const std::string& text);
    void Remove(int nodeId);
    // Removes every document (and every Meta value).
    void Clear();

    // The best matches first (bm25, a title match weighing more than one in the text),
    // at most limit of them (0: all). The query language is MatchExpression's
    // (SearchQuery.h); ESearchQuery for a query it refuses. The snippet's cost is at
    // most linear in the document (Snippet.h), however often the words occur in it.
    std::vector<TSearchHit> Search(const std::string& userText, int limit);
    // How many documents match, all of them (Search may return fewer). Reads only the
    // index's word lists, no document text. ESearchQuery as Search.
    int Count(const std::string& userText);

private:
    void Open(bool fresh);
    void SetUp(int found);
    void CloseHandle();
    void Exec(const char* sql);
    sqlite3_stmt* Prepare(const char* sql);
    [[noreturn]] void Fail(const std::string& what);

    std::string path_;
    sqlite3* db_ = nullptr;
    bool inBatch_ = false;
    int busyMilliseconds_;
};
