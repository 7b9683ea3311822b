// Errors of the SQL client, carrying the server's formatted message.
#pragma once

#include <stdexcept>
#include <string>

class EDatabaseError : public std::runtime_error {
public:
    EDatabaseError(const std::string& message, long gdsCode = 0)
        : std::runtime_error(message), gdsCode_(gdsCode) {}
    // The first error code of the server's status vector (isc_lock_conflict, ...); 0 if none.
    long GdsCode() const { return gdsCode_; }

private:
    long gdsCode_;
};
