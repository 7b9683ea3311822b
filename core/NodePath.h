// A path through the document tree from the root to a document, for showing a
// document found by other means (a search) in its place in the tree.
#pragma once

#include <string>
#include <vector>

class TDatabase;

// The node ids from the top level down to nodeId (nodeId last; the root 0 is not
// included). A document linked under several parents gets one of its shortest paths.
// Empty when no chain of links leads from the root to it.
std::vector<int> PathFromRoot(TDatabase& db, int nodeId);

// The address of the guide a document belongs to: the ORIG_URL of the top-level
// document on its path from the root, when that guide has the document's guide type;
// otherwise (no path from the root, a guide of another type) the document's own
// ORIG_URL. Empty when the node has no row.
std::string GuideUrl(TDatabase& db, int nodeId);
