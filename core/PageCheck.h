// Checking that the page readers still recognise their sites: a branch's pages are
// downloaded and read as a reload would read them, and nothing is stored.
#pragma once

#include <functional>
#include <string>

class TDatabase;
class TReloadHost;

// Whether a page that arrived still reads as its document was read before. A reader
// that finds its outer markers but not the box inside them (the commonest redesign)
// says it knows the layout and delivers nothing, so what the page gave is also
// weighed against what is stored: an empty body where a body is stored, or no link
// of the page's own where the document has children, is a page not recognised. In a
// tree the program grew, a document's first child comes from its own page (pages
// below report links for their parent only once they were reached through one), so
// stored children mean the page used to yield links.
enum TPageVerdict {
    pvRecognised,
    pvUnknownLayout,  // the reader did not know the page's layout
    pvLostBody,       // an empty body where the stored one is not
    pvLostLinks,      // no links of its own where the document has children
};
// storedChildren is asked only when the verdict depends on it.
TPageVerdict JudgePage(bool layoutKnown, bool bodyDelivered, int pageLinks, bool storedBody,
                       const std::function<bool()>& storedChildren);

// What reading one document's page gave.
struct TPageCheck {
    enum TResult {
        prRecognised,    // the page arrived and its reader knew its layout
        prUnrecognised,  // the page arrived and was not recognised (see Verdict)
        prFailed,        // the page did not arrive (the reason went to the log)
        prNoReader,      // no page reader serves the document's guide type
    };
    int NodeId = 0;
    std::string Url;
    std::string GuideType;
    TResult Result = prFailed;
    std::size_t BodyBytes = 0;  // the body a reload would store
    int Links = 0;              // the links a reload would store
    TPageVerdict Verdict = pvRecognised;  // why an arrived page was not recognised
};

// Downloads the page of nodeId and of every document below it (tree order, each
// once), reads each with the reader of its guide type and reports it; writes nothing
// to the database. Readers log through the host (channel 1), which also gets its turn
// after each document; StopFlag ends the walk. Node 0 checks every document. Returns
// false when nodeId has no row.
bool CheckBranch(TDatabase& db, int nodeId, TReloadHost& host,
                 const std::function<void(const TPageCheck&)>& report);
