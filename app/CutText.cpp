#include "app/CutText.h"

#include <QEvent>
#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>
#include <QTreeView>
#include <algorithm>

QSize TElidedLabel::minimumSizeHint() const {
    // Any width will do: what does not fit is cut.
    return QSize(minimumWidth(), QLabel::minimumSizeHint().height());
}

void TElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
    style()->drawItemText(&painter, area, static_cast<int>(alignment()), palette(), isEnabled(),
                          shown, foregroundRole());
}

namespace {

class TCutTextToolTips : public QObject {
public:
    explicit TCutTextToolTips(QTreeView* tree) : QObject(tree), tree_(tree) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::ToolTip) return false;
        auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = tree_->indexAt(help->pos());
        if (!index.isValid()) {
            QToolTip::hideText();
            return true;
        }
        // The width the item needs against the width it has on screen.
        const QRect shown = tree_->visualRect(index);
        const int available =
            std::min(shown.right() + 1, tree_->viewport()->width()) - shown.left();
        const QSize needed =
            tree_->itemDelegateForIndex(index)->sizeHint(ViewOptions(index), index);
        if (needed.width() > available)
            QToolTip::showText(help->globalPos(), index.data(Qt::DisplayRole).toString(),
                               tree_->viewport(), shown);
        else
            QToolTip::hideText();
        return true;
    }

private:
    QStyleOptionViewItem ViewOptions(const QModelIndex& index) const {
        QStyleOptionViewItem option;
        option.initFrom(tree_);
        option.font = tree_->font();
        option.decorationSize = tree_->iconSize();
        option.features = QStyleOptionViewItem::HasDisplay;
        if (!index.data(Qt::DecorationRole).isNull())
            option.features |= QStyleOptionViewItem::HasDecoration;
        return option;
    }

    QTreeView* tree_;
};

}  // namespace

void InstallCutTextToolTips(QTreeView* tree) {
    tree->viewport()->installEventFilter(new TCutTextToolTips(tree));
}
