#include "bench/reload/BranchRun.h"

#include <chrono>

#include "bench/reload/PeakMemory.h"
#include "store/Database.h"
#include "store/Query.h"

namespace {

// The log would cost the run time a user does not pay in the same way (the window
// keeps a few lines, the command-line tool writes to a terminal).
class TQuietHost : public TReloadHost {
public:
    void ProcessMessages() override {}
    void WriteLog(unsigned char, const std::string&) override {}
};

}  // namespace

void SeedGeneratedSite(TDatabase& db, TTransaction& tr, const std::string& topUrl) {
    TQuery q(db);
    q.SetSQL(
        "INSERT INTO NODE(NODE_ID,TITLE,ORIG_URL,ORIG_ID,READ_CONTENT,GUIDE_TYPE) "
        "VALUES(:Id,'Generated guide',:Url,'destinationguide','Y','EZTRIP')");
    q.SetParam("Id", GeneratedTopNode);
    q.SetParam("Url", topUrl);
    q.ExecSQL();
    q.SetSQL("INSERT INTO MASTER_DETAIL VALUES (0, :Id, 1)");
    q.SetParam("Id", GeneratedTopNode);
    q.ExecSQL();
    tr.CommitRetaining();
}

TBranchRun RunBranchReload(TDatabase& db, int nodeId) {
    TBranchRun run;
    TQuietHost host;
    StopFlag = false;
    ResetPeakMemory();
    run.StartMemoryKb = PeakMemoryKb();
    {
        TReloadEngine engine(db, host);
        const auto start = std::chrono::steady_clock::now();
        engine.ReloadNodes(nodeId, false, 999, true);
        run.Seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        run.Progress = engine.Progress();
    }
    run.PeakMemoryKb = PeakMemoryKb();
    return run;
}

int NodeCount(TDatabase& db) {
    TQuery q(db);
    q.SetSQL("SELECT COUNT(*) FROM NODE");
    q.ExecQuery();
    return q.AsInteger(0);
}
