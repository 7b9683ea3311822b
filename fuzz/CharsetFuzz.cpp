// Page bytes in any declared character set, the label as a page may write it: the
// decoder may not fail or read outside its input, and always returns UTF-8; text
// that is UTF-8 already, or ASCII under an ASCII-compatible label, comes back as it is.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "fuzz/FuzzCheck.h"
#include "text/Charset.h"
#include "text/Utf8.h"

namespace {

const char* const kLabels[] = {"",           "utf-8",    "UTF8",      " \"ISO-8859-1\" ",
                               "windows-1252", "koi8-r", "shift_jis", "euc-jp",
                               "gb18030",    "big5",     "utf-16",    "utf-7",
                               "iso-2022-jp", "windows-1251", "x-unknown-set"};

bool IsAscii(const std::string& bytes) {
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string label =
        in.ConsumeBool() ? std::string(in.PickValueInArray(kLabels)) : in.ConsumeRandomLengthString(24);
    const std::string bytes = in.ConsumeRemainingBytesAsString();

    const std::string text = DecodeToUtf8(bytes, label);
    FUZZ_CHECK(IsValidUtf8(text));
    if (IsValidUtf8(bytes)) FUZZ_CHECK(DecodeToUtf8(bytes, "utf-8") == bytes);
    if (IsAscii(bytes)) {
        FUZZ_CHECK(DecodeToUtf8(bytes, "") == bytes);
        FUZZ_CHECK(DecodeToUtf8(bytes, "iso-8859-1") == bytes);
    }
    // Decoding is a function of its input: the same bytes give the same text.
    FUZZ_CHECK(DecodeToUtf8(bytes, label) == text);
    return 0;
}
