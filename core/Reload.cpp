#include "core/Reload.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <utility>
#include <vector>

#include "config/EAbort.h"
#include "core/NodePath.h"
#include "core/NodeTree.h"
#include "core/PageCheck.h"
#include "download/wf_Download.h"
#include "script/ReaderCatalogue.h"
#include "store/DbError.h"
#include "store/FbApi.h"
#include "store/Query.h"
#include "store/Retry.h"
#include "store/Statements.h"
#include "text/Blanks.h"
#include "text/SafeText.h"

bool StopFlag = false;

namespace {

// The per-document context: the reader hands it back with every delivery, and it
// records whether the page arrived (a failed fetch delivers nothing at all).
class TReloadHandle : public TDownloadHandle {
public:
    using TDownloadHandle::TDownloadHandle;
    bool Fetched = false;
    // What the page gave, to be weighed against what its document holds.
    bool BodyDelivered = false;
    int PageLinks = 0;
    // Whether the run walks this document's children: then the pages its links lead
    // to are wanted soon, and may be fetched ahead.
    bool WalksChildren = false;
};

// The pages a document's children lead to form a group of their own in its reader's
// fetch-ahead, wanted before those of every document still waiting higher up.
class TAheadGroup {
public:
    TAheadGroup(TDownload& download, bool active) : download_(active ? &download : nullptr) {
        if (download_) download_->BeginAhead();
    }
    ~TAheadGroup() {
        if (download_) download_->EndAhead();
    }
    TAheadGroup(const TAheadGroup&) = delete;
    TAheadGroup& operator=(const TAheadGroup&) = delete;

private:
    TDownload* download_;
};

enum TStatementKind {
    skNodeExists,
    skFindNode,
    skInsertNode,
    skFindLink,
    skInsertLink,
    skUpdateLinkOrder,
    skUpdateContent,
    skNodeStamp,
    skCount
};

// When a document was last stored, to the fraction of a second: a page fetched ahead
// is stale once its document's stamp moved.
constexpr std::string_view NodeStampQuery =
    "SELECT CAST(STAMP_UPDATED AS VARCHAR(30)) AS STAMP FROM NODE WHERE NODE_ID=:NodeId\r\n";

// While one page's links are stored, the transfers fetching ahead are looked after at
// least this often (so that their read time-out sees their silence as it is), and the
// host gets its turn this often (so that Stop acts between two links).
constexpr auto PumpEvery = std::chrono::milliseconds(20);
constexpr auto HostTurnEvery = std::chrono::milliseconds(100);

constexpr std::array<std::string_view, skCount> StatementTexts = {
    Statements::NodeExistsQuery,   Statements::FindNodeByOrigId, Statements::InsertNode,
    Statements::FindLink,          Statements::InsertLink,       Statements::UpdateLinkOrder,
    Statements::UpdateNodeContent, NodeStampQuery,
};

// A title is only a label: one longer than its column is cut to fit rather than
// failing the write and, with it, the rest of the page's links. The cut backs off
// UTF-8 continuation bytes so that a UTF-8 title does not end in half a character.
// A page's declared character set is treated the same way: a page declaring
// nonsense still has a body and links worth keeping.
std::string FitColumn(const std::string& text, size_t bytes) {
    if (text.size() <= bytes) return text;
    size_t end = bytes;
    for (int i = 0; i < 3 && end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80; ++i)
        --end;
    return text.substr(0, end);
}

std::string FitTitle(const std::string& title) {
    return FitColumn(title, Statements::TitleBytes);
}

// The channel 3 line for a page judged not recognised, naming its address.
std::string UnrecognisedMessage(const std::string& url, TPageVerdict verdict) {
    std::string line = "The layout of the page \"" + SafeLogText(url) + "\" was not recognised";
    switch (verdict) {
        case pvLostBody:
            return line + ": it gave an empty body where one is stored; its stored content is kept";
        case pvLostLinks:
            return line + ": it gave no links where its document has children; its stored links "
                          "are kept";
        default:
            return line + "; its stored content is kept";
    }
}

constexpr const char* ConnectionChangedMessage =
    "The database connection changed during the run: the run stopped and wrote nothing "
    "through the new connection";

}  // namespace

namespace {

// On a shared database another client may hold a row a write needs, or store the
// same node first. The write is then run again after a short wait (looking the node
// up again, so it is linked, not lost); one that is still refused after that is
// logged and skipped, and the run goes on, even at its start document.
template <typename F>
void StoreShared(TReloadHost& host, TReloadProgress& progress, F&& write) {
    try {
        RetryConflicts(write);
    } catch (const EDatabaseError& e) {
        if (!IsLockConflict(e) && !IsDuplicateKey(e)) throw;
        ++progress.Errors;
        host.WriteLog(3, e.what());
    }
}

}  // namespace

