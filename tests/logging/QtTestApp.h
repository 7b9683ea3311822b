// A QApplication for the widget tests of one binary, and a bounded wait that keeps the event
// loop turning while it waits.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <thread>

class TQtAppEnvironment : public testing::Environment {
public:
    void SetUp() override {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = new QApplication(argc_, argv_);
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

private:
    int argc_ = 1;
    char name_[16] = "logging_test";
    char* argv_[2] = {name_, nullptr};
    QApplication* app_ = nullptr;
};

// Registered once per binary, however many test files include this.
inline testing::Environment* const kQtAppEnvironment =
    testing::AddGlobalTestEnvironment(new TQtAppEnvironment);

// Processes events until cond() holds; false when it still does not after timeoutMs.
template <class F>
bool WaitUntil(F cond, int timeoutMs = 10000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!cond()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::yield();
    }
    return true;
}
