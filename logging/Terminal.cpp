#include "logging/Terminal.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <thread>

#include "text/ScopeExit.h"

QString Spaces(int n) {
    return n > 0 ? QString(n, QLatin1Char(' ')) : QString();
}

void TrimLines(const TTerminal* pane, QStringList& lines) {
    const qsizetype keep = pane->MaxLines() > 0 ? pane->MaxLines() : 0;
    if (lines.size() > keep) lines.erase(lines.begin(), lines.begin() + (lines.size() - keep));
}

// ---- TTerminalThread ----

TTerminalThread::TTerminalThread(TTerminal* terminal) : terminal_(terminal) {}

void TTerminalThread::Start() {
    std::thread([self = shared_from_this()] { self->Run(); }).detach();
}

void TTerminalThread::Run() {
    // One step above normal, so the pane keeps up with busy producers; an unprivileged
    // process may not raise it, and then the thread simply runs at normal priority.
    const id_t tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, tid);
    if (errno == 0) ::setpriority(PRIO_PROCESS, tid, nice - 1);

    std::unique_lock<std::mutex> lk(eventLock_);
    while (!terminated_) {
        wakeCond_.wait(lk, [this] { return signaled_ || terminated_; });
        if (terminated_) break;
        signaled_ = false;
        updateDone_ = false;
        // Posting under eventLock_ keeps it from racing Stop(): the pane is alive here, and a
        // call posted to it is discarded with it if it is destroyed before the call runs.
        // The call carries no data of ours; all state is handed over under our own locks.
        QMetaObject::invokeMethod(terminal_, "ApplyQueued", Qt::QueuedConnection);
        ++postedUpdates_;
        // The synchronous part: wait until the update has run or the pane has gone.
        doneCond_.wait(lk, [this] { return updateDone_ || terminated_; });
    }
}

void TTerminalThread::RunPostedUpdate() {
    try {
        UpdateTerminal();
    } catch (...) {
        // The pane raises nothing of its own; a failed update (out of memory) is dropped.
    }
    {
        std::lock_guard<std::mutex> lk(eventLock_);
        updateDone_ = true;
    }
    doneCond_.notify_one();
}

void TTerminalThread::Signal() {
    {
        std::lock_guard<std::mutex> lk(eventLock_);
        // Signalling a signalled event changes nothing; skipping the wake-up keeps busy
        // producers from waking the thread on every call.
        if (signaled_) return;
        signaled_ = true;
    }
    wakeCond_.notify_one();
}

void TTerminalThread::Stop() {
    {
        std::lock_guard<std::mutex> lk(eventLock_);
        terminated_ = true;
        terminal_ = nullptr;
    }
    wakeCond_.notify_one();
    doneCond_.notify_one();
}

void TTerminalThread::AddLine(QString line) {
    {
        std::lock_guard<std::mutex> lk(lock_);
        pendingLines_.append(std::move(line));
    }
    Signal();
}

void TTerminalThread::AddText(const QString& text) {
    {
        std::lock_guard<std::mutex> lk(lock_);
        pendingText_.append(text);
    }
    Signal();
}

void TTerminalThread::UpdateTerminal() {
    TTerminal* pane = terminal_;
    if (!pane) return;

    QStringList work = pane->Lines();
    const qsizetype shownBefore = work.size();
    {
        // Taking all queued lines at once is the same as moving them one by one, and holds
        // the lock for a single operation however many have piled up.
        std::lock_guard<std::mutex> lk(lock_);
        if (!pendingLines_.isEmpty()) {
            work.append(pendingLines_);
            pendingLines_.clear();
            pane->column_ = 0;
            lineAdded_ = true;
        }
    }
    const qsizetype beforeTrim = work.size();
    TrimLines(pane, work);
    const qsizetype dropped = std::min(beforeTrim - work.size(), shownBefore);

    QString chars;
    {
        std::lock_guard<std::mutex> lk(lock_);
        chars = pendingText_;  // shares the data; no copy
    }
    const qsizetype n = chars.size();
    if (n > 0) {
        if (lineAdded_) work.append(QString());
        lineAdded_ = false;
    }
    for (QChar ch : std::as_const(chars)) pane->PutChar(ch, work);
    {
        std::lock_guard<std::mutex> lk(lock_);
        if (pendingText_.size() == n)
            pendingText_.clear();
        else
            pendingText_.remove(0, n);
    }

    pane->ShowLines(work, dropped);
    pane->ensureCursorVisible();
}

