// Stored page bytes to UTF-8 text, for indexing. Bodies stay bytes everywhere else;
// only the search index needs one character set to compare words across pages.
#pragma once

#include <string>

// The bytes decoded from the named character set into UTF-8. An empty or unknown
// name decodes as Latin-1; a byte sequence the named set does not allow is taken as
// Latin-1 too, so decoding always succeeds and no text is dropped.
std::string DecodeToUtf8(const std::string& bytes, const std::string& encoding);
