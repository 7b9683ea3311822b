// The reload engine: downloads documents of the tree with the page reader of their
// guide type, stores their content and turns their links into child documents.
//
// A run walks the tree stored in the database, depth first, each document at most
// once, and keeps everything it stored when it is stopped or fails: every write is
// committed at once. It runs on the caller's thread and hands control back to its
// host after each document and each child, so that a window stays responsive and
// Stop can end a run. No Qt Widgets here: the window, the command-line tool, the
// tests and the benchmarks host the same engine.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class TDatabase;
class TDownload;
class TDownloadHandle;
class TQuery;

// Set by Stop, cleared by each reload command before its run starts. Shared by all
// runs: a run started while another one goes on clears it, and Stop ends both.
extern bool StopFlag;

// What a run counted so far.
struct TReloadProgress {
    int Documents = 0;         // documents walked (downloaded or not)
    int Downloads = 0;         // pages requested
    int FailedDownloads = 0;   // requests that delivered no page
    int Links = 0;             // links stored (new or with their order rewritten)
    int Errors = 0;            // errors below the start document, logged on channel 3
    int UnknownLayouts = 0;    // pages that arrived in a layout their reader did not know
    int Commits = 0;           // commits retaining, one after every write
    double CommitSeconds = 0;  // time those commits took (the disk's share of a run)
    // What the run changed: documents whose content was stored, by how it compares
    // with what was stored before (new: there was no body), and links it added.
    int NewDocuments = 0;
    int ChangedDocuments = 0;
    int UnchangedDocuments = 0;
    int LinksAdded = 0;
    std::string CurrentUrl;  // the address of the document the run is on
};

// One line telling what a run did and what it changed, for the log, the status bar
// and the command-line tool's summary, e.g. "Finished in 2.5 s: 12 documents, 3 new,
// 1 changed, 7 unchanged, 1 failed, 25 links added, 0 errors".
std::string RunSummary(const TReloadProgress& progress, double seconds, bool stopped);

// What the engine needs from whoever runs it.
class TReloadHost {
public:
    virtual ~TReloadHost() = default;
    // Handles pending user input; called after each document, after each child and,
    // while a page is on its way, at least every 100 ms. This is where Stop reaches a
    // run (a transfer under way is then abandoned).
    virtual void ProcessMessages() = 0;
    // Channel 1: the page readers' lines; channel 3: errors met below the start
    // document. The text has no line end.
    virtual void WriteLog(unsigned char channel, const std::string& text) = 0;
    // The run's counts, reported just before each ProcessMessages.
    virtual void ShowProgress(const TReloadProgress&) {}
};

// Whether a stored body counts as loaded: anything left after trimming white space
// and control characters (bytes 32 and below) from both ends.
bool HasBody(const std::string& body);

// One reload run over a connection whose default transaction is the shared one.
// Create one engine per run; a run started from inside another run's
// ProcessMessages needs an engine of its own.
//
// A run belongs to the connection it started on. When the host closes it or
// connects anew (perhaps to another database) while the run waits in
// ProcessMessages, the run ends as if stopped, with one channel 3 line saying so, and
// writes nothing through the new connection.
class TReloadEngine {
public:
    TReloadEngine(TDatabase& db, TReloadHost& host);
    ~TReloadEngine();
    TReloadEngine(const TReloadEngine&) = delete;
    TReloadEngine& operator=(const TReloadEngine&) = delete;

    // Reloads the document NodeId and Depth - 1 levels below it (0: the document
    // alone; 999: a whole branch). StoreTopContent: store the start document's
    // content, not only its links. ReloadAll: download documents that already have
    // a body too (otherwise only their stored children are walked).
    //
    // Returns false, having done nothing, when the node has no row or no page
    // reader serves its guide type. Errors below the start document are logged on
    // channel 3 and the walk goes on; an error of the start document itself
    // propagates (the reader is closed and freed all the same). A stopped run
    // returns normally; StopFlag or ConnectionChanged tells.
    bool ReloadNodes(int NodeId, bool StoreTopContent, int Depth, bool ReloadAll);

