// Drives modal windows from inside their own event loop: a step waits (with a bound)
// until a modal window of the wanted class is active, then acts on it.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

class TModalStep : public QObject {
    Q_OBJECT
public:
    // Starts waiting at once; the action runs at most once. Waiting ends after boundMs.
    TModalStep(std::function<bool(QWidget*)> matches, std::function<void(QWidget*)> action,
               int boundMs = 5000);

    bool Ran() const { return ran_; }
    bool TimedOut() const { return timedOut_; }

private:
    void Poll();

    std::function<bool(QWidget*)> matches_;
    std::function<void(QWidget*)> action_;
    int boundMs_;
    QTimer timer_;
    QElapsedTimer elapsed_;
    bool ran_ = false;
    bool timedOut_ = false;
};

// A step for the next active modal window of class T.
template <class T>
std::unique_ptr<TModalStep> WhenModal(std::function<void(T*)> action, int boundMs = 5000) {
    return std::make_unique<TModalStep>([](QWidget* w) { return qobject_cast<T*>(w) != nullptr; },
                                        [action](QWidget* w) { action(qobject_cast<T*>(w)); },
                                        boundMs);
}
