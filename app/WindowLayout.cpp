#include "app/WindowLayout.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QPointer>
#include <QSettings>
#include <QSplitter>
#include <QTimer>
#include <QWidget>

namespace {

// Maximises the window again when the platform has replaced its native window and the
// replacement came up in the normal state. A state change that follows soon after a
// replacement is the platform's doing; later ones are the user's and are left alone.
class TKeepMaximized : public QObject {
public:
    explicit TKeepMaximized(QWidget* window) : QObject(window), window_(window) {
        settle_.setSingleShot(true);
        settle_.setInterval(3000);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && window_->isVisible()) {
            if (event->type() == QEvent::WinIdChange) {
                settle_.start();
                Check();
            } else if (event->type() == QEvent::WindowStateChange && settle_.isActive()) {
                Check();
            } else if (event->type() == QEvent::Resize && settle_.isActive()) {
                // The replacement's first frames are not always redrawn at the new size.
                QTimer::singleShot(0, window_, [w = window_] {
                    if (w) w->update();
                });
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void Check() {
        QTimer::singleShot(0, this, [this] {
            if (window_ && settle_.isActive() && !(window_->windowState() & Qt::WindowMaximized))
                window_->setWindowState(window_->windowState() | Qt::WindowMaximized);
        });
    }

    QPointer<QWidget> window_;
    QTimer settle_;
};

}  // namespace

void ShowMaximized(QWidget* window) {
    window->installEventFilter(new TKeepMaximized(window));
    window->showMaximized();
}

QString LayoutFileName() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + "/.local/state";
    return base + "/wayfolio/window.ini";
}

void ShowWithLayout(QWidget* window, const QList<QSplitter*>& splitters) {
    QSettings kept(LayoutFileName(), QSettings::IniFormat);
    for (int i = 0; i < splitters.size(); ++i) {
        const QByteArray state = kept.value(QString("Window/Splitter%1").arg(i)).toByteArray();
        if (!state.isEmpty()) splitters[i]->restoreState(state);
    }
    const QByteArray geometry = kept.value("Window/Geometry").toByteArray();
    if (geometry.isEmpty() || !window->restoreGeometry(geometry) ||
        (window->windowState() & Qt::WindowMaximized))
        ShowMaximized(window);
    else
        window->show();
}

void SaveLayout(const QWidget* window, const QList<QSplitter*>& splitters) {
    const QString name = LayoutFileName();
    QDir().mkpath(QFileInfo(name).path());
    QSettings kept(name, QSettings::IniFormat);
    kept.setValue("Window/Geometry", window->saveGeometry());
    for (int i = 0; i < splitters.size(); ++i)
        kept.setValue(QString("Window/Splitter%1").arg(i), splitters[i]->saveState());
    kept.sync();
}
