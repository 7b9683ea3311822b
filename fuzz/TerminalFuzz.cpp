// The log pane's teletype rules on arbitrary text: carriage returns, line feeds and
// backspaces in any order keep the column inside the line it points into, and the
// pane never holds more than its MaxLines lines.
#include <fuzzer/FuzzedDataProvider.h>

#include <QApplication>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzCheck.h"
#include "logging/Terminal.h"
#include "text/QtText.h"

namespace {

class TProbe : public TTerminal {
public:
    using TTerminal::PutChar;
};

// One pane for all inputs: a pane starts a thread, too slow to make per input. Both
// live until the process ends: libFuzzer leaves through exit(), where tearing down the
// application after the fact crashes inside Qt.
QApplication* App = nullptr;
TProbe* Pane = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    App = new QApplication(*argc, *argv);
    Pane = new TProbe;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    TProbe& pane = *Pane;
    QStringList lines;
    pane.PutChar(QLatin1Char('\r'), lines);  // column 0, as a new pane starts
    lines.clear();
    pane.SetMaxLines(in.ConsumeIntegralInRange(-1, 50));
    const QString text = BytesToQString(in.ConsumeRandomLengthString(4096));
    for (QChar ch : text) {
        pane.PutChar(ch, lines);
        FUZZ_CHECK(pane.Column() >= 0 && !lines.isEmpty());
        FUZZ_CHECK(pane.Column() <= lines.last().size());
    }
    TrimLines(&pane, lines);
    FUZZ_CHECK(pane.MaxLines() <= 0 ? lines.isEmpty() : lines.size() <= pane.MaxLines());

    // Through the queue: an update trims to MaxLines before it applies the text, so
    // the pane holds at most the line feeds of that text more.
    const std::string queued = in.ConsumeRemainingBytesAsString();
    pane.AddText(queued);
    pane.Thread()->UpdateTerminal();
    const qsizetype feeds = static_cast<qsizetype>(std::count(queued.begin(), queued.end(), '\n'));
    FUZZ_CHECK(pane.MaxLines() <= 0 || pane.Lines().size() <= pane.MaxLines() + feeds + 1);
    return 0;
}
