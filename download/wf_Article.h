// Reader for any web page ("ARTICLE"): the body is the page's main text (see
// MainText.h), the title its heading. The children are the links of the main text
// that stay within the guide: on the same host, under the folder of the guide's top
// document (the handle's TopUrl; the page's own address when the host does not say),
// in page order, each address once and the page itself never. Files that are no page
// (images, archives, PDF) are not followed. A document's identifier is its address
// reduced by AddressIdentifier, host included: this one guide type serves every site,
// and two sites' "/index.html" are two documents.
//
// Links come in the first pass only: whatever a page links to is its own child. The
// body is serialised as UTF-8 and declared so, whatever the page's own set.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "download/LinkAddress.h"
#include "download/MainText.h"
#include "download/wf_Download.h"

class TArticleDownload : public THttpDownload {
public:
    static std::string MakeOrigId(std::string_view url) { return AddressIdentifier(url); }
    std::string OrigIdOf(std::string_view url) const override { return MakeOrigId(url); }

    void ParseContent(const std::string& url, const std::string& html,
                      TDownloadHandle& handle) override;
    void ParseLinks(bool first, const std::string& url, const std::string& html,
                    TDownloadHandle& handle) override;
    // Any HTML page is one this reader knows; bytes without an element are not.
    bool KnowsLayout(const std::string& url, const std::string& html) const override;

    // Whether a link to url leads to something other than a page (an image, an
    // archive, a PDF), judged by the name's extension.
    static bool IsFileLink(std::string_view url);

protected:
    // The page's main text, read once for the content and the links of one page.
    const TMainText& MainText(const std::string& url, const std::string& html) const;
    // Delivers the content of an HTML page by the rules above.
    void DeliverArticle(const std::string& url, const std::string& html, TDownloadHandle& handle);

private:
    mutable std::string cachedUrl_;
    mutable std::size_t cachedHash_ = 0, cachedSize_ = 0;
    mutable bool cached_ = false;
    mutable TMainText main_;
};
