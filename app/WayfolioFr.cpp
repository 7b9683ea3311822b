#include "app/WayfolioFr.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QFileDialog>
#include <QFont>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QSplitter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <chrono>

#include "core/Compose.h"
#include "app/CutText.h"
#include "core/DbSettings.h"
#include "app/BookExport.h"
#include "app/DocumentView.h"
#include "app/FocusMarker.h"
#include "app/KeyboardAccess.h"
#include "core/NodePath.h"
#include "core/NodeTree.h"
#include "app/SearchPanel.h"
#include "app/RunProgress.h"
#include "app/ToolBar.h"
#include "app/TreeExpand.h"
#include "core/StopSignals.h"
#include "app/WebLinks.h"
#include "config/AuxProj.h"
#include "config/EAbort.h"
#include "dialogs/DialogUtil.h"
#include "dialogs/dg_About.h"
#include "dialogs/dg_Settings.h"
#include "logging/LogLines.h"
#include "logging/LogTerm.h"
#include "logging/Terminal.h"

namespace {

constexpr int kNodeIdRole = Qt::UserRole;
constexpr int kStateRole = Qt::UserRole + 1;

// The tree's state images: 0 and 1 an empty box, 2 a box with a tick.
QIcon StateImage(int index) {
    static const QIcon images[3] = {
        [] {
            QPixmap p(16, 16);
            p.fill(Qt::transparent);
            return QIcon(p);
        }(),
        [] {
            QPixmap p(16, 16);
            p.fill(Qt::transparent);
            QPainter g(&p);
            g.setPen(QPen(QColor(90, 90, 90), 1));
            g.setBrush(Qt::white);
            g.drawRect(2, 2, 11, 11);
            return QIcon(p);
        }(),
        [] {
            QPixmap p(16, 16);
            p.fill(Qt::transparent);
            QPainter g(&p);
            g.setRenderHint(QPainter::Antialiasing, false);
            g.setPen(QPen(QColor(90, 90, 90), 1));
            g.setBrush(Qt::white);
            g.drawRect(2, 2, 11, 11);
            g.setRenderHint(QPainter::Antialiasing, true);
            g.setPen(QPen(QColor(20, 110, 30), 2));
            g.drawLine(QPointF(4.5, 8), QPointF(7, 10.5));
            g.drawLine(QPointF(7, 10.5), QPointF(11.5, 4.5));
            return QIcon(p);
        }(),
    };
    return index >= 0 && index < 3 ? images[index] : QIcon();
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle("Wayfolio");
    setWindowIcon(WayfolioIcon());
    resize(870, 640);
    CreateComponents();
    CreateActions();
    CreateGuideActions();
    CreateMenus();
    CreateToolBar();
    InstallKeyboardAccess(this, {Nodes, HTML, Log});
    FocusMarker = new TFocusMarker(
        QList<QWidget*>{Search->Field, Search->Results, Nodes, HTML, Log}, this);
    IBDB.SetDefaultTransaction(&IBTransaction);
    IBDB.SQLDialect = 1;  // the configuration always sets the real one before connecting
    IBDB.BeforeConnect = [this](TDatabase& db) { IBDBBeforeConnect(db); };
    IBDB.AfterConnect = [this](TDatabase& db) { IBDBAfterConnect(db); };
    Confirm = [this](const QString& question) {
        return QMessageBox::question(this, windowTitle(), question,
                                     QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    };
    AskSaveHTMLFile = [this] {
        TOwnedDialog<QFileDialog> dialog(new QFileDialog(this));
        SetupSaveHTMLDialog(*dialog.get());
        if (dialog->exec() != QDialog::Accepted || !dialog || dialog->selectedFiles().isEmpty())
            return QString();
        return dialog->selectedFiles().first();
    };
    AskExportBookFile = [this] {
        TOwnedDialog<QFileDialog> dialog(new QFileDialog(this));
        SetupExportBookDialog(*dialog.get(), &ExportScope, ExportScope == TBookScope::bsMarked,
                              ExportBranchOffered);
        if (dialog->exec() != QDialog::Accepted || !dialog || dialog->selectedFiles().isEmpty())
            return QString();
        return dialog->selectedFiles().first();
    };
}

TForm1::~TForm1() {
    // Nothing may reach the pane once it starts to go.
    Logger->SetTerminal(nullptr);
    try {
        IBDB.Close();  // commits the shared transaction
    } catch (...) {
        // Shutting down: a connection that cannot commit any more has nothing to keep.
    }
}

void TForm1::CreateComponents() {
    Splitter1 = new QSplitter(Qt::Horizontal, this);
    Splitter1->setObjectName("Splitter1");
    Splitter1->setHandleWidth(3);
    Splitter1->setChildrenCollapsible(false);

    Nodes = new QTreeWidget(Splitter1);
    Nodes->setObjectName("Nodes");
    Nodes->setHeaderHidden(true);
    Nodes->setColumnCount(1);
    Nodes->setIndentation(19);
    Nodes->setSelectionBehavior(QAbstractItemView::SelectRows);
    Nodes->setSelectionMode(QAbstractItemView::SingleSelection);
    Nodes->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Nodes->setExpandsOnDoubleClick(false);  // a double click shows the document
    Nodes->setContextMenuPolicy(Qt::CustomContextMenu);
    Nodes->setIconSize(QSize(16, 16));
    Nodes->installEventFilter(this);
    // Keep the selection visible when the tree loses focus.
    QPalette pal = Nodes->palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight,
                 pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    Nodes->setPalette(pal);
    // The search field and its results sit above the tree.
    Search = new TSearchPanel(IBDB, Nodes, Splitter1);
    Search->OnChoose = [this](int nodeId) { Guarded([&] { ShowFoundDocument(nodeId); }); };

    Panel1 = new QFrame(Splitter1);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    auto* panelLayout = new QVBoxLayout(Panel1);
    panelLayout->setContentsMargins(1, 1, 1, 1);
    Splitter3 = new QSplitter(Qt::Vertical, Panel1);
    Splitter3->setObjectName("Splitter3");
    Splitter3->setHandleWidth(3);
    panelLayout->addWidget(Splitter3);
    HTML = new TDocumentView(Splitter3);
    HTML->setObjectName("HTML");
    Log = new TTerminal(Splitter3);
    Log->setObjectName("Log");
    Log->SetMaxLines(100);
    Log->setMinimumHeight(20);
    Splitter3->setStretchFactor(0, 1);
    Splitter3->setStretchFactor(1, 0);
    Splitter3->setSizes({556, 84});

    Splitter1->addWidget(Search);
    Splitter1->addWidget(Panel1);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({193, 677});
    setCentralWidget(Splitter1);

    StatusPanel0 = new QLabel(this);
    StatusPanel0->setObjectName("StatusPanel0");
    StatusPanel0->setFixedWidth(70);
    StatusPanel0->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    StatusPanel1 = new TElidedLabel(this);  // long hints are cut with "..."
    StatusPanel1->setObjectName("StatusPanel1");
    StatusPanel1->setMinimumWidth(50);
    statusBar()->addWidget(StatusPanel0);
    statusBar()->addWidget(StatusPanel1, 1);
    StatusPanel2 = new QLabel(this);
    StatusPanel2->setObjectName("StatusPanel2");
    StatusPanel2->setMinimumWidth(180);
    statusBar()->addWidget(StatusPanel2);
    statusBar()->addWidget(Search->Status);

    Logger = new TFileTermLogger(this);
    Logger->setObjectName("Logger");
    Logger->SetActive(false);
    Logger->SetAutoOpen(true);
    Logger->SetLogFlags(TLogFormatFlags{lfDivideNames, lfDivideChannels, lfAutoCR});
    Logger->SetMaxLineLength(0);
    Logger->SetLogFile("NUL");
    Logger->SetTerminal(Log);
    Logger->SetTermChar(false);

    root_ = new QTreeWidgetItem(Nodes);
    root_->setText(0, "All guides");
    root_->setData(0, kNodeIdRole, 0);
    root_->setData(0, kStateRole, siNone);

    InstallCutTextToolTips(Nodes);
    connect(Nodes, &QTreeWidget::itemExpanded, this, &TForm1::NodesExpanding);
    connect(Nodes, &QTreeWidget::itemCollapsed, this,
            [this](QTreeWidgetItem* item) { Guarded([&] { NodesCollapsed(item); }); });
    connect(Nodes, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem*, int) {
        clickedItem_ = Selected();
        clickedState_ = StateOf(clickedItem_);
        clickedAt_.start();
        ToggleNodeAction->trigger();
    });
    connect(Nodes, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
        // The click that began the double click toggled the mark; a double click
        // means "show", so the mark goes back.
        if (item && item == clickedItem_ &&
            clickedAt_.elapsed() <= QApplication::doubleClickInterval())
            SetState(item, clickedState_);
        clickedItem_ = nullptr;
        Guarded([this] { ShowSelectedDocument(); });
    });
    connect(Nodes, &QTreeWidget::currentItemChanged, this, [this] { NodesChange(); });
    connect(Nodes, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (QTreeWidgetItem* item = Nodes->itemAt(pos)) Nodes->setCurrentItem(item);
        ShowTreeMenu(&pos);
    });
}

