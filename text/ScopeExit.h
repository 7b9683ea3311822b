// Runs a piece of code when a scope ends, however it ends (return, exception), for the
// one-off clean-ups that have no class of their own: a cursor to restore, a temporary
// file to remove unless kept, a panel to clear.
#pragma once

#include <utility>

// TScopeExit onExit([&] { ... });  The code runs when onExit goes out of scope unless
// Dismiss() was called. It runs from a destructor, so it must not throw: an exception
// that may arise there is caught inside it.
template <class F>
class TScopeExit {
public:
    explicit TScopeExit(F onExit) : onExit_(std::move(onExit)) {}
    ~TScopeExit() {
        if (active_) onExit_();
    }
    TScopeExit(const TScopeExit&) = delete;
    TScopeExit& operator=(const TScopeExit&) = delete;

    // The code will not run: what it would undo is to stay.
    void Dismiss() { active_ = false; }

private:
    F onExit_;
    bool active_ = true;
};
