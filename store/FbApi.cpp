#include "store/FbApi.h"

#include <ibase.h>

#include <utility>
#include <vector>

#include "store/Retry.h"

namespace fb {

Firebird::IMaster* Master() {
    static Firebird::IMaster* master = Firebird::fb_get_master_interface();
    return master;
}

Firebird::IUtil* Util() {
    return Master()->getUtilInterface();
}

TStatus::TStatus() : status_(Master()->getStatus()), wrapper_(status_) {}

TStatus::~TStatus() {
    wrapper_.dispose();
}

void Rethrow(const Firebird::FbException& e) {
    char buf[2048];
    Util()->formatStatus(buf, sizeof buf, e.getStatus());
    std::string message(buf);
    // Every code of the vector, for callers that tell kinds of refusal apart by code.
    std::vector<long> codes;
    const ISC_STATUS* v = e.getStatus()->getErrors();
    while (v && *v != isc_arg_end) {
        const ISC_STATUS kind = *v++;
        if (kind == isc_arg_gds) codes.push_back(static_cast<long>(*v));
        // A cstring argument takes a length and a pointer; every other one a single slot.
        v += kind == isc_arg_cstring ? 2 : 1;
    }
    // The embedded engine locks the file for one process; say plainly what to do.
    if (message.find("already opened with engine instance") != std::string::npos ||
        message.find("Database already opened") != std::string::npos)
        message +=
            "\nThe database file is in use by another program. Close it there, or share the "
            "database through a Firebird server (DatabaseName = host:/path/file.fdb).";
    // A shared database adds failures of its own; the server's words alone do not say
    // what to do about them.
    EDatabaseError error(message, std::move(codes));
    if (IsLoginRefused(error))
        message +=
            "\nThe database server refused this user name and password (User and Password in "
            "section [Interbase] of the configuration).";
    else if (IsServerUnreachable(error))
        message +=
            "\nNo database server answers at the address in DatabaseName: check its host and "
            "port, and that the Firebird server runs there.";
    else if (IsConnectionLost(error))
        // One line: the server's words ("Error reading data from the connection") say
        // nothing more to the user than this.
        message = "The connection to the database server was lost.";
    else
        throw error;
    throw EDatabaseError(message, error.GdsCodes());
}

}  // namespace fb
