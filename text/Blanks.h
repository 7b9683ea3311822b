// Blanks around text that arrives from pages, servers and the user.
#pragma once

#include <string_view>

// Whether c is a blank: a byte of code 32 or below (space, tab, line breaks and the
// other control bytes), as pages and headers pad their values with any of them.
constexpr bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

// Text without its leading and trailing blanks; a view into the same buffer.
std::string_view TrimBlanks(std::string_view text);