QAction* TForm1::MakeAction(const QString& caption, const QString& hint, const QKeySequence& key,
                            void (TForm1::*handler)()) {
    auto* action = new QAction(caption, this);
    action->setStatusTip(hint);
    action->setToolTip(hint.isEmpty() ? caption : hint);
    if (!key.isEmpty()) action->setShortcut(key);
    action->setShortcutContext(Qt::WindowShortcut);
    if (handler)
        connect(action, &QAction::triggered, this,
                [this, handler] { Guarded([&] { (this->*handler)(); }); });
    addAction(action);
    return action;
}

void TForm1::CreateActions() {
    SettingsAction = MakeAction("Settings...", "", {}, &TForm1::SettingsActionExecute);
    ReloadNodeAction =
        MakeAction("Reload document", "Reload from net selected document and refresh its links",
                   QKeySequence("Ctrl+R"), &TForm1::ReloadNodeActionExecute);
    ReloadChildrenAction = MakeAction(
        "Reload branch documents",
        "Reload all child documents recursively, refreshes also links (sometimes may fall in "
        "neverending loop)",
        {}, &TForm1::ReloadChildrenActionExecute);
    ReloadChilderEmptyAction = MakeAction("Load branch documents (empty only)",
                                          "Relaod child document that are empty (null body)", {},
                                          &TForm1::ReloadChilderEmptyActionExecute);
    StopAction =
        MakeAction("Stop", "Stop action", QKeySequence(Qt::Key_Escape), &TForm1::StopActionExecute);
    AboutAction = MakeAction("About...", "Show about dialog", {}, &TForm1::AboutActionExecute);
    ToggleNodeAction = MakeAction("Toggle node", "Toggle node selection",
                                  QKeySequence(Qt::Key_Space), &TForm1::ToggleNodeActionExecute);
    SelectBranchAction = MakeAction("Select branch", "Select nodes in whole branch",
                                    QKeySequence("Ctrl+Space"), &TForm1::SelectBranchActionExecute);
    UnselectBranchAction = MakeAction("Unselect branch", "Unselect nodes in whole branch",
                                      QKeySequence("Ctrl+U"), &TForm1::UnselectBranchActionExecute);
    ExportAction = MakeAction("Concat selected...",
                              "Join all selected documents in tree, curent position affect on main "
                              "title of document only !!",
                              QKeySequence("Ctrl+E"), &TForm1::ExportActionExecute);
    SaveHTMLAction = MakeAction("Save HTML...", "Save current HTML document",
                                QKeySequence("Ctrl+S"), &TForm1::SaveHTMLActionExecute);
    ExportBookAction =
        MakeAction("Export book...", "Save the marked documents as an e-book (EPUB) or a PDF",
                   QKeySequence(), &TForm1::ExportBookActionExecute);
    GotoWebAction =
        MakeAction("Goto web", "Open page in browser from web, online connection required",
                   QKeySequence("Ctrl+G"), &TForm1::GotoWebActionExecute);
    DeleteNodeAction =
        MakeAction("Delete node", "Delete node or branch from tree. Undo impossible!",
                   QKeySequence(Qt::Key_Delete), &TForm1::DeleteNodeActionExecute);
    QuitAction = MakeAction("Quit", "Close the window and end the program",
                            QKeySequence("Ctrl+Q"), nullptr);
    connect(QuitAction, &QAction::triggered, this, &QWidget::close);
}

