// Shows which pane holds the keyboard focus. The tree draws its current item, but the
// document view and the log pane show nothing of their own once F6 takes the focus
// there; a frame in the highlight colour around the pane that holds it does.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class QWidget;

class TFocusMarker : public QObject {
    Q_OBJECT
public:
    // Marks whichever of panes holds the focus (the pane itself or a widget inside it).
    TFocusMarker(const QList<QWidget*>& panes, QObject* parent);

    // The pane framed now; nullptr when the focus is outside every pane.
    QWidget* Marked() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FocusChanged();

    QList<QPointer<QWidget>> panes_;
    QList<QPointer<QWidget>> frames_;  // one per pane, a child of it, over its contents
};
