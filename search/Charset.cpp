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