void TForm1::CreateToolBar() {
    ToolBar = ::CreateToolBar(this, {{ReloadNodeAction, "Reload", QStyle::SP_BrowserReload},
                                     {ReloadChildrenAction, "Reload branch", QStyle::SP_DirOpenIcon},
                                     {StopAction, "Stop", QStyle::SP_BrowserStop},
                                     {nullptr, "", {}},
                                     {ExportAction, "Join", QStyle::SP_FileDialogContentsView},
                                     {ExportBookAction, "Export book", QStyle::SP_DialogSaveButton},
                                     {nullptr, "", {}},
                                     {Search->FindAction, "Search", QStyle::SP_FileDialogInfoView}});
    RunProgress = new TRunProgress(StopAction, this);
    statusBar()->addWidget(RunProgress, 1);
}

void TForm1::CreateMenus() {
    QMenu* file = menuBar()->addMenu("File");
    file->addAction(QuitAction);

    QMenu* edit = menuBar()->addMenu("Edit");
    edit->addAction(NewGuideAction);
    edit->addSeparator();
    edit->addAction(Search->FindAction);
    edit->addSeparator();
    edit->addAction(ToggleNodeAction);
    edit->addAction(SelectBranchAction);
    edit->addAction(UnselectBranchAction);
    edit->addSeparator();
    edit->addAction(DeleteNodeAction);

    QMenu* tools = menuBar()->addMenu("Tools");
    tools->addAction(GotoWebAction);
    tools->addSeparator();
    tools->addAction(ReloadNodeAction);
    tools->addAction(ReloadChilderEmptyAction);
    tools->addAction(ReloadChildrenAction);
    tools->addAction(TryReaderAction);
    tools->addSeparator();
    tools->addAction(ExportAction);
    tools->addAction(SaveHTMLAction);
    tools->addAction(ExportBookAction);
    tools->addSeparator();
    tools->addAction(StopAction);
    tools->addSeparator();
    tools->addAction(SettingsAction);

    QMenu* help = menuBar()->addMenu("Help");
    help->addAction(AboutAction);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    PopupMenu1->addAction(GotoWebAction);
    PopupMenu1->addSeparator();
    PopupMenu1->addAction(ToggleNodeAction);
    PopupMenu1->addAction(SelectBranchAction);
    PopupMenu1->addAction(UnselectBranchAction);
    PopupMenu1->addSeparator();
    PopupMenu1->addAction(ReloadNodeAction);
    PopupMenu1->addAction(ReloadChilderEmptyAction);
    PopupMenu1->addAction(ReloadChildrenAction);
    PopupMenu1->addAction(TryReaderAction);
    PopupMenu1->addAction(DeleteNodeAction);
}

