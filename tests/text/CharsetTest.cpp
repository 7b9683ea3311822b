// Page bytes decoded by their declared character set: every byte comes out as
// something, and what comes out is always UTF-8.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "text/Charset.h"

namespace {

// True when text is well-formed UTF-8: no overlong forms, surrogates or code points
// beyond U+10FFFF.
bool IsUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t n = c < 0x80   ? 1
                              : c < 0xC2 ? 0
                              : c < 0xE0 ? 2
                              : c < 0xF0 ? 3
                              : c < 0xF5 ? 4
                                         : 0;
        if (n == 0 || i + n > text.size()) return false;
        char32_t code = n == 1 ? c : c & (0x7F >> n);
        for (std::size_t k = 1; k < n; ++k) {
            if ((text[i + k] & 0xC0) != 0x80) return false;
            code = (code << 6) | (text[i + k] & 0x3F);
        }
        const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += n;
    }
    return true;
}

TEST(DecodeToUtf8, DeclaredCharacterSets) {
    // "Café" in each.
    EXPECT_EQ(DecodeToUtf8("Caf\xc3\xa9", "UTF-8"), "Caf\xc3\xa9");
    EXPECT_EQ(DecodeToUtf8("Caf\xe9", "windows-1252"), "Caf\xc3\xa9");
    // Labels as pages write them: quoted, padded, any case.
    EXPECT_EQ(DecodeToUtf8("Caf\xe9 \x93", " \"ISO-8859-1\" "), "Caf\xc3\xa9 \xe2\x80\x9c");
    EXPECT_EQ(DecodeToUtf8("Caf\xc3\xa9", "'Utf8'"), "Caf\xc3\xa9");
    // windows-1250: 0x9A is "š", which Latin-1 would make a control character.
    EXPECT_EQ(DecodeToUtf8("\x9a", "windows-1250"), "\xc5\xa1");
    EXPECT_EQ(DecodeToUtf8("\xE0\xF2", "koi8-r"), "\xD0\xAE\xD0\xA0");
    // A stateful set: its shifts are followed and never show in the text.
    EXPECT_EQ(DecodeToUtf8("a\x1b$B0!\x1b(Bb", "iso-2022-jp"),
              "a\xe4\xba\x9c"
              "b");

    // Far more text than one conversion step holds, with a forbidden byte in the
    // middle: nothing lost at the seams.
    std::string page, expected;
    for (int i = 0; i < 3000; ++i) {
        page += "\xE0\xF2";
        expected += "\xD0\xAE\xD0\xA0";
    }
    page += "\xFF";
    expected += "\xD0\xAA";  // koi8-r's 0xFF
    page += page;
    expected += expected;
    EXPECT_EQ(DecodeToUtf8(page, "koi8-r"), expected);
}

TEST(DecodeToUtf8, LatinAndAsciiLabelsReadAsBrowsersReadThem) {
    // Such pages hold Windows-1252's quotes, dashes and letters in 0x80-0x9F.
    for (const char* label : {"", "iso-8859-1", "ISO8859-1", "latin1", "us-ascii", "ascii"}) {
        EXPECT_EQ(DecodeToUtf8("\x93\x8Akoda\x94 \x96 5\x80", label),
                  "\xe2\x80\x9c\xc5\xa0koda\xe2\x80\x9d \xe2\x80\x93 5\xe2\x82\xac")
            << label;
    }
    // Every byte as the C library's Windows-1252 reads it, the five it leaves
    // undefined as Latin-1.
    iconv_t cd = iconv_open("UTF-8", "WINDOWS-1252");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    for (int byte = 0; byte < 256; ++byte) {
        char in = static_cast<char>(byte);
        char out[8];
        char* inPtr = &in;
        char* outPtr = out;
        size_t inLeft = 1, outLeft = sizeof out;
        std::string expected;
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
            expected = byte < 0x80 ? std::string(1, in)
                                   : std::string{static_cast<char>(0xC0 | (byte >> 6)),
                                                 static_cast<char>(0x80 | (byte & 0x3F))};
        } else {
            expected.assign(out, outPtr);
        }
        EXPECT_EQ(DecodeToUtf8(std::string(1, in), "iso-8859-1"), expected) << byte;
    }
    iconv_close(cd);
}

TEST(DecodeToUtf8, ForbiddenBytesReadAsLatin1AndTheResultIsUtf8) {
    // Empty is Windows-1252 (above); an unknown label is Latin-1.
    EXPECT_EQ(DecodeToUtf8("Caf\xe9 \x93", "no-such-charset"), "Caf\xc3\xa9 \xc2\x93");
    // A byte the declared set forbids keeps its Latin-1 meaning; the rest decodes.
    EXPECT_EQ(DecodeToUtf8("\xe9t\xc3\xa9", "utf-8"), "\xc3\xa9t\xc3\xa9");
    EXPECT_EQ(DecodeToUtf8("ab\xc3", "utf-8"), "ab\xc3\x83");
    // What only looks like UTF-8: beyond U+10FFFF, a surrogate, an overlong "/".
    EXPECT_EQ(DecodeToUtf8("\xf4\x90\x80\x80", "utf-8"), "\xc3\xb4\xc2\x90\xc2\x80\xc2\x80");
    EXPECT_EQ(DecodeToUtf8("\xed\xa0\x80", "utf-8"), "\xc3\xad\xc2\xa0\xc2\x80");
    EXPECT_EQ(DecodeToUtf8("\xc0\xaf", "utf-8"), "\xc3\x80\xc2\xaf");
    // Sets through which the C library would let such code points out.
    EXPECT_TRUE(IsUtf8(DecodeToUtf8(std::string("\x00\x11\x00\x00", 4), "ucs-4")));
    EXPECT_TRUE(IsUtf8(DecodeToUtf8("\xf4\x90\x80\x80", "utf-8//ignore")));
    EXPECT_EQ(DecodeToUtf8("", "koi8-r"), "");
}

}  // namespace
