#include "download/MainText.h"

#include <libxml/HTMLparser.h>
#include <libxml/HTMLtree.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstring>
#include <memory>
#include <mutex>

#include "download/LinkAddress.h"

namespace {

struct TDocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using TDocPtr = std::unique_ptr<xmlDoc, TDocFree>;

struct TBufferFree {
    void operator()(xmlOutputBuffer* buf) const { xmlOutputBufferClose(buf); }
};

struct TXmlFree {
    void operator()(xmlChar* p) const { xmlFree(p); }
};
using TXmlText = std::unique_ptr<xmlChar, TXmlFree>;

bool Named(const xmlNode* node, const char* name) {
    return node && node->type == XML_ELEMENT_NODE && node->name &&
           xmlStrcasecmp(node->name, BAD_CAST name) == 0;
}

std::string Attr(const xmlNode* node, const char* name) {
    TXmlText value(xmlGetProp(node, BAD_CAST name));
    return value ? std::string(reinterpret_cast<const char*>(value.get())) : std::string();
}

std::string LowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Whether one of the blank-separated words of value is in words.
template <std::size_t N>
bool HasWord(const std::string& value, const char* const (&words)[N]) {
    std::size_t pos = 0;
    const std::string v = LowerAscii(value);
    while (pos < v.size()) {
        while (pos < v.size() && static_cast<unsigned char>(v[pos]) <= 32) ++pos;
        std::size_t end = pos;
        while (end < v.size() && static_cast<unsigned char>(v[end]) > 32) ++end;
        if (end > pos) {
            const std::string word = v.substr(pos, end - pos);
            for (const char* w : words)
                if (word == w) return true;
        }
        pos = end;
    }
    return false;
}

// What a reader did not come for: the site's navigation, banners and footers, and
// what is no text at all. Named by element, by ARIA role, or by the class and id
// words that page generators without HTML5 elements give their navigation bars.
const char* const LeftOutElements[] = {"nav",      "script", "style",  "noscript", "template",
                                       "header",   "footer", "iframe", "object",   "embed",
                                       "frameset", "select", "button"};
const char* const LeftOutRoles[] = {"navigation", "banner", "contentinfo", "search",
                                    "complementary"};
const char* const LeftOutWords[] = {"nav",        "navbar",    "navigation", "nav-panel",
                                    "navheader",  "navfooter", "header",     "footer",
                                    "breadcrumb", "breadcrumbs", "sidebar",  "skip-link"};

bool LeftOut(const xmlNode* node) {
    if (node->type == XML_COMMENT_NODE || node->type == XML_PI_NODE) return true;
    if (node->type != XML_ELEMENT_NODE) return false;
    const std::string name = LowerAscii(reinterpret_cast<const char*>(node->name));
    for (const char* n : LeftOutElements)
        if (name == n) return true;
    if (HasWord(Attr(node, "role"), LeftOutRoles)) return true;
    return HasWord(Attr(node, "class"), LeftOutWords) || HasWord(Attr(node, "id"), LeftOutWords);
}

// Non-blank bytes of text below node, left-out parts not counted.
std::size_t TextWeight(const xmlNode* node) {
    std::size_t weight = 0;
    for (const xmlNode* child = node->children; child; child = child->next) {
        if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
            for (const xmlChar* p = child->content; p && *p; ++p)
                if (*p > 32) ++weight;
        } else if (child->type == XML_ELEMENT_NODE && !LeftOut(child)) {
            weight += TextWeight(child);
        }
    }
    return weight;
}

// The first element in document order for which test holds, not looking inside
// left-out parts.
template <typename TTest>
xmlNode* FindFirst(xmlNode* node, const TTest& test) {
    for (xmlNode* child = node ? node->children : nullptr; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE || LeftOut(child)) continue;
        if (test(child)) return child;
        if (xmlNode* found = FindFirst(child, test)) return found;
    }
    return nullptr;
}