void TForm1::Guarded(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        ShowException(this, e);
    } catch (...) {
        QMessageBox::critical(this, windowTitle(), "Unknown error");
    }
}

// ---------------------------------------------------------------- items

QTreeWidgetItem* TForm1::Selected() const {
    return Nodes->currentItem();
}

int TForm1::NodeIdOf(const QTreeWidgetItem* item) {
    return item ? item->data(0, kNodeIdRole).toInt() : 0;
}

int TForm1::StateOf(const QTreeWidgetItem* item) {
    return item ? item->data(0, kStateRole).toInt() : siNone;
}

void TForm1::SetState(QTreeWidgetItem* item, int state) {
    item->setData(0, kStateRole, state);
    item->setIcon(0, state > 0 ? StateImage(state) : QIcon());
}

QTreeWidgetItem* TForm1::AddItem(QTreeWidgetItem* parent, const std::string& title, int nodeId,
                                 int state) {
    // Filled before it joins the tree, so that setting its text, role and font signals nothing.
    auto* item = new QTreeWidgetItem();
    item->setText(0, BytesToQString(title));
    item->setData(0, kNodeIdRole, nodeId);
    SetState(item, state);
    if (freshNodes_.count(nodeId)) {
        QFont font = item->font(0);
        font.setBold(true);
        item->setFont(0, font);
    }
    if (parent) parent->addChild(item);
    return item;
}

