// A file logger that also shows every text it writes in a log pane.
#pragma once

#include <QPointer>

#include "logging/Connect.h"
#include "logging/Terminal.h"

// Writes each formatted text to the pane first (queued, shown at the pane's next update) and
// then to the file. With TermChar or lfAutoCR the text goes through the pane's teletype rules,
// otherwise it is one whole line. The pane is not owned; clear Terminal before destroying it
// if anything may still log (a destroyed pane is skipped on the user-interface thread).
class TFileTermLogger : public TFileLogger {
    Q_OBJECT
public:
    explicit TFileTermLogger(QObject* parent = nullptr);

    TTerminal* Terminal() const { return terminal_; }
    void SetTerminal(TTerminal* terminal) { terminal_ = terminal; }
    bool TermChar() const { return termChar_; }
    void SetTermChar(bool value) { termChar_ = value; }

protected:
    void WriteText(const std::string& text) override;

private:
    QPointer<TTerminal> terminal_;
    bool termChar_ = false;
};
