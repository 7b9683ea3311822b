// Logger components against real files: every call goes through an AutoOpen file logger, so
// the formatter's memory is also shown to survive the close and reopen around each call.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <climits>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "logging/Connect.h"
#include "tests/support/Files.h"

namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Descriptors of this process that refer to path.
int OpenDescriptors(const std::string& path) {
    int count = 0;
    const auto target = std::filesystem::weakly_canonical(path);
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        auto link = std::filesystem::read_symlink(e.path(), ec);
        if (!ec && link == target) ++count;
    }
    return count;
}

const TLogFormatFlags kWindowFlags{lfDivideNames, lfDivideChannels, lfAutoCR};

class LoggerTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        path_ = Path("test.log");
        logger_.SetLogFile(path_);
        logger_.SetAutoOpen(true);
        RecordEvents(logger_);
    }

    std::string Path(const std::string& name) const {
        return dir_.path().toStdString() + "/" + name;
    }

    void RecordEvents(TConnection& c) {
        c.SetBeforeOpen([this](TConnection*) { events_.push_back("BeforeOpen"); });
        c.SetAfterOpen([this](TConnection*) { events_.push_back("AfterOpen"); });
        c.SetBeforeClose([this](TConnection*) { events_.push_back("BeforeClose"); });
        c.SetAfterClose([this](TConnection*) { events_.push_back("AfterClose"); });
    }

    // What one call appended to the log file.
    std::string Log(const std::string& name, unsigned char channel, const std::string& text) {
        logger_.WriteLog(name, channel, text);
        std::string all = ReadWholeFile(path_);
        std::string added = all.substr(std::min(seen_, all.size()));
        seen_ = all.size();
        return added;
    }

    QTemporaryDir dir_;
    std::string path_;
    size_t seen_ = 0;
    TFileLogger logger_;
    std::vector<std::string> events_;
};

const std::vector<std::string> kOneCall{"BeforeOpen", "AfterOpen", "BeforeClose", "AfterClose"};

// ---- the formatter ----

TEST(LogFormatFlags, DefaultsAndStoredByte) {
    EXPECT_EQ(DefaultLogFlags.ToByte(), 47);
    EXPECT_EQ(TLogFormatFlags({lfAutoCR}).ToByte(), 128);
    EXPECT_EQ(TLogFormatFlags::FromByte(0x2F), DefaultLogFlags);
    EXPECT_TRUE(kWindowFlags.Contains(lfDivideChannels));
    EXPECT_FALSE(kWindowFlags.Contains(lfInsertName));

    TFileLogger fresh;
    EXPECT_EQ(fresh.LogFlags(), DefaultLogFlags);
    EXPECT_EQ(fresh.MaxLineLength(), 80);
    EXPECT_FALSE(fresh.Active());
    EXPECT_FALSE(fresh.AutoOpen());
    EXPECT_EQ(fresh.LogFile(), "");
    EXPECT_EQ(fresh.LastChannel(), 0);
    EXPECT_EQ(fresh.Column(), 0);
}

TEST_F(LoggerTest, WindowSettingsSeparateChannelsByAnEmptyLine) {
    logger_.SetLogFlags(kWindowFlags);
    logger_.SetMaxLineLength(0);
    EXPECT_EQ(Log("", 1, "abc"), "\r\nabc\r\n");
    EXPECT_EQ(Log("", 1, "de"), "de\r\n");
    EXPECT_EQ(Log("", 3, "x"), "\r\nx\r\n");
    EXPECT_EQ(Log("", 1, ""), "\r\n");  // moves to channel 1 without a divide
    EXPECT_EQ(Log("", 1, "y"), "y\r\n");
}