void TForm1::LoadChildren(QTreeWidgetItem* node, bool placeholderOnly) {
    qDeleteAll(node->takeChildren());
    // The tree reports no change when the current item goes with an ancestor.
    NodesChange();
    const int nodeId = NodeIdOf(node);
    if (placeholderOnly) {
        if (HasChildren(IBDB, nodeId)) AddItem(node, "Loading...", 0, siNone);
        return;
    }
    const std::vector<TChildNode> children = ReadChildren(IBDB, nodeId);
    // Pages link back to their guide and to pages above them: a child that is already
    // open above offers no children, so no branch goes on without end.
    const std::vector<int> aboveIds = IdsFromRoot(node, &TForm1::NodeIdOf);
    const std::unordered_set<int> above(aboveIds.begin(), aboveIds.end());
    // A large level goes in as one insertion, painted once, rather than item by item.
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(children.size()));
    for (const TChildNode& child : children) {
        QTreeWidgetItem* item = AddItem(nullptr, child.Title, child.NodeId, siUnmarked);
        if (above.count(child.NodeId))
            MarkLinkedAbove(item);
        else if (child.HasChildren)
            AddItem(item, "Loading...", 0, siNone);
        items.append(item);
    }
    const bool updates = Nodes->updatesEnabled();
    Nodes->setUpdatesEnabled(false);
    node->addChildren(items);
    Nodes->setUpdatesEnabled(updates);
}

void TForm1::SetBranchState(QTreeWidgetItem* item, int state) {
    SetState(item, state);
    for (int i = 0; i < item->childCount(); ++i) SetBranchState(item->child(i), state);
}

// ---------------------------------------------------------------- start-up

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shown_) return;
    shown_ = true;
    // After the window is on screen, so that a connect error shows over it.
    QTimer::singleShot(0, this, [this] { Guarded([this] { FormShow(); }); });
}

void TForm1::closeEvent(QCloseEvent* event) {
    // A reload run may be going on below this event; closing the window ends it.
    StopFlag = true;
    QMainWindow::closeEvent(event);
}

void TForm1::FormShow() {
    Log->SetMaxLines(GetIniNumber("Interbase", "MaxLines", Log->MaxLines()));
    std::string logFile = GetIniText("Interbase", "LogFile", Logger->LogFile());
    Logger->SetLogFile(logFile.empty() ? "NUL" : logFile);
    IBDB.Open();
    if (ProjIni) goodSettings_ = std::make_unique<TIniStore>(*ProjIni);
    SetState(root_, siUnmarked);
    LoadChildren(root_, false);
    ShowWelcomeIfEmpty();
    // Already loaded: opening the root must not load its children a second time.
    const bool blocked = Nodes->blockSignals(true);
    root_->setExpanded(true);
    Nodes->blockSignals(blocked);
}

void TForm1::IBDBBeforeConnect(TDatabase& db) {
    ApplyDbSettings(db);
}

void TForm1::IBDBAfterConnect(TDatabase&) {
    IBTransaction.StartTransaction();
    // The embedded engine takes SIGINT and SIGTERM when it attaches; they stay ours.
    RenewStopSignals();
}

// ---------------------------------------------------------------- tree events

void TForm1::NodesExpanding(QTreeWidgetItem* item) {
    try {
        IBDB.Open();
        LoadChildren(item, false);
    } catch (...) {
        // A failed expansion is refused without a message.
        const bool blocked = Nodes->blockSignals(true);
        item->setExpanded(false);
        Nodes->blockSignals(blocked);
    }
}

void TForm1::NodesCollapsed(QTreeWidgetItem* item) {
    LoadChildren(item, true);
}

void TForm1::NodesChange() {
    QTreeWidgetItem* item = Selected();
    StatusPanel0->setText(item ? QString::number(NodeIdOf(item)) : QString());
}

void TForm1::ShowHint(const QString& hint) {
    const int bar = hint.indexOf('|');
    StatusPanel1->setText(bar >= 0 ? hint.mid(bar + 1) : hint);
}

