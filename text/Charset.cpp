#include "text/Charset.h"

#include <errno.h>
#include <iconv.h>

#include <cctype>

#include "text/Utf8.h"

namespace {

void AppendLatin1(std::string& out, unsigned char c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string Latin1ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (unsigned char c : bytes) AppendLatin1(out, c);
    return out;
}

// Windows-1252's 0x80-0x9F as UTF-8; the five bytes it leaves undefined stay Latin-1.
// Pages of this set are common enough to deserve a table instead of iconv.
constexpr const char* kWindows1252High[32] = {
    "\u20AC", "\u0081", "\u201A", "\u0192", "\u201E", "\u2026", "\u2020", "\u2021",
    "\u02C6", "\u2030", "\u0160", "\u2039", "\u0152", "\u008D", "\u017D", "\u008F",
    "\u0090", "\u2018", "\u2019", "\u201C", "\u201D", "\u2022", "\u2013", "\u2014",
    "\u02DC", "\u2122", "\u0161", "\u203A", "\u0153", "\u009D", "\u017E", "\u0178"};

std::string Windows1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (unsigned char c : bytes) {
        if (c >= 0x80 && c < 0xA0)
            out += kWindows1252High[c - 0x80];
        else
            AppendLatin1(out, c);
    }
    return out;
}

// Page declarations come as written on the page: quoted, padded, mixed case.
std::string CleanName(std::string_view encoding) {
    std::string name;
    for (char c : encoding)
        if (!std::isspace(static_cast<unsigned char>(c)) && c != '"' && c != '\'')
            name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

// UTF-8 needs no conversion, only a check: this is most pages, and much faster than
// a round trip through iconv.
std::string CheckedUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    const auto* run = p;  // start of the well-formed bytes not yet copied
    while (p < end) {
        const size_t n = Utf8SequenceAt(p, end);
        if (n == 0) {
            out.append(reinterpret_cast<const char*>(run), p - run);
            AppendLatin1(out, *p++);
            run = p;
        } else {
            p += n;
        }
    }
    out.append(reinterpret_cast<const char*>(run), p - run);
    return out;
}

bool IsUtf8Name(const std::string& name) {
    return name == "utf-8" || name == "utf8";
}

// Pages labelled Latin-1 or ASCII (or not at all) hold Windows-1252's quotes, dashes
// and letters in 0x80-0x9F; browsers read them so, and so do we.
bool IsWindows1252Name(const std::string& name) {
    return name.empty() || name == "windows-1252" || name == "cp1252" || name == "iso-8859-1" ||
           name == "iso8859-1" || name == "iso_8859-1" || name == "latin1" || name == "latin-1" ||
           name == "us-ascii" || name == "ascii";
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

std::string DecodeToUtf8(std::string_view bytes, std::string_view encoding) {
    std::string name = CleanName(encoding);
    if (IsUtf8Name(name)) return CheckedUtf8(bytes);
    if (IsWindows1252Name(name)) return Windows1252ToUtf8(bytes);
    TIconv cd(name);
    if (!cd.Ok()) return Latin1ToUtf8(bytes);

    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    char buffer[4096];
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        const size_t rc = iconv(cd.Handle(), &in, &inLeft, &outPtr, &outLeft);
        const int error = errno;
        out.append(buffer, outPtr - buffer);
        if (rc != static_cast<size_t>(-1) || error == E2BIG) continue;
        // A byte the set does not allow (or a sequence cut off at the end): keep it as
        // Latin-1 and go on after it.
        AppendLatin1(out, static_cast<unsigned char>(*in));
        ++in;
        --inLeft;
        iconv(cd.Handle(), nullptr, nullptr, nullptr, nullptr);
    }
    // Flush a stateful encoding's final shift sequence.
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    iconv(cd.Handle(), nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, outPtr - buffer);
    // iconv lets some sets (UCS-4, wchar_t, "utf-8//ignore") yield code points beyond
    // Unicode; those bytes too are read as Latin-1, so that what comes out is UTF-8.
    return CheckedUtf8(out);
}