// ---- TTerminal ----

TTerminal::TTerminal(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    // Nobody edits the pane, and an undo history of replaced log text is only memory.
    setUndoRedoEnabled(false);
    connect(document(), &QTextDocument::contentsChanged, this, [this] {
        if (!showing_) shownValid_ = false;
    });
    thread_ = std::make_shared<TTerminalThread>(this);
    thread_->Start();
}

TTerminal::~TTerminal() {
    thread_->Stop();
}

void TTerminal::ApplyQueued() {
    thread_->RunPostedUpdate();
}

QStringList TTerminal::Lines() const {
    if (shownValid_) return shown_;
    const QString text = toPlainText();
    if (text.isEmpty()) return {};
    return text.split(QLatin1Char('\n'));
}

void TTerminal::AddLine(const std::string& text) {
    thread_->AddLine(BytesToQString(text));
}

void TTerminal::AddText(const std::string& text) {
    thread_->AddText(BytesToQString(text));
}

void TTerminal::PutChar(QChar ch, QStringList& lines) {
    if (lines.isEmpty()) lines.append(QString());
    switch (ch.unicode()) {
        case 8:
            if (column_ > 0) --column_;
            break;
        case 10:
            lines.append(Spaces(column_));
            break;
        case 13:
            column_ = 0;
            break;
        default: {
            QString& s = lines.last();
            const qsizetype grow = static_cast<qsizetype>(column_) + 1 - s.size();
            if (grow > 0) s.append(Spaces(static_cast<int>(grow)));
            s[column_] = ch;
            ++column_;
        }
    }
}

void TTerminal::ShowLines(const QStringList& lines, qsizetype dropped) {
    // One repaint for the whole update, also when a step fails.
    const bool updating = updatesEnabled();
    setUpdatesEnabled(false);
    TScopeExit restoreUpdates([this, updating] { setUpdatesEnabled(updating); });

    if (!shownValid_ || lines != shown_) {
        showing_ = true;
        if (!ShowChangedLines(lines, dropped)) setPlainText(lines.join(QLatin1Char('\n')));
        showing_ = false;
        shown_ = lines;
        shownValid_ = true;
    }
    // The caret stands in the last line at Column (the line may be shorter after trimming).
    const QTextBlock last = document()->lastBlock();
    const int inLine = std::min(column_, std::max(0, last.length() - 1));
    const int pos = last.position() + inLine;
    QTextCursor cursor = textCursor();
    if (cursor.position() != pos || cursor.hasSelection()) {
        cursor.setPosition(pos);
        setTextCursor(cursor);
    }
}

bool TTerminal::ShowChangedLines(const QStringList& lines, qsizetype dropped) {
    // An update drops lines from the top, may change the last line shown and appends. Laying
    // out only those lines keeps the cost to what changed; anything else is shown anew.
    const qsizetype shown = shown_.size();
    const qsizetype kept = shown - dropped;
    if (!shownValid_ || dropped < 0 || kept < 1 || lines.size() < kept) return false;
    // When most of the pane changes (a large batch), showing it anew is cheaper.
    if (dropped + (lines.size() - kept) > kept) return false;
    // A line holding a line break of its own spans several blocks.
    if (document()->blockCount() != shown) return false;
    for (qsizetype i = 0; i + 1 < kept; ++i)
        if (lines[i] != shown_[dropped + i]) return false;

    // Positions come from the block list: moving the cursor by blocks would lay out every
    // block it passes.
    QTextCursor edit(document());
    edit.beginEditBlock();
    if (dropped > 0) {
        edit.setPosition(0);
        edit.setPosition(document()->findBlockByNumber(static_cast<int>(dropped)).position(),
                         QTextCursor::KeepAnchor);
        edit.removeSelectedText();
    }
    if (lines.size() > kept || lines[kept - 1] != shown_.last()) {
        const QTextBlock last = document()->lastBlock();
        edit.setPosition(last.position());
        edit.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
        edit.insertText(lines.mid(kept - 1).join(QLatin1Char('\n')));
    }
    edit.endEditBlock();
    return true;
}
