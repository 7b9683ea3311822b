// Turning stored page bytes into text an e-book or a printed book can hold: decoded
// to UTF-8 and cut down to well-formed XHTML.
//
// Stored bodies are fragments cut out of pages written for browsers of their time:
// bytes of the page's own character set, unclosed tags, layout tables, fonts and
// scripts. A book reader is strict, so a body is parsed by libxml2's HTML parser (as
// a browser would read it) and written out again with a small set of elements that
// are valid wherever they are put. No network access: images are not embedded, a
// remote image becomes a link to it.
#pragma once

#include <string>
#include <string_view>

#include "text/MarkupEscape.h"  // XmlEscape, used by the book writers

// Bytes in the named character set as UTF-8 (DecodeToUtf8: nothing is ever lost
// or refused), without the control characters that XML cannot hold.
std::string DecodeForBook(std::string_view bytes, std::string_view encoding);

// The HTML fragment (UTF-8) as an XHTML fragment for inside <body>: only elements
// and attributes that every reader accepts, nested as XHTML allows, links made
// absolute against baseUrl (addresses that are not web addresses lose their link,
// keeping their text), images replaced by a link to them (or their text inside a
// link). Scripts, styles, forms and embedded objects are left out.
std::string BodyToXhtml(std::string_view utf8Html, std::string_view baseUrl);

// The HTML with start tags that would nest deeper than maxDepth left out, and their
// end tags with them; text and shallower markup stay as they are. Nesting is counted
// roughly as a browser builds it (void elements, "<p>" closing an open "<p>").
std::string FlattenDeepTags(std::string_view html, std::size_t maxDepth);

