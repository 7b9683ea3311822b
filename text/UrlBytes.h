// Web addresses as pages write them, made safe before they leave the program (to a
// server, to the desktop).
//
// Pages write addresses as they please: with blanks, with bytes of their own
// character set. Those are stored as written and encoded only when they are used.
#pragma once

#include <string>
#include <string_view>

// Whether Url names an http or https resource (scheme compared case-insensitively,
// blanks around the address ignored). Only such addresses are fetched or handed to
// the desktop; "file:", "smb:" and custom handlers are refused.
bool IsWebAddress(std::string_view url);

// Url with every byte outside the URL character set percent-encoded: blanks, control
// bytes, bytes of 128 and above and the characters " < > \ ^ ` { | }. Everything
// else, existing "%XX" escapes and the reserved characters included, stays as it is,
// so an address that is already valid comes back unchanged. Leading and trailing
// blanks are dropped first, as a browser does.
std::string EncodeUrlBytes(std::string_view url);