TEST_F(LoggerTest, DefaultFlagsDumpHexWithNameAndChannelPrefixes) {
    EXPECT_EQ(Log("", 1, "AB"), "\r\n-01)41 42 ");
    EXPECT_EQ(Log("", 1, "C"), "43 ");  // same name and channel continue the line
    EXPECT_EQ(Log("net", 2, "D"), "\r\nnet-02)44 ");
    EXPECT_EQ(Log("NET", 2, "E"), "\r\nNET-02)45 ");  // names compare case-sensitively
}

TEST_F(LoggerTest, ChannelTagsAppearInlineWithoutDivides) {
    logger_.SetLogFlags({lfInsertChannel});
    EXPECT_EQ(Log("", 1, "a"), "01) a");
    EXPECT_EQ(Log("", 2, "b"), "02) b");
    EXPECT_EQ(Log("", 2, "c"), "c");
    EXPECT_EQ(Log("", 10, "d"), "0A) d");
}

TEST_F(LoggerTest, WrappingCountsThePrefixes) {
    logger_.SetLogFlags({lfInsertName, lfInsertChannel});
    logger_.SetMaxLineLength(9);
    EXPECT_EQ(Log("db", 1, "012345678"),
              "db-01) 01\r\ndb-01) 23\r\ndb-01) 45\r\ndb-01) 67\r\ndb-01) 8");
}

TEST_F(LoggerTest, SixtyBytesInHexWrapAfterEightyTwoCharacters) {
    std::string text(60, 'Z');
    std::string triples26, triples8;
    for (int i = 0; i < 26; ++i) triples26 += "5A ";
    for (int i = 0; i < 8; ++i) triples8 += "5A ";
    EXPECT_EQ(Log("", 1, text),
              "\r\n-01)" + triples26 + "\r\n-01)" + triples26 + "\r\n-01)" + triples8);
}

TEST_F(LoggerTest, LineBreaksInsideTheTextAreCopiedAndCounted) {
    logger_.SetLogFlags({});
    logger_.SetMaxLineLength(5);
    EXPECT_EQ(Log("", 0, "ab\r\ncd"), "ab\r\nc\r\nd");
    logger_.SetLogFlags({lfHexadecimal});
    EXPECT_EQ(Log("", 0, "\r\n"), "0D 0A ");
}

TEST_F(LoggerTest, ALineFilledExactlyBreaksBeforeTheNextCall) {
    logger_.SetLogFlags({lfInsertChannel, lfDivideChannels});
    logger_.SetMaxLineLength(6);
    EXPECT_EQ(Log("", 0, "ab"), "00) ab");
    EXPECT_EQ(Log("", 0, "c"), "\r\n00) c");
    EXPECT_EQ(Log("", 0, "def"), "d\r\n00) ef");
    // The line is full again; the divide writes the one break, the full line no second one.
    EXPECT_EQ(Log("", 1, "g"), "\r\n01) g");
}

TEST_F(LoggerTest, StampBeginsEachLine) {
    logger_.SetLogFlags({lfStamp, lfInsertChannel, lfDivideChannels, lfAutoCR});
    auto stamp = [] {
        std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char buf[128];
        return std::string(buf, std::strftime(buf, sizeof buf, "%x %X", &local));
    };
    std::string before = stamp();
    std::string out = Log("", 1, "a");
    std::string after = stamp();
    EXPECT_TRUE(out == "\r\n" + before + ")01) a\r\n" || out == "\r\n" + after + ")01) a\r\n")
        << out;
}

TEST_F(LoggerTest, DivideStreamHandlerStartsLines) {
    logger_.SetLogFlags({lfDivideStream});
    std::vector<int> positions;
    logger_.SetOnDivideStream([&](QObject* sender, const std::string&, unsigned char, std::string&,
                                  int& I, bool& divide) {
        EXPECT_EQ(sender, &logger_);
        positions.push_back(I);
        divide = true;
    });
    EXPECT_EQ(Log("", 0, "abc"), "\r\na\r\nb\r\nc");
    EXPECT_EQ(positions, (std::vector<int>{1, 2, 3}));

    // A handler that cuts the text short ends the call cleanly.
    logger_.SetOnDivideStream(
        [](QObject*, const std::string&, unsigned char, std::string& text, int& I, bool&) {
            if (I == 2) text.resize(1);
        });
    EXPECT_EQ(Log("", 0, "xyz"), "x");
}

