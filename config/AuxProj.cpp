#include "config/AuxProj.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "config/CmdLine.h"

std::string ProjIniName;
bool ProjIniAutoSave = false;
std::unique_ptr<TIniStore> ProjIni;

namespace {

TIniStore& Store() {
    if (!ProjIni) ProjIni = std::make_unique<TIniStore>();
    return *ProjIni;
}

}  // namespace

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

bool ParseIniNumber(const std::string& text, int& value) {
    if (text.empty()) return false;
    long long v = 0;
    size_t i = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        // Hexadecimal is read as a 32-bit pattern, so 0xFFFFFFFF is -1.
        if (text.size() - 2 > 8) return false;
        for (i = 2; i < text.size(); ++i) {
            char c = text[i];
            int d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else
                return false;
            v = v * 16 + d;
        }
        value = static_cast<int>(static_cast<unsigned int>(v));
        return true;
    }
    bool negative = false;
    if (text[0] == '-' || text[0] == '+') {
        negative = text[0] == '-';
        i = 1;
    }
    if (i >= text.size()) return false;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) return false;
    }
    if (negative) v = -v;
    if (v < INT_MIN || v > INT_MAX) return false;
    value = static_cast<int>(v);
    return true;
}

TIniStore TIniStore::FromText(const std::string& text) {
    TIniStore store;
    TSection* current = nullptr;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        std::string line =
            text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        if (end == std::string::npos)
            pos = text.size();
        else if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n')
            pos = end + 2;
        else
            pos = end + 1;

        if (line.empty() || line[0] == ';') continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            std::string name = line.substr(1, line.size() - 2);
            current = nullptr;
            for (auto& s : store.sections_)
                if (SameText(s.name, name)) current = &s;
            if (!current) {
                store.sections_.push_back({name, {}});
                current = &store.sections_.back();
            }
            continue;
        }
        if (!current) continue;
        size_t eq = line.find('=');
        std::string key = eq == std::string::npos ? line : line.substr(0, eq);
        std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
        // A repeated key is kept (and written back); lookups see the first one.
        current->entries.emplace_back(std::move(key), std::move(value));
    }
    return store;
}

TIniStore TIniStore::FromFile(const std::string& fileName) {
    if (fileName.empty()) return {};
    std::ifstream in(fileName, std::ios::binary);
    if (!in) return {};
    std::ostringstream ss;
    ss << in.rdbuf();
    return FromText(ss.str());
}

const TIniStore::TSection* TIniStore::FindSection(const std::string& name) const {
    for (const auto& s : sections_)
        if (SameText(s.name, name)) return &s;
    return nullptr;
}

bool TIniStore::HasKey(const std::string& section, const std::string& key) const {
    const TSection* s = FindSection(section);
    if (!s) return false;
    for (const auto& e : s->entries)
        if (SameText(e.first, key)) return true;
    return false;
}

std::string TIniStore::GetText(const std::string& section, const std::string& key,
                               const std::string& def) const {
    const TSection* s = FindSection(section);
    if (!s) return def;
    for (const auto& e : s->entries)
        if (SameText(e.first, key)) return e.second;
    return def;
}

int TIniStore::GetNumber(const std::string& section, const std::string& key, int def) const {
    int v;
    return ParseIniNumber(GetText(section, key, std::string()), v) ? v : def;
}

bool TIniStore::GetFlag(const std::string& section, const std::string& key, bool def) const {
    return GetNumber(section, key, def ? 1 : 0) != 0;
}

void TIniStore::PutText(const std::string& section, const std::string& key,
                        const std::string& value) {
    for (auto& s : sections_) {
        if (!SameText(s.name, section)) continue;
        for (auto& e : s.entries)
            if (SameText(e.first, key)) {
                e.second = value;
                return;
            }
        s.entries.emplace_back(key, value);
        return;
    }
    sections_.push_back({section, {{key, value}}});
}

std::string TIniStore::ToText() const {
    std::string out;
    for (const auto& s : sections_) {
        out += "[" + s.name + "]\r\n";
        for (const auto& e : s.entries) out += e.first + "=" + e.second + "\r\n";
        out += "\r\n";
    }
    return out;
}

