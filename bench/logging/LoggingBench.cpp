// The main window's logger under load: WriteLog through the window's settings into a real file
// with the log pane attached, and the cost of one pane update against MaxLines and history.
//
//   build/bench/logging/logging_bench            (QT_QPA_PLATFORM defaults to offscreen)
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <QTemporaryDir>
#include <memory>
#include <string>

#include "logging/LogTerm.h"

namespace {

struct TWindow {
    QTemporaryDir dir;
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    TTerminal* log = new TTerminal(window.get());
    TFileTermLogger* logger = new TFileTermLogger(window.get());

    explicit TWindow(int maxLines) {
        log->SetMaxLines(maxLines);
        logger->SetAutoOpen(true);
        logger->SetLogFlags({lfDivideNames, lfDivideChannels, lfAutoCR});
        logger->SetMaxLineLength(0);
        logger->SetTerminal(log);
        logger->SetLogFile(dir.path().toStdString() + "/wayfolio.log");
    }
    // Lets the pane apply whatever is queued.
    void Drain() {
        for (int i = 0; i < 3; ++i) {
            log->AddText("");
            log->Thread()->UpdateTerminal();
            QCoreApplication::processEvents();
        }
    }
};

const std::string kText = "Downloading \"http://www.eztrip.example/guides/europe/italy/rome.html\"";

// 100,000 calls; the event loop runs every `pumpEvery` calls, as a reload pumps messages after
// each document (0: never during the run, everything is applied in one update at the end).
void BM_WriteLogWithPane(benchmark::State& state) {
    const int pumpEvery = static_cast<int>(state.range(0));
    constexpr int kCalls = 100000;
    for (auto _ : state) {
        TWindow w(100);
        for (int i = 0; i < kCalls; ++i) {
            w.logger->WriteLog("", (i % 50 == 49) ? 3 : 1, kText);
            if (pumpEvery && i % pumpEvery == 0) QCoreApplication::processEvents();
        }
        w.Drain();
        benchmark::DoNotOptimize(w.log->Lines().size());
        state.PauseTiming();
        w.window.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kCalls);
}
BENCHMARK(BM_WriteLogWithPane)
    ->Arg(100)
    ->Arg(10)
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

// One update applying 10 new lines, with MaxLines and the amount logged before as parameters.
void BM_PaneUpdate(benchmark::State& state) {
    const int maxLines = static_cast<int>(state.range(0));
    const int history = static_cast<int>(state.range(1));
    TWindow w(maxLines);
    for (int i = 0; i < history; ++i) w.log->AddText(kText + "\r\n");
    w.Drain();
    std::string batch;
    for (int i = 0; i < 10; ++i) batch += kText + "\r\n";
    for (auto _ : state) {
        w.log->AddText(batch);
        w.log->Thread()->UpdateTerminal();
    }
    QCoreApplication::processEvents();
}
BENCHMARK(BM_PaneUpdate)
    ->Args({100, 0})
    ->Args({100, 100000})
    ->Args({1000, 0})
    ->Args({1000, 100000})
    ->Args({10000, 0})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