bool TForm1::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        ShowHint(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    return QMainWindow::event(event);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Nodes && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const auto mods = key->modifiers() & ~Qt::KeypadModifier;
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            mods == Qt::NoModifier) {
            Guarded([this] { ShowSelectedDocument(); });
            return true;
        }
        // The tree would take Space for keyboard search; here it toggles the mark.
        if (key->key() == Qt::Key_Space && mods == Qt::NoModifier) {
            ToggleNodeAction->trigger();
            return true;
        }
        // The tree's own "expand all below" knows no bound. Without the number pad the
        // asterisk comes with Shift.
        if (key->key() == Qt::Key_Asterisk && (mods & ~Qt::ShiftModifier) == Qt::NoModifier) {
            if (QTreeWidgetItem* item = Selected())
                Guarded([this, item] { ExpandBranchActionExecute(item); });
            return true;
        }
        if (key->key() == Qt::Key_Menu || (key->key() == Qt::Key_F10 && mods == Qt::ShiftModifier)) {
            ShowTreeMenu(nullptr);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------- actions

void TForm1::ToggleNodeActionExecute() {
    QTreeWidgetItem* item = Selected();
    if (!item) return;
    const int old = StateOf(item);
    SetState(item, ((std::max(0, old - 1)) ^ 1) + 1);
}

void TForm1::SelectBranchActionExecute() {
    if (QTreeWidgetItem* item = Selected()) SetBranchState(item, siMarked);
}

void TForm1::UnselectBranchActionExecute() {
    if (QTreeWidgetItem* item = Selected()) SetBranchState(item, siUnmarked);
}

void TForm1::StopActionExecute() {
    StopFlag = true;
}

void TForm1::ReloadNodeActionExecute() {
    ReloadSelected(true, 0, true, true);
}

void TForm1::ReloadChildrenActionExecute() {
    ReloadSelected(false, 999, true, false);
}

void TForm1::ReloadChilderEmptyActionExecute() {
    ReloadSelected(false, 999, false, false);
}

void TForm1::ReloadSelected(bool storeTopContent, int depth, bool reloadAll, bool refreshCaption) {
    StopFlag = false;
    TReloadProgress ended;
    bool stopped = false;
    const auto started = std::chrono::steady_clock::now();
    // Where the run starts, found again by its path when it ends: the user may move
    // on meanwhile, and the start item is the one whose branch changed most.
    const std::vector<int> startPath = IdsFromRoot(Selected(), &TForm1::NodeIdOf);
    {
        // The panel is cleared however the run ends; a run started from inside this
        // one clears it too, and this one shows its counts again at its next document.
        struct TClearProgress {
            QLabel* panel;
            TRunProgress* progress;
            ~TClearProgress() {
                panel->clear();
                progress->End();
            }
        } clear{StatusPanel2, RunProgress};
        RunProgress->Begin();
        TReloadEngine engine(IBDB, *this);
        engine.ReloadNodes(NodeIdOf(Selected()), storeTopContent, depth, reloadAll);
        ended = engine.Progress();
        stopped = StopFlag || engine.ConnectionChanged();
        if (!engine.ConnectionChanged()) freshNodes_ = engine.ChangedNodes();
    }
    // What the run did and changed stays in view until the next one, and goes to the
    // log; pages whose layout was not recognised mean a site has changed and nothing
    // of them was stored.
    const std::string summary = RunSummary(
        ended, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
        stopped);
    WriteLog(1, summary);
    StatusPanel2->setText(BytesToQString(summary) +
                          QString(", %1 not recognised").arg(ended.UnknownLayouts));
    // The user may have moved on, or deleted the item, while the run went on.
    QTreeWidgetItem* item = Selected();
    if (item && (item == root_ || NodeIdOf(item) != 0))  // not a placeholder
        RefreshAfterRun(item, refreshCaption, true);
    // The start item too, unless the selected one's refresh took it away or it holds
    // the selection further down (rebuilding it would lose the user's place).
    QTreeWidgetItem* start = startPath.empty() ? nullptr : FindByIds(root_, startPath, &TForm1::NodeIdOf);
    if (!start || start == item) return;
    for (QTreeWidgetItem* up = item; up; up = up->parent())
        if (up == start) return;
    RefreshAfterRun(start, refreshCaption, start->isExpanded());
}

void TForm1::RefreshAfterRun(QTreeWidgetItem* item, bool refreshCaption, bool fullLevel) {
    std::string title;
    if (refreshCaption && ReadTitle(IBDB, NodeIdOf(item), title))
        item->setText(0, BytesToQString(title));  // the root has no row and stays "All guides"
    if (freshNodes_.count(NodeIdOf(item))) {
        QFont font = item->font(0);
        font.setBold(true);
        item->setFont(0, font);
    }
    if (IsLinkedAbove(item)) return;  // stays without children, whatever the run stored
    // A closed item gets its expand mark (or loses it) without opening.
    LoadChildren(item, !fullLevel);
}

void TForm1::ProcessMessages() {
    QApplication::processEvents();
}

void TForm1::WriteLog(unsigned char channel, const std::string& text) {
    Logger->WriteLog("", channel, LogLines(text));
}

void TForm1::ShowProgress(const TReloadProgress& progress) {
    StatusPanel2->setText(
        QString("%1 documents, %2 links").arg(progress.Documents).arg(progress.Links));
    RunProgress->Show(progress);
}

void TForm1::GotoWebActionExecute() {
    QTreeWidgetItem* item = Selected();
    if (!item || NodeIdOf(item) == 0) return;  // the root and placeholders have no address
    OpenWebAddress(ReadOrigUrl(IBDB, NodeIdOf(item)));
}

void TForm1::DeleteNodeActionExecute() {
    QTreeWidgetItem* item = Selected();
    if (!item || item == root_ || NodeIdOf(item) == 0) return;
    if (item->childCount() > 0 &&
        !Confirm(QString("Delete whole branch \"%1\"?").arg(item->text(0))))
        throw EAbort();
    DeleteNodeRow(IBDB, NodeIdOf(item));
    delete item;
}

void TForm1::AboutActionExecute() {
    TOwnedDialog<TAboutDlg> dialog(new TAboutDlg(this));
    dialog->exec();
}

void TForm1::SettingsActionExecute() {
    // What the connection and the log pane use for keys the file leaves out.
    if (!RunSettingsDialog(this, {{"DatabaseName", DefaultDatabaseName()},
                                  {"User", "SYSDBA"},
                                  {"SQLDialect", "3"},
                                  {"MaxLines", std::to_string(Log->MaxLines())}}))
        return;
    IBDB.Close();
    freshNodes_.clear();  // ids of the database left behind
    qDeleteAll(root_->takeChildren());
    NodesChange();  // should connecting fail, no item of the old tree is left to name
    try {
        FormShow();
    } catch (const EAbort&) {
        throw;
    } catch (const std::exception& e) {
        if (!goodSettings_ || !ProjIni) throw;
        OfferPreviousSettings(e);
    }
}

void TForm1::OfferPreviousSettings(const std::exception& error) {
    const QString name = BytesToQString(GetIniText("Interbase", "DatabaseName", DefaultDatabaseName()));
    if (!Confirm(QString("The database \"%1\" cannot be opened:\n%2\n\n"
                         "Go back to the settings that worked before?")
                     .arg(name, QString::fromLocal8Bit(error.what()))))
        throw EAbort();  // the tree stays empty until the settings are changed again
    *ProjIni = *goodSettings_;
    try {
        SaveIni();
    } catch (const std::exception&) {
        // As when the dialog saved: the settings hold in memory for this run.
    }
    IBDB.Close();
    FormShow();
}

// ---------------------------------------------------------------- documents

void TForm1::ShowSelectedDocument() {
    QTreeWidgetItem* item = Selected();
    // The root and the placeholders stand for no document; the view keeps its own.
    if (!item || NodeIdOf(item) == 0) return;
    std::string output;
    if (!ComposeNode(IBDB, NodeIdOf(item), kKindDefault, output))
        throw EProjError("Document " + std::to_string(NodeIdOf(item)) +
                         " is no longer in the database.");
    HTML->ShowHTML(std::move(output));
    if (freshNodes_.erase(NodeIdOf(item))) {
        QFont font = item->font(0);
        font.setBold(false);
        item->setFont(0, font);
    }
}

void TForm1::ShowFoundDocument(int nodeId) {
    std::string output;
    if (!ComposeNode(IBDB, nodeId, kKindDefault, output))
        throw EProjError("Document " + std::to_string(nodeId) + " is no longer in the database.");
    HTML->ShowHTML(std::move(output));
    // Open the branches down to the document, along one path when it has several
    // parents. A tree that changed meanwhile keeps the deepest item found.
    QTreeWidgetItem* item = root_;
    for (int id : PathFromRoot(IBDB, nodeId)) {
        if (!item->isExpanded()) item->setExpanded(true);  // loads the children
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < item->childCount() && !next; ++i)
            if (NodeIdOf(item->child(i)) == id) next = item->child(i);
        if (!next) break;
        item = next;
    }
    if (item == root_) return;  // no link leads to it from the root
    Nodes->setCurrentItem(item);
    Nodes->scrollToItem(item);
}

