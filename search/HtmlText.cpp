#include "search/HtmlText.h"

#include <libxml/HTMLparser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>

#include <memory>
#include <string_view>
#include <unordered_set>

namespace {

struct TCtxtFree {
    void operator()(htmlParserCtxt* ctxt) const { htmlFreeParserCtxt(ctxt); }
};

bool IsSkipped(const char* name) {
    static const std::unordered_set<std::string_view> names = {"script",   "style", "noscript",
                                                               "template", "head",  "title"};
    return names.count(name) > 0;
}

// Elements that sit inside a word's flow ("Caf<b>é</b>" is one word).
bool IsInline(const char* name) {
    static const std::unordered_set<std::string_view> names = {
        "a",     "abbr", "b",   "big",  "cite",  "code", "em",     "font",   "i",   "kbd",
        "mark",  "q",    "s",   "samp", "small", "span", "strike", "strong", "sub", "sup",
        "tt",    "u",    "var", "nobr", "bdi",   "bdo",  "time",   "data",   "ins", "del",
        "label", "wbr",  "dfn", "ruby", "rb",    "rp",   "rt"};
    return names.count(name) > 0;
}

// Length of the invisible in-word mark at s (U+00AD, U+200B, U+2060), 0 if none.
int InvisibleAt(const char* s, const char* end) {
    const auto* u = reinterpret_cast<const unsigned char*>(s);
    if (u[0] == 0xC2 && s + 1 < end && u[1] == 0xAD) return 2;
    if (u[0] == 0xE2 && s + 2 < end &&
        ((u[1] == 0x80 && u[2] == 0x8B) || (u[1] == 0x81 && u[2] == 0xA0)))
        return 3;
    return 0;
}

class TTextCollector {
public:
    void Start(const char* name) {
        if (skipDepth_ > 0 || IsSkipped(name)) {
            ++skipDepth_;
            return;
        }
        if (!IsInline(name)) Break();
    }

    void End(const char* name) {
        if (skipDepth_ > 0) {
            --skipDepth_;
            return;
        }
        if (!IsInline(name)) Break();
    }

    void Text(const char* s, int length) {
        if (skipDepth_ > 0) return;
        const char* end = s + length;
        const char* word = s;  // start of the run of visible characters being read
        while (s < end) {
            const unsigned char c = static_cast<unsigned char>(*s);
            // U+00A0 (no-break space) separates words as a blank does.
            // U+0080..U+009F are controls too (some terminals obey them): blanks.
            const unsigned char next = s + 1 < end ? static_cast<unsigned char>(s[1]) : 0;
            const int blank = c <= 0x20 || c == 0x7F                                          ? 1
                              : c == 0xC2 && (next == 0xA0 || (next >= 0x80 && next <= 0x9F)) ? 2
                                                                                              : 0;
            if (!blank) {
                // Break opportunities inside a word (soft hyphen, zero-width space, word
                // joiner) are dropped, so that "Sehens&shy;würdigkeit" is one word.
                const int invisible = InvisibleAt(s, end);
                if (invisible) {
                    Append(word, s);
                    s += invisible;
                    word = s;
                    continue;
                }
                ++s;
                continue;
            }
            Append(word, s);
            pendingBlank_ = !text_.empty();
            s += blank;
            word = s;
        }
        Append(word, end);
    }

    void Reserve(size_t bytes) { text_.reserve(bytes); }
    std::string Take() { return std::move(text_); }

private:
    void Break() { pendingBlank_ = !text_.empty(); }

    void Append(const char* begin, const char* end) {
        if (begin == end) return;
        if (pendingBlank_) text_ += ' ';
        pendingBlank_ = false;
        text_.append(begin, end - begin);
    }

    std::string text_;
    bool pendingBlank_ = false;
    int skipDepth_ = 0;  // inside a script, a style ... (they may nest in broken markup)
};

TTextCollector& Of(void* ctx) {
    return *static_cast<TTextCollector*>(static_cast<htmlParserCtxtPtr>(ctx)->_private);
}

const char* Name(const xmlChar* name) {
    return reinterpret_cast<const char*>(name);
}

}  // namespace

std::string HtmlToText(const std::string& html) {
    if (html.empty()) return {};
    // The parser reports elements and text as it reads them; no document tree is built.
    std::unique_ptr<htmlParserCtxt, TCtxtFree> ctxt(
        htmlCreateMemoryParserCtxt(html.data(), static_cast<int>(html.size())));
    if (!ctxt) return {};
    htmlSAXHandler sax{};
    sax.startElement = [](void* ctx, const xmlChar* name, const xmlChar**) {
        Of(ctx).Start(Name(name));
    };
    sax.endElement = [](void* ctx, const xmlChar* name) { Of(ctx).End(Name(name)); };
    sax.characters = [](void* ctx, const xmlChar* text, int length) {
        Of(ctx).Text(Name(text), length);
    };
    sax.cdataBlock = sax.characters;
    *ctxt->sax = sax;
    TTextCollector collector;
    collector.Reserve(html.size());
    ctxt->_private = &collector;
    htmlCtxtUseOptions(ctxt.get(), HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                                       HTML_PARSE_NONET);
    // The bytes are UTF-8 already: naming the encoding keeps a <meta charset> in the
    // body from switching the parser to another one.
    if (xmlCharEncodingHandlerPtr utf8 = xmlFindCharEncodingHandler("UTF-8"))
        xmlSwitchToEncoding(ctxt.get(), utf8);
    htmlParseDocument(ctxt.get());
    return collector.Take();
}
