// The readable text of an HTML body, for indexing: markup, scripts and styles
// removed, character references resolved, white space collapsed.
#pragma once

#include <string>

// html is UTF-8 (see DecodeToUtf8). The result is UTF-8 with single blanks between
// words and no control characters, so that callers may use those as markers. Block
// elements (paragraphs, cells, line breaks ...) separate words; inline ones do not.
std::string HtmlToText(const std::string& html);
