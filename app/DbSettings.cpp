#include "app/DbSettings.h"

#include "config/AuxProj.h"
#include "store/Database.h"

std::string DefaultDatabaseName() {
    return ExeDir() + "DATA/WAYFOLIO.GDB";
}

void ApplyDbSettings(TDatabase& db) {
    db.DatabaseName = GetIniText("Interbase", "DatabaseName", DefaultDatabaseName());
    db.SetParam("user_name", GetIniText("Interbase", "User", "SYSDBA"));
    db.SetParam("password", GetIniText("Interbase", "Password", "pinecrest"));
    db.SetParam("lc_ctype", GetIniText("Interbase", "CharSet", "NONE"));
    db.SQLDialect = GetIniNumber("Interbase", "SQLDialect", 3);
}
