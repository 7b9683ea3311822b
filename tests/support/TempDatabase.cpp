#include "tests/support/TempDatabase.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "store/Database.h"

namespace fs = std::filesystem;

std::string SourceDir() {
    if (const char* env = std::getenv("WF_SOURCE_DIR"); env && *env) return env;
    return WF_SOURCE_DIR;
}

namespace {

struct TServer {
    bool On = false;
    std::string Address, DataFolder;
};

std::string Unquote(std::string v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return v;
}

TServer ReadServer(const std::string& file) {
    TServer s;
    std::ifstream in(file);
    if (!std::getline(in, s.Address) || !std::getline(in, s.DataFolder) || s.Address.empty() ||
        s.DataFolder.empty())
        throw std::runtime_error("no test server described in " + file + " (did its start fail?)");
    s.On = true;
    return s;
}

const TServer& Server() {
    static const TServer server = [] {
        const char* file = std::getenv("WF_TEST_DB_SERVER");
        return file && *file ? ReadServer(file) : TServer{};
    }();
    return server;
}

struct TLogin {
    std::string User, Password;
};

// Every server here serves with the system's security database: one login for all.
const TLogin& Login() {
    static const TLogin login = [] {
        TLogin l;
        const char* user = std::getenv("ISC_USER");
        const char* password = std::getenv("ISC_PASSWORD");
        l.User = user && *user ? user : "SYSDBA";
        if (password && *password) {
            l.Password = password;
        } else {
            std::ifstream pw("/etc/firebird/3.0/SYSDBA.password");
            for (std::string line; std::getline(pw, line);)
                if (line.rfind("ISC_PASSWORD=", 0) == 0) l.Password = Unquote(line.substr(13));
            if (l.Password.empty())
                throw std::runtime_error(
                    "set ISC_PASSWORD: /etc/firebird/3.0/SYSDBA.password cannot be read");
        }
        return l;
    }();
    return login;
}

std::string SqlQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

std::string SqlLogin(bool onServer) {
    if (!onServer) return "USER 'SYSDBA'";
    return "USER " + SqlQuoted(Login().User) + " PASSWORD " + SqlQuoted(Login().Password);
}

std::string RunScript(const std::string& scriptPath, int& status) {
    const std::string cmd = "isql-fb -q -b -i '" + scriptPath + "' 2>&1";
    std::string output;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) throw std::runtime_error("cannot run isql-fb");
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) output.append(buf, n);
    status = pclose(p);
    return output;
}

}  // namespace

bool TTempDatabase::OnServer() {
    return Server().On;
}
std::string TTempDatabase::ServerAddress() {
    return Server().Address;
}
std::string TTempDatabase::ServerUser() {
    return Login().User;
}
std::string TTempDatabase::ServerPassword() {
    return Login().Password;
}

TTempDatabase::TTempDatabase(bool withTemplates, bool withDemo)
    : TTempDatabase(withTemplates, withDemo, "") {}

TTempDatabase::TTempDatabase(bool withTemplates, bool withDemo, const std::string& serverState) {
    const TServer server = serverState.empty() ? Server() : ReadServer(serverState);
    onServer_ = server.On;
    const fs::path parent = onServer_ ? fs::path(server.DataFolder) : fs::temp_directory_path();
    std::string tmpl = (parent / "wf_test_XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed in " + parent.string());
    folder_ = tmpl;
    path_ = folder_ + "/test.fdb";
    if (onServer_) {
        // The server runs as its own user and creates the file itself.
        fs::permissions(folder_, fs::perms::all);
        path_ = server.Address + ":" + path_;
    }
    const std::string db = SourceDir() + "/db/";
    std::ostringstream sql;
    sql << "SET SQL DIALECT 3;\n"
        << "CREATE DATABASE '" << path_ << "' " << SqlLogin(onServer_)
        << " PAGE_SIZE 16384 DEFAULT CHARACTER SET NONE;\n"
        << "INPUT '" << db << "schema.sql';\n";
    if (withTemplates) sql << "INPUT '" << db << "templates.sql';\n";
    if (withDemo) sql << "INPUT '" << db << "demo.sql';\n";
    sql << "COMMIT;\n";
    const std::string script = folder_ + "/create.sql";
    std::ofstream(script) << sql.str();
    int status = 0;
    const std::string out = RunScript(script, status);
    if (status != 0) throw std::runtime_error("creating the test database failed: " + out);
}

TTempDatabase::~TTempDatabase() {
    std::error_code ec;
    fs::remove_all(folder_, ec);
}

void TTempDatabase::RunIsql(const std::string& sql) const {
    const std::string script = folder_ + "/run.sql";
    std::ofstream(script) << "CONNECT '" << path_ << "' " << SqlLogin(onServer_) << ";\n"
                          << sql << "\nCOMMIT;\n";
    int status = 0;
    const std::string out = RunScript(script, status);
    ASSERT_EQ(status, 0) << out;
}

void TTempDatabase::Connect(TDatabase& db, TTransaction& tr, int dialect) const {
    db.DatabaseName = path_;
    db.SQLDialect = dialect;
    db.SetParam("user_name", onServer_ ? Login().User : "SYSDBA");
    if (onServer_) db.SetParam("password", Login().Password);
    db.SetDefaultTransaction(&tr);
    db.AfterConnect = [&tr](TDatabase&) { tr.StartTransaction(); };
    db.Open();
}

std::string TTempDatabase::IniLogin() const {
    if (!onServer_) return "User=SYSDBA\r\n";
    return "User=" + Login().User + "\r\nPassword=" + Login().Password + "\r\n";
}

std::string TTempDatabase::ToolLogin() const {
    if (!onServer_) return "-user SYSDBA";
    return "-user '" + Login().User + "' -password '" + Login().Password + "'";
}
