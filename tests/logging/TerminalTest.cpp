// The log pane through its real thread: text is queued, the thread hands the update to this
// (the user-interface) thread, and WaitUntil turns the event loop until it has been applied.
#include <gtest/gtest.h>

#include <QScrollBar>
#include <QTextBlock>
#include <memory>

#include "logging/Terminal.h"
#include "tests/logging/QtTestApp.h"

namespace {

using Lines = QStringList;

class TerminalTest : public testing::Test {
protected:
    // Waits until the pane shows exactly these lines.
    void ExpectLines(const Lines& expected) {
        EXPECT_TRUE(WaitUntil([&] { return pane_->Lines() == expected; }))
            << pane_->Lines().join("|").toStdString();
        EXPECT_EQ(pane_->toPlainText(), expected.join('\n'));
    }

    std::unique_ptr<TTerminal> pane_ = std::make_unique<TTerminal>();
};

TEST_F(TerminalTest, IsAReadOnlyUnwrappedViewOfAHundredLines) {
    EXPECT_TRUE(pane_->isReadOnly());
    EXPECT_EQ(pane_->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(pane_->MaxLines(), 100);
    EXPECT_TRUE(pane_->Lines().isEmpty());
}

TEST_F(TerminalTest, CarriageReturnAndLineFeed) {
    pane_->AddText("abc\r\nde");
    ExpectLines({"abc", "de"});
    EXPECT_EQ(pane_->Column(), 2);
    // The caret stands in the last line at the column: 7 characters in, counting CR LF.
    const QTextCursor caret = pane_->textCursor();
    EXPECT_EQ(caret.blockNumber(), 1);
    EXPECT_EQ(caret.positionInBlock(), 2);
    EXPECT_FALSE(caret.hasSelection());
    EXPECT_EQ(pane_->Lines()[0].size() + 2 + pane_->Column(), 7);
}

TEST_F(TerminalTest, LineFeedKeepsTheColumn) {
    pane_->AddText("abc\nx");
    ExpectLines({"abc", "   x"});
}

TEST_F(TerminalTest, BackspaceAndCarriageReturnOverwrite) {
    pane_->AddText("abc\bX");
    ExpectLines({"abX"});
    pane_->AddText("\r\nabcdef\rXY");
    ExpectLines({"abX", "XYcdef"});
    EXPECT_EQ(pane_->Column(), 2);
    pane_->AddText("\b\b\b\bq\tz");  // BS stops at column 0; TAB is written like a letter
    ExpectLines({"abX", "q\tzdef"});
}

TEST_F(TerminalTest, CharactersAfterWholeLinesStartANewLine) {
    pane_->AddLine("one");
    pane_->AddLine("two");
    ExpectLines({"one", "two"});
    pane_->AddText("x");
    ExpectLines({"one", "two", "x"});
    pane_->AddText("y");  // continues the character line
    ExpectLines({"one", "two", "xy"});
}

TEST_F(TerminalTest, WholeLinesAreTrimmedToMaxLines) {
    pane_->SetMaxLines(3);
    for (const char* line : {"0", "1", "2", "3", "4"}) pane_->AddLine(line);
    ExpectLines({"2", "3", "4"});
    EXPECT_EQ(pane_->Column(), 0);
}

TEST_F(TerminalTest, TrimmingHappensBeforeTheBatchIsApplied) {
    pane_->SetMaxLines(2);
    pane_->AddText("a\r\nb\r\nc\r\nd\r\n");
    ExpectLines({"a", "b", "c", "d", ""});
    pane_->AddText("e\r\n");
    ExpectLines({"d", "e", ""});
}

TEST_F(TerminalTest, MaxLinesZeroKeepsOnlyTheBatchButTheColumnSurvives) {
    pane_->SetMaxLines(0);
    pane_->AddText("abc");
    ExpectLines({"abc"});
    pane_->AddText("d");
    ExpectLines({"   d"});
}

TEST_F(TerminalTest, ALaterMaxLinesAppliesAtTheNextUpdate) {
    for (const char* line : {"0", "1", "2", "3"}) pane_->AddLine(line);
    ExpectLines({"0", "1", "2", "3"});
    pane_->SetMaxLines(2);
    EXPECT_EQ(pane_->Lines().size(), 4);
    pane_->AddLine("4");
    ExpectLines({"3", "4"});
}

TEST_F(TerminalTest, UpdatesOneByOneKeepTheNewestLines) {
    pane_->SetMaxLines(4);
    Lines all;
    for (int i = 0; i < 12; ++i) {
        pane_->AddText("line " + std::to_string(i) + "\r\n");
        all << QString("line %1").arg(i);
        Lines expected = all;
        expected << "";
        ExpectLines(expected.mid(std::max<qsizetype>(0, expected.size() - 4 - 1)));
    }
    pane_->AddText("\bpartial");  // overwrites nothing: the line in progress is empty
    ExpectLines({"line 9", "line 10", "line 11", "partial"});
}

TEST_F(TerminalTest, ALineHoldingALineBreakIsShownAndTrimmedWhole) {
    pane_->SetMaxLines(3);
    pane_->AddLine("a\nb");
    ExpectLines({"a\nb"});
    pane_->AddLine("c");
    ExpectLines({"a\nb", "c"});
    pane_->AddLine("d");
    ExpectLines({"a\nb", "c", "d"});
    pane_->AddLine("e");
    ExpectLines({"c", "d", "e"});
}

TEST_F(TerminalTest, TextClearedByTheWindowIsNotBroughtBack) {
    pane_->AddLine("old");
    ExpectLines({"old"});
    pane_->clear();
    pane_->AddLine("new");
    ExpectLines({"new"});
}

TEST_F(TerminalTest, NewestLineStaysInView) {
    pane_->resize(300, 120);
    pane_->show();
    std::string text;
    for (int i = 0; i < 60; ++i) text += "line " + std::to_string(i) + "\r\n";
    pane_->AddText(text + "last");
    ASSERT_TRUE(WaitUntil([&] { return pane_->Lines().size() == 61; }));
    EXPECT_GT(pane_->verticalScrollBar()->maximum(), 0);  // the text is taller than the view
    EXPECT_TRUE(WaitUntil([&] { return pane_->viewport()->rect().contains(pane_->cursorRect()); }));
    EXPECT_EQ(pane_->textCursor().blockNumber(), 60);
}

TEST_F(TerminalTest, ProducersOnOtherThreadsAreAllApplied) {
    pane_->SetMaxLines(1000);
    constexpr int kThreads = 4, kLines = 200;
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t)
        producers.emplace_back([this, t] {
            for (int i = 0; i < kLines; ++i)
                pane_->AddLine("t" + std::to_string(t) + " " + std::to_string(i));
        });
    EXPECT_TRUE(WaitUntil([&] { return pane_->Lines().size() == kThreads * kLines; }));
    for (auto& p : producers) p.join();
    // Each producer's lines in its own order.
    std::vector<int> next(kThreads, 0);
    for (const QString& line : pane_->Lines()) {
        int t = line.mid(1, 1).toInt();
        EXPECT_EQ(line, QString("t%1 %2").arg(t).arg(next[t]));
        ++next[t];
    }
}

TEST(TerminalText, BytesDecodeAsUtf8WhenValidElseLatin1) {
    EXPECT_EQ(BytesToQString("caf\xC3\xA9"), QString::fromUtf8("caf\xC3\xA9"));
    EXPECT_EQ(BytesToQString("caf\xE9"), QString("caf") + QChar(0xE9));
    EXPECT_EQ(BytesToQString("\xEF\xBB\xBFx").size(), 2);  // a BOM is text like any other
    EXPECT_EQ(BytesToQString(std::string("a\0b", 3)).size(), 3);
    EXPECT_EQ(Spaces(3), "   ");
    EXPECT_TRUE(Spaces(0).isEmpty());
    EXPECT_TRUE(Spaces(-2).isEmpty());
}

// ---- destroying the pane ----

TEST(TerminalShutdown, DestroyedWithTextQueuedTheThreadEndsWithoutApplyingIt) {
    auto pane = std::make_unique<TTerminal>();
    std::weak_ptr<TTerminalThread> thread = pane->Thread();
    for (int i = 0; i < 100; ++i) pane->AddText("queued\r\n");
    pane.reset();  // before the event loop had a chance to apply anything
    EXPECT_TRUE(WaitUntil([&] { return thread.expired(); }));
}

TEST(TerminalShutdown, DestroyedWhileAnUpdateIsHandedOverTheUpdateNeverRuns) {
    auto pane = std::make_unique<TTerminal>();
    std::shared_ptr<TTerminalThread> thread = pane->Thread();
    pane->AddText("pending");
    // The thread has posted the update and now waits for this thread; nothing pumps events.
    QDeadlineTimer deadline(10000);
    while (thread->PostedUpdates() == 0 && !deadline.hasExpired()) std::this_thread::yield();
    ASSERT_EQ(thread->PostedUpdates(), 1);
    pane.reset();
    thread->UpdateTerminal();  // an update arriving late finds no pane and touches nothing
    std::weak_ptr<TTerminalThread> weak = thread;
    thread.reset();
    EXPECT_TRUE(WaitUntil([&] { return weak.expired(); }));
}

TEST(TerminalShutdown, DestroyedWhileProducersAreStillWriting) {
    auto pane = std::make_unique<TTerminal>();
    std::weak_ptr<TTerminalThread> weak = pane->Thread();
    std::shared_ptr<TTerminalThread> queue = pane->Thread();
    std::atomic<bool> stop{false};
    // Producers that hold the queue itself (not the pane) may outlive the pane.
    std::thread producer([&] {
        while (!stop) queue->AddText(QStringLiteral("x\r\n"));
    });
    EXPECT_TRUE(WaitUntil([&] { return pane->Lines().size() > 10; }));
    pane.reset();
    stop = true;
    producer.join();
    queue.reset();
    EXPECT_TRUE(WaitUntil([&] { return weak.expired(); }));
}

}  // namespace
