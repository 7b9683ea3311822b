// Logger components: a component with an open/closed state and events around opening and
// closing (TConnection), a thread-safe logging entry point (TLogger), a formatter that turns
// each call into channel-tagged text on a byte stream (TStreamLogger) and a logger appending
// that text to a named file (TFileLogger).
//
// Log text is bytes: names and texts are std::string and reach the stream unchanged.
// Nothing here needs Qt Widgets; the command-line tool can log through a TFileLogger alone
// (LogFile "/dev/stderr" writes to its standard error).
#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

// The logger's own error ("Connection is active").
class EConnectError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file or stream failure: "Cannot create file <name>", "Cannot open file <name>",
// "Stream write error".
class EStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The formatter's switches; the ordinal values are the bit numbers of the stored byte.
enum TLogFormatFlag : unsigned char {
    lfInsertName = 0,      // log name and "-" at each line start and when the name changes
    lfInsertChannel = 1,   // channel tag "XX)" at each line start and when the channel changes
    lfDivideNames = 2,     // a new line when the log name changes
    lfDivideChannels = 3,  // a new line when the channel changes
    lfDivideStream = 4,    // ask OnDivideStream before each character
    lfHexadecimal = 5,     // every byte as two upper-case hex digits and a blank
    lfStamp = 6,           // each line begins with the local date and time and ")"
    lfAutoCR = 7,          // every call's output ends with CR LF
};

// A set of TLogFormatFlag, stored as one byte with bit n for flag n.
class TLogFormatFlags {
public:
    constexpr TLogFormatFlags() = default;
    constexpr TLogFormatFlags(std::initializer_list<TLogFormatFlag> flags) {
        for (TLogFormatFlag f : flags) bits_ = static_cast<uint8_t>(bits_ | Bit(f));
    }
    static constexpr TLogFormatFlags FromByte(uint8_t bits) {
        TLogFormatFlags s;
        s.bits_ = bits;
        return s;
    }
    constexpr uint8_t ToByte() const { return bits_; }
    constexpr bool Contains(TLogFormatFlag f) const { return (bits_ & Bit(f)) != 0; }
    constexpr TLogFormatFlags With(TLogFormatFlag f) const { return FromByte(bits_ | Bit(f)); }
    constexpr TLogFormatFlags Without(TLogFormatFlag f) const {
        return FromByte(static_cast<uint8_t>(bits_ & ~Bit(f)));
    }
    constexpr bool operator==(TLogFormatFlags o) const { return bits_ == o.bits_; }
    constexpr bool operator!=(TLogFormatFlags o) const { return bits_ != o.bits_; }

private:
    static constexpr uint8_t Bit(TLogFormatFlag f) { return static_cast<uint8_t>(1u << f); }
    uint8_t bits_ = 0;
};

// A new TStreamLogger's flags (byte value 47): name and channel prefixes, divides, hex dump.
inline constexpr TLogFormatFlags DefaultLogFlags{lfInsertName, lfInsertChannel, lfDivideNames,
                                                 lfDivideChannels, lfHexadecimal};

class TConnection;

// Fired around opening and closing, with the component that opens or closes.
using TConnectionNotifyEvent = std::function<void(TConnection* DataSet)>;
// Asked before every WriteLog call, without the lock; clearing aAccept drops the call.
using TAcceptChannelEvent = std::function<void(QObject* Sender, const std::string& aLogName,
                                               unsigned char aChannel, bool& aAccept)>;
// Asked before each character with lfDivideStream; aText and I (1-based position of the
// character about to be written) may be changed; setting aDivide starts a new line.
using TOnDivideStream =
    std::function<void(QObject* Sender, const std::string& aLogName, unsigned char aChannel,
                       std::string& aText, int& I, bool& aDivide)>;

// A component that is either closed or open; descendants acquire their resource in DoOpen and
// release it in DoClose. A descendant that implements DoClose calls CloseOnDestroy() from its
// destructor, since the base destructor can no longer reach it.
//
// Stored settings are applied between BeginLoading() and Loaded(): an Active true set in
// between opens the component only at Loaded().
class TConnection : public QObject {
    Q_OBJECT
public:
    explicit TConnection(QObject* parent = nullptr);
    ~TConnection() override;
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    bool Active() const { return active_; }
    // Opens (BeforeOpen, DoOpen, AfterOpen) or closes (BeforeClose, DoClose, AfterClose).
    // A failing DoOpen is followed by DoClose and rethrown; the component stays closed.
    void SetActive(bool value);
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }
    // EConnectError("Connection is active") when open.
    void CheckInactive() const;

    void BeginLoading() { loading_ = true; }
    virtual void Loaded();
    bool Loading() const { return loading_; }
    bool Destroying() const { return destroying_; }

    const TConnectionNotifyEvent& BeforeOpen() const { return beforeOpen_; }
    const TConnectionNotifyEvent& BeforeClose() const { return beforeClose_; }
    const TConnectionNotifyEvent& AfterOpen() const { return afterOpen_; }
    const TConnectionNotifyEvent& AfterClose() const { return afterClose_; }
    void SetBeforeOpen(TConnectionNotifyEvent e) { beforeOpen_ = std::move(e); }
    void SetBeforeClose(TConnectionNotifyEvent e) { beforeClose_ = std::move(e); }
    void SetAfterOpen(TConnectionNotifyEvent e) { afterOpen_ = std::move(e); }
    void SetAfterClose(TConnectionNotifyEvent e) { afterClose_ = std::move(e); }

protected:
    virtual void DoOpen() = 0;
    virtual void DoClose() = 0;
    virtual void DoBeforeOpen();
    virtual void DoBeforeClose();
    virtual void DoAfterOpen();
    virtual void DoAfterClose();

    // Marks the component as being destroyed and closes it without close events.
    void CloseOnDestroy();
    // Marks the component closed without DoClose or events (the caller released the resource).
    void MarkClosed() { active_ = false; }

