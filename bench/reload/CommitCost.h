// What one commit retaining costs on a database, timed alone, for the floor a branch
// reload cannot beat: it commits after every write.
#pragma once

#include <string>

class TDatabase;
class TTransaction;
struct TReloadProgress;

// Seconds per commit after each kind of write a run makes, with the run's own
// statements, and after the smallest write (one column of one row) for comparison.
struct TCommitCost {
    double Node = 0;     // a new node
    double Link = 0;     // a new link
    double Content = 0;  // a document's content
    double Small = 0;    // one column of one row

    // The commits of a run that inserted NodeInserts nodes, weighted by kind: its
    // links, and the rest of its commits taken as content updates.
    double RunSeconds(const TReloadProgress& progress, int nodeInserts) const;
};

// Times Samples commits of each kind on db (tr its default transaction). The writes
// stay: new nodes named after SiteUrl, and links and contents for the nodes 1 to
// Samples, which must exist (a run over a generated site creates them), and the
// order of the top-level link.
TCommitCost MeasureCommitCost(TDatabase& db, TTransaction& tr, const std::string& siteUrl,
                              int samples = 200);
