// Ownership and error translation for the Firebird OO API.
//
// IStatus and IXpbBuilder are freed with dispose(), every other interface with
// release(). Each is held by a unique_ptr with the matching deleter, so a failure
// anywhere frees what was made so far.
#pragma once

#include <cerrno>

#include <firebird/Interface.h>

#include <memory>
#include <string>

#include "store/DbError.h"

namespace fb {

struct Release {
    template <typename T>
    void operator()(T* p) const {
        if (p) p->release();
    }
};
struct Dispose {
    template <typename T>
    void operator()(T* p) const {
        if (p) p->dispose();
    }
};

using AttachmentPtr = std::unique_ptr<Firebird::IAttachment, Release>;
using TransactionPtr = std::unique_ptr<Firebird::ITransaction, Release>;
using StatementPtr = std::unique_ptr<Firebird::IStatement, Release>;
using ResultSetPtr = std::unique_ptr<Firebird::IResultSet, Release>;
using BlobPtr = std::unique_ptr<Firebird::IBlob, Release>;
using MetadataPtr = std::unique_ptr<Firebird::IMessageMetadata, Release>;
using MetadataBuilderPtr = std::unique_ptr<Firebird::IMetadataBuilder, Release>;
using ProviderPtr = std::unique_ptr<Firebird::IProvider, Release>;
using XpbBuilderPtr = std::unique_ptr<Firebird::IXpbBuilder, Dispose>;

Firebird::IMaster* Master();
Firebird::IUtil* Util();

// A status object of its own for each operation; ThrowStatusWrapper raises FbException.
class TStatus {
public:
    TStatus();
    ~TStatus();
    TStatus(const TStatus&) = delete;
    TStatus& operator=(const TStatus&) = delete;
    Firebird::ThrowStatusWrapper* operator&() { return &wrapper_; }

private:
    Firebird::IStatus* status_;
    Firebird::ThrowStatusWrapper wrapper_;
};

// Turns a caught FbException into EDatabaseError with the server's message.
[[noreturn]] void Rethrow(const Firebird::FbException& e);

// errno cleared before a call into the database engine. The embedded engine opens its
// shared files (lock, monitoring) in a loop that repeats fstat() for as long as errno
// reads EINTR, without looking at fstat's result; a stop signal that interrupted
// anything earlier (libcurl's poll() during a transfer, typically) leaves errno so, and
// the next attach or detach would then spin for good.
inline void ClearErrnoForEngine() {
    errno = 0;
}

// Runs f, translating Firebird's exception into EDatabaseError.
template <typename F>
auto Guard(F&& f) -> decltype(f()) {
    ClearErrnoForEngine();
    try {
        return f();
    } catch (const Firebird::FbException& e) {
        Rethrow(e);
    }
}

}  // namespace fb