void TForm1::ConcatSelected(QTreeWidgetItem* item, std::vector<TPiece>& pieces) {
    if (StateOf(item) == siMarked) {
        // A marked node that another user has deleted meanwhile is left out.
        TPiece piece;
        if (ReadPiece(IBDB, NodeIdOf(item), kKindConcat2, piece))
            pieces.push_back(std::move(piece));
    }
    for (int i = 0; i < item->childCount(); ++i) ConcatSelected(item->child(i), pieces);
}

void TForm1::ExportActionExecute() {
    std::vector<TPiece> pieces;
    ConcatSelected(root_, pieces);
    // The selected item only chooses the frame and fills its other markers.
    std::string result;
    ComposeConcatenation(IBDB, NodeIdOf(Selected()), pieces, result);
    pieces = {};  // the result holds them now; free the memory before writing
    HTML->ShowHTML(std::move(result));
}

void TForm1::SaveHTMLActionExecute() {
    // Asked before the dialog, so that no empty file is left behind.
    if (!HTML->HasDocument())
        throw EProjError("No document is shown. Show a document or join documents first.");
    const QString path = AskSaveHTMLFile();
    if (path.isEmpty()) return;
    HTML->SaveDocument(path);
    StatusPanel1->setText(QString("Document saved to %1").arg(path));
}

