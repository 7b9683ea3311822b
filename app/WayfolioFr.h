// The main window: the document tree, the document view, the log pane and the
// actions that gather, show, join and save documents.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "app/BookExport.h"
#include "core/Reload.h"
#include "store/Database.h"

class QAction;
class QLabel;
class QMenu;
class QPoint;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;
class QFrame;
class TDocumentView;
class TSearchPanel;
struct TPiece;
class TTerminal;
class TIniStore;
class TRunProgress;
class TFocusMarker;
class QToolBar;
class TFileTermLogger;

// Tree item state images.
enum TStateImage { siNone = -1, siUnmarked = 1, siMarked = 2 };

// The window hosts the reload engine: runs process its messages between documents
// (so Stop and the tree stay usable) and log through its logger.
class TForm1 : public QMainWindow, public TReloadHost {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Components, under their design names.
    QTreeWidget* Nodes = nullptr;
    QSplitter* Splitter1 = nullptr;
    QFrame* Panel1 = nullptr;
    QSplitter* Splitter3 = nullptr;
    TDocumentView* HTML = nullptr;  // the document view
    TTerminal* Log = nullptr;       // the log pane
    TFileTermLogger* Logger = nullptr;
    QLabel* StatusPanel0 = nullptr;
    QLabel* StatusPanel1 = nullptr;
    QLabel* StatusPanel2 = nullptr;  // a reload run's progress; empty otherwise
    TDatabase IBDB;
    TTransaction IBTransaction{IBDB};

    QAction* SettingsAction = nullptr;
    QAction* ReloadNodeAction = nullptr;
    QAction* ReloadChildrenAction = nullptr;
    QAction* ReloadChilderEmptyAction = nullptr;
    QAction* StopAction = nullptr;
    QAction* AboutAction = nullptr;
    QAction* ToggleNodeAction = nullptr;
    QAction* SelectBranchAction = nullptr;
    QAction* UnselectBranchAction = nullptr;
    QAction* ExportAction = nullptr;
    QAction* SaveHTMLAction = nullptr;
    QAction* ExportBookAction = nullptr;
    QAction* GotoWebAction = nullptr;
    QAction* DeleteNodeAction = nullptr;
    QAction* QuitAction = nullptr;
    QToolBar* ToolBar = nullptr;
    TRunProgress* RunProgress = nullptr;  // a run's progress and its Stop button
    TFocusMarker* FocusMarker = nullptr;
    QAction* NewGuideAction = nullptr;   // "New guide...": a top-level document
    QAction* TryReaderAction = nullptr;  // "Try reader...": a reload shown, not stored
    QMenu* PopupMenu1 = nullptr;
    TSearchPanel* Search = nullptr;  // the search field and its results

    // The root item "All guides" (node id 0).
    QTreeWidgetItem* RootItem() const { return root_; }
    QTreeWidgetItem* Selected() const;
    static int NodeIdOf(const QTreeWidgetItem* item);
    static int StateOf(const QTreeWidgetItem* item);
    void SetState(QTreeWidgetItem* item, int state);

    // Settings steps, connect, and the first level of the tree. Runs when the window
    // is first shown and again after the settings were changed; errors propagate.
    void FormShow();
    // Rebuilds the item's children from the database: all of them, or only a
    // "Loading..." placeholder when the node has children.
    void LoadChildren(QTreeWidgetItem* node, bool placeholderOnly);
    void SetBranchState(QTreeWidgetItem* item, int state);

    // The application's general error handler: runs f and shows any error's message,
    // silently dropping the silent abort. Every action goes through it.
    void Guarded(const std::function<void()>& f);