void FindArticles(xmlNode* node, std::vector<xmlNode*>& out) {
    for (xmlNode* child = node->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE || LeftOut(child)) continue;
        if (Named(child, "article"))
            out.push_back(child);  // an article inside an article is part of it
        else
            FindArticles(child, out);
    }
}

// Blocks the walk may go down into: containers of text, not the text's own elements
// (a list or a paragraph holding most of the text is part of the main text).
bool IsContainer(const xmlNode* node) {
    static const char* const containers[] = {"div",   "section", "td",    "tr",   "tbody",
                                             "table", "center",  "form",  "span", "font",
                                             "main",  "article", "thead", "body"};
    for (const char* c : containers)
        if (Named(node, c)) return true;
    return false;
}

// From the body down, while one child block holds more than half of its parent's
// text: the smallest block that holds most of the page's text.
xmlNode* MostTextBlock(xmlNode* body) {
    xmlNode* block = body;
    for (;;) {
        const std::size_t total = TextWeight(block);
        xmlNode* best = nullptr;
        std::size_t bestWeight = 0;
        for (xmlNode* child = block->children; child; child = child->next) {
            if (child->type != XML_ELEMENT_NODE || LeftOut(child)) continue;
            const std::size_t w = TextWeight(child);
            if (w > bestWeight) {
                best = child;
                bestWeight = w;
            }
        }
        if (!best || !IsContainer(best) || bestWeight * 2 <= total) return block;
        block = best;
    }
}

xmlNode* FindMain(xmlNode* body) {
    if (xmlNode* main = FindFirst(body, [](xmlNode* n) { return Named(n, "main"); })) return main;
    std::vector<xmlNode*> articles;
    FindArticles(body, articles);
    if (articles.size() == 1) return articles.front();
    if (xmlNode* main = FindFirst(
            body, [](xmlNode* n) { return LowerAscii(Attr(n, "role")) == "main"; }))
        return main;
    return MostTextBlock(body);
}

// The text below node; links to a fragment of the same page (a heading's permalink)
// are left out when skipSelfLinks.
void AppendText(const xmlNode* node, bool skipSelfLinks, std::string& out) {
    for (const xmlNode* child = node->children; child; child = child->next) {
        if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) {
            if (child->content) out += reinterpret_cast<const char*>(child->content);
        } else if (child->type == XML_ELEMENT_NODE) {
            if (Named(child, "script") || Named(child, "style")) continue;
            if (skipSelfLinks && Named(child, "a") && Attr(child, "href").rfind('#', 0) == 0)
                continue;
            AppendText(child, skipSelfLinks, out);
            // Blocks and line breaks part words as they would on screen.
            if (Named(child, "br") || Named(child, "p") || Named(child, "div") ||
                Named(child, "li"))
                out += ' ';
        }
    }
}

std::string TextOf(const xmlNode* node, bool skipSelfLinks = false) {
    std::string text;
    AppendText(node, skipSelfLinks, text);
    return CollapseBlanks(text);
}

xmlNode* FindIn(xmlNode* node, const char* name) {
    if (!node) return nullptr;
    if (Named(node, name)) return node;
    for (xmlNode* child = node->children; child; child = child->next)
        if (xmlNode* found = FindIn(child, name)) return found;
    return nullptr;
}

void CollectLeftOut(xmlNode* node, std::vector<xmlNode*>& out) {
    for (xmlNode* child = node->children; child; child = child->next) {
        if (LeftOut(child))
            out.push_back(child);
        else if (child->type == XML_ELEMENT_NODE)
            CollectLeftOut(child, out);
    }
}

// An href or src resolved against the page, its fragment kept (it still points into
// the page the link leads to). Addresses that are no web address (mailto:, a
// fragment of this very page) stay as written.
std::string AbsoluteReference(const std::string& base, const std::string& ref) {
    std::string trimmed = CollapseBlanks(ref);
    if (trimmed.empty() || trimmed[0] == '#') return ref;
    std::string resolved = ResolveLink(base, trimmed);
    if (resolved.empty()) return ref;
    const TAddressParts parts = SplitAddress(trimmed);
    if (parts.HasFragment) resolved += "#" + parts.Fragment;
    return resolved;
}

