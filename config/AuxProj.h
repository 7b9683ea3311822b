// The program's configuration store: an in-memory copy of one INI file, read at
// start-up and written back only when the user confirms the settings dialog.
//
// File rules: CR LF, lone CR or lone LF end a line when reading; writing ends every
// line in CR LF. "[name]" starts a section; other non-empty lines not starting with
// ";" are "key=value" entries (split at the first "="). Lines before the first section,
// empty lines and comments are dropped. Nothing is trimmed. Section names and keys
// compare case-insensitively (ASCII).
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

class EProjError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TIniStore {
public:
    TIniStore() = default;

    // Parses INI text; never fails (lines that are not entries are dropped).
    static TIniStore FromText(const std::string& text);
    // Loads a file; a missing or unreadable file gives an empty store.
    static TIniStore FromFile(const std::string& fileName);

    bool HasKey(const std::string& section, const std::string& key) const;
    std::string GetText(const std::string& section, const std::string& key,
                        const std::string& def) const;
    int GetNumber(const std::string& section, const std::string& key, int def) const;
    bool GetFlag(const std::string& section, const std::string& key, bool def) const;
    void PutText(const std::string& section, const std::string& key, const std::string& value);

    std::string ToText() const;
    // Replaces fileName with the store's text; EProjError on any failure.
    void SaveToFile(const std::string& fileName) const;

private:
    struct TSection {
        std::string name;
        std::vector<std::pair<std::string, std::string>> entries;
    };
    const TSection* FindSection(const std::string& name) const;
    std::vector<TSection> sections_;
};

// Equal apart from the case of ASCII letters (the INI file's rule for names).
bool SameText(const std::string& a, const std::string& b);

// Reads a decimal integer, or hexadecimal after "0x"/"0X" (when longer than two
// characters). False when the text is empty, malformed or out of the int range.
bool ParseIniNumber(const std::string& text, int& value);

// Full path of the configuration file.
extern std::string ProjIniName;
// Whether ProjIniDone writes the store back; the program start clears it.
extern bool ProjIniAutoSave;
// The global store; exists between ProjIniInit and ProjIniDone.
extern std::unique_ptr<TIniStore> ProjIni;

// Start-up: ProjIniName from the executable's path (extension ".ini") or from the
// first "-I:name" / "/I:name" parameter (kept as written), made absolute against the
// current directory; the store loaded from it when the file exists. Needs
// CmdLine::SetParams first.
void ProjIniInit();
// Shut-down: saves when ProjIniAutoSave is set (errors ignored), then frees the store.
void ProjIniDone();

// The store operations on ProjIni (an empty store is created if none exists).
std::string GetIniText(const std::string& section, const std::string& key, const std::string& def);
int GetIniNumber(const std::string& section, const std::string& key, int def);
bool GetIniFlag(const std::string& section, const std::string& key, bool def);
void PutIniText(const std::string& section, const std::string& key, const std::string& value);
// Writes ProjIni to ProjIniName; EProjError when that fails.
void SaveIni();

// Full path of the running executable and its folder with a trailing "/".
std::string ExeFileName();
std::string ExeDir();

// Whether the program runs installed: its folder is not writable, or it sits in a
// "bin" folder with the shared files of an installation (../share/wayfolio) beside it.
// An installed program keeps its configuration and database in the user's folders;
// one run from its build folder keeps them beside the executable.
bool RunsInstalled();
// The folder of the installation's shared files (schema, templates, create-db), with
// a trailing "/".
std::string SharedDataDir();
// $XDG_CONFIG_HOME/wayfolio/ and $XDG_DATA_HOME/wayfolio/ (~/.config and ~/.local/share
// when unset or relative), with a trailing "/".
std::string UserConfigDir();
std::string UserDataDir();
// Where the configuration file is by default: UserConfigDir() when installed,
// otherwise ExeDir().
std::string DefaultIniDir();

// A shell "open" result above 32 is returned; anything else raises
// EProjError("ShellExecute error: <code>"), followed for 2 (not found) and 31 (no
// program for it) by a line saying what that means here.
int CheckShellExecute(int code);
