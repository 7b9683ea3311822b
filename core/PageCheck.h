// Checking that the page readers still recognise their sites: a branch's pages are
// downloaded and read as a reload would read them, and nothing is stored.
#pragma once

#include <functional>
#include <string>

class TDatabase;
class TReloadHost;

// What reading one document's page gave.
struct TPageCheck {
    enum TResult {
        prRecognised,    // the page arrived and its reader knew its layout
        prUnrecognised,  // the page arrived in a layout its reader did not know
        prFailed,        // the page did not arrive (the reason went to the log)
        prNoReader,      // no page reader serves the document's guide type
    };
    int NodeId = 0;
    std::string Url;
    std::string GuideType;
    TResult Result = prFailed;
    std::size_t BodyBytes = 0;  // the body a reload would store
    int Links = 0;              // the links a reload would store
};

// Downloads the page of nodeId and of every document below it (tree order, each
// once), reads each with the reader of its guide type and reports it; writes nothing
// to the database. Readers log through the host (channel 1), which also gets its turn
// after each document; StopFlag ends the walk. Node 0 checks every document. Returns
// false when nodeId has no row.
bool CheckBranch(TDatabase& db, int nodeId, TReloadHost& host,
                 const std::function<void(const TPageCheck&)>& report);
