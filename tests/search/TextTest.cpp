// What the index is fed: the readable text of the markup (page bytes are decoded
// first, see text/Charset.h), and what a query becomes. No database here.
#include <gtest/gtest.h>

#include "search/HtmlText.h"
#include "search/SearchIndex.h"

namespace {

TEST(HtmlToText, KeepsReadableTextOnly) {
    EXPECT_EQ(HtmlToText("<p>One&nbsp;two</p><script>var hidden=1;</script>"
                         "<style>p{color:red}</style><td>three</td><td>four</td>"),
              "One two three four");
    // Inline markup inside a word does not split it; entities are resolved.
    EXPECT_EQ(HtmlToText("Caf<b>&eacute;</b> &amp; <i>bar</i>"), "Caf\xc3\xa9 & bar");
    // Broken markup still gives its text; control characters never survive.
    EXPECT_EQ(HtmlToText("<div><p>open <b>never closed\x02 <br>next"), "open never closed next");
    // A body declaring another character set is still read as the UTF-8 it now is.
    EXPECT_EQ(HtmlToText("<meta charset=\"iso-8859-1\"><p>Caf\xc3\xa9</p>"), "Caf\xc3\xa9");
    EXPECT_EQ(HtmlToText(""), "");
}

TEST(HtmlToText, InWordMarkupAndBreakOpportunitiesKeepOneWord) {
    EXPECT_EQ(HtmlToText("<p>Sehens&shy;w&uuml;rdig<wbr>keiten</p>"), "Sehensw\xc3\xbcrdigkeiten");
    EXPECT_EQ(HtmlToText("<p>Mus<del>ee</del><ins>eum</ins> <label>Ti</label>cket</p>"),
              "Museeeum Ticket");
    // Zero-width space and word joiner, as pages write them to allow a break.
    EXPECT_EQ(HtmlToText("Stadt\xe2\x80\x8bpark Fluss\xe2\x81\xa0ufer"), "Stadtpark Flussufer");
    // Controls beyond ASCII (U+0080..U+009F) are blanks, as the ASCII ones are.
    EXPECT_EQ(HtmlToText("a\xc2\x9b"
                         "2Jb\xc2\x85"
                         "c"),
              "a 2Jb c");
    // Block elements still part words.
    EXPECT_EQ(HtmlToText("<div>one</div><div>two</div>"), "one two");
}

TEST(MatchExpression, WordsPhrasesPrefixesAndTitles) {
    EXPECT_EQ(MatchExpression("cafe  paris"), "\"cafe\" AND \"paris\"");
    EXPECT_EQ(MatchExpression("\"old town\" gui*"), "\"old town\" AND \"gui\" *");
    EXPECT_EQ(MatchExpression("\"new yor\"*"), "\"new yor\" *");
    EXPECT_EQ(MatchExpression("Title:zurich title:\"old town\""),
              "title : \"zurich\" AND title : \"old town\"");
    EXPECT_EQ(MatchExpression("\"unclosed phrase"), "\"unclosed phrase\"");
    // Nothing a person types is syntax: quotes, brackets, colons, carets, NEAR.
    EXPECT_EQ(MatchExpression("a\"b"), "\"a\" AND \"b\"");
    EXPECT_EQ(MatchExpression("NEAR(x) a:b ^c {d}"),
              "\"NEAR(x)\" AND \"a:b\" AND \"^c\" AND \"{d}\"");
    // Nothing to look for, no query (a lone minus, a star, punctuation only).
    EXPECT_EQ(MatchExpression(" * \"\" - title: \xc2\xab\xe2\x80\x94"), "\"title:\"");
    EXPECT_EQ(MatchExpression(" * \"\" - \xc2\xab\xe2\x80\x94 "), "");
    // A symbol beside a word does not empty the query; a letter beyond ASCII is a word.
    EXPECT_EQ(MatchExpression("cafe \xc2\xbb"), "\"cafe\"");
    EXPECT_EQ(MatchExpression("\xc3\xa9t\xc3\xa9"), "\"\xc3\xa9t\xc3\xa9\"");
}

TEST(MatchExpression, OrAndNotAreOperatorsOnlyWhereTheyJoinOrNegate) {
    // OR binds closer than the blank.
    EXPECT_EQ(MatchExpression("old cafe OR bistro"), "\"old\" AND (\"cafe\" OR \"bistro\")");
    EXPECT_EQ(MatchExpression("a OR b OR c"), "(\"a\" OR \"b\" OR \"c\")");
    // -word and NOT word leave words out, wherever they stand.
    EXPECT_EQ(MatchExpression("-tourist cafe NOT bus"), "(\"cafe\") NOT (\"tourist\" OR \"bus\")");
    EXPECT_EQ(MatchExpression("cafe -\"bus stop\""), "(\"cafe\") NOT \"bus stop\"");
    // In lower case, first, last, or beside a word left out, they are words.
    EXPECT_EQ(MatchExpression("rock or roll"), "\"rock\" AND \"or\" AND \"roll\"");
    EXPECT_EQ(MatchExpression("OR cafe"), "\"OR\" AND \"cafe\"");
    EXPECT_EQ(MatchExpression("cafe NOT"), "\"cafe\" AND \"NOT\"");
    EXPECT_EQ(MatchExpression("cafe OR -bus"), "(\"cafe\" AND \"OR\") NOT \"bus\"");
    // A hyphen inside a word is text, not an exclusion.
    EXPECT_EQ(MatchExpression("well-known"), "\"well-known\"");
}

TEST(MatchExpression, RefusesWhatItCannotAnswerWithAMessage) {
    // Only words to leave out would turn the search inside out.
    for (const char* query : {"-tourist", "NOT tourist", "-a -b", "NOT \"old town\""}) {
        try {
            MatchExpression(query);
            ADD_FAILURE() << query << " was taken";
        } catch (const ESearchQuery& e) {
            EXPECT_NE(std::string(e.what()).find("word to look for"), std::string::npos)
                << e.what();
        }
    }
    std::string words;
    for (int i = 0; i < kMaxQueryTerms; ++i) words += "w" + std::to_string(i) + " ";
    EXPECT_NO_THROW(MatchExpression(words));
    try {
        MatchExpression(words + "one OR more");
        ADD_FAILURE() << "a query of too many words was taken";
    } catch (const ESearchQuery& e) {
        EXPECT_NE(std::string(e.what()).find("66 words"), std::string::npos) << e.what();
    }
}

}  // namespace
