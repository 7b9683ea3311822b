// The dialogs need a QApplication for the whole run; gtest_main provides main(), so
// the application lives in a global test environment.
#include <gtest/gtest.h>

#include <QApplication>
#include <memory>

namespace {

class TQtAppEnvironment : public testing::Environment {
public:
    void SetUp() override {
        // Real widgets, but never on the user's display.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc_, argv_);
        QApplication::setApplicationName(QStringLiteral("Wayfolio"));
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[16] = "dialogs_test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] testing::Environment* const qtEnvironment =
    testing::AddGlobalTestEnvironment(new TQtAppEnvironment);

}  // namespace
