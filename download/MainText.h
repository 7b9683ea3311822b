// The main text of a web page written by anyone: what a reader of the page came for,
// without the site's navigation, banners, scripts and styles. Found the way the page
// marks it (<main>, a single <article>, role="main"), else as the block that holds
// most of the page's text: starting from <body>, the walk goes down into a child
// block as long as one holds most of the text of its parent.
//
// The page is parsed with libxml2's HTML parser, which reads broken markup much as
// browsers do and decodes the page by the character set it declares (a page that
// declares none and is no UTF-8 reads as Latin-1). Everything that comes out is UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct TMainText {
    struct TLink {
        std::string Text;  // the link's text, blanks collapsed; its image's alt text
                           // when it has no text; empty when it has neither
        std::string Url;   // resolved against the page (or its <base>), no fragment
    };
    // The page's heading: the first <h1> of the main text, else of the page, else its
    // <title>; blanks collapsed, a heading's own permalink ("#...") left out.
    std::string Title;
    // The HTML inside the main element, left-out parts removed, every href and src
    // made absolute so that it works wherever the body is shown.
    std::string Body;
    // The http and https links of the main text, in page order, every one (the same
    // address may occur more than once).
    std::vector<TLink> Links;
    bool Parsed = false;  // false: the bytes held no HTML element at all
};

// Reads the page html fetched from pageUrl (an absolute address). Never fails: any
// bytes give a result, empty when they hold no text.
TMainText ReadMainText(std::string_view pageUrl, std::string_view html);

// Text with runs of blanks (bytes 32 and below) made one space, trimmed.
std::string CollapseBlanks(std::string_view text);
