// Writes documents as a PDF book: a contents page that gives each document's page,
// one document after another, each starting on a new page, page numbers at the foot
// of every page. Printed by Qt WebEngine, the same engine that shows documents.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "export/Book.h"

// Writes the chapters, in their order, to path (replaced when it exists; a failed or
// cancelled write leaves no half-written file behind, and no temporary file). Titles
// and bodies are decoded and cut down as for the e-book; levels indent the contents.
// The target's folder is tried before the printing starts. Returns the number of
// pages.
//
// Needs a QGuiApplication (or QApplication) on the calling thread, whose event loop
// it runs until the printing is done. A stop signal (StopSignal) or cancel returning
// true ends it with the silent abort (EAbort). Throws EExportError.
int WritePdf(const std::string& path, std::vector<TBookChapter> chapters,
             const std::function<bool()>& cancel = {});

// WritePdf for a program without a window (the command-line tool): creates the
// QGuiApplication it needs for the call, on the offscreen platform when there is
// no display, and keeps Chromium's log lines off stderr. Chromium's sandbox cannot
// run as root; there it is switched off, as the page printed is our own, without
// scripts or remote content.
int WritePdfWithoutWindow(const std::string& path, std::vector<TBookChapter> chapters);
