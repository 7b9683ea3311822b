// Writes documents as an EPUB 3 e-book: one chapter per document, a table of
// contents from their titles and nesting, everything in UTF-8.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "export/Book.h"

// An export that could not be written; the message names the file and the cause.
class EExportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Writes the chapters, in their order, to path (replaced when it exists; a failed
// write leaves no half-written book behind). Each chapter's title and body are
// decoded from its Encoding (Latin-1 where that is empty or unknown) and its body
// cut down to well-formed XHTML; links are made absolute against its OrigUrl.
// Levels nest the table of contents (see EvenOutLevels). Throws EExportError.
void WriteEpub(const std::string& path, std::vector<TBookChapter> chapters);
