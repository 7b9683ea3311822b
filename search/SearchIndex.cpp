#include "search/SearchIndex.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "search/Snippet.h"

namespace {

// Raised whenever the tables, the tokenizer or the decoding of the stored text change:
// an index of another version is built again from the database.
constexpr int kIndexVersion = 3;

struct TStmtFree {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using TStmt = std::unique_ptr<sqlite3_stmt, TStmtFree>;

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS docs(id INTEGER PRIMARY KEY, stamp TEXT NOT NULL);"
    // Accents are ignored both ways ("cafe" finds "Café" and "café" finds "Cafe"),
    // and English word forms are one word ("market" finds "markets", "cafe" finds
    // "Cafés"): the Porter stemmer over the Unicode tokenizer, both SQLite's own.
    "CREATE VIRTUAL TABLE IF NOT EXISTS fts USING fts5(title, body, "
    "tokenize = 'porter unicode61 remove_diacritics 2');";

// What an index of another version may hold; the virtual table takes its own tables.
const char* const kDropAll =
    "DROP TABLE IF EXISTS fts; DROP TABLE IF EXISTS docs;"
    "DROP TABLE IF EXISTS meta;";

// The folders above the index file; ESearchIndex (Unwritable) naming the first one
// that cannot be made, so that a read-only cache folder is reported as what it is.
void MakeFolders(const std::string& path) {
    for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1)) {
        const std::string folder = path.substr(0, pos);
        if (mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST) continue;
        throw ESearchIndex(
            "cannot make the search index folder " + folder + ": " + std::strerror(errno),
            ESearchIndex::TCause::Unwritable);
    }
}

uint64_t Fnv1a(const std::string& s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash ? slash : 1);
}

// Which recovery an SQLite failure calls for (see ESearchIndex).
ESearchIndex::TCause CauseOf(int code) {
    switch (code & 0xFF) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return ESearchIndex::TCause::Busy;
        case SQLITE_READONLY:
        case SQLITE_CANTOPEN:
        case SQLITE_PERM:
        case SQLITE_AUTH:
        case SQLITE_FULL:
            return ESearchIndex::TCause::Unwritable;
        default:
            return ESearchIndex::TCause::Damaged;
    }
}

}  // namespace

std::string IndexPathFor(const std::string& databaseName) {
    std::string folder;
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/') {
        folder = cache;
    } else {
        const char* home = std::getenv("HOME");
        folder = std::string(home && *home ? home : "/tmp") + "/.cache";
    }
    char name[64];
    std::snprintf(name, sizeof name, "/wayfolio/index-%016llx.sqlite",
                  static_cast<unsigned long long>(Fnv1a(databaseName)));
    return folder + name;
}

TSearchIndex::TSearchIndex(std::string path, int busyMilliseconds)
    : path_(std::move(path)), busyMilliseconds_(busyMilliseconds) {
    try {
        Open(false);
    } catch (const ESearchIndex& e) {
        // Not an index we can read (damaged, or some other file): start afresh. A file
        // busy with another program's work, or one we may not write, is left alone.
        if (e.Cause() != ESearchIndex::TCause::Damaged) throw;
        Open(true);
    }
}

TSearchIndex::~TSearchIndex() {
    CloseHandle();
}

void TSearchIndex::RemoveFiles(const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        std::remove((path + suffix).c_str());
}

void TSearchIndex::CloseHandle() {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
    inBatch_ = false;
}

void TSearchIndex::Fail(const std::string& what) {
    const int code = db_ ? sqlite3_extended_errcode(db_) : SQLITE_CANTOPEN;
    const ESearchIndex::TCause cause = CauseOf(code);
    std::string message =
        "search index " + path_ + ": " + what + ": " + (db_ ? sqlite3_errmsg(db_) : "cannot open");
    if (cause == ESearchIndex::TCause::Unwritable) {
        // SQLite's own words ("unable to open database file") do not say why.
        const std::string folder = FolderOf(path_);
        if (access(folder.c_str(), W_OK) != 0) {
            message = "cannot write the search index in " + folder + ": " + std::strerror(errno);
        } else {
            // The system's own answer for the file (a read-only file system, say).
            const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (fd < 0)
                message = "cannot write the search index " + path_ + ": " + std::strerror(errno);
            else
                ::close(fd);
        }
    } else if (cause == ESearchIndex::TCause::Busy) {
        message =
            "the search index " + path_ + " is being changed by another program (" + what + ")";
    }
    throw ESearchIndex(message, cause);
}

void TSearchIndex::Open(bool fresh) {
    CloseHandle();
    if (fresh) RemoveFiles(path_);
    MakeFolders(path_);
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK)
        Fail("open");
    sqlite3_busy_timeout(db_, busyMilliseconds_);
    // A cache: losing it costs a rebuild, so the disk is not waited for.
    Exec("PRAGMA synchronous=OFF");
    // Readers go on while another program writes (two programs may share one index).
    Exec("PRAGMA journal_mode=WAL");
    if (RegisterSnippetFunction(db_) != SQLITE_OK) Fail("set up");
    TStmt version(Prepare("PRAGMA user_version"));
    if (sqlite3_step(version.get()) != SQLITE_ROW) Fail("read version");
    const int found = sqlite3_column_int(version.get(), 0);
    version.reset();
    if (found != kIndexVersion) SetUp(found);
    // Reading the tables now finds a damaged file here rather than at the first search.
    TStmt probe(Prepare("SELECT count(*) FROM docs"));
    if (sqlite3_step(probe.get()) != SQLITE_ROW) Fail("read");
}