void TForm1::ExpandBranchActionExecute(QTreeWidgetItem* item) {
    // Enough for any guide a person reads through; a branch whose documents link
    // every which way stops here instead of filling the memory.
    constexpr int kMaxItems = 20000;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    struct TRestoreCursor {
        ~TRestoreCursor() { QApplication::restoreOverrideCursor(); }
    } restore;
    if (!ExpandBranch(item, kMaxItems))
        StatusPanel1->setText(QString("Branch opened in part: more than %1 items").arg(kMaxItems));
}

void TForm1::ShowTreeMenu(const QPoint* pos) {
    QTreeWidgetItem* item = Selected();
    QPoint at;
    if (pos) {
        at = *pos;
    } else {
        // From the keyboard: beside the current item, or the tree's corner.
        const QRect rect = item ? Nodes->visualItemRect(item) : QRect();
        at = rect.isValid() ? QPoint(rect.left() + 16, rect.center().y()) : QPoint(4, 4);
    }
    // The root and the placeholders stand for no document: only marking applies.
    const bool document = item && item != root_ && NodeIdOf(item) != 0;
    const QList<QAction*> needDocument = {GotoWebAction, ReloadNodeAction,
                                          ReloadChilderEmptyAction, ReloadChildrenAction,
                                          DeleteNodeAction};
    for (QAction* action : needDocument) action->setEnabled(document);
    const bool any = item != nullptr;
    for (QAction* action : {ToggleNodeAction, SelectBranchAction, UnselectBranchAction})
        action->setEnabled(any);
    // The shortcuts work again once the menu is gone, whatever is selected then.
    connect(PopupMenu1, &QMenu::aboutToHide, this, [this] {
        for (QAction* action : PopupMenu1->actions()) action->setEnabled(true);
    }, Qt::SingleShotConnection);
    PopupMenu1->popup(Nodes->viewport()->mapToGlobal(at));
}

void TForm1::ExportBookActionExecute() {
    std::vector<TBookEntry> marked;
    CollectMarked(root_, 0, marked);
    // The selected document's branch is offered beside the marked documents, which
    // stay the default; asked before the dialog, so that no empty book is written.
    QTreeWidgetItem* selected = Selected();
    const int selectedId = selected ? NodeIdOf(selected) : 0;
    ExportBranchOffered = selectedId != 0;
    if (marked.empty() && !ExportBranchOffered)
        throw EProjError("No document is marked. Mark the documents to export first.");
    ExportScope = marked.empty() ? TBookScope::bsBranch : TBookScope::bsMarked;
    const QString path = AskExportBookFile();
    if (path.isEmpty()) return;
    const std::vector<TBookEntry> entries = ScopeEntries(IBDB, ExportScope, marked, selectedId);
    StatusPanel1->setText("Exporting...");
    StopFlag = false;
    const int count = ExportBook(IBDB, entries, path);
    StatusPanel1->setText(QString("%1 documents exported to %2").arg(count).arg(path));
}
