#include "app/BookExport.h"

#include <QFileDialog>
#include <QTreeWidgetItem>

#include "app/WayfolioFr.h"
#include "export/EpubWriter.h"
#include "export/PdfWriter.h"

void CollectMarked(QTreeWidgetItem* item, int level, std::vector<TBookEntry>& entries) {
    const bool marked = TForm1::StateOf(item) == siMarked && TForm1::NodeIdOf(item) != 0;
    if (marked) entries.emplace_back(TForm1::NodeIdOf(item), level);
    for (int i = 0; i < item->childCount(); ++i)
        CollectMarked(item->child(i), marked ? level + 1 : level, entries);
}

void SetupExportBookDialog(QFileDialog& dialog) {
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
}

int ExportBook(TDatabase& db, const std::vector<TBookEntry>& entries, const QString& path) {
    std::vector<TBookChapter> chapters = ReadChapters(db, entries);
    const int count = static_cast<int>(chapters.size());
    const std::string file = path.toLocal8Bit().toStdString();
    if (BookFormatOf(file) == TBookFormat::bfPdf)
        WritePdf(file, std::move(chapters));
    else
        WriteEpub(file, std::move(chapters));
    return count;
}
