#include "bench/reload/CommitCost.h"

#include <chrono>

#include "core/Reload.h"
#include "samples/SamplePages.h"
#include "store/Database.h"
#include "store/Query.h"
#include "store/Statements.h"

double TCommitCost::RunSeconds(const TReloadProgress& progress, int nodeInserts) const {
    const int contentUpdates = progress.Commits - progress.Links - nodeInserts;
    return nodeInserts * Node + progress.Links * Link + contentUpdates * Content;
}

TCommitCost MeasureCommitCost(TDatabase& db, TTransaction& tr, const std::string& siteUrl,
                              int samples) {
    using TClock = std::chrono::steady_clock;
    TClock::duration node{}, link{}, content{}, small{};
    auto timedCommit = [&](TClock::duration& total) {
        const auto start = TClock::now();
        tr.CommitRetaining();
        total += TClock::now() - start;
    };
    TQuery nodeQuery(db), linkQuery(db), contentQuery(db), smallQuery(db);
    nodeQuery.SetSQL(std::string(Statements::InsertNode));
    linkQuery.SetSQL(std::string(Statements::InsertLink));
    contentQuery.SetSQL(std::string(Statements::UpdateNodeContent));
    // The top-level link of the one document a benchmark database starts with.
    smallQuery.SetSQL("UPDATE MASTER_DETAIL SET ORDER_=:O WHERE MASTER_ID=0");
    const auto guide = SamplePages::TSyntheticGuide::sgEzTrip;
    for (int i = 0; i < samples; ++i) {
        const std::string name = "extra" + std::to_string(i);
        nodeQuery.SetParam("Title", name);
        nodeQuery.SetParam("OrigUrl", siteUrl + name);
        nodeQuery.SetParam("OrigId", name);
        nodeQuery.SetParam("Guide", std::string("EZTRIP"));
        nodeQuery.ExecSQL();
        timedCommit(node);
        linkQuery.SetParam("Order", i);
        linkQuery.SetParam("MId", -1);
        linkQuery.SetParam("DId", i + 1);
        linkQuery.ExecSQL();
        timedCommit(link);
        contentQuery.SetParam("NodeId", i + 1);
        contentQuery.SetParam("Title", name);
        contentQuery.SetParam("Body", SamplePages::SyntheticBody(guide, i + 1));
        contentQuery.SetParam("Head", std::string());
        contentQuery.SetParam("Encoding", std::string("iso-8859-1"));
        contentQuery.ExecSQL();
        timedCommit(content);
        smallQuery.SetParam("O", i);
        smallQuery.ExecSQL();
        timedCommit(small);
    }
    auto perCommit = [samples](TClock::duration total) {
        return std::chrono::duration<double>(total).count() / samples;
    };
    return {perCommit(node), perCommit(link), perCommit(content), perCommit(small)};
}