TEST_F(LoggerTest, EmptyTextOnlyMovesTheMemory) {
    logger_.SetLogFlags({lfInsertName, lfDivideNames, lfDivideChannels});
    EXPECT_EQ(Log("a", 5, ""), "");
    EXPECT_EQ(logger_.LastLogName(), "a");
    EXPECT_EQ(logger_.LastChannel(), 5);
    EXPECT_EQ(Log("a", 5, "x"), "a-x");  // no divide: name and channel already match
}

// ---- opening, closing, the file ----

TEST_F(LoggerTest, AutoOpenOpensAndClosesAroundEveryCall) {
    WriteFile(path_, "old");
    logger_.SetLogFlags(kWindowFlags);
    logger_.SetBeforeClose([&](TConnection* c) {
        events_.push_back("BeforeClose");
        EXPECT_EQ(c, &logger_);
        EXPECT_EQ(OpenDescriptors(path_), 1);  // open exactly inside the call
    });
    logger_.WriteLog("", 1, "a");
    EXPECT_EQ(events_, kOneCall);
    EXPECT_FALSE(logger_.Active());
    EXPECT_EQ(OpenDescriptors(path_), 0);
    logger_.WriteLog("", 1, "b");
    EXPECT_EQ(events_.size(), 8u);
    EXPECT_EQ(ReadWholeFile(path_), "old\r\na\r\nb\r\n");
}

TEST_F(LoggerTest, MissingFileIsCreated) {
    ASSERT_FALSE(std::filesystem::exists(path_));
    logger_.WriteLog("", 0, "x");
    EXPECT_EQ(ReadWholeFile(path_), "-00)78 ");  // channel 0 and name "" are no change: no divide
}

TEST_F(LoggerTest, OpenLoggerKeepsItsFileBetweenCalls) {
    logger_.SetAutoOpen(false);
    logger_.Open();
    logger_.SetLogFlags({});
    events_.clear();
    logger_.WriteLog("", 0, "a");
    logger_.WriteLog("", 0, "b");
    EXPECT_TRUE(events_.empty());
    EXPECT_EQ(OpenDescriptors(path_), 1);
    EXPECT_EQ(ReadWholeFile(path_), "ab");
}

TEST_F(LoggerTest, ClosedLoggerWithoutAutoOpenDropsCalls) {
    logger_.SetAutoOpen(false);
    bool asked = false;
    logger_.SetAcceptChannel(
        [&](QObject*, const std::string&, unsigned char, bool&) { asked = true; });
    EXPECT_NO_THROW(logger_.WriteLog("", 1, "a"));
    EXPECT_FALSE(asked);
    EXPECT_TRUE(events_.empty());
    EXPECT_FALSE(std::filesystem::exists(path_));
    WriteLog(nullptr, "", 1, "absent logger");  // tolerated
}

TEST_F(LoggerTest, AcceptChannelSuppressesCallsEntirely) {
    logger_.SetLogFlags(kWindowFlags);
    logger_.SetAcceptChannel(
        [&](QObject* sender, const std::string& name, unsigned char channel, bool& accept) {
            EXPECT_EQ(sender, &logger_);
            EXPECT_TRUE(accept);
            EXPECT_EQ(name, "n");
            if (channel == 3) accept = false;
        });
    EXPECT_EQ(Log("n", 1, "a"), "\r\na\r\n");
    events_.clear();
    EXPECT_EQ(Log("n", 3, "x"), "");
    EXPECT_TRUE(events_.empty());
    EXPECT_EQ(logger_.LastChannel(), 1);
    EXPECT_EQ(Log("n", 1, "b"), "b\r\n");  // no divide: the memory never saw channel 3
}