private:
    // Atomic because WriteLog reads it before taking the lock, from any thread.
    std::atomic<bool> active_{false};
    bool streamedActive_ = false;
    bool loading_ = false;
    bool destroying_ = false;
    TConnectionNotifyEvent beforeOpen_, beforeClose_, afterOpen_, afterClose_;
};

// A connection with one logging entry point. WriteLog is serialised by the logger's lock, so
// any thread may call it; the open and close events and WriteText run under that lock.
class TLogger : public TConnection {
    Q_OBJECT
public:
    explicit TLogger(QObject* parent = nullptr);

    bool AutoOpen() const { return autoOpen_; }
    // EConnectError("Connection is active") when open.
    void SetAutoOpen(bool value);
    const TAcceptChannelEvent& AcceptChannel() const { return acceptChannel_; }
    void SetAcceptChannel(TAcceptChannelEvent e) { acceptChannel_ = std::move(e); }

    // Formats the text and writes it. Does nothing unless the logger is open or in AutoOpen
    // mode, or when AcceptChannel declines. In AutoOpen mode the logger is opened for the call
    // and closed again afterwards, also when formatting, writing or an event handler fails;
    // errors reach the caller after that, with the lock released.
    void WriteLog(const std::string& logName, unsigned char channel, const std::string& text);

protected:
    virtual void WriteText(const std::string& text) = 0;
    virtual void FormatText(const std::string& aLogName, unsigned char aChannel, std::string aText,
                            std::string& aOut) = 0;

private:
    // Recursive like a critical section: an event handler may log through its own logger.
    std::recursive_mutex lock_;
    std::atomic<bool> autoOpen_{false};
    TAcceptChannelEvent acceptChannel_;
};

// WriteLog that tolerates an absent logger.
inline void WriteLog(TLogger* logger, const std::string& logName, unsigned char channel,
                     const std::string& text) {
    if (logger) logger->WriteLog(logName, channel, text);
}

// Where a TStreamLogger's bytes go. A seam: a file descriptor here, anything in a descendant.
class TLogStream {
public:
    virtual ~TLogStream() = default;
    // Moves the position to the end, so the next write appends.
    virtual void SeekEnd() = 0;
    // Writes all bytes or throws EStreamError("Stream write error").
    virtual void Write(const std::string& bytes) = 0;
};

// A TLogStream over a POSIX file descriptor, closed with the object when owned. A descriptor
// opened with O_APPEND writes at the end anyway and is not moved.
class TFdStream : public TLogStream {
public:
    TFdStream(int fd, bool owned);
    ~TFdStream() override;
    TFdStream(const TFdStream&) = delete;
    TFdStream& operator=(const TFdStream&) = delete;
    int Handle() const { return fd_; }
    // Pipes and terminals cannot seek; they are written at their end anyway.
    void SeekEnd() override;
    void Write(const std::string& bytes) override;

private:
    int fd_;
    bool owned_;
    bool appends_;
};

// Turns each WriteLog call into text by LogFlags and writes it to Stream in one write.
// The formatter's memory (LastLogName, LastChannel, Column) lives as long as the component and
// survives closing and reopening. DoClose is left to descendants.
class TStreamLogger : public TLogger {
    Q_OBJECT
public:
    explicit TStreamLogger(QObject* parent = nullptr);

    TLogFormatFlags LogFlags() const { return logFlags_; }
    void SetLogFlags(TLogFormatFlags flags) { logFlags_ = flags; }
    // 0 means no wrapping.
    int MaxLineLength() const { return maxLineLength_; }
    void SetMaxLineLength(int value) { maxLineLength_ = value; }
    const TOnDivideStream& OnDivideStream() const { return onDivideStream_; }
    void SetOnDivideStream(TOnDivideStream e) { onDivideStream_ = std::move(e); }

    // Not owned; a descendant sets it while open.
    TLogStream* Stream() const { return stream_; }
    void SetStream(TLogStream* stream) { stream_ = stream; }

    // The formatter's memory; read only while no call is running.
    unsigned char LastChannel() const { return lastChannel_; }
    const std::string& LastLogName() const { return lastLogName_; }
    int Column() const { return column_; }

protected:
    void DoOpen() override;
    void WriteText(const std::string& text) override;
    void FormatText(const std::string& aLogName, unsigned char aChannel, std::string aText,
                    std::string& aOut) override;
    virtual bool DoDivideStream(const std::string& aLogName, unsigned char aChannel,
                                std::string& aText, int& I);

private:
    TLogStream* stream_ = nullptr;
    TLogFormatFlags logFlags_ = DefaultLogFlags;
    int32_t maxLineLength_ = 80;
    unsigned char lastChannel_ = 0;
    std::string lastLogName_;
    int32_t column_ = 0;
    TOnDivideStream onDivideStream_;
};

// A TStreamLogger whose stream is the file LogFile, opened for appending while the logger is
// open ("NUL" is the null device). A missing file is created; a file that cannot be created or
// opened raises EStreamError naming it, and the logger stays closed.
class TFileLogger : public TStreamLogger {
    Q_OBJECT
public:
    explicit TFileLogger(QObject* parent = nullptr);
    ~TFileLogger() override;

    const std::string& LogFile() const { return logFile_; }
    // Same name: nothing. Another name while open: reopens on the new file (open events only).
    // An empty name leaves the logger closed.
    void SetLogFile(const std::string& name);

protected:
    void DoOpen() override;
    void DoClose() override;

private:
    std::string logFile_;
    std::unique_ptr<TFdStream> file_;
};
