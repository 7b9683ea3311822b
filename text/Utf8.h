// Well-formed UTF-8, as strict as the standard: no overlong forms, no surrogates,
// nothing above U+10FFFF. Stored text is bytes in whatever set the page used; this
// tells the bytes that already are UTF-8 from the rest.
#pragma once

#include <cstddef>
#include <string_view>

// Length of the well-formed UTF-8 sequence at p (at most end - p bytes, p < end),
// 0 if none starts there.
std::size_t Utf8SequenceAt(const unsigned char* p, const unsigned char* end);

// Whether all of bytes is well-formed UTF-8 (the empty text is).
bool IsValidUtf8(std::string_view bytes);
