// A path through the document tree from the root to a document, for showing a
// document found by other means (a search) in its place in the tree.
#pragma once

#include <vector>

class TDatabase;

// The node ids from the top level down to nodeId (nodeId last; the root 0 is not
// included). A document linked under several parents gets one of its shortest paths.
// Empty when no chain of links leads from the root to it.
std::vector<int> PathFromRoot(TDatabase& db, int nodeId);
