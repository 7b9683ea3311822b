// Web addresses and text that arrive from the network, made safe before they leave
// the program (to a server, to the desktop) or reach a log.
//
// Pages write addresses as they please: with blanks, with bytes of their own
// character set. Those are stored as written and encoded only when they are used.
#pragma once

#include <cstddef>
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

// Text from the network (a status line, a redirect address, a server's message) made
// safe for the log pane, the log file and a terminal: control bytes (below 32, and
// 127) become "\xHH", and text longer than MaxBytes is cut there with "..." appended.
// A cut never splits an escape.
std::string SafeLogText(std::string_view text, std::size_t maxBytes = 2000);