TEST_F(LoggerTest, AutoOpenCannotChangeWhileOpen) {
    logger_.Open();
    try {
        logger_.SetAutoOpen(false);
        FAIL() << "no error";
    } catch (const EConnectError& e) {
        EXPECT_STREQ(e.what(), "Connection is active");
    }
    EXPECT_TRUE(logger_.AutoOpen());
}

TEST_F(LoggerTest, ChangingLogFile) {
    logger_.SetAutoOpen(false);
    logger_.SetLogFlags({});
    logger_.Open();
    events_.clear();
    logger_.SetLogFile(path_);  // the same name: nothing happens
    EXPECT_TRUE(events_.empty());

    const std::string other = Path("other.log");
    logger_.SetLogFile(other);  // reopens on the new file, no close events
    EXPECT_EQ(events_, (std::vector<std::string>{"BeforeOpen", "AfterOpen"}));
    EXPECT_EQ(OpenDescriptors(path_), 0);
    logger_.WriteLog("", 0, "x");
    EXPECT_EQ(ReadWholeFile(other), "x");

    events_.clear();
    logger_.SetLogFile("");  // closes and stays closed
    EXPECT_FALSE(logger_.Active());
    EXPECT_TRUE(events_.empty());
    EXPECT_EQ(OpenDescriptors(other), 0);
}

TEST_F(LoggerTest, UnopenableFileFailsTheCallAndTheNextCallTriesAgain) {
    const std::string missingDir = Path("later");
    logger_.SetLogFile(missingDir + "/x.log");
    try {
        logger_.WriteLog("", 1, "lost");
        FAIL() << "no error";
    } catch (const EStreamError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + missingDir + "/x.log");
    }
    EXPECT_FALSE(logger_.Active());
    EXPECT_EQ(events_, (std::vector<std::string>{"BeforeOpen"}));

    std::filesystem::create_directory(missingDir);
    logger_.SetLogFlags({});
    logger_.WriteLog("", 1, "kept");
    EXPECT_EQ(ReadWholeFile(missingDir + "/x.log"), "kept");

    logger_.SetLogFile(dir_.path().toStdString());  // a directory exists but cannot be written
    EXPECT_THROW(
        {
            try {
                logger_.WriteLog("", 1, "lost");
            } catch (const EStreamError& e) {
                EXPECT_EQ(std::string(e.what()), "Cannot open file " + dir_.path().toStdString());
                throw;
            }
        },
        EStreamError);
}

TEST_F(LoggerTest, WriteErrorClosesTheLoggerBeforeReachingTheCaller) {
    logger_.SetLogFile("/dev/full");
    try {
        logger_.WriteLog("", 1, "x");
        FAIL() << "no error";
    } catch (const EStreamError& e) {
        EXPECT_STREQ(e.what(), "Stream write error");
    }
    EXPECT_EQ(events_, kOneCall);
    EXPECT_FALSE(logger_.Active());
}

TEST_F(LoggerTest, FailingEventHandlersLeaveTheLoggerClosedAndUnlocked) {
    bool refuse = true;
    logger_.SetBeforeClose([&](TConnection*) {
        if (refuse) {
            refuse = false;
            throw std::runtime_error("close refused");
        }
    });
    EXPECT_THROW(logger_.WriteLog("", 1, "a"), std::runtime_error);
    EXPECT_FALSE(logger_.Active());
    EXPECT_EQ(OpenDescriptors(path_), 0);

    logger_.SetAfterOpen([](TConnection*) { throw std::runtime_error("open refused"); });
    EXPECT_THROW(logger_.WriteLog("", 1, "b"), std::runtime_error);
    EXPECT_FALSE(logger_.Active());
    EXPECT_EQ(ReadWholeFile(path_), "\r\n-01)61 ");  // "b" was never written

    // The lock was released: another thread can log.
    logger_.SetAfterOpen(nullptr);
    std::thread([&] { logger_.WriteLog("", 1, "c"); }).join();
    EXPECT_EQ(ReadWholeFile(path_), "\r\n-01)61 63 ");
}

