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

TTempDatabase::TTempDatabase(bool withTemplates, bool withDemo) {
    std::string tmpl = (fs::temp_directory_path() / "wf_test_XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    folder_ = tmpl;
    path_ = folder_ + "/test.fdb";
    const std::string db = SourceDir() + "/db/";
    std::ostringstream sql;
    sql << "SET SQL DIALECT 3;\n"
        << "CREATE DATABASE '" << path_
        << "' USER 'SYSDBA' PAGE_SIZE 16384 DEFAULT CHARACTER SET NONE;\n"
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
    std::ofstream(script) << "CONNECT '" << path_ << "' USER 'SYSDBA';\n" << sql << "\nCOMMIT;\n";
    int status = 0;
    const std::string out = RunScript(script, status);
    ASSERT_EQ(status, 0) << out;
}

void TTempDatabase::Connect(TDatabase& db, TTransaction& tr, int dialect) const {
    db.DatabaseName = path_;
    db.SQLDialect = dialect;
    db.SetParam("user_name", "SYSDBA");
    db.SetDefaultTransaction(&tr);
    db.AfterConnect = [&tr](TDatabase&) { tr.StartTransaction(); };
    db.Open();
}
