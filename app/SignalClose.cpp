#include "app/SignalClose.h"

#include <QApplication>
#include <QSocketNotifier>

#include "core/StopSignals.h"

TSignalClose::TSignalClose(QObject* parent) : QObject(parent) {
    InstallStopSignals();
    if (StopSignalFd() < 0) return;  // no pipe: the signals then end the program by default
    notifier_ = new QSocketNotifier(StopSignalFd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [] {
        DrainStopSignalFd();
        QApplication::closeAllWindows();
    });
}
