#include "config/CmdLine.h"

#include <algorithm>
#include <cctype>

namespace CmdLine {

int SwitchIndex = 1;

namespace {
std::vector<std::string>& Params() {
    static std::vector<std::string> params{""};
    return params;
}

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool IsSwitch(const std::string& p) {
    return !p.empty() && (p[0] == '-' || p[0] == '/');
}
}  // namespace

void SetParams(int argc, const char* const* argv) {
    std::vector<std::string> params;
    for (int i = 0; i < argc; ++i) params.emplace_back(argv[i] ? argv[i] : "");
    SetParams(std::move(params));
}

void SetParams(std::vector<std::string> params) {
    if (params.empty()) params.emplace_back();
    Params() = std::move(params);
    SwitchIndex = 1;
}

int ParamCount() {
    return static_cast<int>(Params().size()) - 1;
}

std::string ParamStr(int index) {
    if (index < 0 || index > ParamCount()) return {};
    return Params()[static_cast<size_t>(index)];
}

bool FindSwitch(const std::string& Switch, TSwitchOptions options) {
    if (!(options & soContinue)) SwitchIndex = 1;
    const bool caseSensitive = options & soCaseSensitive;
    const std::string wanted = caseSensitive ? Switch : Upper(Switch);
    if (SwitchIndex < 1) SwitchIndex = 1;
    while (SwitchIndex <= ParamCount()) {
        const std::string p = ParamStr(SwitchIndex);
        bool match;
        if (IsSwitch(p)) {
            std::string head = p.substr(1, wanted.size());
            if (!caseSensitive) head = Upper(head);
            match = !wanted.empty() && head == wanted;
        } else {
            match = wanted.empty();
        }
        if (match) return true;
        ++SwitchIndex;
    }
    return false;
}

bool GetSwitchValue(const std::string& Switch, TSwitchOptions options, std::string& value) {
    if (!FindSwitch(Switch, options)) return false;
    std::string v = ParamStr(SwitchIndex);
    if (!Switch.empty()) v.erase(0, 1 + Switch.size());
    if (!(options & soAsIs)) {
        if (options & soUpperCase)
            v = Upper(v);
        else if (options & soLowerCase)
            v = Lower(v);
    }
    value = std::move(v);
    return true;
}

}  // namespace CmdLine
