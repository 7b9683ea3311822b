#include "core/PageCheck.h"

#include <map>
#include <memory>
#include <unordered_set>
#include <vector>

#include "core/NodePath.h"
#include "core/NodeTree.h"
#include "core/Reload.h"
#include "download/wf_Download.h"
#include "script/ReaderCatalogue.h"
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
            std::unique_ptr<TDownload> reader = CreateReader(guideType);
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
    std::string GuideUrl;  // the address of the guide the document lies in
};

}  // namespace

TPageVerdict JudgePage(bool layoutKnown, bool bodyDelivered, int pageLinks, bool storedBody,
                       const std::function<bool()>& storedChildren) {
    if (!layoutKnown) return pvUnknownLayout;
    if (!bodyDelivered && storedBody) return pvLostBody;
    if (pageLinks == 0 && storedChildren()) return pvLostLinks;
    return pvRecognised;
}

bool CheckBranch(TDatabase& db, int nodeId, TReloadHost& host,
                 const std::function<void(const TPageCheck&)>& report) {
    TReaders readers;
    std::unordered_set<int> seen{nodeId};
    std::vector<TWalkEntry> stack{{nodeId, 0, nodeId != 0 ? GuideUrl(db, nodeId) : std::string()}};
    bool first = true;
    // A top-level document is its own guide; any other lies in its parent's.
    auto pushChildren = [&](int parent, const std::string& guideUrl) {
        const std::vector<TChildNode> children = ReadChildren(db, parent);
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            if (seen.insert(it->NodeId).second)
                stack.push_back({it->NodeId, parent, parent != 0 ? guideUrl : std::string()});
    };
    while (!stack.empty() && !StopFlag) {
        const TWalkEntry entry = stack.back();
        stack.pop_back();
        if (entry.NodeId == 0) {  // the root: no page of its own, the top level below it
            first = false;
            pushChildren(0, {});
            continue;
        }

        TPageCheck check;
        check.NodeId = entry.NodeId;
        bool storedBody = false;
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
            storedBody = HasBody(row.AsText("BODY"));
        }
        first = false;

        if (TDownload* reader = readers.For(check.GuideType)) {
            bool arrived = false;
            bool bodyDelivered = false;
            int pageLinks = 0;
            reader->OnLog = [&host](const std::string& msg) { host.WriteLog(1, msg); };
            // A stalled page gives way to Ctrl+C and Stop like a reload's does.
            reader->OnIdle = [&host] {
                host.ProcessMessages();
                return !StopFlag;
            };
            reader->OnContent = [&](const std::string&, const std::string& body, const std::string&,
                                    const std::string&, const std::string&, const std::string&,
                                    TDownloadHandle&) {
                arrived = true;
                check.BodyBytes = body.size();
                bodyDelivered = HasBody(body);
            };
            // Links for the parent count only where a reload would store them: below
            // the document the check started from.
            reader->OnLink = [&](bool firstPass, const std::string&, const std::string&,
                                 const std::string&, int, TDownloadHandle& handle) {
                if (firstPass) ++pageLinks;
                if (firstPass || handle.ParentId != 0) ++check.Links;
            };
            TDownloadHandle handle(entry.NodeId, entry.ParentId, check.GuideType);
            handle.TopUrl = entry.GuideUrl.empty() ? check.Url : entry.GuideUrl;
            RunDownload(*reader, check.Url, handle);
            if (!arrived) {
                check.Result = TPageCheck::prFailed;
            } else {
                check.Verdict =
                    JudgePage(handle.LayoutKnown, bodyDelivered, pageLinks, storedBody,
                              [&] { return HasChildren(db, entry.NodeId); });
                check.Result = check.Verdict == pvRecognised ? TPageCheck::prRecognised
                                                             : TPageCheck::prUnrecognised;
            }
        } else {
            check.Result = TPageCheck::prNoReader;
        }
        report(check);
        host.ProcessMessages();

        pushChildren(entry.NodeId, entry.GuideUrl.empty() ? check.Url : entry.GuideUrl);
    }
    return true;
}
