// What the index is fed: page bytes decoded by their declared character set, and
// the readable text of the markup. No database here.
#include <gtest/gtest.h>

#include "search/Charset.h"
#include "search/HtmlText.h"
#include "search/SearchIndex.h"

namespace {

TEST(DecodeToUtf8, DeclaredCharacterSetsAndFallbacks) {
    // "Café" in each.
    EXPECT_EQ(DecodeToUtf8("Caf\xc3\xa9", "UTF-8"), "Caf\xc3\xa9");
    EXPECT_EQ(DecodeToUtf8("Caf\xe9", "windows-1252"), "Caf\xc3\xa9");
    EXPECT_EQ(DecodeToUtf8("Caf\xe9", " \"ISO-8859-1\" "), "Caf\xc3\xa9");
    // windows-1250: 0x9A is "š", which Latin-1 would make a control character.
    EXPECT_EQ(DecodeToUtf8("\x9a", "windows-1250"), "\xc5\xa1");
    // Empty or unknown: Latin-1.
    EXPECT_EQ(DecodeToUtf8("Caf\xe9", ""), "Caf\xc3\xa9");
    EXPECT_EQ(DecodeToUtf8("Caf\xe9", "no-such-charset"), "Caf\xc3\xa9");
    // A byte the declared set forbids keeps its Latin-1 meaning; the rest decodes.
    EXPECT_EQ(DecodeToUtf8("\xe9t\xc3\xa9", "utf-8"), "\xc3\xa9t\xc3\xa9");
    EXPECT_EQ(DecodeToUtf8("ab\xc3", "utf-8"), "ab\xc3\x83");
}

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
