#include "text/UrlBytes.h"

#include "text/Blanks.h"

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

constexpr char kHex[] = "0123456789ABCDEF";

bool NeedsEncoding(unsigned char c) {
    if (c <= 32 || c >= 127) return true;
    switch (c) {
        case '"':
        case '<':
        case '>':
        case '\\':
        case '^':
        case '`':
        case '{':
        case '|':
        case '}':
            return true;
        default:
            return false;
    }
}

}  // namespace

bool IsWebAddress(std::string_view url) {
    url = TrimBlanks(url);
    return StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://");
}

std::string EncodeUrlBytes(std::string_view url) {
    url = TrimBlanks(url);
    std::string out;
    out.reserve(url.size());
    for (const char ch : url) {
        const auto c = static_cast<unsigned char>(ch);
        if (NeedsEncoding(c)) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}
