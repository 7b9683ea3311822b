// The status bar's part of a reload run: a busy bar with how many documents are done
// and the address being fetched, and a Stop button beside it. Hidden between runs.
#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <string>

class QAction;
class QLabel;
class QProgressBar;
class QToolButton;
struct TReloadProgress;

class TRunProgress : public QWidget {
    Q_OBJECT
public:
    // stop is the window's Stop action; the button triggers it.
    explicit TRunProgress(QAction* stop, QWidget* parent = nullptr);

    // A run begins: the bar shows, counting from nothing. Runs started from inside a
    // run (the window stays usable) nest; the bar hides when the outermost one ends.
    void Begin();
    // The run's counts and the address of the document it is on. Shown at most ten
    // times a second (the first time at once): a run of small pages reports far more
    // often than anybody reads, and every new text lays the status bar out again.
    // Returns whether it showed them.
    bool Show(const TReloadProgress& progress);
    void End();
    bool Running() const { return depth_ > 0; }

    QProgressBar* Bar = nullptr;
    QLabel* Text = nullptr;
    QToolButton* StopButton = nullptr;

private:
    int depth_ = 0;
    QElapsedTimer shown_;  // since the counts were last shown; invalid before
};
