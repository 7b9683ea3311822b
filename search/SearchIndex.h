// The full-text index file: one SQLite database with an FTS5 table of the documents'
// titles and texts, and the update stamp each document was indexed at. It is a cache
// of the document database, rebuilt from it whenever in doubt.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// Any failure of the index file (damaged, unwritable, locked too long). Callers
// rebuild the index or go on without it; it never stops the program.
class ESearchIndex : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
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

// The user's words as an FTS5 query: words are ANDed, "quoted words" form a phrase,
// a word ending in * matches as a prefix. Everything else is taken literally, so no
// input is a syntax error. Empty when the text holds no word.
std::string MatchExpression(const std::string& userText);

class TSearchIndex {
public:
    // Opens the file, creating it when missing. A file of another format version, or
    // one that is not a readable index, is deleted and created anew (Empty() then
    // says so). ESearchIndex when no index can be made at the path.
    explicit TSearchIndex(std::string path);
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
    // at most limit of them (0: all).
    std::vector<TSearchHit> Search(const std::string& userText, int limit);

private:
    void Open(bool fresh);
    void CloseHandle();
    void Exec(const char* sql);
    sqlite3_stmt* Prepare(const char* sql);
    [[noreturn]] void Fail(const std::string& what);

    std::string path_;
    sqlite3* db_ = nullptr;
    bool inBatch_ = false;
};
