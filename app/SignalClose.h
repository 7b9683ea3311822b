// The window's side of SIGINT and SIGTERM: the program ends as when the user closes it.
#pragma once

#include <QObject>

class QSocketNotifier;

// Installs the stop-signal handlers (StopSignals.h) and watches their pipe from the
// event loop. On a signal every window is closed, modal dialogs first, exactly as the
// user would close them: the main window stops a run going on, and once the event loop
// ends the database is closed and the temporary file removed. One per program.
class TSignalClose : public QObject {
    Q_OBJECT
public:
    explicit TSignalClose(QObject* parent = nullptr);

private:
    QSocketNotifier* notifier_ = nullptr;
};
