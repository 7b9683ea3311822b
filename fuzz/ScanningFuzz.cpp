// The scanning routines and the web-address helpers on arbitrary bytes: none may fail,
// read outside its input or loop, and each keeps the promise its header makes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "download/wf_Download.h"
#include "fuzz/FuzzCheck.h"
#include "text/Blanks.h"
#include "text/SafeText.h"
#include "text/UrlBytes.h"

namespace {

bool IsSuffix(std::string_view whole, std::string_view part) {
    return part.size() <= whole.size() && whole.substr(whole.size() - part.size()) == part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string start = in.ConsumeRandomLengthString(16);
    const std::string end = in.ConsumeRandomLengthString(16);
    const std::string href = in.ConsumeRandomLengthString(256);
    const std::string text = in.ConsumeRemainingBytesAsString();

    // Cutting items until nothing remains always ends, and each cut leaves a suffix.
    std::string_view rest = text;
    size_t cuts = 0;
    while (!rest.empty()) {
        const std::string_view before = rest;
        const std::string_view item = CutBetween(rest, start, end);
        FUZZ_CHECK(IsSuffix(before, rest) && rest.size() < before.size());
        FUZZ_CHECK(item.size() <= before.size());
        FUZZ_CHECK(++cuts <= text.size() + 1);
    }
    // The copying form agrees with the view form.
    std::string copy = text;
    std::string_view view = text;
    FUZZ_CHECK(CutBetween(copy, start, end) == CutBetween(view, start, end));
    FUZZ_CHECK(copy == view);

    const std::string_view trimmed = TrimBlanks(text);
    FUZZ_CHECK(trimmed.empty() || (static_cast<unsigned char>(trimmed.front()) > 32 &&
                                   static_cast<unsigned char>(trimmed.back()) > 32));

    const std::string charset = FindCharset(text, "utf-8");
    for (char c : charset) FUZZ_CHECK(!(c >= 'A' && c <= 'Z'));

    const std::string absolute = MakeAbsoluteUrl(text.substr(0, 512), href);
    const std::string base = UrlBaseName(absolute);
    FUZZ_CHECK(base.find('/') == std::string::npos && base.find('.') == std::string::npos);
    (void)UrlBaseName(text);
    (void)IsWebAddress(text);

    // An encoded address holds only URL characters, so encoding it again changes nothing.
    const std::string encoded = EncodeUrlBytes(text);
    for (unsigned char c : encoded) FUZZ_CHECK(c > 32 && c < 127);
    FUZZ_CHECK(EncodeUrlBytes(encoded) == encoded);
    FUZZ_CHECK(IsWebAddress(text) == IsWebAddress(encoded));

    // Log text carries no control byte and stays within its bound.
    const size_t bound = in.remaining_bytes() % 64;
    for (size_t maxBytes : {bound, size_t{2000}}) {
        const std::string safe = SafeLogText(text, maxBytes);
        for (unsigned char c : safe) FUZZ_CHECK(c >= 32 && c != 127);
        FUZZ_CHECK(safe.size() <= maxBytes + 3);
    }
    return 0;
}
