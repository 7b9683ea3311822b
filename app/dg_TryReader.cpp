#include "app/dg_TryReader.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/DocumentView.h"
#include "dialogs/DialogUtil.h"

QString TTryReaderDlg::Verdict(const TReaderTrial& trial) {
    switch (trial.Result) {
    case TReaderTrial::trNoReader:
        return "No page reader serves this guide type.";
    case TReaderTrial::trFailed:
        return "The page did not arrive (the log says why). A reload would store nothing.";
    case TReaderTrial::trUnrecognised:
        switch (trial.Verdict) {
        case pvLostBody:
            return "The page arrived, but it gave an empty body where one is stored. "
                   "A reload would keep the stored body.";
        case pvLostLinks:
            return "The page arrived, but it gave no links where the document has children. "
                   "A reload would keep the stored links.";
        default:
            return "The page arrived, but its reader did not recognise its layout. "
                   "A reload would keep the stored content.";
        }
    case TReaderTrial::trRecognised:
        break;
    }
    if (trial.ContentKept)
        return "The page was read. This document keeps its stored content (READ_CONTENT is "
               "\"N\"): a reload would store its links only.";
    return "The page was read. A reload would store this document and these links.";
}

TTryReaderDlg::TTryReaderDlg(const TReaderTrial& trial, QWidget* parent) : QDialog(parent) {
    setObjectName("TryReaderDlg");
    setWindowTitle("Try reader");
    resize(820, 640);
    auto* layout = new QVBoxLayout(this);

    Summary = new QLabel(this);
    Summary->setObjectName("Summary");
    Summary->setWordWrap(true);
    Summary->setTextFormat(Qt::PlainText);
    Summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Summary->setText(BytesToQString(trial.Url) + "\n" + "Guide type: " +
                     BytesToQString(trial.GuideType) + "\n" + Verdict(trial));
    layout->addWidget(Summary);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    layout->addWidget(splitter, 1);
    View = new TDocumentView(splitter);
    View->setObjectName("View");
    if (!trial.View.empty()) View->ShowHTML(trial.View);

    auto* bottom = new QWidget(splitter);
    auto* bottomLayout = new QVBoxLayout(bottom);
    bottomLayout->setContentsMargins(0, 0, 0, 0);
    Links = new QTreeWidget(bottom);
    Links->setObjectName("Links");
    Links->setRootIsDecorated(false);
    Links->setUniformRowHeights(true);
    Links->setHeaderLabels({"Order", "Pass", "Title", "Address"});
    Links->header()->setSectionResizeMode(QHeaderView::Interactive);
    int parentPass = 0;
    for (const TTriedLink& link : trial.Links) {
        auto* item = new QTreeWidgetItem(Links);
        item->setText(0, QString::number(link.Order));
        item->setText(1, link.FirstPass ? "page" : "parent");
        item->setText(2, BytesToQString(link.Title));
        item->setText(3, BytesToQString(link.Url));
        item->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
        if (!link.FirstPass) ++parentPass;
    }
    for (int column = 0; column < 3; ++column) Links->resizeColumnToContents(column);
    bottomLayout->addWidget(Links, 1);
    LinksNote = new QLabel(bottom);
    LinksNote->setObjectName("LinksNote");
    LinksNote->setWordWrap(true);
    const int pagePass = static_cast<int>(trial.Links.size()) - parentPass;
    QString note = QString("%1 links of the page").arg(pagePass);
    if (parentPass > 0)
        note += QString(", %1 of its parent (stored when a branch run reaches this document "
                        "from its parent, not when it is reloaded alone)")
                    .arg(parentPass);
    LinksNote->setText(note + ".");
    bottomLayout->addWidget(LinksNote);
    // The document takes most of the room; the list needs only a few lines.
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({400, 160});

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}
