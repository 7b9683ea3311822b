#include "core/NodePath.h"

#include <algorithm>
#include <deque>
#include <map>

#include "store/Query.h"
#include "store/Statements.h"

std::vector<int> PathFromRoot(TDatabase& db, int nodeId) {
    // Walks upward breadth first, so links that go round in a circle end the walk
    // instead of the program.
    std::map<int, int> childOf{{nodeId, nodeId}};  // a node seen -> the node it was reached from
    std::deque<int> queue{nodeId};
    TQuery q(db);
    while (!queue.empty()) {
        const int current = queue.front();
        queue.pop_front();
        q.SetSQL(Statements::WithId(Statements::NodeParentsQuery, current));
        for (q.ExecQuery(); !q.Eof(); q.Next()) {
            const int parent = q.AsInteger(0);
            if (parent == 0) {
                std::vector<int> path;
                for (int id = current;; id = childOf[id]) {
                    path.push_back(id);
                    if (id == nodeId) break;
                }
                return path;
            }
            if (childOf.emplace(parent, current).second) queue.push_back(parent);
        }
        q.Close();
    }
    return {};
}

namespace {

bool ReadNode(TDatabase& db, int nodeId, std::string& url, std::string& guideType) {
    TQuery row(db);
    row.SetSQL(Statements::WithId(Statements::NodeRowQuery, nodeId));
    row.ExecQuery();
    if (row.Eof()) return false;
    url = row.AsText("ORIG_URL");
    guideType = row.AsText("GUIDE_TYPE");
    return true;
}

}  // namespace

std::string GuideUrl(TDatabase& db, int nodeId) {
    std::string url, guideType;
    if (!ReadNode(db, nodeId, url, guideType)) return {};
    const std::vector<int> path = PathFromRoot(db, nodeId);
    std::string topUrl, topType;
    if (!path.empty() && path.front() != nodeId && ReadNode(db, path.front(), topUrl, topType) &&
        topType == guideType)
        return topUrl;
    return url;
}