// Creates the tables of a new file, or replaces another version's. In one write
// transaction, and looked at again inside it: another program may have set the file
// up since the version was read, and its work is then kept.
void TSearchIndex::SetUp(int found) {
    Exec("BEGIN IMMEDIATE");
    try {
        TStmt version(Prepare("PRAGMA user_version"));
        if (sqlite3_step(version.get()) != SQLITE_ROW) Fail("read version");
        found = sqlite3_column_int(version.get(), 0);
        version.reset();
        if (found != kIndexVersion) {
            if (found != 0) Exec(kDropAll);
            Exec(kSchema);
            Exec(("PRAGMA user_version=" + std::to_string(kIndexVersion)).c_str());
        }
        Exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void TSearchIndex::Exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        sqlite3_free(error);
        Fail("run");
    }
}

sqlite3_stmt* TSearchIndex::Prepare(const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) != SQLITE_OK) Fail("prepare");
    return stmt;
}

std::string TSearchIndex::Meta(const std::string& key) {
    TStmt q(Prepare("SELECT value FROM meta WHERE key=?"));
    sqlite3_bind_text(q.get(), 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(q.get());
    if (rc == SQLITE_ROW) return reinterpret_cast<const char*>(sqlite3_column_text(q.get(), 0));
    if (rc != SQLITE_DONE) Fail("read");
    return {};
}

void TSearchIndex::SetMeta(const std::string& key, const std::string& value) {
    TStmt q(Prepare("INSERT OR REPLACE INTO meta(key, value) VALUES(?, ?)"));
    sqlite3_bind_text(q.get(), 1, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(q.get(), 2, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(q.get()) != SQLITE_DONE) Fail("write");
}

std::map<int, std::string> TSearchIndex::Stamps() {
    std::map<int, std::string> stamps;
    TStmt q(Prepare("SELECT id, stamp FROM docs"));
    int rc;
    while ((rc = sqlite3_step(q.get())) == SQLITE_ROW)
        stamps.emplace(sqlite3_column_int(q.get(), 0),
                       reinterpret_cast<const char*>(sqlite3_column_text(q.get(), 1)));
    if (rc != SQLITE_DONE) Fail("read");
    return stamps;
}

void TSearchIndex::Begin() {
    if (inBatch_) return;
    Exec("BEGIN IMMEDIATE");
    inBatch_ = true;
}

void TSearchIndex::Commit() {
    if (!inBatch_) return;
    inBatch_ = false;
    Exec("COMMIT");
}

void TSearchIndex::Put(int nodeId, const std::string& stamp, const std::string& title,
                       const std::string& text) {
    Remove(nodeId);
    TStmt doc(Prepare("INSERT INTO docs(id, stamp) VALUES(?, ?)"));
    sqlite3_bind_int(doc.get(), 1, nodeId);
    sqlite3_bind_text(doc.get(), 2, stamp.data(), static_cast<int>(stamp.size()), SQLITE_STATIC);
    if (sqlite3_step(doc.get()) != SQLITE_DONE) Fail("write");
    TStmt fts(Prepare("INSERT INTO fts(rowid, title, body) VALUES(?, ?, ?)"));
    sqlite3_bind_int(fts.get(), 1, nodeId);
    sqlite3_bind_text(fts.get(), 2, title.data(), static_cast<int>(title.size()), SQLITE_STATIC);
    sqlite3_bind_text(fts.get(), 3, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
    if (sqlite3_step(fts.get()) != SQLITE_DONE) Fail("write");
}

void TSearchIndex::Remove(int nodeId) {
    for (const char* sql : {"DELETE FROM docs WHERE id=?", "DELETE FROM fts WHERE rowid=?"}) {
        TStmt q(Prepare(sql));
        sqlite3_bind_int(q.get(), 1, nodeId);
        if (sqlite3_step(q.get()) != SQLITE_DONE) Fail("write");
    }
}

void TSearchIndex::Clear() {
    Exec("DELETE FROM docs; DELETE FROM meta; DELETE FROM fts;");
}

std::vector<TSearchHit> TSearchIndex::Search(const std::string& userText, int limit) {
    std::vector<TSearchHit> hits;
    const std::string expr = MatchExpression(userText);
    if (expr.empty()) return hits;
    // Ordered by FTS5's own rank, so that only the rows returned get their snippet
    // (ordered by an expression, every match would get one before the sort).
    TStmt q(
        Prepare("SELECT rowid, title, wf_snippet(fts, 1, 16) FROM fts "
                "WHERE fts MATCH ? AND rank MATCH 'bm25(10.0, 1.0)' ORDER BY rank LIMIT ?"));
    sqlite3_bind_text(q.get(), 1, expr.data(), static_cast<int>(expr.size()), SQLITE_STATIC);
    sqlite3_bind_int(q.get(), 2, limit > 0 ? limit : -1);
    int rc;
    while ((rc = sqlite3_step(q.get())) == SQLITE_ROW) {
        TSearchHit hit;
        hit.NodeId = sqlite3_column_int(q.get(), 0);
        if (auto* t = sqlite3_column_text(q.get(), 1)) hit.Title = reinterpret_cast<const char*>(t);
        if (auto* s = sqlite3_column_text(q.get(), 2))
            hit.Snippet = reinterpret_cast<const char*>(s);
        hits.push_back(std::move(hit));
    }
    if (rc != SQLITE_DONE) Fail("search");
    return hits;
}

int TSearchIndex::Count(const std::string& userText) {
    const std::string expr = MatchExpression(userText);
    if (expr.empty()) return 0;
    TStmt q(Prepare("SELECT count(*) FROM fts WHERE fts MATCH ?"));
    sqlite3_bind_text(q.get(), 1, expr.data(), static_cast<int>(expr.size()), SQLITE_STATIC);
    if (sqlite3_step(q.get()) != SQLITE_ROW) Fail("search");
    return sqlite3_column_int(q.get(), 0);
}
