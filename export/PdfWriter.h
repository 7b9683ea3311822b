// Writes documents as a PDF book: a contents page that gives each document's page,
// one document after another, each starting on a new page, page numbers at the foot
// of every page. Printed by Qt WebEngine, the same engine that shows documents.
#pragma once

#include <string>
#include <vector>

#include "export/Book.h"

// Writes the chapters, in their order, to path (replaced when it exists; a failed
// write leaves no half-written file behind). Titles and bodies are decoded and cut
// down as for the e-book; levels indent the contents.
//
// Needs a QGuiApplication (or QApplication) on the calling thread, whose event loop
// it runs until the printing is done, at most a few minutes. Throws EExportError.
void WritePdf(const std::string& path, std::vector<TBookChapter> chapters);

// WritePdf for a program without a window (the command-line tool): creates the
// QGuiApplication it needs for the call, on the offscreen platform when there is
// no display. Chromium's sandbox cannot run as root; there it is switched off, as
// the page printed is our own, without scripts or remote content.
void WritePdfWithoutWindow(const std::string& path, std::vector<TBookChapter> chapters);
