#include "search/DocumentSearch.h"

#include <cctype>
#include <chrono>
#include <set>

#include "search/HtmlText.h"
#include "search/IndexWriter.h"
#include "store/Database.h"
#include "store/DbError.h"
#include "store/OneValue.h"
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
        created = OneText(db, std::string(Statements::DatabaseCreatedQuery), "CREATED")
                      .value_or(std::string());
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

// What the index keeps as a document's stamp: its update stamp, and the character set
// of the parent page its title is read in. A parent reloaded in another set changes
// how the title reads, though the document itself is untouched.
std::string IndexStamp(const std::string& stamp, const std::string& parentEncoding) {
    return stamp + "|" + parentEncoding;
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

namespace {

bool IsUtf8Label(const std::string& label) {
    std::string name;
    for (char c : label)
        if (c != ' ' && c != '"' && c != '\'') name += static_cast<char>(std::tolower(c));
    return name == "utf-8" || name == "utf8";
}

bool IsAscii(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

}  // namespace

std::string SearchableTitle(const std::string& title, const std::string& parentEncoding,
                            const std::string& encoding) {
    // Well-formed UTF-8 is exactly what decoding as UTF-8 leaves unchanged.
    const bool utf8 = DecodeToUtf8(title, "utf-8") == title;
    std::string from = parentEncoding;
    if (parentEncoding.empty()) {
        // A top-level document's title was typed into the database, most likely as UTF-8.
        from = utf8 ? std::string("utf-8") : encoding;
    } else if (IsUtf8Label(parentEncoding) && !utf8) {
        // Not the text of a UTF-8 link: a title the page itself delivered.
        from = encoding;
    } else if (!IsUtf8Label(parentEncoding) && utf8 && !IsAscii(title) && IsUtf8Label(encoding)) {
        // Non-ASCII bytes that form UTF-8 are next to never a single-byte set's text:
        // the title came with the UTF-8 page itself.
        from = "utf-8";
    }
    std::string text = DecodeToUtf8(title, from);
    // Link texts may hold entities and inline markup ("Caf&eacute;", "<b>Bern</b>").
    // HtmlToText also turns control characters into blanks; a title without markup
    // gets the same, so that none reaches a terminal or the index.
    bool control = false;
    for (size_t i = 0; i < text.size() && !control; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        control = c < 0x20 || c == 0x7F ||
                  (c == 0xC2 && i + 1 < text.size() && (text[i + 1] & 0xE0) == 0x80);
    }
    if (control || text.find_first_of("&<") != std::string::npos) text = HtmlToText(text);
    return text;
}

TDocumentSearch::TDocumentSearch(TDatabase& db, std::string indexPath, int busyMilliseconds)
    : db_(db), indexPath_(std::move(indexPath)), busyMilliseconds_(busyMilliseconds) {}

TDocumentSearch::~TDocumentSearch() = default;

TSearchIndex& TDocumentSearch::Index() {
    if (indexPath_.empty()) indexPath_ = IndexPathFor(db_.DatabaseName);
    if (!index_) index_ = std::make_unique<TSearchIndex>(indexPath_, busyMilliseconds_);
    return *index_;
}

TCatchUp TDocumentSearch::CatchUp(const TProgress& progress) {
    try {
        try {
            return DoCatchUp(progress);
        } catch (const ESearchIndex& e) {
            if (e.Cause() != ESearchIndex::TCause::Damaged) throw;
            // Damaged under our feet, or unreadable: start again from nothing, once.
            index_.reset();
            TSearchIndex::RemoveFiles(indexPath_);
            return DoCatchUp(progress);
        }
    } catch (const ESearchIndex& e) {
        // Another program is bringing the same index up to date: what it has written
        // so far is read as it stands, and this one catches up next time.
        if (e.Cause() != ESearchIndex::TCause::Busy || !index_) throw;
        TCatchUp busy;
        busy.Complete = false;
        busy.Busy = true;
        return busy;
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
        for (q.ExecQuery(); !q.Eof(); q.Next())
            current.emplace(q.AsInteger(0), IndexStamp(q.AsText(1), q.AsText(2)));
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
        writer.Put(q.AsInteger(0), IndexStamp(q.AsText(4), q.AsText(5)),
                   SearchableTitle(q.AsText(1), q.AsText(5), encoding),
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
    // A refused query is told before any work is done.
    MatchExpression(query);
    CatchUp(progress);
    try {
        return Index().Search(query, limit);
    } catch (const ESearchIndex& e) {
        if (e.Cause() != ESearchIndex::TCause::Damaged) throw;
        index_.reset();
        TSearchIndex::RemoveFiles(indexPath_);
        CatchUp(progress);
        return Index().Search(query, limit);
    }
}

std::vector<TSearchHit> TDocumentSearch::SearchIndexOnly(const std::string& query, int limit) {
    return Index().Search(query, limit);
}

int TDocumentSearch::Count(const std::string& query) {
    return Index().Count(query);
}
