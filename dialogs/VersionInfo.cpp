#include "dialogs/VersionInfo.h"

#include <cstdio>

#include "config/AuxProj.h"
#include "dialogs/VersionValues.h"

namespace {

bool HexDigit(char c, unsigned& d) {
    if (c >= '0' && c <= '9')
        d = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f')
        d = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
        d = static_cast<unsigned>(c - 'A' + 10);
    else
        return false;
    return true;
}

// Reads the eight-digit table name "llllcccc".
bool ParseTableName(const std::string& text, TVerTranslation& id) {
    if (text.size() != 8) return false;
    unsigned value = 0;
    for (char c : text) {
        unsigned d;
        if (!HexDigit(c, d)) return false;
        value = value * 16 + d;
    }
    id.Language = static_cast<std::uint16_t>(value >> 16);
    id.CodePage = static_cast<std::uint16_t>(value & 0xFFFF);
    return true;
}

bool SameId(TVerTranslation a, TVerTranslation b) {
    return a.Language == b.Language && a.CodePage == b.CodePage;
}

}  // namespace

void TVersionRecord::AddTranslation(TVerTranslation translation) {
    translations_.push_back(translation);
}

void TVersionRecord::SetString(TVerTranslation table, const std::string& key,
                               const std::string& value) {
    TTable* target = nullptr;
    for (auto& t : tables_)
        if (SameId(t.id, table)) target = &t;
    if (!target) {
        tables_.push_back({table, {}});
        target = &tables_.back();
    }
    for (auto& s : target->strings)
        if (SameText(s.first, key)) {
            s.second = value;
            return;
        }
    target->strings.emplace_back(key, value);
}

bool TVersionRecord::QueryValue(const std::string& subBlock, std::string& value) const {
    static const std::string prefix = "\\StringFileInfo\\";
    if (subBlock.size() < prefix.size() || !SameText(subBlock.substr(0, prefix.size()), prefix))
        return false;
    const size_t tableEnd = subBlock.find('\\', prefix.size());
    if (tableEnd == std::string::npos) return false;
    TVerTranslation id;
    if (!ParseTableName(subBlock.substr(prefix.size(), tableEnd - prefix.size()), id)) return false;
    const std::string key = subBlock.substr(tableEnd + 1);
    if (key.empty()) return false;
    for (const auto& t : tables_) {
        if (!SameId(t.id, id)) continue;
        for (const auto& s : t.strings)
            if (SameText(s.first, key)) {
                value = s.second;
                return true;
            }
    }
    return false;
}

std::string StringFileInfoQuery(TVerTranslation translation, const std::string& key) {
    char table[9];
    std::snprintf(table, sizeof table, "%04X%04X", static_cast<unsigned>(translation.Language),
                  static_cast<unsigned>(translation.CodePage));
    return "\\StringFileInfo\\" + std::string(table) + "\\" + key;
}

TVersionRecord ProgramVersionRecord() {
    TVersionRecord record;
    record.AddTranslation(ProgramTranslation);
    const std::pair<const char*, const char*> values[] = {
        {"CompanyName", WF_VER_COMPANY_NAME},
        {"FileDescription", WF_VER_FILE_DESCRIPTION},
        {"FileVersion", WF_VER_FILE_VERSION},
        {"InternalName", WF_VER_INTERNAL_NAME},
        {"LegalCopyright", WF_VER_LEGAL_COPYRIGHT},
        {"LegalTrademarks", WF_VER_LEGAL_TRADEMARKS},
        {"OriginalFilename", WF_VER_ORIGINAL_FILENAME},
        {"ProductName", WF_VER_PRODUCT_NAME},
        {"ProductVersion", WF_VER_PRODUCT_VERSION},
        {"HomePage", WF_VER_HOME_PAGE},
        {"Email", WF_VER_EMAIL},
    };
    for (const auto& v : values) record.SetString(ProgramTranslation, v.first, v.second);
    return record;
}
