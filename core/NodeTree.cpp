#include "core/NodeTree.h"

#include <unordered_set>

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
    TQuery q(db);
    q.SetSQL(Statements::WithId(Statements::ChildNodesQuery, nodeId));
    q.ExecQuery();
    return !q.Eof();
}

std::string ReadOrigUrl(TDatabase& db, int nodeId) {
    TQuery q(db);
    q.SetSQL(Statements::WithId(Statements::NodeByIdQuery, nodeId));
    q.ExecQuery();
    return q.Eof() ? std::string() : q.AsText("ORIG_URL");
}

bool ReadTitle(TDatabase& db, int nodeId, std::string& title) {
    TQuery q(db);
    q.SetSQL(Statements::WithId(Statements::NodeRowQuery, nodeId));
    q.ExecQuery();
    if (q.Eof()) return false;
    title = q.AsText("TITLE");
    return true;
}

void DeleteNodeRow(TDatabase& db, int nodeId) {
    TQuery q(db);
    q.SetSQL(Statements::WithId(Statements::DeleteNode, nodeId));
    q.ExecSQL();
    db.DefaultTransaction()->CommitRetaining();
}