namespace {

std::string SystemError(int error) {
    return std::strerror(error);
}

// Writes text to a file opened with flags. A file it creates gets mode 0600 whatever
// the umask: the text holds the database password. Only once the text is written does
// the file take finalMode (when not -1). EProjError on any failure.
void WriteWhole(const std::string& fileName, const std::string& text, int flags,
                int finalMode = -1) {
    const int fd = ::open(fileName.c_str(), flags | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) throw EProjError("Cannot create file \"" + fileName + "\". " + SystemError(errno));
    const char* p = text.data();
    size_t left = text.size();
    int error = 0;
    while (left > 0 && error == 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno != EINTR) error = errno;
            continue;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (error == 0 && finalMode >= 0 && ::fchmod(fd, static_cast<mode_t>(finalMode)) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0)
        throw EProjError("Cannot write file \"" + fileName + "\". " + SystemError(error));
}

// The file a name finally stands for: symbolic links are followed (also one whose
// target does not exist yet), so that saving replaces the target and keeps the link.
std::string FollowLinks(const std::string& fileName) {
    namespace fs = std::filesystem;
    fs::path path = fileName;
    for (int depth = 0; depth < 40; ++depth) {
        std::error_code ec;
        if (!fs::is_symlink(path, ec)) break;
        const fs::path target = fs::read_symlink(path, ec);
        if (ec) break;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return path.string();
}

}  // namespace

void TIniStore::SaveToFile(const std::string& fileName) const {
    if (fileName.empty()) throw EProjError("Cannot save configuration: no file name");
    const std::string text = ToText();
    const std::string target = FollowLinks(fileName);
    // Written beside the file and renamed over it, so that a full disk or a failed
    // write leaves the old settings whole. A folder that takes no new files gets the
    // file rewritten in place.
    const std::string temp = target + ".new";
    ::unlink(temp.c_str());  // left over from an interrupted save; ours to replace
    // The complete file takes the old one's permissions; a first save stays readable
    // by its owner alone.
    struct stat old {};
    const int mode = ::stat(target.c_str(), &old) == 0 ? static_cast<int>(old.st_mode & 07777) : -1;
    try {
        // Created 0600 and opened exclusively, so nobody else can read the password
        // while it is written or have put a file of their own under this name.
        WriteWhole(temp, text, O_CREAT | O_EXCL | O_NOFOLLOW, mode);
    } catch (const EProjError&) {
        ::unlink(temp.c_str());
        WriteWhole(target, text, O_CREAT | O_TRUNC);
        return;
    }
    if (std::rename(temp.c_str(), target.c_str()) != 0) {
        const int error = errno;
        std::remove(temp.c_str());
        throw EProjError("Cannot write file \"" + fileName + "\". " + SystemError(error));
    }
}

std::string ExeFileName() {
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

std::string ExeDir() {
    std::string exe = ExeFileName();
    size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string("./") : exe.substr(0, slash + 1);
}

std::string SharedDataDir() {
    return ExeDir() + "../share/wayfolio/";
}

bool RunsInstalled() {
    const std::string dir = ExeDir();
    if (access(dir.c_str(), W_OK) != 0) return true;
    std::error_code ec;
    return std::filesystem::path(dir).parent_path().filename() == "bin" &&
           std::filesystem::exists(SharedDataDir() + "db/schema.sql", ec);
}

namespace {
std::string UserDir(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    std::string base = value && value[0] == '/' ? value : std::string();
    if (base.empty()) {
        const char* home = std::getenv("HOME");
        base = std::string(home ? home : "") + fallback;
    }
    return base + "/wayfolio/";
}
}  // namespace

std::string UserConfigDir() {
    return UserDir("XDG_CONFIG_HOME", "/.config");
}

std::string UserDataDir() {
    return UserDir("XDG_DATA_HOME", "/.local/share");
}

std::string DefaultIniDir() {
    return RunsInstalled() ? UserConfigDir() : ExeDir();
}

void ProjIniInit() {
    namespace fs = std::filesystem;
    std::string name =
        DefaultIniDir() + fs::path(ExeFileName()).filename().replace_extension(".ini").string();
    // File names are case-sensitive here, so the name is kept as the user wrote it.
    CmdLine::GetSwitchValue("I:", CmdLine::soAsIs, name);
    if (!name.empty()) {
        std::error_code ec;
        fs::path abs = fs::absolute(name, ec);
        if (!ec) name = abs.lexically_normal().string();
    }
    ProjIniName = name;
    ProjIni = std::make_unique<TIniStore>(TIniStore::FromFile(ProjIniName));
    ProjIniAutoSave = true;
}

void ProjIniDone() {
    if (ProjIniAutoSave && ProjIni) {
        try {
            SaveIni();
        } catch (...) {
            // Shut-down must not fail over an unwritable configuration file.
        }
    }
    ProjIni.reset();
}

std::string GetIniText(const std::string& section, const std::string& key, const std::string& def) {
    return Store().GetText(section, key, def);
}

int GetIniNumber(const std::string& section, const std::string& key, int def) {
    return Store().GetNumber(section, key, def);
}

bool GetIniFlag(const std::string& section, const std::string& key, bool def) {
    return Store().GetFlag(section, key, def);
}

void PutIniText(const std::string& section, const std::string& key, const std::string& value) {
    Store().PutText(section, key, value);
}

void SaveIni() {
    // An installed program's first save goes into a folder that may not exist yet.
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(ProjIniName).parent_path(), ec);
    Store().SaveToFile(ProjIniName);
}

int CheckShellExecute(int code) {
    if (code > 32) return code;
    std::string message = "ShellExecute error: " + std::to_string(code);
    // The number alone tells a user nothing; the codes the desktop hand-over answers
    // with get their meaning on a line of their own.
    if (code == 2)
        message +=
            "\nThe address is not complete (a web address begins with http:// or "
            "https://), or the file it names does not exist.";
    else if (code == 31)
        message += "\nNo program on this system is set up to open this kind of address.";
    throw EProjError(message);
}
