#include "core/NodeTree.h"

#include <optional>
#include <unordered_set>

#include "store/OneValue.h"
#include "store/Query.h"
#include "store/Statements.h"

std::vector<TChildNode> ReadChildren(TDatabase& db, int nodeId) {
    std::vector<TChildNode> children;
    TQuery q(db);
    q.SetSQL(Statements::WithId(Statements::ChildNodesQuery, nodeId));
    q.ExecQuery();
    if (q.Eof()) return children;
    const int idColumn = q.FieldIndex("NODE_ID");
    const int titleColumn = q.FieldIndex("TITLE");
    for (; !q.Eof(); q.Next())
        children.push_back({q.AsInteger(idColumn), q.AsText(titleColumn), false});

    std::unordered_set<int> parents;
    q.SetSQL(Statements::WithId(Statements::ChildrenWithChildrenQuery, nodeId));
    for (q.ExecQuery(); !q.Eof(); q.Next()) parents.insert(q.AsInteger(0));
    for (auto& child : children) child.HasChildren = parents.count(child.NodeId) > 0;
    return children;
}

bool HasChildren(TDatabase& db, int nodeId) {
    return HasAnyRow(db, Statements::WithId(Statements::ChildNodesQuery, nodeId));
}

std::string ReadOrigUrl(TDatabase& db, int nodeId) {
    return OneText(db, Statements::WithId(Statements::NodeByIdQuery, nodeId), "ORIG_URL")
        .value_or(std::string());
}

bool ReadTitle(TDatabase& db, int nodeId, std::string& title) {
    std::optional<std::string> found =
        OneText(db, Statements::WithId(Statements::NodeRowQuery, nodeId), "TITLE");
    if (!found) return false;
    title = std::move(*found);
    return true;
}

void DeleteNodeRow(TDatabase& db, int nodeId) {
    TQuery q(db);
    q.SetSQL(Statements::WithId(Statements::DeleteNode, nodeId));
    q.ExecSQL();
    db.DefaultTransaction()->CommitRetaining();
}
