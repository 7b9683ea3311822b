// The index's HTML-to-text on arbitrary page bodies: it may not fail or read outside
// its input, and what it returns keeps the promises callers build on (UTF-8, single
// blanks, no control characters, which the snippets use as markers).
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "fuzz/FuzzCheck.h"
#include "search/HtmlText.h"
#include "text/Charset.h"
#include "text/Utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Stored bodies reach the index decoded, so the input is decoded first as well.
    const std::string html =
        DecodeToUtf8(std::string_view(reinterpret_cast<const char*>(data), size), "utf-8");
    const std::string text = HtmlToText(html);
    FUZZ_CHECK(IsValidUtf8(text));
    FUZZ_CHECK(text.find("  ") == std::string::npos);
    for (const char c : text) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20);
    return 0;
}
