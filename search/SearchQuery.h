// The query language of the search field and of `wayfolio-cli search`, turned into
// an FTS5 match expression. What a user may write:
//
//   cafe paris        both words (in either order, anywhere in the title or text)
//   cafe OR bistro    either word; OR binds closer than the blank ("old cafe OR bistro"
//                     is "old" and one of the other two)
//   -tourist          documents without the word; so is NOT tourist
//   "old town"        the words together, in this order
//   title:zurich      the word in the title; also title:"old town"
//   gui*              words that begin so; also "new yor"*
//
// OR and NOT are operators only in capitals and only where they join or negate a
// word; anywhere else they are the words "or" and "not". Everything else, brackets,
// colons, NEAR, carets included, is text to look for, never syntax. Word forms are
// the index's business (its tokenizer stems), not the query's.
#pragma once

#include <stdexcept>
#include <string>

// A query the language refuses (only words to leave out, too many words). what()
// is a sentence for the user. Nothing is wrong with the index when this is raised.
class ESearchQuery : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Words, phrases and prefixes one query may hold: enough for any question a person
// types, few enough that a pasted page is refused at once instead of searched slowly.
inline constexpr int kMaxQueryTerms = 64;

// The user's text as an FTS5 match expression; empty when the text holds no word.
// ESearchQuery for a query that is refused.
std::string MatchExpression(const std::string& userText);
