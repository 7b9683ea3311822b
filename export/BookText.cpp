#include "export/BookText.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>
#include <libxml/uri.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "text/Blanks.h"
#include "text/Charset.h"
#include "text/UrlBytes.h"

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

// How deep the tags of a body may nest before deeper ones are left out (their text
// stays): well below any limit of the parser, and a bound on the writer's recursion.
constexpr std::size_t kMaxDepth = 400;

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

// Whether a web address names a host a reader can reach: a name of letters, digits,
// hyphens and dots (no empty label), or an IPv6 literal, and a port of digits. An
// address like "http://" or "http://exa mple/" makes a strict reader refuse the
// whole book, so such a link keeps its text and loses its address.
bool HasValidHost(const std::string& url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string::npos) return false;
    const std::size_t start = scheme + 3;
    const std::size_t end = url.find_first_of("/?#", start);
    std::string authority = url.substr(start, end == std::string::npos ? std::string::npos
                                                                       : end - start);
    if (const std::size_t at = authority.rfind('@'); at != std::string::npos)
        authority.erase(0, at + 1);
    std::string host = authority;
    std::string port;
    if (!authority.empty() && authority[0] == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string::npos || close < 3) return false;
        for (std::size_t i = 1; i < close; ++i)
            if (!std::isxdigit(static_cast<unsigned char>(authority[i])) && authority[i] != ':' &&
                authority[i] != '.')
                return false;
        host.clear();
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':') return false;
            port = authority.substr(close + 2);
        }
    } else if (const std::size_t colon = authority.find(':'); colon != std::string::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
        if (host.empty()) return false;
    } else if (host.empty()) {
        return false;
    }
    if (port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    if (!host.empty()) {
        if (host.size() > 253 || host.front() == '.' || host.front() == '-') return false;
        std::size_t label = 0;
        for (std::size_t i = 0; i < host.size(); ++i) {
            const char c = host[i];
            if (c == '.') {
                if (label == 0) return false;  // ".." or a leading dot; a final one is fine
                label = 0;
            } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '-') {
                if (++label > 63) return false;
            } else {
                return false;
            }
        }
    }
    return true;
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
    if (!HasValidHost(url)) return {};
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
            // A caption must come first; a second one (browsers show only the first)
            // joins it rather than being lost.
            bool caption = false;
            for (const xmlNode* c = table->children; c; c = c->next) {
                if (!Named(c, "caption")) continue;
                if (!caption) Open("caption");
                else out_ += ' ';
                caption = true;
                Children(c, false);
            }
            if (caption) Close("caption");
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

// Elements that never have content, and elements a browser closes by itself when
// another of the same name starts (so "<p>a<p>b" is two paragraphs, not one inside
// the other).
bool IsVoid(std::string_view name) {
    for (std::string_view v : {"br", "img", "hr", "meta", "link", "input", "area", "base", "col",
                               "embed", "param", "source", "track", "wbr", "basefont", "frame",
                               "isindex", "keygen"})
        if (name == v) return true;
    return false;
}

bool ClosesItsLike(std::string_view name) {
    for (std::string_view v : {"p", "li", "dt", "dd", "tr", "td", "th", "option", "thead",
                               "tbody", "tfoot", "a"})
        if (name == v) return true;
    return false;
}

std::string LowerName(std::string_view html, std::size_t& i) {
    std::string name;
    while (i < html.size() && (std::isalnum(static_cast<unsigned char>(html[i])) ||
                               html[i] == '-' || html[i] == ':'))
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(html[i++])));
    return name;
}

// Where the tag starting at i (just past its name) ends: past its ">", quoted
// attribute values skipped; html.size() when it never ends.
std::size_t TagEnd(std::string_view html, std::size_t i, bool& selfClosing) {
    char quote = 0;
    selfClosing = false;
    for (; i < html.size(); ++i) {
        const char c = html[i];
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            selfClosing = i > 0 && html[i - 1] == '/';
            return i + 1;
        }
    }
    return html.size();
}

}  // namespace

