#include "logging/LogTerm.h"

TFileTermLogger::TFileTermLogger(QObject* parent) : TFileLogger(parent) {}

void TFileTermLogger::WriteText(const std::string& text) {
    // Runs under the logger's lock and takes the pane's queue lock inside it, never the
    // other way round.
    if (TTerminal* pane = terminal_) {
        if (termChar_ || LogFlags().Contains(lfAutoCR))
            pane->AddText(text);
        else
            pane->AddLine(text);
    }
    TFileLogger::WriteText(text);
}
