// Command-line switch lookup: "-X" or "/X" parameters matched by prefix.
#pragma once

#include <string>
#include <vector>

namespace CmdLine {

enum TSwitchOption : unsigned {
    soCaseSensitive = 1,  // compare the switch name case-sensitively
    soUpperCase = 2,      // GetSwitchValue returns the value upper-cased
    soLowerCase = 4,      // ... lower-cased (ignored with soUpperCase)
    soContinue = 8,       // start searching at SwitchIndex instead of 1
    soAsIs = 16,          // return the value as written (overrides the case options)
};
using TSwitchOptions = unsigned;

// Running index into the parameters; 1 is the first one after the program name.
// FindSwitch leaves the position of a match here; callers may read and set it.
extern int SwitchIndex;

// Installs the parameters the lookups search (argv[0] is the program itself).
void SetParams(int argc, const char* const* argv);
void SetParams(std::vector<std::string> params);  // params[0] is the program
int ParamCount();
std::string ParamStr(int index);  // "" outside 0..ParamCount()

// True when a parameter "-Switch..." or "/Switch..." exists (or, for an empty
// Switch, a parameter that is not a switch). SwitchIndex is left on the match.
bool FindSwitch(const std::string& Switch, TSwitchOptions options = 0);

// As FindSwitch; on a match Value receives the rest of the parameter after the switch.
// Value is left unchanged when nothing matches.
bool GetSwitchValue(const std::string& Switch, TSwitchOptions options, std::string& value);

}  // namespace CmdLine
