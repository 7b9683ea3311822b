#include "store/FbApi.h"

#include <ibase.h>

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
    long code = 0;
    const ISC_STATUS* errors = e.getStatus()->getErrors();
    if (errors && errors[0] == isc_arg_gds) code = static_cast<long>(errors[1]);
    // The embedded engine locks the file for one process; say plainly what to do.
    if (message.find("already opened with engine instance") != std::string::npos ||
        message.find("Database already opened") != std::string::npos)
        message +=
            "\nThe database file is in use by another program. Close it there, or share the "
            "database through a Firebird server (DatabaseName = host:/path/file.fdb).";
    throw EDatabaseError(message, code);
}

}  // namespace fb