    // Handlers.
    void SettingsActionExecute();
    void ToggleNodeActionExecute();
    void SelectBranchActionExecute();
    void UnselectBranchActionExecute();
    void GotoWebActionExecute();
    void DeleteNodeActionExecute();
    void AboutActionExecute();
    void StopActionExecute();
    void ReloadNodeActionExecute();
    void ReloadChildrenActionExecute();
    void ReloadChilderEmptyActionExecute();
    void NodesChange();
    void ShowHint(const QString& hint);
    void NodesExpanding(QTreeWidgetItem* item);
    void NodesCollapsed(QTreeWidgetItem* item);
    void ShowSelectedDocument();
    // Shows a document found by a search and selects it in the tree, opening the
    // branches above it.
    void ShowFoundDocument(int nodeId);
    // Opens the item's whole branch (numpad *), up to a bound on the items added.
    void ExpandBranchActionExecute(QTreeWidgetItem* item);
    // The tree's context menu at the current item (Shift+F10, the Menu key) or at pos;
    // commands that do not apply to the item are greyed while it is open.
    void ShowTreeMenu(const QPoint* pos);

    // Joining and saving documents.
    // Reads every marked item at and below item, parent before children, in tree
    // order, appending them to pieces. Only items present in the tree take part.
    void ConcatSelected(QTreeWidgetItem* item, std::vector<TPiece>& pieces);
    void ExportActionExecute();
    void SaveHTMLActionExecute();
    // "Export book...": the marked documents as an EPUB or a PDF.
    void ExportBookActionExecute();
    // Adding a guide and trying a reader (GuideActions.cpp).
    void NewGuideActionExecute();
    void TryReaderActionExecute();
    // Shows the welcome page in the view while the database holds no guides.
    void ShowWelcomeIfEmpty();
    // Asks for the book's file; empty when the user cancels. Tests replace the dialog.
    std::function<QString()> AskExportBookFile;
    // What "Export book..." writes, set before AskExportBookFile and changed by it;
    // the branch is offered when a document is selected.
    TBookScope ExportScope = TBookScope::bsMarked;
    bool ExportBranchOffered = false;
    // Asks for the file "Save HTML..." writes; empty when the user cancels. Tests
    // replace the dialog.
    std::function<QString()> AskSaveHTMLFile;

    // The connection's before/after-connect handlers.
    void IBDBBeforeConnect(TDatabase& db);
    void IBDBAfterConnect(TDatabase& db);

    // Whether a delete asks first; tests replace the question.
    std::function<bool(const QString& question)> Confirm;

    // TReloadHost.
    void ProcessMessages() override;
    void WriteLog(unsigned char channel, const std::string& text) override;
    void ShowProgress(const TReloadProgress& progress) override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAction* MakeAction(const QString& caption, const QString& hint, const QKeySequence& key,
                        void (TForm1::*handler)());
    void CreateActions();
    void CreateMenus();
    void CreateGuideActions();
    void CreateComponents();
    void CreateToolBar();
    // Re-reads an item after a run: caption (when asked) and children.
    void RefreshAfterRun(QTreeWidgetItem* item, bool refreshCaption, bool fullLevel);
    // After the settings were confirmed and the database could not be opened: names it,
    // and offers the settings that worked before back.
    void OfferPreviousSettings(const std::exception& error);
    // Runs the engine from the selected item, then rebuilds the item selected when it
    // ends (and, with refreshCaption, its caption from the stored title).
    void ReloadSelected(bool storeTopContent, int depth, bool reloadAll, bool refreshCaption);
    QTreeWidgetItem* AddItem(QTreeWidgetItem* parent, const std::string& title, int nodeId,
                             int state);

    QTreeWidgetItem* root_ = nullptr;
    bool shown_ = false;
    // Documents new or changed in the last run, shown in bold until they are shown.
    std::unordered_set<int> freshNodes_;
    // The item the last click toggled and its mark before, so that a double click,
    // which begins with a click, leaves the mark as it was.
    QTreeWidgetItem* clickedItem_ = nullptr;
    int clickedState_ = 0;
    QElapsedTimer clickedAt_;
    // The configuration as it was when the database last opened, offered back when
    // new settings cannot open theirs.
    std::unique_ptr<TIniStore> goodSettings_;
};
