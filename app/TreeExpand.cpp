#include "app/TreeExpand.h"

#include <QBrush>
#include <QFont>
#include <QPalette>
#include <QTreeWidgetItem>
#include <deque>

#include "core/StopSignals.h"

namespace {

constexpr int kLinkedAboveRole = Qt::UserRole + 2;

}  // namespace

void MarkLinkedAbove(QTreeWidgetItem* item) {
    item->setData(0, kLinkedAboveRole, true);
    item->setToolTip(0, item->text(0) + " (linked above: this document is already open higher "
                                        "up in this branch)");
    QFont font = item->font(0);
    font.setItalic(true);
    item->setFont(0, font);
    item->setForeground(0, QBrush(QPalette().color(QPalette::Disabled, QPalette::Text)));
}

bool IsLinkedAbove(const QTreeWidgetItem* item) {
    return item && item->data(0, kLinkedAboveRole).toBool();
}

std::vector<int> IdsFromRoot(const QTreeWidgetItem* item,
                             int (*nodeIdOf)(const QTreeWidgetItem*)) {
    std::vector<int> ids;
    for (; item; item = item->parent())
        if (const int id = nodeIdOf(item)) ids.insert(ids.begin(), id);
    return ids;
}

QTreeWidgetItem* FindByIds(QTreeWidgetItem* root, const std::vector<int>& ids,
                           int (*nodeIdOf)(const QTreeWidgetItem*)) {
    QTreeWidgetItem* item = root;
    for (int id : ids) {
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; item && i < item->childCount() && !next; ++i)
            if (nodeIdOf(item->child(i)) == id) next = item->child(i);
        if (!next) return nullptr;
        item = next;
    }
    return item;
}

bool ExpandBranch(QTreeWidgetItem* item, int maxItems) {
    // Breadth first, so that a limit reached leaves the upper levels open, which is what
    // the user looks at first. Expanding an item replaces only its own children; the
    // items queued are never among them.
    std::deque<QTreeWidgetItem*> pending{item};
    int added = 0;
    while (!pending.empty()) {
        if (StopSignal != 0) return false;
        QTreeWidgetItem* next = pending.front();
        pending.pop_front();
        if (IsLinkedAbove(next) || next->childCount() == 0) continue;
        if (added >= maxItems) return false;
        if (!next->isExpanded()) next->setExpanded(true);  // loads the level
        // A refused expansion (the database went away) leaves the item closed.
        if (!next->isExpanded()) continue;
        added += next->childCount();
        for (int i = 0; i < next->childCount(); ++i) pending.push_back(next->child(i));
    }
    return true;
}
