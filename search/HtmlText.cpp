#include "search/HtmlText.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <cstring>
#include <memory>

namespace {

struct TDocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

bool IsSkipped(const xmlNode* node) {
    const char* name = reinterpret_cast<const char*>(node->name);
    return !std::strcmp(name, "script") || !std::strcmp(name, "style") ||
           !std::strcmp(name, "noscript") || !std::strcmp(name, "template") ||
           !std::strcmp(name, "head") || !std::strcmp(name, "title");
}

// Elements that sit inside a word's flow ("Caf<b>é</b>" is one word).
bool IsInline(const xmlNode* node) {
    static const char* const names[] = {
        "a",    "abbr", "b",   "big",  "cite",  "code", "em",     "font",   "i",   "kbd",
        "mark", "q",    "s",   "samp", "small", "span", "strike", "strong", "sub", "sup",
        "tt",   "u",    "var", "nobr", "bdi",   "bdo",  "time",   "data"};
    const char* name = reinterpret_cast<const char*>(node->name);
    for (const char* n : names)
        if (!std::strcmp(name, n)) return true;
    return false;
}

class TTextCollector {
public:
    void Walk(const xmlNode* node) {
        for (; node; node = node->next) {
            if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
                if (node->content) Append(reinterpret_cast<const char*>(node->content));
            } else if (node->type == XML_ELEMENT_NODE) {
                if (IsSkipped(node)) continue;
                const bool block = !IsInline(node);
                if (block) Break();
                Walk(node->children);
                if (block) Break();
            }
        }
    }

    std::string Take() {
        if (!text_.empty() && text_.back() == ' ') text_.pop_back();
        return std::move(text_);
    }

private:
    void Break() { pendingBlank_ = !text_.empty(); }

    void Append(const char* s) {
        for (; *s; ++s) {
            const unsigned char c = static_cast<unsigned char>(*s);
            if (c <= 0x20 || c == 0x7F) {
                pendingBlank_ = !text_.empty();
                continue;
            }
            // U+00A0 (no-break space) separates words as a blank does.
            if (c == 0xC2 && static_cast<unsigned char>(s[1]) == 0xA0) {
                pendingBlank_ = !text_.empty();
                ++s;
                continue;
            }
            if (pendingBlank_) text_ += ' ';
            pendingBlank_ = false;
            text_ += static_cast<char>(c);
        }
    }

    std::string text_;
    bool pendingBlank_ = false;
};

}  // namespace

std::string HtmlToText(const std::string& html) {
    if (html.empty()) return {};
    // The bytes are UTF-8 already: naming the encoding keeps a <meta charset> in the
    // body from switching the parser to another one.
    std::unique_ptr<xmlDoc, TDocFree> doc(
        htmlReadMemory(html.data(), static_cast<int>(html.size()), nullptr, "UTF-8",
                       HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                           HTML_PARSE_NONET | HTML_PARSE_COMPACT));
    if (!doc) return {};
    TTextCollector collector;
    collector.Walk(xmlDocGetRootElement(doc.get()));
    return collector.Take();
}
