// The book writers' HTML-to-XHTML on arbitrary bodies and base addresses: whatever a
// page holds, the fragment must parse as XML (a strict e-book reader refuses the
// whole book otherwise), and the helpers keep their promises.
#include <fuzzer/FuzzedDataProvider.h>
#include <libxml/parser.h>

#include <string>

#include "export/BookText.h"
#include "fuzz/FuzzCheck.h"
#include "text/Utf8.h"

namespace {

bool IsWellFormedBody(const std::string& fragment) {
    const std::string document =
        "<body xmlns=\"http://www.w3.org/1999/xhtml\">" + fragment + "</body>";
    xmlDocPtr doc = xmlReadMemory(document.data(), static_cast<int>(document.size()), nullptr,
                                  "UTF-8", XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc) return false;
    xmlFreeDoc(doc);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string baseUrl = in.ConsumeRandomLengthString(80);
    const std::string bytes = in.ConsumeRemainingBytesAsString();

    const std::string html = DecodeForBook(bytes, "utf-8");
    FUZZ_CHECK(IsValidUtf8(html));
    const std::string xhtml = BodyToXhtml(html, baseUrl);
    FUZZ_CHECK(IsValidUtf8(xhtml));
    FUZZ_CHECK(IsWellFormedBody(xhtml));

    // Leaving deep tags out never adds anything.
    FUZZ_CHECK(FlattenDeepTags(html, 8).size() <= html.size());
    const std::string escaped = XmlEscape(html);
    FUZZ_CHECK(escaped.find_first_of("<>\"") == std::string::npos);
    FUZZ_CHECK(IsWellFormedBody(escaped));
    return 0;
}
