#include "logging/Terminal.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QScrollBar>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>
#include <thread>

QString BytesToQString(const std::string& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (!utf8.hasError()) return text;
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString Spaces(int n) { return n > 0 ? QString(n, QLatin1Char(' ')) : QString(); }

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
        eventCond_.wait(lk, [this] { return signaled_ || terminated_; });
        if (terminated_) break;
        signaled_ = false;
        updateDone_ = false;
        // Posting under eventLock_ keeps it from racing Stop(): the pane is alive here, and a
        // call posted to it is discarded with it if it is destroyed before the call runs.
        QMetaObject::invokeMethod(
            terminal_, [self = shared_from_this()] { self->RunPostedUpdate(); },
            Qt::QueuedConnection);
        ++postedUpdates_;
        // The synchronous part: wait until the update has run or the pane has gone.
        eventCond_.wait(lk, [this] { return updateDone_ || terminated_; });
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
    eventCond_.notify_all();
}

void TTerminalThread::Signal() {
    {
        std::lock_guard<std::mutex> lk(eventLock_);
        signaled_ = true;
    }
    eventCond_.notify_all();
}

void TTerminalThread::Stop() {
    {
        std::lock_guard<std::mutex> lk(eventLock_);
        terminated_ = true;
        terminal_ = nullptr;
    }
    eventCond_.notify_all();
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
    TrimLines(pane, work);

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

    pane->ShowLines(work);
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

TTerminal::~TTerminal() { thread_->Stop(); }

QStringList TTerminal::Lines() const {
    if (shownValid_) return shown_;
    const QString text = toPlainText();
    if (text.isEmpty()) return {};
    return text.split(QLatin1Char('\n'));
}

void TTerminal::AddLine(const std::string& text) { thread_->AddLine(BytesToQString(text)); }

void TTerminal::AddText(const std::string& text) { thread_->AddText(BytesToQString(text)); }

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

void TTerminal::ShowLines(const QStringList& lines) {
    // One repaint for the whole update, also when a step fails.
    struct TUpdateBracket {
        QWidget* w;
        bool was;
        explicit TUpdateBracket(QWidget* widget) : w(widget), was(widget->updatesEnabled()) {
            w->setUpdatesEnabled(false);
        }
        ~TUpdateBracket() { w->setUpdatesEnabled(was); }
    } bracket(this);

    if (!shownValid_ || lines != shown_) {
        showing_ = true;
        setPlainText(lines.join(QLatin1Char('\n')));
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
