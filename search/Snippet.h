// The snippet of a search hit: a few words of one column of the matching row around
// its first match, the matches marked. Registered with each index connection as the
// FTS5 function wf_snippet(fts, column, words).
//
// FTS5's own snippet() scores every possible window against every match, so its cost
// grows with the square of the matches in a row: one large page full of a common word
// stalls the whole search. This one reads the row's match list once and tokenizes the
// column only up to the end of its window, so its cost is at most linear in the row.
#pragma once

struct sqlite3;

// The window starts a few words before the first match of the column (or at the start
// of the column when only another column matched), and the text is cut where its first
// and last words are, with "..." where text was left out. Matches are marked with
// kMatchStart and kMatchEnd (SearchIndex.h). Returns an SQLite result code.
int RegisterSnippetFunction(sqlite3* db);
