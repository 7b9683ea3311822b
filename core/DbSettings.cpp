#include "core/DbSettings.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "config/AuxProj.h"
#include "store/Database.h"

std::string DefaultDatabaseName() {
    return RunsInstalled() ? UserDataDir() + "WAYFOLIO.GDB" : ExeDir() + "DATA/WAYFOLIO.GDB";
}

bool CreateUserDatabase(const std::string& path) {
    std::error_code ec;
    if (!RunsInstalled() || std::filesystem::exists(path, ec)) return false;
    const std::string script = SharedDataDir() + "create-db";
    // No demo documents: their guides point at the local sample site, which a user of
    // the installed program does not have; the window welcomes an empty database instead.
    char* const argv[] = {const_cast<char*>(script.c_str()), const_cast<char*>("--no-demo"),
                          const_cast<char*>(path.c_str()), nullptr};
    // Its report of the statements run would mix into a command's output; errors stay.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, script.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void ApplyDbSettings(TDatabase& db) {
    db.DatabaseName = GetIniText("Interbase", "DatabaseName", DefaultDatabaseName());
    // An installed program's own database comes with its first start.
    if (db.DatabaseName == DefaultDatabaseName()) CreateUserDatabase(db.DatabaseName);
    db.SetParam("user_name", GetIniText("Interbase", "User", "SYSDBA"));
    db.SetParam("password", GetIniText("Interbase", "Password", "pinecrest"));
    db.SetParam("lc_ctype", GetIniText("Interbase", "CharSet", "NONE"));
    db.SQLDialect = GetIniNumber("Interbase", "SQLDialect", 3);
    // A server that takes the connection and never answers would otherwise hold a run
    // for the client library's three minutes.
    db.ConnectTimeout = GetIniNumber("Interbase", "ConnectTimeout", 30);
}