bool HasBody(const std::string& body) {
    return !TrimBlanks(body).empty();
}

std::string RunSummary(const TReloadProgress& p, double seconds, bool stopped) {
    char time[32];
    std::snprintf(time, sizeof time, "%.1f", seconds);
    return std::string(stopped ? "Stopped" : "Finished") + " in " + time +
           " s: " + std::to_string(p.Documents) + " documents, " + std::to_string(p.NewDocuments) +
           " new, " + std::to_string(p.ChangedDocuments) + " changed, " +
           std::to_string(p.UnchangedDocuments) + " unchanged, " +
           std::to_string(p.FailedDownloads) + " failed, " + std::to_string(p.LinksAdded) +
           " links added, " + std::to_string(p.Errors) + " errors";
}

// The statements run once or more per link, prepared once per run instead of once
// per use: with a commit after every write, preparing each time would cost as much
// as the writes themselves. They belong to the connection the run started on, which
// is referenced here (so that its address cannot be reused by a new attachment):
// a connection closed or opened again while the run waits in ProcessMessages, perhaps
// on another database, is told apart from it, and the run ends.
struct TReloadEngine::TStatements {
    fb::AttachmentPtr attachment;
    std::array<std::unique_ptr<TQuery>, skCount> queries;

    void Reset() {
        for (auto& q : queries) q.reset();
        attachment.reset();
    }
    ~TStatements() { Reset(); }
};

TReloadEngine::TReloadEngine(TDatabase& db, TReloadHost& host)
    : db_(db), host_(host), statements_(std::make_unique<TStatements>()) {}

TReloadEngine::~TReloadEngine() = default;

void TReloadEngine::BindConnection() {
    statements_->Reset();
    Firebird::IAttachment* current = db_.Attachment();  // raises when not connected
    current->addRef();
    statements_->attachment.reset(current);
}

bool TReloadEngine::ConnectionKept() {
    if (connectionChanged_) return false;
    if (!statements_->attachment) return true;  // nothing used yet
    if (db_.Connected() && db_.Attachment() == statements_->attachment.get()) return true;
    connectionChanged_ = true;
    // A lost server was said where the loss was found, once; saying "changed" as well
    // would be a second line, and a false one.
    if (db_.ConnectionLost()) return false;
    ++progress_.Errors;
    host_.WriteLog(3, ConnectionChangedMessage);
    return false;
}

bool TReloadEngine::Stopping() const {
    return StopFlag || connectionChanged_;
}

TQuery& TReloadEngine::Statement(int which) {
    if (!statements_->attachment) BindConnection();
    // Every write goes through here: none may reach another connection than the run's.
    if (!ConnectionKept()) throw EAbort();
    auto& query = statements_->queries[static_cast<size_t>(which)];
    if (!query) query = std::make_unique<TQuery>(db_);
    query->SetSQL(std::string(StatementTexts[static_cast<size_t>(which)]));
    return *query;
}

