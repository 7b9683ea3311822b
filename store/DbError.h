// Errors of the SQL client, carrying the server's formatted message.
#pragma once

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

class EDatabaseError : public std::runtime_error {
public:
    EDatabaseError(const std::string& message, long gdsCode = 0)
        : std::runtime_error(message),
          codes_(gdsCode ? std::vector<long>{gdsCode} : std::vector<long>{}) {}
    EDatabaseError(const std::string& message, std::vector<long> gdsCodes)
        : std::runtime_error(message), codes_(std::move(gdsCodes)) {}
    // The first error code of the server's status vector (isc_lock_conflict, ...); 0 if none.
    long GdsCode() const { return codes_.empty() ? 0 : codes_.front(); }
    // Every error code of the status vector, in order: the first names the failure in
    // general ("deadlock"), the later ones say why ("update conflicts with concurrent update").
    const std::vector<long>& GdsCodes() const { return codes_; }
    bool HasCode(long code) const {
        return std::find(codes_.begin(), codes_.end(), code) != codes_.end();
    }

private:
    std::vector<long> codes_;
};
