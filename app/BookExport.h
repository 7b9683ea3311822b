// "Export book...": the marked documents of the tree, or the selected document with
// its whole branch, as an EPUB e-book or a PDF.
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

// What "Export book..." writes: the marked documents (as far as the tree has loaded
// them), or the selected document and everything below it as the database holds it,
// expanded in the tree or not.
enum class TBookScope { bsMarked, bsBranch };

// The save dialog of "Export book...": .epub or .pdf, chosen by filter or by the
// name's suffix; asks before replacing a file. With canBranch it also offers the
// selected document's whole branch beside the marked documents (when canMarked);
// scope holds the choice, starting from its value, and must outlive the dialog.
void SetupExportBookDialog(QFileDialog& dialog, TBookScope* scope = nullptr,
                           bool canMarked = true, bool canBranch = false);

// The documents a scope gives: marked is what CollectMarked found, nodeId the
// selected document (0: every document below the top level).
std::vector<TBookEntry> ScopeEntries(TDatabase& db, TBookScope scope,
                                     const std::vector<TBookEntry>& marked, int nodeId);

// Writes the entries' documents to path, as the file name's suffix says (.pdf: a
// PDF, anything else: an EPUB). Returns the number of documents written. Runs the
// event loop while a PDF is printed, which StopFlag (set by Stop or by closing the
// window) ends with the silent abort. Throws EExportError or a database error.
int ExportBook(TDatabase& db, const std::vector<TBookEntry>& entries, const QString& path);
