// Text of several lines made fit for the log.
#pragma once

#include <string>
#include <string_view>

// Text with every line break (CR LF, a lone LF or a lone CR) written as CR LF, and
// those at the end dropped (the logger ends each message with CR LF itself).
//
// The log pane reads its text like a teletype, where a lone LF keeps the column: a
// database error's lines, separated by LF alone, would otherwise be drawn as a
// staircase, and the log file would mix bare LF into its CR LF records.
std::string LogLines(std::string_view text);
