#include "app/BookExport.h"

#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QTreeWidgetItem>
#include <algorithm>

#include "app/WayfolioFr.h"
#include "core/Reload.h"
#include "export/EpubWriter.h"
#include "export/PdfWriter.h"

void CollectMarked(QTreeWidgetItem* item, int level, std::vector<TBookEntry>& entries) {
    const bool marked = TForm1::StateOf(item) == siMarked && TForm1::NodeIdOf(item) != 0;
    if (marked) entries.emplace_back(TForm1::NodeIdOf(item), level);
    for (int i = 0; i < item->childCount(); ++i)
        CollectMarked(item->child(i), marked ? level + 1 : level, entries);
}

void SetupExportBookDialog(QFileDialog& dialog, TBookScope* scope, bool canMarked,
                           bool canBranch) {
    dialog.setWindowTitle("Export book");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({"E-books (*.epub)", "PDF files (*.pdf)"});
    dialog.setDefaultSuffix("epub");
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog.setSizeGripEnabled(true);
    // A name typed without a suffix takes the one of the chosen file type.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& f) {
        dialog.setDefaultSuffix(f.contains("*.pdf") ? "pdf" : "epub");
    });
    if (!scope || !canBranch) return;
    // The choice sits in the dialog's own grid, under the file type; the platform's
    // dialog has no room for it.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
    if (!grid) return;
    auto* label = new QLabel("Documents:", &dialog);
    auto* choice = new QComboBox(&dialog);
    choice->setObjectName("ExportScope");
    if (canMarked) choice->addItem("The marked documents", int(TBookScope::bsMarked));
    choice->addItem("The selected document and its whole branch", int(TBookScope::bsBranch));
    choice->setCurrentIndex(std::max(0, choice->findData(int(*scope))));
    *scope = static_cast<TBookScope>(choice->currentData().toInt());
    label->setBuddy(choice);
    const int row = grid->rowCount();
    grid->addWidget(label, row, 0);
    grid->addWidget(choice, row, 1, 1, std::max(1, grid->columnCount() - 1));
    QObject::connect(choice, QOverload<int>::of(&QComboBox::currentIndexChanged), &dialog,
                     [scope, choice](int) {
                         *scope = static_cast<TBookScope>(choice->currentData().toInt());
                     });
}

std::vector<TBookEntry> ScopeEntries(TDatabase& db, TBookScope scope,
                                     const std::vector<TBookEntry>& marked, int nodeId) {
    if (scope == TBookScope::bsMarked) return marked;
    return BranchEntries(db, nodeId);
}

int ExportBook(TDatabase& db, const std::vector<TBookEntry>& entries, const QString& path) {
    std::vector<TBookChapter> chapters = ReadChapters(db, entries);
    const int count = static_cast<int>(chapters.size());
    const std::string file = path.toLocal8Bit().toStdString();
    if (BookFormatOf(file) == TBookFormat::bfPdf)
        // Stop, and closing the window (which stops whatever runs below it), end the
        // printing; so does a stop signal.
        WritePdf(file, std::move(chapters), [] { return StopFlag; });
    else
        WriteEpub(file, std::move(chapters));
    return count;
}
