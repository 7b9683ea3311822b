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

TEST(MatchExpression, AnyInputIsAQuery) {
    EXPECT_EQ(MatchExpression("cafe  paris"), "\"cafe\" \"paris\"");
    EXPECT_EQ(MatchExpression("\"old town\" gui*"), "\"old town\" \"gui\"*");
    // Operators, quotes and brackets of the query language are only text here.
    EXPECT_EQ(MatchExpression("a\"b"), "\"a\" \"b\"");
    EXPECT_EQ(MatchExpression("NEAR(x) OR -y"), "\"NEAR(x)\" \"OR\" \"-y\"");
    EXPECT_EQ(MatchExpression("\"unclosed phrase"), "\"unclosed phrase\"");
    EXPECT_EQ(MatchExpression(" * \"\" - "), "");
}

}  // namespace
