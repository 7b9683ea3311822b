// Trying a page reader on one document: the page is downloaded and read exactly as a
// reload of that document would read it, and what a reload would store is handed back
// instead of being written. The database is only read.
#pragma once

#include <string>
#include <vector>

#include "core/PageCheck.h"

class TDatabase;
class TReloadHost;

// One link the reader reported, in the order it reported them.
struct TTriedLink {
    bool FirstPass = true;  // true: a child of the page; false: of the page's parent
    int Order = 0;
    std::string Title;
    std::string Url;
    std::string OrigId;
};

struct TReaderTrial {
    enum TResult {
        trRecognised,    // the page arrived and reads as its document was read before
        trUnrecognised,  // the page arrived and was not recognised (see Verdict)
        trFailed,        // the page did not arrive (the reason went to the log)
        trNoReader,      // no page reader serves the document's guide type
    };
    int NodeId = 0;
    std::string Url;
    std::string GuideType;
    TResult Result = trFailed;
    TPageVerdict Verdict = pvRecognised;  // why an arrived page was not recognised
    // The content as delivered (raw bytes) and whether a reload would keep the stored
    // one instead (the document's READ_CONTENT is "N").
    std::string Title, Body, Head, Encoding;
    bool ContentKept = false;
    std::vector<TTriedLink> Links;
    // The document as the view would show it after the reload: the stored row with
    // the delivered title (the stored one when none), body, head and character set
    // where a reload would store them, composed through the document's "DEFAULT"
    // template. Empty unless the page arrived.
    std::string View;
};

// Tries the reader of node nodeId's guide type on its page. The reader logs through
// the host (channel 1), which also gets its turn while the page travels; StopFlag
// abandons the transfer, which then counts as failed. Returns false when the node has
// no row (node 0 included). Database errors and errors the reader raises propagate;
// the reader is closed on every path.
bool TryReader(TDatabase& db, int nodeId, TReloadHost& host, TReaderTrial& trial);