void TReloadEngine::CommitRetaining() {
    if (!ConnectionKept()) throw EAbort();
    TTransaction* tr = db_.DefaultTransaction();
    if (!tr) throw EDatabaseError("The database has no default transaction");
    const auto start = std::chrono::steady_clock::now();
    tr->CommitRetaining();
    ++progress_.Commits;
    progress_.CommitSeconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void TReloadEngine::ReportAndProcessMessages() {
    // Pages on their way ahead go on arriving while this run stores the ones before.
    if (ahead_ && !Stopping()) ahead_->Pump();
    lastPump_ = std::chrono::steady_clock::now();
    host_.ShowProgress(progress_);
    HostTurn();
}

void TReloadEngine::HostTurn() {
    host_.ProcessMessages();
    lastHostTurn_ = std::chrono::steady_clock::now();
    // The user may have deleted documents, or reconnected, meanwhile.
    knownNodes_.clear();
    ConnectionKept();
    // Once stopping, no request more goes out.
    if (ahead_ && Stopping()) ahead_->StopAhead();
}

void TReloadEngine::BetweenLinks() {
    const auto now = std::chrono::steady_clock::now();
    if (ahead_ && !Stopping() && now - lastPump_ >= PumpEvery) {
        ahead_->Pump();
        lastPump_ = now;
    }
    if (now - lastHostTurn_ >= HostTurnEvery) {
        host_.ShowProgress(progress_);
        HostTurn();
    }
}

std::string TReloadEngine::ReadStamp(int nodeId) {
    TQuery& query = Statement(skNodeStamp);
    query.SetParam("NodeId", nodeId);
    query.ExecQuery();
    const std::string stamp = query.Eof() ? std::string() : query.AsText("STAMP");
    query.Close();
    return stamp;
}

void TReloadEngine::NoteAhead(TDownload& download, int nodeId) {
    if (download.FetchesAhead() && !aheadStamps_.count(nodeId))
        aheadStamps_.emplace(nodeId, ReadStamp(nodeId));
}

bool TReloadEngine::NodeExists(int nodeId) {
    if (knownNodes_.count(nodeId)) return true;
    TQuery& query = Statement(skNodeExists);
    query.SetParam("NodeId", nodeId);
    query.ExecQuery();
    const bool exists = !query.Eof();
    query.Close();
    if (exists) knownNodes_.insert(nodeId);
    return exists;
}

bool TReloadEngine::LinkExists(int parentId, int childId) {
    TQuery& query = Statement(skFindLink);
    query.SetParam("MId", parentId);
    query.SetParam("DId", childId);
    query.ExecQuery();
    const bool exists = !query.Eof();
    query.Close();
    return exists;
}

void TReloadEngine::LogMessage(const std::string& Msg) {
    host_.WriteLog(1, Msg);
}

bool TReloadEngine::ReloadNodes(int NodeId, bool StoreTopContent, int Depth, bool ReloadAll) {
    reloadAll_ = ReloadAll;
    visited_ = {0};
    aheadStamps_.clear();
    progress_ = {};
    topDownloaded_ = topFetched_ = false;
    connectionChanged_ = false;
    changedNodes_.clear();
    knownNodes_.clear();
    BindConnection();  // the run belongs to this connection

    TQuery row(db_);
    row.SetSQL(Statements::WithId(Statements::NodeRowQuery, NodeId));
    row.ExecQuery();
    if (row.Eof()) return false;  // the root and deleted nodes have nothing to load
    const std::string guideType = row.AsText("GUIDE_TYPE");
    const std::unique_ptr<TDownload> download = CreateReader(guideType);
    if (!download) return false;

    struct TAheadReader {
        TDownload*& reader;
        ~TAheadReader() { reader = nullptr; }
    } aheadReader{ahead_};
    ahead_ = download.get();
    try {
        download->Open();
        const int nodeId = row.AsInteger("NODE_ID");
        const bool hasBody = HasBody(row.AsText("BODY"));
        const std::string url = row.AsText("ORIG_URL");
        row.Close();
        // Readers that keep to a guide's own pages bound every document's links by
        // the guide's address, wherever in the guide the run starts.
        guideUrl_ = GuideUrl(db_, nodeId);
        ReloadDocument(*download, guideType, url, hasBody, Depth > 0 ? Depth - 1 : -1,
                       StoreTopContent, 0, nodeId);
    } catch (...) {
        try {
            download->Close();
        } catch (...) {
            // The run's own error is the one worth reporting.
        }
        throw;
    }
    download->Close();
    return true;
}

void TReloadEngine::ReloadDocument(TDownload& Download, const std::string& GuideType,
                                   const std::string& Url, bool HasBody, int Depth,
                                   bool WithContent, int ParentId, int NodeId) {
    if (Stopping()) throw EAbort();
    const bool top = progress_.Documents == 0;
    ++progress_.Documents;
    progress_.CurrentUrl = Url;

    Download.OnLog = [this](const std::string& msg) { LogMessage(msg); };
    // The content callback always notes that the page arrived, so that a failed
    // fetch can be told apart; it stores only when this document's content is wanted.
    Download.OnContent = [this, WithContent, HasBody](
                             const std::string& title, const std::string& body,
                             const std::string& head, const std::string& encoding,
                             const std::string& url, const std::string& origId,
                             TDownloadHandle& handle) {
        auto& reloadHandle = static_cast<TReloadHandle&>(handle);
        reloadHandle.Fetched = true;
        reloadHandle.BodyDelivered = ::HasBody(body);
        // A page whose reader did not recognise it delivers an empty body, which would
        // replace a good one: its stored content is kept. So is a stored body that
        // an empty one would replace: the reader found its outer markers, not its box.
        if (WithContent && handle.LayoutKnown && (reloadHandle.BodyDelivered || !HasBody))
            StoreShared(host_, progress_,
                        [&] { StoreContent(title, body, head, encoding, url, origId, handle); });
    };
    Download.OnLink = [this](bool first, const std::string& title, const std::string& url,
                             const std::string& origId, int order, TDownloadHandle& handle) {
        if (first) ++static_cast<TReloadHandle&>(handle).PageLinks;
        // After Stop the links stored so far stay; the rest of the page is let go.
        if (Stopping()) return;
        StoreShared(host_, progress_, [&] { StoreLink(first, title, url, origId, order, handle); });
        BetweenLinks();
    };
    // The host gets its turn while a page is on its way; Stop, closing the window or
    // a new connection abandon the transfer.
    Download.OnIdle = [this] {
        HostTurn();
        return !Stopping();
    };

    const TAheadGroup aheadGroup(Download, Depth > 0);
    TReloadHandle handle(NodeId, ParentId, GuideType);
    handle.TopUrl = guideUrl_;
    handle.WalksChildren = Depth > 0;
    if (reloadAll_ || !HasBody) {
        ++progress_.Downloads;
        if (top) topDownloaded_ = true;
        // A page fetched ahead is the document's only while nobody stored it since.
        const auto noted = aheadStamps_.find(NodeId);
        if (noted != aheadStamps_.end()) {
            if (ReadStamp(NodeId) != noted->second) Download.Refetch(Url);
            aheadStamps_.erase(noted);
        }
        RunDownload(Download, Url, handle);
        // A stopped download is no failure of the server's.
        if (!handle.Fetched && !Stopping()) ++progress_.FailedDownloads;
        if (handle.Fetched && !connectionChanged_) {
            const TPageVerdict verdict =
                JudgePage(handle.LayoutKnown, handle.BodyDelivered, handle.PageLinks, HasBody,
                          [&] { return HasChildren(db_, NodeId); });
            if (verdict != pvRecognised) {
                ++progress_.UnknownLayouts;
                host_.WriteLog(3, UnrecognisedMessage(Url, verdict));
            }
        }
        if (top) topFetched_ = handle.Fetched;
    }
    ReportAndProcessMessages();

    if (Depth <= 0) return;

    // A page below may report links for its parent, this document, after its
    // children were read; those are walked in this run too. So once the last child is
    // done the children are read again, until a reading brings none not yet walked.
    for (bool walkedOne = true; walkedOne && !Stopping();) {
        walkedOne = false;
        const std::vector<TChildRow> children = ReadUnvisitedChildren(NodeId);
        std::vector<std::string> pages;
        for (const TChildRow& child : children) {
            if (reloadAll_ || !child.HasBody) {
                pages.push_back(child.Url);
                NoteAhead(Download, child.NodeId);
            }
        }
        Download.SetAhead(pages);
        for (const TChildRow& child : children) {
            if (Stopping()) break;
            try {
                // A child walked meanwhile under an earlier sibling is skipped, and so is
                // one the user deleted (or whose parent is gone: the link goes with it).
                const bool walk = !visited_.count(child.NodeId) && LinkExists(NodeId, child.NodeId);
                if (!walk && (reloadAll_ || !child.HasBody)) Download.DropAhead(child.Url);
                if (walk) {
                    visited_.insert(child.NodeId);
                    walkedOne = true;
                    ReloadDocument(Download, child.GuideType, child.Url, child.HasBody, Depth - 1,
                                   true, NodeId, child.NodeId);
                }
                ReportAndProcessMessages();
            } catch (const std::exception& e) {
                if (connectionChanged_) continue;  // said once, when it was noticed
                ++progress_.Errors;
                host_.WriteLog(3, e.what());
            } catch (...) {
                if (connectionChanged_) continue;
                ++progress_.Errors;
                host_.WriteLog(3, "Unknown error");
            }
        }
    }
}

// The children are read in full before any of them is walked: a deep branch would
// otherwise hold one open cursor per level. Rows of documents already walked are
// dropped here, and again while walking for those walked meanwhile under an earlier
// sibling.
std::vector<TReloadEngine::TChildRow> TReloadEngine::ReadUnvisitedChildren(int NodeId) {
    std::vector<TChildRow> children;
    TQuery query(db_);
    query.SetSQL(Statements::WithId(Statements::UnvisitedChildrenQuery, NodeId));
    query.ExecQuery();
    for (; !query.Eof() && !Stopping(); query.Next()) {
        TChildRow child;
        child.NodeId = query.AsInteger("NODE_ID");
        if (visited_.count(child.NodeId)) continue;
        child.GuideType = query.AsText("GUIDE_TYPE");
        child.Url = query.AsText("ORIG_URL");
        child.HasBody = ::HasBody(query.AsText("BODY"));
        children.push_back(std::move(child));
    }
    return children;
}

void TReloadEngine::StoreContent(const std::string& Title, const std::string& Body,
                                 const std::string& Head, const std::string& Encoding,
                                 const std::string& /*Url*/, const std::string& /*OrigId*/,
                                 TDownloadHandle& Handle) {
    std::string title = Title;
    std::string oldBody;
    {
        TQuery row(db_);
        row.SetSQL(Statements::WithId(Statements::NodeRowQuery, Handle.NodeId));
        row.ExecQuery();
        if (row.Eof()) return;  // deleted while its page was on the way
        if (row.AsText("READ_CONTENT") == "N") return;
        if (title.empty()) title = row.AsText("TITLE");
        oldBody = row.AsText("BODY");
    }
    title = FitTitle(title);
    TQuery& update = Statement(skUpdateContent);
    update.SetParam("NodeId", Handle.NodeId);
    update.SetParam("Title", title);
    update.SetParam("Body", Body);
    update.SetParam("Head", Head);
    update.SetParam("Encoding", FitColumn(Encoding, Statements::EncodingBytes));
    update.ExecSQL();
    CommitRetaining();
    if (!::HasBody(oldBody))
        ++progress_.NewDocuments;
    else if (oldBody != Body)
        ++progress_.ChangedDocuments;
    else
        ++progress_.UnchangedDocuments;
    if (oldBody != Body || !::HasBody(oldBody)) changedNodes_.insert(Handle.NodeId);
}

void TReloadEngine::StoreLink(bool First, const std::string& Title, const std::string& Url,
                              const std::string& OrigId, int Order, TDownloadHandle& Handle) {
    if (!First && Handle.ParentId == 0) return;  // the start document's parent is not walked
    const int parentId = First ? Handle.NodeId : Handle.ParentId;
    // A link under a deleted node could never be reached or deleted again.
    if (!NodeExists(parentId)) return;
    const std::string& guide = Handle.GuideType.str();
    // An address cannot be cut without breaking it: such a link is reported and
    // skipped, and the page's other links are still stored.
    if (Url.size() > Statements::OrigUrlBytes || OrigId.size() > Statements::OrigIdBytes) {
        host_.WriteLog(
            3, "Link skipped, its address is too long to store: " + Url.substr(0, 200) + "...");
        return;
    }

    TQuery& find = Statement(skFindNode);
    find.SetParam("OrigId", OrigId);
    find.SetParam("Guide", guide);
    find.ExecQuery();
    const bool created = find.Eof();
    if (created) {
        TQuery& insert = Statement(skInsertNode);
        insert.SetParam("Title", FitTitle(Title));
        insert.SetParam("OrigUrl", Url);
        insert.SetParam("OrigId", OrigId);
        insert.SetParam("Guide", guide);
        insert.ExecSQL();
        CommitRetaining();
        find.Close();
        find.ExecQuery();
    }
    if (find.Eof()) throw EAbort();
    const int childId = find.AsInteger("NODE_ID");
    // The walk fetches the stored document's address, which may differ from this
    // link's (another fragment, or the address of the link that made it).
    const std::string storedUrl = find.AsText("ORIG_URL");
    find.Close();
    // A page this run will walk next is fetched while the rest of this one is stored.
    // A node just made has no body, so it is downloaded whatever the run's kind; an
    // older one is left to the list of children read once this page is done.
    const auto* reloadHandle = dynamic_cast<const TReloadHandle*>(&Handle);
    if (ahead_ && First && reloadHandle && reloadHandle->WalksChildren && (created || reloadAll_) &&
        !visited_.count(childId)) {
        NoteAhead(*ahead_, childId);
        ahead_->FetchAhead(storedUrl);
    }

    TQuery& findLink = Statement(skFindLink);
    findLink.SetParam("MId", parentId);
    findLink.SetParam("DId", childId);
    findLink.ExecQuery();
    const bool exists = !findLink.Eof();
    // A link already stored with this order is left alone: rewriting it would cost a
    // write and a commit for nothing, and on a re-run that is nearly every link.
    const int orderColumn = exists ? findLink.FieldIndex("ORDER_") : -1;
    const bool same = orderColumn >= 0 && !findLink.IsNull(orderColumn) &&
                      findLink.AsInteger(orderColumn) == Order;
    findLink.Close();
    if (same) return;

    TQuery& write = Statement(exists ? skUpdateLinkOrder : skInsertLink);
    write.SetParam("Order", Order);
    write.SetParam("MId", parentId);
    write.SetParam("DId", childId);
    write.ExecSQL();
    CommitRetaining();
    ++progress_.Links;
    if (!exists) ++progress_.LinksAdded;
}
