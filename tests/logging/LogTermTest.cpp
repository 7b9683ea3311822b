// The file logger that echoes into the log pane, set up as the main window sets it up.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QWidget>
#include <fstream>
#include <sstream>
#include <thread>

#include "logging/LogTerm.h"
#include "tests/logging/QtTestApp.h"
#include "tests/support/Files.h"

namespace {

class LogTermTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        path_ = dir_.path().toStdString() + "/wayfolio.log";
        // The window's stored settings.
        logger_->SetActive(false);
        logger_->SetAutoOpen(true);
        logger_->SetLogFlags({lfDivideNames, lfDivideChannels, lfAutoCR});
        logger_->SetMaxLineLength(0);
        logger_->SetLogFile("NUL");
        logger_->SetTerminal(pane_);
        logger_->SetTermChar(false);
        logger_->SetLogFile(path_);
    }

    bool PaneShows(const QStringList& lines) {
        bool ok = WaitUntil([&] { return pane_->Lines() == lines; });
        if (!ok) ADD_FAILURE() << pane_->Lines().join("|").toStdString();
        return ok;
    }

    QTemporaryDir dir_;
    std::string path_;
    std::unique_ptr<QWidget> window_ = std::make_unique<QWidget>();
    TTerminal* pane_ = new TTerminal(window_.get());
    TFileTermLogger* logger_ = new TFileTermLogger(window_.get());
};

TEST_F(LogTermTest, WindowSettingsGoThroughTheTeletypeToo) {
    logger_->WriteLog("", 1, "Downloading \"http://x/\"");
    logger_->WriteLog("", 3, "Operation aborted");
    EXPECT_EQ(ReadWholeFile(path_), "\r\nDownloading \"http://x/\"\r\n\r\nOperation aborted\r\n");
    PaneShows({"", "Downloading \"http://x/\"", "", "Operation aborted", ""});
}

TEST_F(LogTermTest, WithoutTermCharOrAutoCREachTextIsOneLine) {
    logger_->SetLogFlags({lfInsertChannel});
    logger_->WriteLog("", 1, "a");
    logger_->WriteLog("", 2, "b");
    EXPECT_EQ(ReadWholeFile(path_), "01) a02) b");
    PaneShows({"01) a", "02) b"});

    logger_->SetTermChar(true);
    logger_->WriteLog("", 2, "c\bC");
    PaneShows({"01) a", "02) b", "C"});
}

TEST_F(LogTermTest, PaneIsServedEvenWhenTheFileWriteFails) {
    logger_->SetLogFile("/dev/full");
    EXPECT_THROW(logger_->WriteLog("", 1, "shown"), EStreamError);
    PaneShows({"", "shown", ""});
}

TEST_F(LogTermTest, TextThatCannotOpenItsFileReachesNeitherFileNorPane) {
    logger_->SetLogFile(path_ + ".d/missing.log");
    EXPECT_THROW(logger_->WriteLog("", 1, "lost"), EStreamError);
    logger_->SetLogFile(path_);
    logger_->WriteLog("", 1, "kept");
    PaneShows({"", "kept", ""});
    EXPECT_EQ(ReadWholeFile(path_), "\r\nkept\r\n");
}

TEST_F(LogTermTest, WithoutAPaneOnlyTheFileIsWritten) {
    logger_->SetTerminal(nullptr);
    logger_->WriteLog("", 1, "file only");
    EXPECT_EQ(ReadWholeFile(path_), "\r\nfile only\r\n");
    // A pane destroyed without clearing Terminal is skipped (on the pane's thread).
    logger_->SetTerminal(pane_);
    delete pane_;
    logger_->WriteLog("", 1, "after");
    EXPECT_EQ(ReadWholeFile(path_), "\r\nfile only\r\nafter\r\n");
}

TEST_F(LogTermTest, ProducerThreadsFeedFileAndPaneInTheSameOrder) {
    pane_->SetMaxLines(50);
    constexpr int kThreads = 4, kCalls = 300;
    std::atomic<int> running{kThreads};
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t)
        producers.emplace_back([&, t] {
            for (int i = 0; i < kCalls; ++i)
                logger_->WriteLog("", static_cast<unsigned char>(t + 1),
                                  "t" + std::to_string(t) + " " + std::to_string(i));
            --running;
        });
    // This thread keeps drawing meanwhile, as the window's event loop would.
    EXPECT_TRUE(WaitUntil([&] { return running == 0; }, 30000));
    for (auto& p : producers) p.join();

    QStringList fileLines = QString::fromStdString(ReadWholeFile(path_)).split("\r\n");
    ASSERT_EQ(fileLines.size() - fileLines.count(""), kThreads * kCalls);
    const QStringList tail = fileLines.mid(fileLines.size() - 50);
    // The last batch may leave more than 50 lines until the next update trims them; an empty
    // text queued once the batch is shown forces that update.
    ASSERT_TRUE(WaitUntil([&] { return pane_->Lines().mid(pane_->Lines().size() - 50) == tail; }));
    pane_->AddText("");
    PaneShows(tail);
}

TEST_F(LogTermTest, WindowDestroyedWithTextQueuedShutsDownCleanly) {
    std::weak_ptr<TTerminalThread> thread = pane_->Thread();
    for (int i = 0; i < 50; ++i) logger_->WriteLog("", 1, "pending " + std::to_string(i));
    window_.reset();  // pane and logger go with their window, text still queued
    EXPECT_TRUE(WaitUntil([&] { return thread.expired(); }));
    EXPECT_NE(ReadWholeFile(path_).find("pending 49"), std::string::npos);
}

}  // namespace
