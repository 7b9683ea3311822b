// Opening branches of the document tree when documents link back up the tree. A guide's
// pages often link to the guide itself or to a page above them; followed naively, such
// a branch never ends, and opening "everything below" (numpad *) would run until the
// memory is gone.
#pragma once

#include <vector>

class QTreeWidgetItem;

// An item whose document is already one of its ancestors: it is shown, but it offers no
// children (the same documents are open above it), and it says so in its tooltip and
// in grey italics.
void MarkLinkedAbove(QTreeWidgetItem* item);
bool IsLinkedAbove(const QTreeWidgetItem* item);

// The document ids of item and all its ancestors (0, the root's and the placeholders',
// left out); nodeIdOf reads an item's document id.
std::vector<int> IdsFromRoot(const QTreeWidgetItem* item, int (*nodeIdOf)(const QTreeWidgetItem*));

// The item reached from root by following the document ids in turn through items
// present in the tree (the first child with the id at each level); nullptr when the
// path is no longer there.
QTreeWidgetItem* FindByIds(QTreeWidgetItem* root, const std::vector<int>& ids,
                           int (*nodeIdOf)(const QTreeWidgetItem*));

// Expands item and, breadth first, every item below it that has children, each
// expansion loading its level as a user's would. Items linked above are not opened.
// Stops once maxItems items have been added below item, or when a stop signal
// (SIGINT, SIGTERM) arrives, so the window answers again soon whatever the branch
// looks like. Returns whether the whole branch was opened.
bool ExpandBranch(QTreeWidgetItem* item, int maxItems);
