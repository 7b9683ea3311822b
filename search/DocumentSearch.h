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
    bool Complete = true;  // false when the progress callback stopped it
};

class TDocumentSearch {
public:
    // Called every few documents while the index catches up: documents done, of total.
    // Returning false stops the catch-up; what was indexed so far is kept.
    using TProgress = std::function<bool(int done, int total)>;

    // The index of db's database at indexPath (by default in the user's cache folder).
    // Nothing is opened or read until the first CatchUp or Search.
    explicit TDocumentSearch(TDatabase& db, std::string indexPath = {});
    ~TDocumentSearch();
    TDocumentSearch(const TDocumentSearch&) = delete;
    TDocumentSearch& operator=(const TDocumentSearch&) = delete;

    // Brings the index up to date with the database. Database errors propagate;
    // a failing index file is rebuilt once, and ESearchIndex is raised when that
    // fails too.
    TCatchUp CatchUp(const TProgress& progress = {});

    // Catches up, then searches (see MatchExpression for the query language).
    // Hits for documents deleted meanwhile are left out at the next search.
    std::vector<TSearchHit> Search(const std::string& query, int limit = 0,
                                   const TProgress& progress = {});

    // Only the index, without catching up (for measuring).
    std::vector<TSearchHit> SearchIndexOnly(const std::string& query, int limit = 0);

    const std::string& IndexPath() const { return indexPath_; }

private:
    TSearchIndex& Index();
    TCatchUp DoCatchUp(const TProgress& progress);

    TDatabase& db_;
    std::string indexPath_;
    std::unique_ptr<TSearchIndex> index_;
};

// A document's searchable text: its body bytes decoded with its character set and
// stripped of markup.
std::string SearchableText(const std::string& body, const std::string& encoding);
