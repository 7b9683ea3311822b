// The "Try reader" dialog: what a reload of one document would store, shown and not
// stored. The document as the view would show it after the reload, and the links the
// reader reported, with their order and their pass.
#pragma once

#include <QDialog>

#include "core/TryReader.h"

class QLabel;
class QTreeWidget;
class TDocumentView;

class TTryReaderDlg : public QDialog {
    Q_OBJECT
public:
    explicit TTryReaderDlg(const TReaderTrial& trial, QWidget* parent = nullptr);

    // What the trial gave, in a sentence: whether the page arrived and was read, and
    // what a reload would do with it.
    static QString Verdict(const TReaderTrial& trial);

    QLabel* Summary;         // address, guide type and the verdict
    TDocumentView* View;     // the document as the view would show it
    QTreeWidget* Links;      // columns: order, pass, title, address
    QLabel* LinksNote;       // how many links, and which of them a reload stores
};
