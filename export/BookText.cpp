#include "export/BookText.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>
#include <libxml/uri.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

#include "download/WebAddress.h"
#include "download/wf_Download.h"
#include "text/Charset.h"

namespace {

// Drops what XML 1.0 cannot hold: C0 controls other than tab, line feed and
// carriage return, and the non-characters U+FFFE and U+FFFF. Input is valid UTF-8.
std::string DropXmlControls(std::string text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') continue;
        if (c == 0xEF && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xBF &&
            (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xBE) {
            i += 2;
            continue;
        }
        out += text[i];
    }
    return out;
}

}  // namespace

std::string DecodeForBook(std::string_view bytes, std::string_view encoding) {
    return DropXmlControls(DecodeToUtf8(bytes, encoding));
}

std::string XmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

namespace {

enum class TKind {
    kDrop,       // left out with everything inside it
    kUnwrap,     // the tag goes, its content stays
    kBlock,      // flow element whose content is flow (div, blockquote, li ...)
    kParagraph,  // flow element whose content is phrasing (p, h1-h6, pre)
    kPhrase,     // phrasing element with phrasing content
    kList,
    kListItem,
    kTable,
    kLink,
    kImage,
    kBreak,
    kRule,
};

struct TElement {
    const char* Name;
    TKind Kind;
    const char* Output;  // the element written for it
};

constexpr TElement kElements[] = {
    {"div", TKind::kBlock, "div"},
    {"center", TKind::kBlock, "div"},
    {"blockquote", TKind::kBlock, "blockquote"},
    {"dl", TKind::kBlock, "div"},
    {"dt", TKind::kBlock, "div"},
    {"dd", TKind::kBlock, "div"},
    {"section", TKind::kBlock, "div"},
    {"article", TKind::kBlock, "div"},
    {"address", TKind::kBlock, "div"},
    {"p", TKind::kParagraph, "p"},
    {"h1", TKind::kParagraph, "h2"},
    {"h2", TKind::kParagraph, "h3"},
    {"h3", TKind::kParagraph, "h4"},
    {"h4", TKind::kParagraph, "h5"},
    {"h5", TKind::kParagraph, "h6"},
    {"h6", TKind::kParagraph, "h6"},
    {"pre", TKind::kParagraph, "pre"},
    {"b", TKind::kPhrase, "b"},
    {"strong", TKind::kPhrase, "strong"},
    {"i", TKind::kPhrase, "i"},
    {"em", TKind::kPhrase, "em"},
    {"u", TKind::kPhrase, "u"},
    {"s", TKind::kPhrase, "s"},
    {"strike", TKind::kPhrase, "s"},
    {"sub", TKind::kPhrase, "sub"},
    {"sup", TKind::kPhrase, "sup"},
    {"small", TKind::kPhrase, "small"},
    {"big", TKind::kPhrase, "span"},
    {"font", TKind::kPhrase, "span"},
    {"span", TKind::kPhrase, "span"},
    {"code", TKind::kPhrase, "code"},
    {"tt", TKind::kPhrase, "code"},
    {"cite", TKind::kPhrase, "cite"},
    {"q", TKind::kPhrase, "q"},
    {"abbr", TKind::kPhrase, "abbr"},
    {"ul", TKind::kList, "ul"},
    {"ol", TKind::kList, "ol"},
    {"li", TKind::kListItem, "li"},
    {"table", TKind::kTable, "table"},
    {"a", TKind::kLink, "a"},
    {"img", TKind::kImage, "a"},
    {"br", TKind::kBreak, "br"},
    {"hr", TKind::kRule, "hr"},
    {"script", TKind::kDrop, ""},
    {"style", TKind::kDrop, ""},
    {"noscript", TKind::kDrop, ""},
    {"iframe", TKind::kDrop, ""},
    {"frame", TKind::kDrop, ""},
    {"frameset", TKind::kDrop, ""},
    {"object", TKind::kDrop, ""},
    {"embed", TKind::kDrop, ""},
    {"applet", TKind::kDrop, ""},
    {"head", TKind::kDrop, ""},
    {"title", TKind::kDrop, ""},
    {"meta", TKind::kDrop, ""},
    {"link", TKind::kDrop, ""},
    {"input", TKind::kDrop, ""},
    {"select", TKind::kDrop, ""},
    {"textarea", TKind::kDrop, ""},
    {"button", TKind::kDrop, ""},
    {"map", TKind::kDrop, ""},
    {"svg", TKind::kDrop, ""},
    {"math", TKind::kDrop, ""},
    {"colgroup", TKind::kDrop, ""},
    {"col", TKind::kDrop, ""},
};

const TElement& ElementOf(const xmlNode* node) {
    static const TElement unwrap{"", TKind::kUnwrap, ""};
    const char* name = reinterpret_cast<const char*>(node->name);
    for (const TElement& e : kElements)
        if (std::strcmp(e.Name, name) == 0) return e;
    return unwrap;
}

bool Named(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE &&
           std::strcmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

bool IsBlankText(const xmlNode* node) {
    if (node->type != XML_TEXT_NODE && node->type != XML_CDATA_SECTION_NODE) return false;
    for (const xmlChar* p = node->content; p && *p; ++p)
        if (!std::isspace(*p)) return false;
    return true;
}

std::string Attribute(const xmlNode* node, const char* name) {
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    if (!value) return {};
    std::string out(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return out;
}

// A span count a table cell may carry: a plain positive number.
bool IsSpan(const std::string& value) {
    return !value.empty() && value.size() <= 3 &&
           std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
           std::stoi(value) > 0;
}

// A table written as a table only when its rows and cells are where a table
// expects them; layout tables wrapped around forms, text or other blocks are
// written as plain blocks instead.
bool IsPlainTable(const xmlNode* table) {
    int rows = 0;
    auto rowOk = [](const xmlNode* tr) {
        for (const xmlNode* c = tr->children; c; c = c->next) {
            if (IsBlankText(c) || c->type == XML_COMMENT_NODE) continue;
            if (!Named(c, "td") && !Named(c, "th")) return false;
        }
        return true;
    };
    for (const xmlNode* c = table->children; c; c = c->next) {
        if (IsBlankText(c) || c->type == XML_COMMENT_NODE || Named(c, "colgroup") ||
            Named(c, "col") || Named(c, "caption"))
            continue;
        if (Named(c, "tr")) {
            if (!rowOk(c)) return false;
            ++rows;
        } else if (Named(c, "tbody") || Named(c, "thead") || Named(c, "tfoot")) {
            for (const xmlNode* r = c->children; r; r = r->next) {
                if (IsBlankText(r) || r->type == XML_COMMENT_NODE) continue;
                if (!Named(r, "tr") || !rowOk(r)) return false;
                ++rows;
            }
        } else {
            return false;
        }
    }
    return rows > 0;
}

// A link's address as the book stores it: absolute, a web address, and only bytes
// a URL may hold. Empty when the link leads nowhere a reader can go.
std::string BookHref(std::string_view href, std::string_view baseUrl) {
    const std::string_view trimmed = TrimBlanks(href);
    if (trimmed.empty() || trimmed[0] == '#') return {};
    std::string url(trimmed);
    if (IsWebAddress(baseUrl)) {
        // Resolved as a browser resolves it (RFC 3986), "../" and all.
        const std::string base = EncodeUrlBytes(baseUrl);
        const std::string relative = EncodeUrlBytes(trimmed);
        if (xmlChar* resolved = xmlBuildURI(reinterpret_cast<const xmlChar*>(relative.c_str()),
                                            reinterpret_cast<const xmlChar*>(base.c_str()))) {
            url = reinterpret_cast<const char*>(resolved);
            xmlFree(resolved);
        }
    }
    if (!IsWebAddress(url)) return {};
    url = EncodeUrlBytes(url);
    // What EncodeUrlBytes leaves as it is but a strict reader refuses: a "%" that
    // starts no escape, and a second "#".
    std::string out;
    bool fragment = false;
    for (std::size_t i = 0; i < url.size(); ++i) {
        const char c = url[i];
        if (c == '%' &&
            !(i + 2 < url.size() && std::isxdigit(static_cast<unsigned char>(url[i + 1])) &&
              std::isxdigit(static_cast<unsigned char>(url[i + 2])))) {
            out += "%25";
        } else if (c == '#' && fragment) {
            out += "%23";
        } else {
            if (c == '#') fragment = true;
            out += c;
        }
    }
    return out;
}

class TWriter {
public:
    TWriter(std::string& out, std::string_view baseUrl) : out_(out), baseUrl_(baseUrl) {}

    void Children(const xmlNode* parent, bool flow) {
        for (const xmlNode* c = parent->children; c; c = c->next) Node(c, flow);
    }

private:
    void Open(const char* name, const std::string& attributes = {}) {
        out_ += '<';
        out_ += name;
        out_ += attributes;
        out_ += '>';
    }
    void Close(const char* name) {
        out_ += "</";
        out_ += name;
        out_ += '>';
    }

    void Node(const xmlNode* node, bool flow) {
        if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
            if (node->content) out_ += XmlEscape(reinterpret_cast<const char*>(node->content));
            return;
        }
        if (node->type != XML_ELEMENT_NODE) return;
        const TElement& e = ElementOf(node);
        switch (e.Kind) {
            case TKind::kDrop:
                return;
            case TKind::kUnwrap:
                Children(node, flow);
                return;
            case TKind::kBlock:
                if (!flow) return Children(node, false);
                Open(e.Output);
                Children(node, true);
                Close(e.Output);
                return;
            case TKind::kParagraph:
                if (!flow) return Children(node, false);
                Open(e.Output);
                Children(node, false);
                Close(e.Output);
                return;
            case TKind::kPhrase:
                Open(e.Output);
                Children(node, false);
                Close(e.Output);
                return;
            case TKind::kList:
                if (!flow) return Children(node, false);
                List(node, e.Output);
                return;
            case TKind::kListItem:  // outside a list
                if (!flow) return Children(node, false);
                Open("div");
                Children(node, true);
                Close("div");
                return;
            case TKind::kTable:
                Table(node, flow);
                return;
            case TKind::kLink:
                Link(node);
                return;
            case TKind::kImage:
                Image(node);
                return;
            case TKind::kBreak:
                out_ += "<br/>";
                return;
            case TKind::kRule:
                if (flow) out_ += "<hr/>";
                return;
        }
    }

    // Only list items inside a list; anything else found there joins an item.
    void List(const xmlNode* list, const char* name) {
        Open(name);
        bool openItem = false;
        bool any = false;
        for (const xmlNode* c = list->children; c; c = c->next) {
            if (Named(c, "li")) {
                if (openItem) Close("li");
                openItem = false;
                Open("li");
                Children(c, true);
                Close("li");
                any = true;
            } else if (!IsBlankText(c) &&
                       (c->type == XML_ELEMENT_NODE || c->type == XML_TEXT_NODE)) {
                if (!openItem) Open("li");
                openItem = true;
                any = true;
                Node(c, true);
            }
        }
        if (openItem) Close("li");
        if (!any) out_ += "<li></li>";
        Close(name);
    }

    void Row(const xmlNode* tr) {
        Open("tr");
        for (const xmlNode* cell = tr->children; cell; cell = cell->next) {
            if (cell->type != XML_ELEMENT_NODE) continue;
            const char* name = Named(cell, "th") ? "th" : "td";
            std::string attributes;
            for (const char* span : {"colspan", "rowspan"}) {
                const std::string value = Attribute(cell, span);
                if (IsSpan(value)) attributes += std::string(" ") + span + "=\"" + value + "\"";
            }
            Open(name, attributes);
            Children(cell, true);
            Close(name);
        }
        Close("tr");
    }

    void Table(const xmlNode* table, bool flow) {
        if (flow && IsPlainTable(table)) {
            Open("table");
            for (const xmlNode* c = table->children; c; c = c->next) {
                if (Named(c, "tr")) {
                    Row(c);
                } else if (Named(c, "tbody") || Named(c, "thead") || Named(c, "tfoot")) {
                    for (const xmlNode* r = c->children; r; r = r->next)
                        if (Named(r, "tr")) Row(r);
                }
            }
            Close("table");
            return;
        }
        // A layout table: its rows and cells become blocks (or nothing inside a
        // paragraph), so whatever it held keeps its order.
        Cells(table, flow);
    }

    void Cells(const xmlNode* node, bool flow) {
        for (const xmlNode* c = node->children; c; c = c->next) {
            if (Named(c, "tr") || Named(c, "td") || Named(c, "th") || Named(c, "caption")) {
                if (flow) Open("div");
                Cells(c, flow);
                if (flow) Close("div");
            } else if (Named(c, "tbody") || Named(c, "thead") || Named(c, "tfoot")) {
                Cells(c, flow);
            } else {
                Node(c, flow);
            }
        }
    }

    void Link(const xmlNode* a) {
        const std::string href = inLink_ ? std::string() : BookHref(Attribute(a, "href"), baseUrl_);
        if (href.empty()) return Children(a, false);
        inLink_ = true;
        Open("a", " href=\"" + XmlEscape(href) + "\"");
        Children(a, false);
        Close("a");
        inLink_ = false;
    }

    void Image(const xmlNode* img) {
        std::string text(TrimBlanks(Attribute(img, "alt")));
        const std::string href = BookHref(Attribute(img, "src"), baseUrl_);
        if (inLink_ || href.empty()) {
            out_ += XmlEscape(text);
            return;
        }
        Open("a", " href=\"" + XmlEscape(href) + "\"");
        out_ += XmlEscape("[" + (text.empty() ? std::string("image") : text) + "]");
        Close("a");
    }

    std::string& out_;
    std::string_view baseUrl_;
    bool inLink_ = false;
};

struct TDocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

const xmlNode* FindBody(const xmlNode* node) {
    for (; node; node = node->next) {
        if (Named(node, "body")) return node;
        if (const xmlNode* inner = FindBody(node->children)) return inner;
    }
    return nullptr;
}

}  // namespace

std::string BodyToXhtml(std::string_view utf8Html, std::string_view baseUrl) {
    std::string out;
    if (TrimBlanks(utf8Html).empty()) return out;
    // The fragment goes inside a body of its own so that text at its start is body
    // text and not the content of an implied head.
    std::string page = "<html><head><meta charset=\"utf-8\"></head><body>";
    page.append(utf8Html);
    page += "</body></html>";
    std::unique_ptr<xmlDoc, TDocFree> doc(htmlReadMemory(
        page.data(), static_cast<int>(page.size()), nullptr, "UTF-8",
        HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET));
    if (!doc) return "<p>" + XmlEscape(std::string(utf8Html)) + "</p>";
    const xmlNode* body = FindBody(xmlDocGetRootElement(doc.get()));
    if (!body) return out;
    TWriter(out, baseUrl).Children(body, true);
    return out;
}
