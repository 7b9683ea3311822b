// A database's documents and links named by ORIG_ID instead of node ids, sorted, so
// that two databases compare equal when they hold the same collection whatever ids
// their writers happened to take.
#pragma once

#include <string>
#include <vector>

class TTempDatabase;

// One "node|..." line per document (guide type, title, address, READ_CONTENT,
// encoding, body, head) and one "link|parent|child|order" line per link. Fails the
// current test when a document or a link is stored twice.
std::vector<std::string> CanonicalContents(const TTempDatabase& temp);

// Every column of every row but STAMP_UPDATED (the time of the write), node ids
// included, in id order: equal only when the writers took the same ids as well.
std::vector<std::string> ExactContents(const TTempDatabase& temp);

// Expects actual to hold exactly the lines of expected, saying how many differ and
// the first of them otherwise.
void ExpectSameContents(const std::vector<std::string>& expected,
                        const std::vector<std::string>& actual);
