// Stored page bytes to UTF-8 text. Bodies and titles stay bytes everywhere else; the
// search index and the book writers need one character set, so they decode here.
#pragma once

#include <string>
#include <string_view>

// The bytes decoded from the named character set (an HTML charset label as the page
// declared it, such as "utf-8", "iso-8859-1", "windows-1251"; blanks and quotes
// around it and case do not matter) into UTF-8. Labels of Latin-1 or ASCII, and an
// empty label, read as Windows-1252, as browsers read such pages. An unknown label
// reads as Latin-1; a byte sequence the named set does not allow is taken as Latin-1
// too, so decoding always succeeds and no byte is dropped. The result is always
// well-formed UTF-8.
std::string DecodeToUtf8(std::string_view bytes, std::string_view encoding);
