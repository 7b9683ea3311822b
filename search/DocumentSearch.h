// Full-text search over the stored documents: keeps the index file in step with
// the document database and answers queries from it.
//
// The database is the only source of truth. Before each search the index catches up
// with it: documents whose update stamp changed, new ones and deleted ones, whoever
// changed them (this program, the command-line tool, another user of a shared
// server). An index that is missing, of an older version, damaged or built from
// another database is built again from nothing.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "search/SearchIndex.h"

class TDatabase;

struct TCatchUp {
    int Indexed = 0;       // documents added or replaced
    int Removed = 0;       // documents gone from the database
    bool Complete = true;  // false when the progress callback stopped it, or when Busy
    // Another program was changing the index longer than the wait allows; the index
    // was left as that program has it (still searchable) and catches up next time.
    bool Busy = false;
};

class TDocumentSearch {
public:
    // Called every few documents while the index catches up: documents done, of total.
    // Returning false stops the catch-up; what was indexed so far is kept.
    using TProgress = std::function<bool(int done, int total)>;

    // The index of db's database at indexPath (by default in the user's cache folder).
    // Nothing is opened or read until the first CatchUp or Search.
    // busyMilliseconds: how long a change waits for another program's change to the
    // same index before this one reads the index as it stands.
    explicit TDocumentSearch(TDatabase& db, std::string indexPath = {},
                             int busyMilliseconds = TSearchIndex::kBusyWait);
    ~TDocumentSearch();
    TDocumentSearch(const TDocumentSearch&) = delete;
    TDocumentSearch& operator=(const TDocumentSearch&) = delete;

    // Brings the index up to date with the database. Database errors propagate;
    // a failing index file is rebuilt once, and ESearchIndex is raised when that
    // fails too.
    TCatchUp CatchUp(const TProgress& progress = {});

    // Catches up, then searches (see SearchQuery.h for the query language). A query
    // the language refuses raises ESearchQuery before anything is read; its what() is
    // a sentence for the user. While another program changes the same index, this
    // searches what that program has written so far (CatchUp reports Busy).
    // Hits for documents deleted meanwhile are left out at the next search.
    std::vector<TSearchHit> Search(const std::string& query, int limit = 0,
                                   const TProgress& progress = {});

    // Only the index, without catching up (for measuring).
    std::vector<TSearchHit> SearchIndexOnly(const std::string& query, int limit = 0);

    // How many documents match the query in the index as it stands (call it after
    // Search, which caught up): the hit count to show when Search was given a limit.
    // Reads word lists only, no document text. ESearchQuery as Search.
    int Count(const std::string& query);

    const std::string& IndexPath() const { return indexPath_; }

private:
    TSearchIndex& Index();
    TCatchUp DoCatchUp(const TProgress& progress);

    TDatabase& db_;
    std::string indexPath_;
    int busyMilliseconds_;
    std::unique_ptr<TSearchIndex> index_;
};

// A document's searchable text: its body bytes decoded with its character set and
// stripped of markup.
std::string SearchableText(const std::string& body, const std::string& encoding);

// A document's title as the user reads it: decoded with the character set of the page
// whose link text it is (parentEncoding; empty for a top-level document), entities
// resolved and markup removed. A title that cannot be that link's text (bytes that are
// not UTF-8 under a UTF-8 parent; UTF-8 beyond ASCII under a single-byte parent while
// the document itself is UTF-8) was delivered with the page, and is read with the
// document's own encoding.
std::string SearchableTitle(const std::string& title, const std::string& parentEncoding,
                            const std::string& encoding);
