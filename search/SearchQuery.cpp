#include "search/SearchQuery.h"

#include <strings.h>

#include <cctype>
#include <cstdint>
#include <vector>

namespace {

bool IsBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Punctuation and symbols beyond ASCII that the tokenizer drops as it drops "-" or
// "!": a term of only these would be an empty phrase, which matches nothing and would
// empty the whole result. The common blocks only; a rarer symbol costs no more than
// that one term finding nothing.
bool IsSymbol(uint32_t cp) {
    if (cp >= 0xA0 && cp <= 0xBF)
        return cp != 0xAA && cp != 0xB2 && cp != 0xB3 && cp != 0xB5 && cp != 0xB9 && cp != 0xBA &&
               cp < 0xBC;
    return cp == 0xD7 || cp == 0xF7 || (cp >= 0x2000 && cp <= 0x206F) ||
           (cp >= 0x20A0 && cp <= 0x20CF) || (cp >= 0x2190 && cp <= 0x2BFF) ||
           (cp >= 0x3000 && cp <= 0x3003) || (cp >= 0x1F000 && cp <= 0x1FAFF);
}

// Whether the text holds something the tokenizer keeps as a word.
bool HasWord(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            if (std::isalnum(c)) return true;
            ++i;
            continue;
        }
        // Lead byte and continuation bytes; the text is UTF-8 from the field or the
        // command line, and anything malformed counts as a word (the tokenizer decides).
        const int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        uint32_t cp = extra == 3 ? c & 0x07 : extra == 2 ? c & 0x0F : c & 0x1F;
        if (extra == 0 || i + extra >= s.size()) return true;
        for (int k = 1; k <= extra; ++k)
            cp = cp << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        if (!IsSymbol(cp)) return true;
        i += extra + 1;
    }
    return false;
}

// One string of the FTS5 query: in double quotes, quotes doubled inside, so that the
// tokenizer alone decides what the words are and nothing in it is syntax.
std::string Quoted(const std::string& words) {
    std::string out = "\"";
    for (char c : words) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

struct TItem {
    enum TKind { Term, Or, Not } Kind = Term;
    std::string Text;  // a term's words
    bool Exclude = false, TitleOnly = false, Prefix = false;
    std::string Literal;  // what an operator stands for when it is taken as a word
};

// The user's text cut into terms and operators, in order. Terms without a word
// (a lone "-", "*", empty quotes) are dropped here.
std::vector<TItem> Scan(const std::string& text) {
    std::vector<TItem> items;
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        if (IsBlank(text[i])) {
            ++i;
            continue;
        }
        TItem item;
        const size_t start = i;
        // A leading '-' or "title:" only counts when something follows it directly.
        if (text[i] == '-' && i + 1 < n && !IsBlank(text[i + 1])) {
            item.Exclude = true;
            ++i;
        }
        if (n - i > 6 && strncasecmp(text.c_str() + i, "title:", 6) == 0 && !IsBlank(text[i + 6])) {
            item.TitleOnly = true;
            i += 6;
        }
        if (text[i] == '"') {
            // A phrase runs to the next quote, or to the end when it is not closed.
            const size_t close = text.find('"', i + 1);
            const size_t end = close == std::string::npos ? n : close;
            item.Text = text.substr(i + 1, end - i - 1);
            i = close == std::string::npos ? n : close + 1;
            if (i < n && text[i] == '*') {
                item.Prefix = true;
                while (i < n && text[i] == '*') ++i;
            }
        } else {
            size_t end = i;
            while (end < n && !IsBlank(text[end]) && text[end] != '"') ++end;
            item.Text = text.substr(i, end - i);
            i = end;
            while (!item.Text.empty() && item.Text.back() == '*') {
                item.Text.pop_back();
                item.Prefix = true;
            }
            const std::string whole = text.substr(start, i - start);
            if (whole == "OR" || whole == "NOT") {
                item.Kind = whole == "OR" ? TItem::Or : TItem::Not;
                item.Literal = whole;
            }
        }
        if (item.Kind != TItem::Term || HasWord(item.Text)) items.push_back(std::move(item));
    }
    return items;
}

std::string Expression(const TItem& term) {
    std::string out = term.TitleOnly ? "title : " : "";
    out += Quoted(term.Text);
    if (term.Prefix) out += " *";
    return out;
}

std::string Joined(const std::vector<std::string>& parts, const char* op) {
    if (parts.size() == 1) return parts[0];
    std::string out = "(";
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += op;
        out += parts[i];
    }
    return out + ")";
}

}  // namespace

std::string MatchExpression(const std::string& userText) {
    std::vector<TItem> items = Scan(userText);

    // NOT leaves out the term after it; where no term follows it is a word.
    std::vector<TItem> terms;  // terms and the OR operators between them
    for (size_t i = 0; i < items.size(); ++i) {
        TItem& item = items[i];
        if (item.Kind == TItem::Not) {
            if (i + 1 < items.size() && items[i + 1].Kind == TItem::Term) {
                items[i + 1].Exclude = true;
                continue;
            }
            item.Kind = TItem::Term;
            item.Text = item.Literal;
        }
        terms.push_back(std::move(item));
    }

    // OR joins the terms to look for on both sides of it into one group; anywhere else
    // (first, last, next to a word to leave out, doubled) it is the word "or".
    std::vector<std::vector<std::string>> groups;
    std::vector<std::string> excluded;
    bool joinNext = false;
    int count = 0;
    for (size_t i = 0; i < terms.size(); ++i) {
        TItem& item = terms[i];
        if (item.Kind == TItem::Or) {
            const bool between = !groups.empty() && !joinNext && i > 0 &&
                                 terms[i - 1].Kind == TItem::Term && !terms[i - 1].Exclude &&
                                 i + 1 < terms.size() && terms[i + 1].Kind == TItem::Term &&
                                 !terms[i + 1].Exclude;
            if (between) {
                joinNext = true;
                continue;
            }
            item.Kind = TItem::Term;
            item.Text = item.Literal;
        }
        ++count;
        if (item.Exclude) {
            excluded.push_back(Expression(item));
        } else if (joinNext) {
            groups.back().push_back(Expression(item));
            joinNext = false;
        } else {
            groups.push_back({Expression(item)});
        }
    }

    if (count > kMaxQueryTerms)
        throw ESearchQuery("The query has " + std::to_string(count) +
                           " words; a search takes at most " + std::to_string(kMaxQueryTerms) +
                           ".");
    if (groups.empty() && !excluded.empty())
        throw ESearchQuery(
            "A search needs a word to look for; words to leave out (-word, NOT word) only "
            "narrow one down.");

    std::vector<std::string> ands;
    for (const auto& group : groups) ands.push_back(Joined(group, " OR "));
    std::string expr;
    for (size_t i = 0; i < ands.size(); ++i) {
        if (i) expr += " AND ";
        expr += ands[i];
    }
    if (!excluded.empty()) expr = "(" + expr + ") NOT " + Joined(excluded, " OR ");
    return expr;
}
