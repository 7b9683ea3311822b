#include "text/Utf8.h"

// Stricter than iconv, which lets code points above U+10FFFF through.
std::size_t Utf8SequenceAt(const unsigned char* p, const unsigned char* end) {
    const unsigned char c = p[0];
    std::size_t n;
    unsigned min;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (static_cast<std::size_t>(end - p) < n) return 0;
    unsigned code = c & (0x7F >> n);
    for (std::size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        code = (code << 6) | (p[i] & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return n;
}

bool IsValidUtf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        // ASCII, most of any text, needs no look at what follows.
        if (*p < 0x80) {
            ++p;
            continue;
        }
        const std::size_t n = Utf8SequenceAt(p, end);
        if (n == 0) return false;
        p += n;
    }
    return true;
}
