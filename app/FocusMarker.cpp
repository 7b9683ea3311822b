#include "app/FocusMarker.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QWidget>

namespace {

// Drawn over the pane: a frame only, transparent inside and to the mouse.
class TFocusFrame : public QWidget {
public:
    explicit TFocusFrame(QWidget* pane) : QWidget(pane) {
        setObjectName("FocusFrame");
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        QPen pen(palette().color(QPalette::Active, QPalette::Highlight), 2);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
};

}  // namespace

TFocusMarker::TFocusMarker(const QList<QWidget*>& panes, QObject* parent) : QObject(parent) {
    for (QWidget* pane : panes) {
        panes_ << pane;
        frames_ << new TFocusFrame(pane);
        pane->installEventFilter(this);  // to follow the pane's size
    }
    connect(qApp, &QApplication::focusChanged, this, [this] { FocusChanged(); });
}

QWidget* TFocusMarker::Marked() const {
    for (int i = 0; i < panes_.size(); ++i)
        if (frames_[i] && frames_[i]->isVisible()) return panes_[i];
    return nullptr;
}

void TFocusMarker::FocusChanged() {
    QWidget* focus = QApplication::focusWidget();
    for (int i = 0; i < panes_.size(); ++i) {
        QWidget* pane = panes_[i];
        QWidget* frame = frames_[i];
        if (!pane || !frame) continue;
        const bool has = focus && (focus == pane || pane->isAncestorOf(focus));
        if (has) {
            frame->setGeometry(pane->rect());
            frame->raise();
        }
        frame->setVisible(has);
    }
}

bool TFocusMarker::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize || event->type() == QEvent::ChildAdded) {
        for (int i = 0; i < panes_.size(); ++i)
            if (panes_[i] == watched && frames_[i] && frames_[i]->isVisible()) {
                frames_[i]->setGeometry(panes_[i]->rect());
                frames_[i]->raise();
            }
    }
    return QObject::eventFilter(watched, event);
}
