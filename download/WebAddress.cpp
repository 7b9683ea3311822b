#include "download/WebAddress.h"

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

std::string_view TrimSpace(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
    return text;
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
    url = TrimSpace(url);
    return StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://");
}

std::string EncodeUrlBytes(std::string_view url) {
    url = TrimSpace(url);
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

std::string SafeLogText(std::string_view text, std::size_t maxBytes) {
    std::string out;
    out.reserve(text.size() < maxBytes ? text.size() : maxBytes);
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        const bool control = c < 32 || c == 127;
        if (out.size() + (control ? 4 : 1) > maxBytes) {
            out += "...";
            return out;
        }
        if (control) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}