TEST_F(LoggerTest, NulIsTheNullDevice) {
    const bool existed = std::filesystem::exists("NUL");
    logger_.SetLogFile("NUL");
    EXPECT_NO_THROW(logger_.WriteLog("", 1, "discarded"));
    EXPECT_EQ(events_, kOneCall);
    EXPECT_EQ(std::filesystem::exists("NUL"), existed);
}

TEST_F(LoggerTest, PipesAndTerminalsAreWrittenAtTheirEnd) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    logger_.SetLogFile("/dev/fd/" + std::to_string(fds[1]));
    logger_.SetLogFlags({lfAutoCR});
    logger_.WriteLog("", 0, "to the pipe");
    close(fds[1]);
    char buf[64];
    ssize_t n = read(fds[0], buf, sizeof buf);
    close(fds[0]);
    EXPECT_EQ(std::string(buf, n > 0 ? size_t(n) : 0), "to the pipe\r\n");
}

TEST_F(LoggerTest, StoredSettingsOpenOnlyWhenLoaded) {
    TFileLogger stored;
    RecordEvents(stored);
    stored.BeginLoading();
    stored.SetActive(true);
    stored.SetLogFile(path_);
    EXPECT_FALSE(stored.Active());
    EXPECT_TRUE(events_.empty());
    stored.Loaded();
    EXPECT_TRUE(stored.Active());
    EXPECT_EQ(events_, (std::vector<std::string>{"BeforeOpen", "AfterOpen"}));
}

TEST_F(LoggerTest, DestroyingAnOpenLoggerClosesWithoutEvents) {
    {
        TFileLogger open;
        open.SetLogFile(path_);
        open.Open();
        RecordEvents(open);
        EXPECT_EQ(OpenDescriptors(path_), 1);
    }
    EXPECT_TRUE(events_.empty());
    EXPECT_EQ(OpenDescriptors(path_), 0);
}

TEST_F(LoggerTest, ProducerThreadsNeverInterleave) {
    logger_.SetLogFlags(kWindowFlags);
    logger_.SetMaxLineLength(0);
    constexpr int kThreads = 4, kCalls = 400;
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t)
        producers.emplace_back([this, t] {
            for (int i = 0; i < kCalls; ++i)
                logger_.WriteLog("", static_cast<unsigned char>(t + 1),
                                 "t" + std::to_string(t) + "-" + std::to_string(i));
        });
    for (auto& p : producers) p.join();

    // Every text is a whole line; every thread's lines come in order; a channel change is
    // preceded by exactly one empty line.
    const std::string all = ReadWholeFile(path_);
    ASSERT_EQ(all.substr(0, 2), "\r\n");
    std::vector<int> next(kThreads, 0);
    int lastThread = -1, lines = 0;
    size_t pos = 2;
    while (pos < all.size()) {
        size_t end = all.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos);
        std::string line = all.substr(pos, end - pos);
        pos = end + 2;
        if (line.empty()) {
            ASSERT_LT(pos, all.size());
            int t = all[pos + 1] - '0';
            ASSERT_NE(t, lastThread) << "empty line without a channel change";
            continue;
        }
        int t = line[1] - '0';
        ASSERT_EQ(line, "t" + std::to_string(t) + "-" + std::to_string(next[t]));
        if (lastThread != -1 && t != lastThread) {
            ASSERT_EQ(all.substr(pos - line.size() - 6, 4), "\r\n\r\n");
        }
        ++next[t];
        lastThread = t;
        ++lines;
    }
    EXPECT_EQ(lines, kThreads * kCalls);
}

}  // namespace