void MakeReferencesAbsolute(xmlNode* node, const std::string& base,
                            std::vector<TMainText::TLink>& links) {
    for (xmlNode* child = node->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE) continue;
        for (const char* attr : {"href", "src"}) {
            if (!xmlHasProp(child, BAD_CAST attr)) continue;
            const std::string ref = Attr(child, attr);
            if (std::strcmp(attr, "href") == 0 && Named(child, "a")) {
                const std::string url = ResolveLink(base, ref);
                if (!url.empty() && CollapseBlanks(ref).rfind('#', 0) != 0) {
                    std::string text = TextOf(child);
                    if (text.empty())
                        if (xmlNode* img = FindIn(child, "img")) text = CollapseBlanks(Attr(img, "alt"));
                    links.push_back({text, url});
                }
            }
            const std::string absolute = AbsoluteReference(base, ref);
            if (absolute != ref) xmlSetProp(child, BAD_CAST attr, BAD_CAST absolute.c_str());
        }
        MakeReferencesAbsolute(child, base, links);
    }
}

std::string Serialise(xmlDoc* doc, xmlNode* block) {
    std::unique_ptr<xmlOutputBuffer, TBufferFree> out(xmlAllocOutputBuffer(nullptr));
    if (!out) return {};
    for (xmlNode* child = block->children; child; child = child->next)
        htmlNodeDumpFormatOutput(out.get(), doc, child, "UTF-8", 0);
    xmlOutputBufferFlush(out.get());
    const xmlChar* content = xmlOutputBufferGetContent(out.get());
    const std::size_t size = xmlOutputBufferGetSize(out.get());
    return content ? std::string(reinterpret_cast<const char*>(content), size) : std::string();
}

}  // namespace

std::string CollapseBlanks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool blank = false;
    for (char c : text) {
        if (static_cast<unsigned char>(c) <= 32) {
            blank = true;
            continue;
        }
        if (blank && !out.empty()) out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

TMainText ReadMainText(std::string_view pageUrl, std::string_view html) {
    static std::once_flag init;
    std::call_once(init, [] { xmlInitParser(); });

    TMainText result;
    if (html.empty() || html.size() > static_cast<std::size_t>(INT32_MAX)) return result;
    const std::string url(pageUrl);
    TDocPtr doc(htmlReadMemory(html.data(), static_cast<int>(html.size()), url.c_str(), nullptr,
                               HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                                   HTML_PARSE_NONET));
    if (!doc) return result;
    xmlNode* root = xmlDocGetRootElement(doc.get());
    if (!root) return result;
    result.Parsed = true;

    std::string base = url;
    xmlNode* head = FindIn(root, "head");
    if (xmlNode* baseElement = FindIn(head, "base")) {
        const std::string resolved = ResolveLink(url, Attr(baseElement, "href"));
        if (!resolved.empty()) base = resolved;
    }
    xmlNode* body = FindIn(root, "body");
    if (!body) body = root;  // a frameset page has no body; what it holds is the page

    xmlNode* main = FindMain(body);
    auto isHeading = [](xmlNode* n) { return Named(n, "h1"); };
    xmlNode* heading = FindFirst(main, isHeading);
    if (!heading) heading = FindFirst(body, isHeading);
    if (heading) result.Title = TextOf(heading, true);
    if (result.Title.empty())
        if (xmlNode* title = FindIn(head ? head : root, "title")) result.Title = TextOf(title);

    std::vector<xmlNode*> leftOut;
    CollectLeftOut(main, leftOut);
    for (xmlNode* node : leftOut) {
        xmlUnlinkNode(node);
        xmlFreeNode(node);
    }
    MakeReferencesAbsolute(main, base, result.Links);
    result.Body = Serialise(doc.get(), main);
    return result;
}
