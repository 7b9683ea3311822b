// Text that does not fit its place: cut with "..." and shown whole on request.
#pragma once

#include <QLabel>

class QTreeView;

// A label that draws its text cut with "..." when it is wider than the label, instead of
// clipping it; text() stays the whole text. For the status bar's hint panel.
class TElidedLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Makes the tree show an item's whole text as a tool tip when the view cuts it.
void InstallCutTextToolTips(QTreeView* tree);
