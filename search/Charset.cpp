#include "search/Charset.h"

#include <errno.h>
#include <iconv.h>

#include <cctype>
#include <vector>

namespace {

void AppendLatin1(std::string& out, unsigned char c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string Latin1ToUtf8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (unsigned char c : bytes) AppendLatin1(out, c);
    return out;
}

// Page declarations come as written on the page: quoted, padded, mixed case.
std::string CleanName(const std::string& encoding) {
    std::string name;
    for (char c : encoding)
        if (!std::isspace(static_cast<unsigned char>(c)) && c != '"' && c != '\'') name += c;
    return name;
}

// Length of the well-formed UTF-8 sequence at p (at most end - p bytes), 0 if none.
size_t Utf8SequenceAt(const unsigned char* p, const unsigned char* end) {
    const unsigned char c = p[0];
    size_t n;
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
    if (static_cast<size_t>(end - p) < n) return 0;
    unsigned code = c & (0x7F >> n);
    for (size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        code = (code << 6) | (p[i] & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return n;
}

// UTF-8 needs no conversion, only a check: this is most pages, and much faster than
// a round trip through iconv.
std::string CheckedUtf8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        const size_t n = Utf8SequenceAt(p, end);
        if (n == 0) {
            AppendLatin1(out, *p++);
        } else {
            out.append(reinterpret_cast<const char*>(p), n);
            p += n;
        }
    }
    return out;
}

bool IsUtf8Name(std::string name) {
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name == "utf-8" || name == "utf8";
}

bool IsLatin1Name(std::string name) {
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name.empty() || name == "iso-8859-1" || name == "latin1" || name == "latin-1" ||
           name == "iso8859-1" || name == "none";
}

class TIconv {
public:
    explicit TIconv(const std::string& from) : cd_(iconv_open("UTF-8", from.c_str())) {}
    ~TIconv() {
        if (Ok()) iconv_close(cd_);
    }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;
    bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t Handle() const { return cd_; }

private:
    iconv_t cd_;
};

}  // namespace

std::string DecodeToUtf8(const std::string& bytes, const std::string& encoding) {
    const std::string name = CleanName(encoding);
    if (IsLatin1Name(name)) return Latin1ToUtf8(bytes);
    if (IsUtf8Name(name)) return CheckedUtf8(bytes);
    TIconv cd(name);
    if (!cd.Ok()) return Latin1ToUtf8(bytes);

    std::string out;
    std::vector<char> buffer(bytes.size() * 2 + 64);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        size_t outLeft = buffer.size();
        const size_t rc = iconv(cd.Handle(), &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer.data(), buffer.size() - outLeft);
        if (rc != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) continue;
        // A byte the set does not allow (or a sequence cut off at the end): keep it as
        // Latin-1 and go on after it.
        AppendLatin1(out, static_cast<unsigned char>(*in));
        ++in;
        --inLeft;
        iconv(cd.Handle(), nullptr, nullptr, nullptr, nullptr);
    }
    // Flush a stateful encoding's final shift sequence.
    char* outPtr = buffer.data();
    size_t outLeft = buffer.size();
    iconv(cd.Handle(), nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer.data(), buffer.size() - outLeft);
    return out;
}
