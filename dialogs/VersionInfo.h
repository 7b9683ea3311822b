// The program's version record: the product name, version, legal notice and the like,
// compiled into the program from the build's project settings. It answers the same
// queries a Windows version resource does ("\StringFileInfo\040904E4\ProductName"), so
// the about dialog can look up a value by a label's name.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// One entry of the record's translation list: a language and a code page, which
// together name a string table ("040904E4" is US English, code page 1252).
struct TVerTranslation {
    std::uint16_t Language = 0;
    std::uint16_t CodePage = 0;
};

class TVersionRecord {
public:
    // A record with no translations and no strings: the program carries no record.
    bool IsEmpty() const { return translations_.empty() && tables_.empty(); }

    void AddTranslation(TVerTranslation translation);
    // Sets a value in the string table of a translation (a table may exist without
    // a translation entry naming it, as in a hand-made resource).
    void SetString(TVerTranslation table, const std::string& key, const std::string& value);

    // The "\VarFileInfo\Translation" list, in record order; empty when the record has none.
    const std::vector<TVerTranslation>& Translations() const { return translations_; }

    // Looks up "\StringFileInfo\<table>\<key>"; the table is eight hexadecimal digits
    // (language, then code page). Names compare without regard to case. False when the
    // query is malformed or the record has no such value; an empty value is a value.
    bool QueryValue(const std::string& subBlock, std::string& value) const;

private:
    struct TTable {
        TVerTranslation id;
        std::vector<std::pair<std::string, std::string>> strings;
    };
    std::vector<TVerTranslation> translations_;
    std::vector<TTable> tables_;
};

// "\StringFileInfo\040904E4\<key>": the query for a key in a translation's string table,
// language and code page as four upper-case hexadecimal digits each.
std::string StringFileInfoQuery(TVerTranslation translation, const std::string& key);

// The translation the program's own record uses: language 0409, code page 04E4.
inline constexpr TVerTranslation ProgramTranslation{0x0409, 0x04E4};

// The record compiled into the program. Returned by value: every reader gets a fresh
// copy, so nothing read once is carried over to the next reading.
TVersionRecord ProgramVersionRecord();
