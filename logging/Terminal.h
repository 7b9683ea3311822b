// The log pane: a read-only, unwrapped text view showing the newest MaxLines lines of log
// output. Any thread may hand it whole lines (AddLine) or a character stream that it reads
// like a teletype (AddText): CR returns to column 0, LF moves down keeping the column, BS
// moves one column left, anything else is written at the column, overwriting.
//
// Handed text is only queued; the pane's own thread wakes up and applies everything queued
// in one update on the user-interface thread, so producers never wait for drawing.
#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "text/QtText.h"

class TTerminal;

// A string of n blanks; empty for n <= 0.
QString Spaces(int n);

// Deletes lines from the top of the list while it holds more than the pane's MaxLines
// (all of them when MaxLines is 0 or less).
void TrimLines(const TTerminal* pane, QStringList& lines);

// The pane's worker: owns the queue and wakes up to carry it onto the user-interface thread.
// It is shared between the pane and its running thread and released by whichever lets go
// last, so a pane may be destroyed at any moment: the worker then ends without another update
// and never touches the destroyed pane.
class TTerminalThread : public std::enable_shared_from_this<TTerminalThread> {
public:
    explicit TTerminalThread(TTerminal* terminal);
    TTerminalThread(const TTerminalThread&) = delete;
    TTerminalThread& operator=(const TTerminalThread&) = delete;

    // Starts the thread body; called once by the pane.
    void Start();
    // Marks the thread terminated and wakes it; it ends without another update. Once this
    // returns, no further update is handed to the user-interface thread.
    void Stop();

    // Queue a whole line / characters and wake the thread. Any thread; never blocks on drawing.
    void AddLine(QString line);
    void AddText(const QString& text);

    // Applies everything queued to the pane. User-interface thread only; a no-op once the pane
    // is gone.
    void UpdateTerminal();

    // How many updates the thread has handed to the user-interface thread so far.
    int PostedUpdates() const { return postedUpdates_.load(); }

private:
    friend class TTerminal;
    void Run();
    void Signal();
    // Runs on the user-interface thread for each handed-over update.
    void RunPostedUpdate();

    // The pane; read by the thread only under eventLock_ while not terminated (the pane's
    // destructor stops the thread first), otherwise only on the user-interface thread.
    TTerminal* terminal_;

    std::mutex lock_;  // guards pendingLines_ and pendingText_
    QStringList pendingLines_;
    QString pendingText_;

    // WakeEvent (manual reset) plus the thread's handshake with the user-interface thread.
    std::mutex eventLock_;
    std::condition_variable wakeCond_;  // signaled_ or terminated_
    std::condition_variable doneCond_;  // updateDone_ or terminated_
    bool signaled_ = false;
    bool terminated_ = false;
    bool updateDone_ = false;

    bool lineAdded_ = false;  // user-interface thread only
    std::atomic<int> postedUpdates_{0};
};

class TTerminal : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TTerminal(QWidget* parent = nullptr);
    // Stops the thread without waiting for it; text still queued is dropped.
    ~TTerminal() override;

    // Lines kept after trimming; a new value takes effect at the next update.
    int MaxLines() const { return maxLines_; }
    void SetMaxLines(int value) { maxLines_ = value; }
    // The teletype column in the last line (0-based).
    int Column() const { return column_; }
    // The displayed lines (an empty pane has none).
    QStringList Lines() const;

    // Any thread; returns at once.
    void AddLine(const std::string& text);
    void AddText(const std::string& text);

    std::shared_ptr<TTerminalThread> Thread() const { return thread_; }

protected:
    // Applies one character to the list by the teletype rules, reading and moving Column.
    virtual void PutChar(QChar ch, QStringList& lines);

private:
    friend class TTerminalThread;
    // The worker's update, run here on the user-interface thread.
    Q_INVOKABLE void ApplyQueued();
    // Shows the lines (when they differ) and puts the caret in the last line at Column;
    // `dropped` lines of the shown ones were trimmed from the top.
    void ShowLines(const QStringList& lines, qsizetype dropped);
    bool ShowChangedLines(const QStringList& lines, qsizetype dropped);

    int column_ = 0;
    int maxLines_ = 100;
    std::shared_ptr<TTerminalThread> thread_;
    // What ShowLines last displayed; valid until someone else edits the document.
    QStringList shown_;
    bool shownValid_ = true;
    bool showing_ = false;
};
