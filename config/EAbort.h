// The silent abort: ends an operation quietly. The window's error guard shows
// every other exception's message but swallows this one.
#pragma once

#include <stdexcept>

class EAbort : public std::runtime_error {
public:
    EAbort() : std::runtime_error("Operation aborted") {}
};