std::string FlattenDeepTags(std::string_view html, std::size_t maxDepth) {
    std::string out;
    out.reserve(html.size());
    std::vector<std::string> open;                   // as a browser would nest them, roughly
    std::vector<std::pair<std::string, int>> dropped;  // start tags left out, by name
    auto droppedOf = [&](const std::string& name) -> int& {
        for (auto& d : dropped)
            if (d.first == name) return d.second;
        dropped.emplace_back(name, 0);
        return dropped.back().second;
    };
    std::size_t i = 0;
    while (i < html.size()) {
        const std::size_t lt = html.find('<', i);
        if (lt == std::string_view::npos || lt + 1 >= html.size()) {
            out.append(html.substr(i));
            break;
        }
        out.append(html.substr(i, lt - i));
        const char next = html[lt + 1];
        if (html.compare(lt, 4, "<!--") == 0) {
            const std::size_t end = html.find("-->", lt + 4);
            const std::size_t stop = end == std::string_view::npos ? html.size() : end + 3;
            out.append(html.substr(lt, stop - lt));
            i = stop;
            continue;
        }
        const bool closing = next == '/';
        std::size_t n = lt + (closing ? 2 : 1);
        if (!std::isalpha(static_cast<unsigned char>(html[n < html.size() ? n : lt]))) {
            out += '<';  // not a tag: the parser reads it as text
            i = lt + 1;
            continue;
        }
        const std::string name = LowerName(html, n);
        bool selfClosing = false;
        const std::size_t end = TagEnd(html, n, selfClosing);
        const std::string_view tag = html.substr(lt, end - lt);
        i = end;
        if (closing) {
            auto it = std::find(open.rbegin(), open.rend(), name);
            int& gone = droppedOf(name);
            if (gone > 0 && (open.empty() || open.back() != name)) {
                --gone;  // the end of a start tag left out
                continue;
            }
            if (it != open.rend()) open.erase(std::next(it).base(), open.end());
            out.append(tag);
            continue;
        }
        if (name == "script" || name == "style" || name == "textarea" || name == "title" ||
            name == "xmp" || name == "plaintext") {
            // Raw text up to its end tag: no tags inside to count.
            std::size_t close = end;
            for (;; ++close) {
                close = html.find("</", close);
                if (close == std::string_view::npos) break;
                std::size_t k = close + 2;
                if (LowerName(html, k) == name) break;
            }
            const std::size_t stop = close == std::string_view::npos ? html.size() : close;
            out.append(html.substr(lt, stop - lt));
            i = stop;
            continue;
        }
        if (IsVoid(name) || selfClosing) {
            out.append(tag);
            continue;
        }
        if (ClosesItsLike(name)) {
            auto it = std::find(open.rbegin(), open.rend(), name);
            if (it != open.rend()) open.erase(std::next(it).base(), open.end());
        }
        if (open.size() >= maxDepth) {
            ++droppedOf(name);
            continue;
        }
        open.push_back(name);
        out.append(tag);
    }
    return out;
}

std::string BodyToXhtml(std::string_view utf8Html, std::string_view baseUrl) {
    std::string out;
    if (TrimBlanks(utf8Html).empty()) return out;
    // The fragment goes inside a body of its own so that text at its start is body
    // text and not the content of an implied head.
    std::string page = "<html><head><meta charset=\"utf-8\"></head><body>";
    page += FlattenDeepTags(utf8Html, kMaxDepth);
    page += "</body></html>";
    std::unique_ptr<xmlDoc, TDocFree> doc(htmlReadMemory(
        page.data(), static_cast<int>(page.size()), nullptr, "UTF-8",
        HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET |
            XML_PARSE_HUGE));
    if (!doc) return "<p>" + XmlEscape(std::string(utf8Html)) + "</p>";
    const xmlNode* body = FindBody(xmlDocGetRootElement(doc.get()));
    if (!body) return out;
    TWriter(out, baseUrl).Children(body, true);
    return out;
}
