#include "search/DocumentSearch.h"

#include <chrono>
#include <set>

#include "search/HtmlText.h"
#include "search/IndexWriter.h"
#include "store/Database.h"
#include "store/DbError.h"
#include "store/Query.h"
#include "store/Statements.h"
#include "text/Charset.h"

namespace {

// Beyond this share of the documents a catch-up reads the whole table in one pass
// instead of one statement per document.
constexpr double kFullScanShare = 0.05;

// Which database the index was built from: its name and creation time, so that a
// database replaced under the same name (ids start again) is not taken for the old.
std::string DatabaseIdentity(TDatabase& db) {
    std::string created;
    try {
        TQuery q(db);
        q.SetSQL(std::string(Statements::DatabaseCreatedQuery));
        q.ExecQuery();
        if (!q.Eof()) created = q.AsText("CREATED");
    } catch (const std::exception&) {
        // Monitoring tables closed to this user: the name alone must do.
    }
    return db.DatabaseName + "\n" + created;
}

// Empty when the server cannot tell (then every document's stamp is looked at).
std::string Fingerprint(TDatabase& db) {
    std::string fingerprint;
    try {
        TQuery q(db);
        q.SetSQL(std::string(Statements::NodeFingerprintQuery));
        q.ExecQuery();
        for (int i = 0; i < q.FieldCount(); ++i) fingerprint += q.AsText(i) + "|";
    } catch (const EDatabaseError&) {
        fingerprint.clear();
    }
    return fingerprint;
}

class TProgressGate {
public:
    TProgressGate(const TDocumentSearch::TProgress& progress, int total)
        : progress_(progress), total_(total) {}
    // Whether to go on; reports at most every 50 ms.
    bool Step(int done) {
        if (!progress_) return true;
        const auto now = std::chrono::steady_clock::now();
        if (done < total_ && now - last_ < std::chrono::milliseconds(50)) return true;
        last_ = now;
        return progress_(done, total_);
    }

private:
    const TDocumentSearch::TProgress& progress_;
    int total_;
    std::chrono::steady_clock::time_point last_{};
};

}  // namespace

std::string SearchableText(const std::string& body, const std::string& encoding) {
    return HtmlToText(DecodeToUtf8(body, encoding));
}

TDocumentSearch::TDocumentSearch(TDatabase& db, std::string indexPath)
    : db_(db), indexPath_(std::move(indexPath)) {}

TDocumentSearch::~TDocumentSearch() = default;

TSearchIndex& TDocumentSearch::Index() {
    if (indexPath_.empty()) indexPath_ = IndexPathFor(db_.DatabaseName);
    if (!index_) index_ = std::make_unique<TSearchIndex>(indexPath_);
    return *index_;
}

TCatchUp TDocumentSearch::CatchUp(const TProgress& progress) {
    try {
        return DoCatchUp(progress);
    } catch (const ESearchIndex&) {
        // Damaged under our feet, or unreadable: start again from nothing, once.
        index_.reset();
        TSearchIndex::RemoveFiles(indexPath_);
        return DoCatchUp(progress);
    }
}

TCatchUp TDocumentSearch::DoCatchUp(const TProgress& progress) {
    TSearchIndex& index = Index();
    TCatchUp result;

    const std::string identity = DatabaseIdentity(db_);
    if (index.Meta("database") != identity) {
        index.Begin();
        index.Clear();
        index.SetMeta("database", identity);
        index.Commit();
    }

    // Nothing added, deleted or updated since the last complete catch-up: done.
    const std::string fingerprint = Fingerprint(db_);
    if (!fingerprint.empty() && index.Meta("fingerprint") == fingerprint) return result;

    // What the database holds now, and what the index holds.
    std::map<int, std::string> current;
    {
        TQuery q(db_);
        q.SetSQL(std::string(Statements::NodeStampsQuery));
        for (q.ExecQuery(); !q.Eof(); q.Next()) current.emplace(q.AsInteger(0), q.AsText(1));
    }
    std::map<int, std::string> indexed = index.Stamps();

    std::set<int> changed;
    for (const auto& [id, stamp] : current) {
        auto it = indexed.find(id);
        if (it == indexed.end() || it->second != stamp) changed.insert(id);
    }
    std::vector<int> gone;
    for (const auto& [id, stamp] : indexed)
        if (!current.count(id)) gone.push_back(id);
    if (changed.empty() && gone.empty()) {
        index.SetMeta("fingerprint", fingerprint);
        return result;
    }

    const int total = static_cast<int>(changed.size() + gone.size());
    TProgressGate gate(progress, total);
    int done = 0;
    index.Begin();
    for (int id : gone) {
        index.Remove(id);
        ++result.Removed;
        ++done;
    }
    index.Commit();

    // This thread reads and takes the markup apart; the writer's fills the index.
    TIndexWriter writer(index);
    auto store = [&](TQuery& q) {
        const std::string encoding = q.AsText(3);
        writer.Put(q.AsInteger(0), q.AsText(4), DecodeToUtf8(q.AsText(1), encoding),
                   SearchableText(q.AsText(2), encoding));
        ++result.Indexed;
        ++done;
    };

    if (changed.size() > kFullScanShare * current.size()) {
        TQuery q(db_);
        q.SetSQL(std::string(Statements::SearchNodesQuery));
        for (q.ExecQuery(); !q.Eof(); q.Next()) {
            if (!changed.count(q.AsInteger(0))) continue;  // the body is never read
            store(q);
            if (!gate.Step(done)) {
                result.Complete = false;
                break;
            }
        }
    } else {
        TQuery q(db_);
        q.SetSQL(std::string(Statements::SearchNodeQuery));
        for (int id : changed) {
            q.SetParam("NodeId", id);
            q.ExecQuery();
            if (!q.Eof()) store(q);  // deleted since the list was read: the next catch-up
            q.Close();
            if (!gate.Step(done)) {
                result.Complete = false;
                break;
            }
        }
    }
    writer.Finish();
    // Read before the documents were: a change made meanwhile makes the next look differ.
    if (result.Complete) index.SetMeta("fingerprint", fingerprint);
    if (result.Complete && progress) progress(total, total);
    return result;
}

std::vector<TSearchHit> TDocumentSearch::Search(const std::string& query, int limit,
                                                const TProgress& progress) {
    CatchUp(progress);
    try {
        return Index().Search(query, limit);
    } catch (const ESearchIndex&) {
        index_.reset();
        TSearchIndex::RemoveFiles(indexPath_);
        CatchUp(progress);
        return Index().Search(query, limit);
    }
}

std::vector<TSearchHit> TDocumentSearch::SearchIndexOnly(const std::string& query, int limit) {
    return Index().Search(query, limit);
}
