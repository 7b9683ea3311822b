#include "ModalDriver.h"

#include <QApplication>

TModalStep::TModalStep(std::function<bool(QWidget*)> matches, std::function<void(QWidget*)> action,
                       int boundMs)
    : matches_(std::move(matches)), action_(std::move(action)), boundMs_(boundMs) {
    connect(&timer_, &QTimer::timeout, this, &TModalStep::Poll);
    timer_.start(5);
    elapsed_.start();
}

void TModalStep::Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal->isVisible() && matches_(modal)) {
        timer_.stop();
        ran_ = true;
        action_(modal);
        return;
    }
    if (elapsed_.elapsed() > boundMs_) {
        timer_.stop();
        timedOut_ = true;
        // Never leave a test hanging in a modal loop nobody will close.
        if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
    }
}