    // Downloads one document with Download (when ReloadAll or !HasBody) and, while
    // Depth > 0, walks its children not yet walked in this run, reading them again
    // after the last one until no new one turns up (pages below may store links for
    // their parent). A child deleted meanwhile is not walked. Raises the silent abort
    // when the run is stopping.
    void ReloadDocument(TDownload& Download, const std::string& GuideType, const std::string& Url,
                        bool HasBody, int Depth, bool WithContent, int ParentId, int NodeId);

    // The reader's callbacks. StoreContent updates the handle's node unless its row
    // is gone or its READ_CONTENT is "N"; an empty title keeps the stored one.
    // StoreLink finds or creates the linked node (by OrigId and the handle's guide
    // type) and stores the link under the handle's node (First) or its parent; not
    // at all when that node has been deleted. An encoding longer than its column is
    // cut to fit, like a title.
    void StoreContent(const std::string& Title, const std::string& Body, const std::string& Head,
                      const std::string& Encoding, const std::string& Url,
                      const std::string& OrigId, TDownloadHandle& Handle);
    void StoreLink(bool First, const std::string& Title, const std::string& Url,
                   const std::string& OrigId, int Order, TDownloadHandle& Handle);
    void LogMessage(const std::string& Msg);

    // The documents walked in this run, the start document only when a link led
    // back to it.
    const std::unordered_set<int>& Visited() const { return visited_; }
    const TReloadProgress& Progress() const { return progress_; }
    // Whether the start document's page was requested, and whether it arrived.
    bool TopDownloaded() const { return topDownloaded_; }
    bool TopFetched() const { return topFetched_; }
    // Whether the run ended because the host's connection changed under it.
    bool ConnectionChanged() const { return connectionChanged_; }
    // The documents this run stored a new or changed body for.
    const std::unordered_set<int>& ChangedNodes() const { return changedNodes_; }

private:
    struct TStatements;
    struct TChildRow {
        int NodeId = 0;
        std::string GuideType;
        std::string Url;
        bool HasBody = false;
    };
    TQuery& Statement(int which);
    void ReportAndProcessMessages();
    // Between two links of one page: transfers and the host get their turn now and
    // then.
    void BetweenLinks();
    std::string ReadStamp(int nodeId);
    // Notes the document's stamp when its page is first wanted ahead.
    void NoteAhead(TDownload& download, int nodeId);
    // The host's turn: ProcessMessages, then a look at what it may have changed.
    void HostTurn();
    void CommitRetaining();
    void BindConnection();
    // False once the connection is no longer the run's (reported on the first call).
    bool ConnectionKept();
    bool Stopping() const;
    bool NodeExists(int nodeId);
    bool LinkExists(int parentId, int childId);
    std::vector<TChildRow> ReadUnvisitedChildren(int NodeId);

    TDatabase& db_;
    TReloadHost& host_;
    bool reloadAll_ = true;
    std::unordered_set<int> visited_;
    TReloadProgress progress_;
    bool topDownloaded_ = false;
    bool topFetched_ = false;
    std::string guideUrl_;  // the address of the guide the run started in
    bool connectionChanged_ = false;
    std::unordered_set<int> changedNodes_;
    // Nodes seen to exist since the host last had its turn (when it may delete them).
    std::unordered_set<int> knownNodes_;
    std::unique_ptr<TStatements> statements_;
    // The run's reader, told which pages the walk wants next.
    TDownload* ahead_ = nullptr;
    // The stamp each document had when its page was first wanted ahead.
    std::unordered_map<int, std::string> aheadStamps_;
    std::chrono::steady_clock::time_point lastPump_{};
    std::chrono::steady_clock::time_point lastHostTurn_{};
};
