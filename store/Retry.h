// Several clients on one server database: telling a passing refusal (another
// connection holds the row, or has just stored the same key) from a real failure,
// and running a write again after a short wait when the refusal passes.
//
// The kinds are told by the error codes of the server's status vector, never by the
// message text, which depends on the server's version and language.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

#include "store/DbError.h"

// Another transaction holds the row and ours does not wait (nowait): "lock
// conflict", "deadlock", "update conflicts with concurrent update". Passes as soon
// as the other transaction commits, which every writer here does right after writing.
bool IsLockConflict(const EDatabaseError& e);
// A primary or unique key refused an insert: the row exists, possibly stored by
// another connection after this one looked for it. Looking again finds it.
bool IsDuplicateKey(const EDatabaseError& e);
// The connection to the server is gone (the server stopped, the network failed).
bool IsConnectionLost(const EDatabaseError& e);
// No server answered when connecting (nothing listens, or the network refused).
bool IsServerUnreachable(const EDatabaseError& e);
// The server's host name could not be looked up.
bool IsHostUnknown(const EDatabaseError& e);
// The server took the connection but turned it down, or did not answer the connect
// within the connect time-out.
bool IsConnectRejected(const EDatabaseError& e);
// The server refused the user name or password.
bool IsLoginRefused(const EDatabaseError& e);

struct TRetryPolicy {
    int Attempts = 8;                        // runs in all, the first included
    std::chrono::milliseconds FirstWait{5};  // doubled before each further run
    // Told before each wait (1 for the first repetition); may be empty.
    std::function<void(int attempt, const EDatabaseError&)> OnRetry;
};

// Runs write. When the server refuses it with a lock conflict or a duplicate key,
// waits (FirstWait, then twice as long each time) and runs it again, up to
// Attempts runs in all; write must therefore look up again what it depends on, and
// be harmless to repeat (each run's own writes are committed or undone by the
// server). Returns once a run succeeds. The refusal of the last run, and every other
// error at once, propagates.
template <typename F>
void RetryConflicts(F&& write, const TRetryPolicy& policy = {}) {
    auto wait = policy.FirstWait;
    for (int attempt = 1;; ++attempt) {
        try {
            write();
            return;
        } catch (const EDatabaseError& e) {
            if (attempt >= policy.Attempts || !(IsLockConflict(e) || IsDuplicateKey(e))) throw;
            if (policy.OnRetry) policy.OnRetry(attempt, e);
        }
        std::this_thread::sleep_for(wait);
        wait *= 2;
    }
}
