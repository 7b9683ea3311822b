// A page reader fed an arbitrary page, as RunDownload feeds it after a fetch: it must
// deliver the content exactly once, pass each pass's "first" through, number links
// from where it says, and never fail or read outside the page.
#include <cstdlib>
#include <string>

#include "fuzz/FuzzCheck.h"

#ifdef WF_FUZZ_ALPHABEDS
#include "download/wf_AlphaBeds.h"
using TReader = TAlphaBedsDownload;
#else
#include "download/wf_EzTrip.h"
using TReader = TEzTripDownload;
#endif

namespace {

struct TDelivered {
    int Contents = 0;
    int Links = 0;
    bool First = true;
    bool WrongPass = false;
    bool WrongHandle = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string html(reinterpret_cast<const char*>(data), size);
    TReader reader;
    TDownloadHandle handle(7, 3, "FUZZ");
    TDelivered got;
    reader.OnContent = [&](const std::string& title, const std::string& body, const std::string&,
                           const std::string&, const std::string&, const std::string&,
                           TDownloadHandle& h) {
        ++got.Contents;
        got.WrongHandle |= &h != &handle;
        FUZZ_CHECK(title.size() <= html.size() && body.size() <= html.size());
    };
    reader.OnLink = [&](bool first, const std::string& title, const std::string&,
                        const std::string& origId, int, TDownloadHandle& h) {
        ++got.Links;
        got.WrongPass |= first != got.First;
        got.WrongHandle |= &h != &handle;
        FUZZ_CHECK(title.size() <= html.size());
        FUZZ_CHECK(origId.find('/') == std::string::npos);
    };
    const std::string url = "http://127.0.0.1:8808/site/page.html";
    reader.ParseContent(url, html, handle);
    got.First = true;
    reader.ParseLinks(true, url, html, handle);
    got.First = false;
    reader.ParseLinks(false, url, html, handle);
    FUZZ_CHECK(got.Contents == 1);
    FUZZ_CHECK(!got.WrongPass && !got.WrongHandle);
    FUZZ_CHECK(static_cast<size_t>(got.Links) <= html.size());
    return 0;
}
