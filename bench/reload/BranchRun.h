// A branch reload over a generated site, run and measured the same way by every
// benchmark here.
#pragma once

#include <string>

#include "core/Reload.h"

class TDatabase;
class TTransaction;

// The generated site's top page as a benchmark database holds it.
inline constexpr int GeneratedTopNode = 1000000;

// Stores TopUrl (a generated EzTrip site's top page) as the one top-level document of
// the fresh database db, node GeneratedTopNode, to be read with its content.
void SeedGeneratedSite(TDatabase& db, TTransaction& tr, const std::string& topUrl);

// What one run took.
struct TBranchRun {
    double Seconds = 0;
    TReloadProgress Progress;
    long StartMemoryKb = 0;  // this process's resident size when the run started
    long PeakMemoryKb = 0;   // and its peak during the run
};

// Reloads the whole branch below NodeId with every page downloaded again, as
// "Reload branch documents" does, under a host that keeps no log. The download
// settings are ProjIni's at the time of the call.
TBranchRun RunBranchReload(TDatabase& db, int nodeId = GeneratedTopNode);

// How many nodes the database holds.
int NodeCount(TDatabase& db);
