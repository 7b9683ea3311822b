// Text put into HTML or XML that we write ourselves (a page, a book, a list of links).
#pragma once

#include <string>
#include <string_view>

// Text with & < > " written as entities, so that it reads as character data or as a
// double-quoted attribute value and never as markup. Every other byte stays as it is.
std::string XmlEscape(std::string_view text);
