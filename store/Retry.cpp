#include "store/Retry.h"

#include <ibase.h>

bool IsLockConflict(const EDatabaseError& e) {
    return e.HasCode(isc_lock_conflict) || e.HasCode(isc_deadlock) ||
           e.HasCode(isc_update_conflict) || e.HasCode(isc_lock_timeout);
}

bool IsDuplicateKey(const EDatabaseError& e) {
    return e.HasCode(isc_unique_key_violation) || e.HasCode(isc_no_dup);
}

bool IsConnectionLost(const EDatabaseError& e) {
    return e.HasCode(isc_net_read_err) || e.HasCode(isc_net_write_err) ||
           e.HasCode(isc_lost_db_connection) || e.HasCode(isc_att_shutdown) ||
           e.HasCode(isc_shutdown) || e.HasCode(isc_conn_lost) ||
           (e.HasCode(isc_network_error) && !e.HasCode(isc_net_connect_err) &&
            !e.HasCode(isc_net_lookup_err));
}

bool IsServerUnreachable(const EDatabaseError& e) {
    return e.HasCode(isc_net_connect_err);
}

bool IsHostUnknown(const EDatabaseError& e) {
    return e.HasCode(isc_net_lookup_err);
}

bool IsConnectRejected(const EDatabaseError& e) {
    return e.HasCode(isc_connect_reject);
}

bool IsLoginRefused(const EDatabaseError& e) {
    return e.HasCode(isc_login);
}
