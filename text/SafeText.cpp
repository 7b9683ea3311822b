#include "text/SafeText.h"

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

}  // namespace

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
