// Reading and changing the document tree in the database, for whoever shows it.
#pragma once

#include <string>
#include <vector>

class TDatabase;

struct TChildNode {
    int NodeId = 0;
    std::string Title;
    bool HasChildren = false;  // whether listing this node's children would find one
};

// The children of a node in tree order (ORDER_, then TITLE); 0 lists the top level.
// Two statements however many children there are: the list, and which of them
// have children of their own.
std::vector<TChildNode> ReadChildren(TDatabase& db, int nodeId);

// Whether the node has at least one child document.
bool HasChildren(TDatabase& db, int nodeId);

// The node's ORIG_URL; empty when the node has no row.
std::string ReadOrigUrl(TDatabase& db, int nodeId);

// The node's TITLE; false when the node has no row.
bool ReadTitle(TDatabase& db, int nodeId, std::string& title);

// Deletes the node's row and commits; its links go as the schema decides.
void DeleteNodeRow(TDatabase& db, int nodeId);
