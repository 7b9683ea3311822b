// The routines a reader file has at hand, as Lua globals. They are the program's own
// scanning, character-set and address routines, so a file gets exactly the results
// the compiled readers get:
//
//   CutBetween(text, start, stop)   part, rest   (rest: what follows the end marker)
//   HasMarkers(text, start, stop)   whether CutBetween would find both markers
//   TrimBlanks(text)                without leading and trailing bytes of code 0-32
//   Contains(text, what)            plain substring test
//   FindCharset(html, default)      the character set the page declares
//   MakeAbsoluteUrl(pageUrl, href)  the address a link leads to
//   UrlBaseName(url)                a page's identifier
//   DecodeToUtf8(bytes, charset)    text in UTF-8
//   Scanner(text)                   a cursor that cuts without copying what is left:
//       s:cut(start, stop)          the part as a string (CutBetween on the cursor)
//       s:cut_trimmed(start, stop)  the same, trimmed
//       s:part(start, stop)         the part as a scanner of its own
//       s:empty(), s:text(), s:contains(what), s:has(start, stop)
#pragma once

struct lua_State;

void OpenReaderApi(lua_State* L);
