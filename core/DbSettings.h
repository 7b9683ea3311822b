// Connection settings of section "Interbase" of the configuration, applied to a
// connection before it attaches. Shared by the window and the command-line tool.
#pragma once

#include <string>

class TDatabase;

// The database used when the configuration names none: DATA/WAYFOLIO.GDB in the
// executable's folder, or WAYFOLIO.GDB in the user's data folder when the program
// runs installed.
std::string DefaultDatabaseName();

// An installed program creates the missing database at path with the installation's
// create-db: schema and templates, and no documents. False when it runs from its build
// folder, the file exists or the creation failed (the connection then reports it).
bool CreateUserDatabase(const std::string& path);

// Fills in the connection's name, "user_name", "password", "lc_ctype" and client
// dialect from the configuration store (an empty value removes a parameter).
void ApplyDbSettings(TDatabase& db);
