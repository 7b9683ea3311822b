// Connection settings of section "Interbase" of the configuration, applied to a
// connection before it attaches. Shared by the window and the command-line tool.
#pragma once

#include <string>

class TDatabase;

// The database used when the configuration names none: DATA/WAYFOLIO.GDB in the
// executable's folder.
std::string DefaultDatabaseName();

// Fills in the connection's name, "user_name", "password", "lc_ctype" and client
// dialect from the configuration store (an empty value removes a parameter).
void ApplyDbSettings(TDatabase& db);
