#include "core/PageCheck.h"

#include <map>
#include <memory>
#include <unordered_set>
#include <vector>

#include "core/NodeTree.h"
#include "core/Reload.h"
#include "download/wf_Download.h"
#include "store/Database.h"
#include "store/Query.h"
#include "store/Statements.h"

namespace {

// One open reader per guide type, closed when the check ends, also on error.
class TReaders {
public:
    ~TReaders() {
        for (auto& reader : readers_)
            if (reader.second) reader.second->Close();
    }
    TDownload* For(const std::string& guideType) {
        auto it = readers_.find(guideType);
        if (it == readers_.end()) {
            std::unique_ptr<TDownload> reader = CreateDownload(guideType);
            if (reader) reader->Open();
            it = readers_.emplace(guideType, std::move(reader)).first;
        }
        return it->second.get();
    }

private:
    std::map<std::string, std::unique_ptr<TDownload>> readers_;
};

struct TWalkEntry {
    int NodeId;
    int ParentId;
};

}  // namespace

bool CheckBranch(TDatabase& db, int nodeId, TReloadHost& host,
                 const std::function<void(const TPageCheck&)>& report) {
    TReaders readers;
    std::unordered_set<int> seen{nodeId};
    std::vector<TWalkEntry> stack{{nodeId, 0}};
    bool first = true;
    auto pushChildren = [&](int parent) {
        const std::vector<TChildNode> children = ReadChildren(db, parent);
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            if (seen.insert(it->NodeId).second) stack.push_back({it->NodeId, parent});
    };
    while (!stack.empty() && !StopFlag) {
        const TWalkEntry entry = stack.back();
        stack.pop_back();
        if (entry.NodeId == 0) {  // the root: no page of its own, the top level below it
            first = false;
            pushChildren(0);
            continue;
        }

        TPageCheck check;
        check.NodeId = entry.NodeId;
        {
            TQuery row(db);
            row.SetSQL(Statements::WithId(Statements::NodeRowQuery, entry.NodeId));
            row.ExecQuery();
            if (row.Eof()) {
                if (first) return false;
                continue;  // deleted meanwhile
            }
            check.Url = row.AsText("ORIG_URL");
            check.GuideType = row.AsText("GUIDE_TYPE");
        }
        first = false;

        if (TDownload* reader = readers.For(check.GuideType)) {
            bool arrived = false;
            reader->OnLog = [&host](const std::string& msg) { host.WriteLog(1, msg); };
            reader->OnContent = [&](const std::string&, const std::string& body, const std::string&,
                                    const std::string&, const std::string&, const std::string&,
                                    TDownloadHandle&) {
                arrived = true;
                check.BodyBytes = body.size();
            };
            // Links for the parent count only where a reload would store them: below
            // the document the check started from.
            reader->OnLink = [&](bool firstPass, const std::string&, const std::string&,
                                 const std::string&, int, TDownloadHandle& handle) {
                if (firstPass || handle.ParentId != 0) ++check.Links;
            };
            TDownloadHandle handle(entry.NodeId, entry.ParentId, check.GuideType);
            RunDownload(*reader, check.Url, handle);
            check.Result = !arrived             ? TPageCheck::prFailed
                           : handle.LayoutKnown ? TPageCheck::prRecognised
                                                : TPageCheck::prUnrecognised;
        } else {
            check.Result = TPageCheck::prNoReader;
        }
        report(check);
        host.ProcessMessages();

        pushChildren(entry.NodeId);
    }
    return true;
}
