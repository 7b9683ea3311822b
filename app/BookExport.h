// "Export book...": the marked documents of the tree as an EPUB e-book or a PDF.
#pragma once

#include <QString>
#include <vector>

#include "export/Book.h"

class QFileDialog;
class QTreeWidgetItem;
class TDatabase;

// The marked items at and below item in tree order (a parent before its children),
// each with its depth among the marked ones: a marked item below a marked item is one
// level deeper. The same items, in the same order, as "Concat selected..." joins.
void CollectMarked(QTreeWidgetItem* item, int level, std::vector<TBookEntry>& entries);

// The save dialog of "Export book...": .epub or .pdf, chosen by filter or by the
// name's suffix; asks before replacing a file.
void SetupExportBookDialog(QFileDialog& dialog);

// Writes the entries' documents to path, as the file name's suffix says (.pdf: a
// PDF, anything else: an EPUB). Returns the number of documents written. Runs the
// event loop while a PDF is printed. Throws EExportError or a database error.
int ExportBook(TDatabase& db, const std::vector<TBookEntry>& entries, const QString& path);
