#include "logging/Connect.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>
#include <exception>

namespace {

const char kCrLf[] = "\r\n";
const char kHexDigits[] = "0123456789ABCDEF";

// The channel tag: two upper-case hex digits and ")", and a blank unless the text itself is
// dumped in hex (whose triples already end in a blank).
std::string ChannelTag(unsigned char channel, bool hexadecimal) {
    std::string tag{kHexDigits[channel >> 4], kHexDigits[channel & 15], ')'};
    if (!hexadecimal) tag += ' ';
    return tag;
}

// Local date and time in the user's locale: short date, a blank, the time.
std::string LocalStamp() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buf[128];
    size_t n = std::strftime(buf, sizeof buf, "%x %X", &local);
    return std::string(buf, n);
}

// "NUL" is the null device on the system the log settings come from.
std::string DevicePath(const std::string& logFile) {
    if (logFile.size() == 3 && (logFile[0] | 0x20) == 'n' && (logFile[1] | 0x20) == 'u' &&
        (logFile[2] | 0x20) == 'l')
        return "/dev/null";
    return logFile;
}

}  // namespace

// ---- TConnection ----

TConnection::TConnection(QObject* parent) : QObject(parent) {}

TConnection::~TConnection() {
    destroying_ = true;
}

void TConnection::SetActive(bool value) {
    if (loading_) {
        if (value) streamedActive_ = true;
        return;
    }
    if (value == active_) return;
    if (value) {
        DoBeforeOpen();
        try {
            DoOpen();
        } catch (...) {
            DoClose();
            throw;
        }
        active_ = true;
        DoAfterOpen();
    } else {
        if (!destroying_) DoBeforeClose();
        DoClose();
        active_ = false;
        if (!destroying_) DoAfterClose();
    }
}

void TConnection::CheckInactive() const {
    if (active_) throw EConnectError("Connection is active");
}

void TConnection::Loaded() {
    loading_ = false;
    if (streamedActive_) {
        streamedActive_ = false;
        Open();
    }
}

void TConnection::DoBeforeOpen() {
    if (beforeOpen_) beforeOpen_(this);
}
void TConnection::DoBeforeClose() {
    if (beforeClose_) beforeClose_(this);
}
void TConnection::DoAfterOpen() {
    if (afterOpen_) afterOpen_(this);
}
void TConnection::DoAfterClose() {
    if (afterClose_) afterClose_(this);
}

void TConnection::CloseOnDestroy() {
    destroying_ = true;
    loading_ = false;
    try {
        SetActive(false);
    } catch (...) {
        // A destructor cannot report it; the resource is released as far as DoClose got.
        active_ = false;
    }
}

// ---- TLogger ----

TLogger::TLogger(QObject* parent) : TConnection(parent) {}

void TLogger::SetAutoOpen(bool value) {
    CheckInactive();
    autoOpen_ = value;
}

void TLogger::WriteLog(const std::string& logName, unsigned char channel, const std::string& text) {
    if (!Active() && !autoOpen_) return;
    bool accept = true;
    if (acceptChannel_) acceptChannel_(this, logName, channel, accept);
    if (!accept) return;

    std::lock_guard<std::recursive_mutex> guard(lock_);
    const bool wasActive = Active();
    std::exception_ptr failure;
    try {
        Open();
        std::string out;
        FormatText(logName, channel, text, out);
        WriteText(out);
    } catch (...) {
        failure = std::current_exception();
    }
    try {
        SetActive(wasActive);
    } catch (...) {
        // A failing close event must not leave an AutoOpen logger holding its file.
        if (!wasActive && Active()) {
            try {
                DoClose();
            } catch (...) {
            }
            MarkClosed();
        }
        throw;
    }
    if (failure) std::rethrow_exception(failure);
}

// ---- TFdStream ----

TFdStream::TFdStream(int fd, bool owned)
    : fd_(fd), owned_(owned), appends_((::fcntl(fd, F_GETFL) & O_APPEND) != 0) {}

TFdStream::~TFdStream() {
    if (owned_ && fd_ >= 0) ::close(fd_);
}

void TFdStream::SeekEnd() {
    if (!appends_) ::lseek(fd_, 0, SEEK_END);
}

void TFdStream::Write(const std::string& bytes) {
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd_, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw EStreamError("Stream write error");
        p += n;
        left -= static_cast<size_t>(n);
    }
}

// ---- TStreamLogger ----

TStreamLogger::TStreamLogger(QObject* parent) : TLogger(parent) {}

void TStreamLogger::DoOpen() {
    if (stream_) stream_->SeekEnd();
}

void TStreamLogger::WriteText(const std::string& text) {
    if (!text.empty() && stream_) stream_->Write(text);
}

