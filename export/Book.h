// The documents of a book, read from the database in the order and nesting they
// are exported in.
#pragma once

#include <string>
#include <utility>
#include <vector>

class TDatabase;

// One document as a chapter: the stored bytes as they are (decoding is the
// writers' business) and its depth in the book's table of contents (0: top).
struct TBookChapter {
    int NodeId = 0;
    int Level = 0;
    std::string Title;
    std::string Body;
    std::string Encoding;
    std::string OrigUrl;
};

// A node id and its depth in the book.
using TBookEntry = std::pair<int, int>;

// Node nodeId and its whole branch below it, in tree order (a document before its
// children, children by ORDER_ then TITLE), each document once even when several
// parents link to it, with the depth below nodeId. Node 0 gives the branch below
// the top level without itself. Database errors propagate.
std::vector<TBookEntry> BranchEntries(TDatabase& db, int nodeId);

// The chapters of the entries; a node that is gone (or node 0) is left out.
std::vector<TBookChapter> ReadChapters(TDatabase& db, const std::vector<TBookEntry>& entries);

// A table of contents nests each entry under the one before it of a lower level, one
// step at a time: a level deeper than the one before it by more than one step is
// brought up to that one plus one, and the first entry to 0.
void EvenOutLevels(std::vector<TBookChapter>& chapters);

// The book's title: the first chapter's, or "Wayfolio" when there is none.
std::string BookTitle(const std::vector<TBookChapter>& chapters);

// What a file name asks for by its suffix (letter case ignored): ".epub" or ".pdf".
enum class TBookFormat { bfUnknown, bfEpub, bfPdf };
TBookFormat BookFormatOf(const std::string& fileName);

// The chapter's title as a book shows it: decoded to UTF-8 from its Encoding, on one
// line, and "Document N" when it has none.
std::string ChapterTitle(const TBookChapter& chapter);
