// Text from the network made safe before it reaches a log or a terminal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text from the network (a status line, a redirect address, a server's message) made
// safe for the log pane, the log file and a terminal: control bytes (below 32, and
// 127) become "\xHH", and text longer than MaxBytes is cut there with "..." appended.
// A cut never splits an escape.
std::string SafeLogText(std::string_view text, std::size_t maxBytes = 2000);
