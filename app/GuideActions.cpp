// The window's commands that start a collection: "New guide...", "Try reader..." and
// the welcome page of a database without guides.
#include <QAction>
#include <QLabel>
#include <QTreeWidget>

#include "app/DocumentView.h"
#include "app/WayfolioFr.h"
#include "app/Welcome.h"
#include "app/dg_TryReader.h"
#include "config/AuxProj.h"
#include "core/NewGuide.h"
#include "core/NodePath.h"
#include "core/TryReader.h"
#include "dialogs/DialogUtil.h"
#include "dialogs/dg_NewGuide.h"
#include "script/ReaderCatalogue.h"

namespace {

// Every guide type a reader serves, compiled or a file, with what the user needs to
// choose one. The folders are looked at afresh, so a file just added is offered.
std::vector<TGuideTypeChoice> GuideTypeChoices() {
    std::vector<TGuideTypeChoice> choices;
    for (const TReaderInfo& reader : Readers().List())
        choices.push_back({reader.GuideType, reader.Description, reader.Source});
    return choices;
}

TWelcomeFolders ReaderFolders() {
    TWelcomeFolders folders;
    folders.User = UserDataDir() + "readers/";
    folders.Configured = GetIniText("Download", "ReaderDir", "");
    // The shipped files come last in the catalogue's folders.
    const std::vector<std::string> all = TReaderCatalogue::DefaultFolders();
    if (!all.empty() && all.back() != folders.User && all.back() != folders.Configured)
        folders.Shipped = all.back();
    return folders;
}

}  // namespace

void TForm1::CreateGuideActions() {
    NewGuideAction = MakeAction("New guide...", "Add a guide: the address of its first page",
                                QKeySequence("Ctrl+N"), &TForm1::NewGuideActionExecute);
    TryReaderAction =
        MakeAction("Try reader...", "Show what a reload of the selected document would store",
                   QKeySequence(), &TForm1::TryReaderActionExecute);
}

void TForm1::NewGuideActionExecute() {
    IBDB.Open();
    TOwnedDialog<TNewGuideDlg> dialog(new TNewGuideDlg(GuideTypeChoices(), this));
    TNewGuide guide;
    // A refused answer comes back as the dialog's message, and the dialog stays open.
    dialog->OnConfirm = [this, &guide](const TNewGuideAnswer& answer) {
        StopFlag = false;  // Stop abandons the fetch of the page's own title
        guide = CreateGuide(IBDB, answer.Url, answer.GuideType, answer.Title, this);
        return std::string();
    };
    if (dialog->exec() != QDialog::Accepted || !dialog || guide.NodeId == 0) return;

    QTreeWidgetItem* item = nullptr;
    if (guide.Existed) {
        // Nothing was written: the document already stored for this page is the answer,
        // wherever it is in the tree.
        item = root_;
        for (int id : PathFromRoot(IBDB, guide.NodeId)) {
            if (!item->isExpanded()) item->setExpanded(true);  // loads the children
            QTreeWidgetItem* next = nullptr;
            for (int i = 0; i < item->childCount() && !next; ++i)
                if (NodeIdOf(item->child(i)) == id) next = item->child(i);
            if (!next) break;
            item = next;
        }
        StatusPanel1->setText(QString("This guide exists already (document %1)")
                                  .arg(guide.NodeId));
    } else {
        StatusPanel1->clear();  // whatever an earlier try said no longer holds
        // The new guide comes after the others; the rest of the tree, its open branches
        // and its marks stay as they are. A closed first level loads it when it opens.
        if (!root_->isExpanded()) root_->setExpanded(true);
        for (int i = root_->childCount() - 1; i >= 0 && !item; --i)
            if (NodeIdOf(root_->child(i)) == guide.NodeId) item = root_->child(i);
        if (!item) item = AddItem(root_, guide.Title, guide.NodeId, siUnmarked);
    }
    if (!item || item == root_) return;
    Nodes->setCurrentItem(item);
    Nodes->scrollToItem(item);
    Nodes->setFocus();
}

void TForm1::TryReaderActionExecute() {
    QTreeWidgetItem* item = Selected();
    if (!item || NodeIdOf(item) == 0) return;  // the root and placeholders have no page
    StopFlag = false;
    TReaderTrial trial;
    if (!TryReader(IBDB, NodeIdOf(item), *this, trial))
        throw EProjError("Document " + std::to_string(NodeIdOf(item)) +
                         " is no longer in the database.");
    TOwnedDialog<TTryReaderDlg> dialog(new TTryReaderDlg(trial, this));
    dialog->exec();
}

void TForm1::ShowWelcomeIfEmpty() {
    if (root_->childCount() > 0) return;
    std::vector<TWelcomeReader> readers;
    for (const TGuideTypeChoice& choice : GuideTypeChoices())
        readers.push_back({choice.GuideType, choice.Description, ExampleAddress(choice.GuideType)});
    HTML->ShowHTML(WelcomePage(readers, ReaderFolders()));
}