bool TStreamLogger::DoDivideStream(const std::string& aLogName, unsigned char aChannel,
                                   std::string& aText, int& I) {
    bool divide = false;
    if (onDivideStream_) onDivideStream_(this, aLogName, aChannel, aText, I, divide);
    return divide;
}

void TStreamLogger::FormatText(const std::string& aLogName, unsigned char aChannel,
                               std::string aText, std::string& aOut) {
    const TLogFormatFlags flags = logFlags_;
    const bool hex = flags.Contains(lfHexadecimal);
    const std::string tag = ChannelTag(aChannel, hex);
    aOut.clear();
    aOut.reserve(aText.size() * (hex ? 3 : 1) + 16);

    // Everything but the formatter's own line breaks counts towards the line width.
    auto appendCounted = [&](const char* data, size_t size) {
        aOut.append(data, size);
        long long c = static_cast<long long>(column_) + static_cast<long long>(size);
        column_ = c > INT_MAX ? INT_MAX : static_cast<int32_t>(c);
    };
    auto appendCountedStr = [&](const std::string& s) { appendCounted(s.data(), s.size()); };

    int I = 1;
    while (I <= static_cast<int>(aText.size())) {
        bool atLineStart = column_ == 0;
        bool divide = false;
        if (aLogName != lastLogName_ && flags.Contains(lfDivideNames))
            divide = true;
        else if (aChannel != lastChannel_ && flags.Contains(lfDivideChannels))
            divide = true;
        else if (flags.Contains(lfDivideStream) && DoDivideStream(aLogName, aChannel, aText, I))
            divide = true;
        if (divide) {
            column_ = 0;
            atLineStart = false;
        }
        // The handler may have moved I or shortened the text.
        if (I < 1 || I > static_cast<int>(aText.size())) break;

        // A previous call that ended exactly at the width left the line full; its break is
        // written here, so the line does not run on and Column is 0 only at a line start.
        if (column_ != 0 && maxLineLength_ > 0 && column_ >= maxLineLength_) {
            aOut += kCrLf;
            column_ = 0;
            atLineStart = true;
        }

        bool lineBegan = false;
        if (column_ == 0) {
            lineBegan = true;
            if (!atLineStart) aOut += kCrLf;
            if (flags.Contains(lfStamp)) appendCountedStr(LocalStamp() + ")");
        }
        if ((aLogName != lastLogName_ || lineBegan) && flags.Contains(lfInsertName)) {
            appendCountedStr(aLogName);
            appendCounted("-", 1);
            if (flags.Contains(lfInsertChannel)) appendCountedStr(tag);
        } else if ((aChannel != lastChannel_ || lineBegan) && flags.Contains(lfInsertChannel)) {
            appendCountedStr(tag);
        }
        lastChannel_ = aChannel;
        if (lastLogName_ != aLogName) lastLogName_ = aLogName;

        const unsigned char ch = static_cast<unsigned char>(aText[static_cast<size_t>(I - 1)]);
        if (hex) {
            const char triple[3] = {kHexDigits[ch >> 4], kHexDigits[ch & 15], ' '};
            appendCounted(triple, 3);
        } else {
            const char c = static_cast<char>(ch);
            appendCounted(&c, 1);
        }
        ++I;

        if (maxLineLength_ != 0 && column_ >= maxLineLength_ &&
            I <= static_cast<int>(aText.size())) {
            aOut += kCrLf;
            column_ = 0;
        }
    }
    if (flags.Contains(lfAutoCR)) {
        aOut += kCrLf;
        column_ = 0;
    }
    lastChannel_ = aChannel;
    if (lastLogName_ != aLogName) lastLogName_ = aLogName;
}

// ---- TFileLogger ----

TFileLogger::TFileLogger(QObject* parent) : TStreamLogger(parent) {}

TFileLogger::~TFileLogger() {
    CloseOnDestroy();
}

void TFileLogger::SetLogFile(const std::string& name) {
    if (Loading()) {
        logFile_ = name;
        return;
    }
    if (name == logFile_) return;
    const bool wasActive = Active();
    if (wasActive) {
        DoClose();
        MarkClosed();
    }
    logFile_ = name;
    if (!name.empty()) SetActive(wasActive);
}

void TFileLogger::DoOpen() {
    const std::string path = DevicePath(logFile_);
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        int created = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        if (created < 0) throw EStreamError("Cannot create file " + logFile_);
        ::close(created);
        fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    }
    if (fd < 0) throw EStreamError("Cannot open file " + logFile_);
    file_ = std::make_unique<TFdStream>(fd, true);
    SetStream(file_.get());
    TStreamLogger::DoOpen();
}

void TFileLogger::DoClose() {
    SetStream(nullptr);
    file_.reset();
}
