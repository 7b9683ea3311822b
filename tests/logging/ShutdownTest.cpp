// The whole program's shut-down order with an update of the log pane still in flight: the
// window goes, then the application object. Its own binary, as it ends the application.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QWidget>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "logging/LogTerm.h"

namespace {

// Turns a hang into a failure: aborts the process unless disarmed in time.
class TWatchdog {
public:
    explicit TWatchdog(int seconds)
        : thread_([this, seconds] {
              std::unique_lock<std::mutex> lk(m_);
              if (!cv_.wait_for(lk, std::chrono::seconds(seconds), [this] { return done_; })) {
                  std::fprintf(stderr, "shut-down hangs\n");
                  std::abort();
              }
          }) {}
    ~TWatchdog() {
        {
            std::lock_guard<std::mutex> lk(m_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

TEST(LogPaneShutdown, WindowThenApplicationWithAnUpdateInFlight) {
    TWatchdog watchdog(30);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "shutdown_test";
    char* argv[] = {name, nullptr};
    auto app = std::make_unique<QApplication>(argc, argv);

    auto window = std::make_unique<QWidget>();
    auto* pane = new TTerminal(window.get());
    auto* logger = new TFileTermLogger(window.get());
    logger->SetAutoOpen(true);
    logger->SetLogFlags({lfDivideNames, lfDivideChannels, lfAutoCR});
    logger->SetLogFile("NUL");
    logger->SetTerminal(pane);
    std::shared_ptr<TTerminalThread> thread = pane->Thread();

    logger->WriteLog("", 1, "last words");
    QDeadlineTimer deadline(10000);
    while (thread->PostedUpdates() == 0 && !deadline.hasExpired()) std::this_thread::yield();
    ASSERT_EQ(thread->PostedUpdates(), 1);

    window.reset();
    app.reset();
    std::weak_ptr<TTerminalThread> weak = thread;
    thread.reset();
    deadline = QDeadlineTimer(10000);
    while (!weak.expired() && !deadline.hasExpired()) std::this_thread::yield();
    EXPECT_TRUE(weak.expired());
}

}  // namespace
