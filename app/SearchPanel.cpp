#include "app/SearchPanel.h"

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

#include "search/DocumentSearch.h"
#include "store/Database.h"

namespace {

constexpr int kNodeIdRole = Qt::UserRole;
constexpr int kHtmlRole = Qt::UserRole + 1;
// The window lists the best matches; a longer list helps nobody choose.
constexpr int kMaxHits = 50;

// The snippet as rich text: the index's match markers become highlighted spans.
QString SnippetHtml(const std::string& snippet) {
    QString html;
    std::string plain;
    auto flush = [&] {
        html += QString::fromUtf8(plain.data(), static_cast<int>(plain.size())).toHtmlEscaped();
        plain.clear();
    };
    for (char c : snippet) {
        if (c == kMatchStart) {
            flush();
            html += "<span style=\"background-color:#ffe680; color:#000000\"><b>";
        } else if (c == kMatchEnd) {
            flush();
            html += "</b></span>";
        } else {
            plain += c;
        }
    }
    flush();
    return html;
}

// Draws each result as a title over its snippet, wrapped to the list's width.
class TResultDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        opt.text.clear();
        opt.widget->style()->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
        QTextDocument doc;
        Layout(doc, option, index);
        painter->save();
        painter->translate(option.rect.topLeft());
        QAbstractTextDocumentLayout::PaintContext context;
        context.palette = option.palette;
        if (option.state & QStyle::State_Selected)
            context.palette.setColor(QPalette::Text,
                                     option.palette.color(QPalette::HighlightedText));
        doc.documentLayout()->draw(painter, context);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QTextDocument doc;
        Layout(doc, option, index);
        return QSize(static_cast<int>(doc.idealWidth()), static_cast<int>(doc.size().height()));
    }

private:
    static void Layout(QTextDocument& doc, const QStyleOptionViewItem& option,
                       const QModelIndex& index) {
        doc.setDefaultFont(option.font);
        doc.setDocumentMargin(3);
        doc.setHtml(index.data(kHtmlRole).toString());
        const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
        const int width = view ? view->viewport()->width() : option.rect.width();
        doc.setTextWidth(std::max(60, width));
    }
};

}  // namespace

TSearchPanel::TSearchPanel(TDatabase& db, QWidget* tree, QWidget* parent)
    : QWidget(parent), db_(db) {
    setObjectName("SearchPanel");
    Field = new QLineEdit(this);
    Field->setObjectName("SearchField");
    Field->setPlaceholderText("Search documents (Ctrl+F)");
    Field->setClearButtonEnabled(true);
    Field->setToolTip(
        "Words: all must occur. \"Quoted words\": a phrase. word*: words beginning so.");
    Field->installEventFilter(this);

    Results = new QListWidget(this);
    Results->setObjectName("SearchResults");
    Results->setItemDelegate(new TResultDelegate(Results));
    Results->setWordWrap(true);
    Results->setUniformItemSizes(false);
    Results->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Results->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    Results->hide();
    Results->installEventFilter(this);

    splitter_ = new QSplitter(Qt::Vertical, this);
    splitter_->setChildrenCollapsible(false);
    splitter_->addWidget(Results);
    splitter_->addWidget(tree);
    splitter_->setStretchFactor(0, 1);
    splitter_->setStretchFactor(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(Field);
    layout->addWidget(splitter_);

    Status = new QLabel(this);
    Status->setObjectName("SearchStatus");

    FindAction = new QAction("Find documents", this);
    FindAction->setShortcut(QKeySequence::Find);
    FindAction->setShortcutContext(Qt::WindowShortcut);
    FindAction->setStatusTip("Search the text of every stored document");
    connect(FindAction, &QAction::triggered, this, [this] {
        Field->setFocus(Qt::ShortcutFocusReason);
        Field->selectAll();
    });

    typingPause_ = new QTimer(this);
    typingPause_->setSingleShot(true);
    typingPause_->setInterval(300);
    connect(typingPause_, &QTimer::timeout, this, &TSearchPanel::RunSearch);
    connect(Field, &QLineEdit::textEdited, typingPause_, qOverload<>(&QTimer::start));
    connect(Field, &QLineEdit::textChanged, this, [this](const QString& text) {
        // The clear button and Esc empty the field without typing.
        if (text.isEmpty()) Clear();
    });
    connect(Field, &QLineEdit::returnPressed, this, [this] {
        typingPause_->stop();
        RunSearch();
    });
    connect(Results, &QListWidget::itemClicked, this, &TSearchPanel::Choose);
    connect(Results, &QListWidget::itemActivated, this, &TSearchPanel::Choose);
}

TSearchPanel::~TSearchPanel() = default;

void TSearchPanel::Clear() {
    typingPause_->stop();
    if (!Field->text().isEmpty()) Field->clear();
    Results->clear();
    Results->hide();
    if (!busy_) Status->clear();
}

void TSearchPanel::RunSearch() {
    if (busy_) {
        pending_ = true;
        return;
    }
    const std::string query = Field->text().trimmed().toStdString();
    if (query.empty()) {
        Clear();
        return;
    }
    busy_ = true;
    ShowHits(query);
    busy_ = false;
    if (pending_) {
        pending_ = false;
        QTimer::singleShot(0, this, &TSearchPanel::RunSearch);
    }
}

void TSearchPanel::ShowHits(const std::string& query) {
    std::vector<TSearchHit> hits;
    int found = 0;
    try {
        db_.Open();
        // After the settings changed the database, its own index is used.
        if (!search_ || searchDatabase_ != db_.DatabaseName) {
            search_ = std::make_unique<TDocumentSearch>(db_);
            searchDatabase_ = db_.DatabaseName;
        }
        const bool shown = isVisible();
        hits = search_->Search(query, kMaxHits, [this, shown](int done, int total) {
            Status->setText(QString("Indexing documents: %1 of %2").arg(done).arg(total));
            // Keeps the window usable while the index catches up; a window closed
            // meanwhile ends the catch-up, keeping what was indexed.
            QApplication::processEvents();
            return !shown || isVisible();
        });
        // The list stops at the best ones; the count says how many there are.
        found = static_cast<int>(hits.size()) < kMaxHits ? static_cast<int>(hits.size())
                                                          : search_->Count(query);
        Status->clear();
    } catch (const std::exception& e) {
        // The index is a convenience: whatever fails, the program goes on without it.
        Status->setText("Search failed: " + QString::fromLocal8Bit(e.what()));
        Results->clear();
        Results->show();
        return;
    }
    // Typed on meanwhile: the newer text is searched next, these hits are not shown.
    if (Field->text().trimmed().toStdString() != query) return;
    Results->clear();
    for (const TSearchHit& hit : hits) {
        auto* item = new QListWidgetItem(Results);
        item->setData(kNodeIdRole, hit.NodeId);
        QString title = QString::fromUtf8(hit.Title.data(), static_cast<int>(hit.Title.size()));
        if (title.isEmpty()) title = QString("Document %1").arg(hit.NodeId);
        item->setData(Qt::DisplayRole, title);
        item->setData(kHtmlRole, "<b>" + title.toHtmlEscaped() + "</b><br><small>" +
                                     SnippetHtml(hit.Snippet) + "</small>");
    }
    Status->setText(HitCountText(found, static_cast<int>(hits.size())));
    Results->show();
}

void TSearchPanel::Choose(QListWidgetItem* item) {
    if (item && OnChoose) OnChoose(item->data(kNodeIdRole).toInt());
}

QString HitCountText(int hits, int shown) {
    if (hits == 0) return "No document found";
    if (hits == 1) return "1 document found";
    // More would not help anybody choose.
    if (shown < hits) return QString("%1 documents found (the best %2 shown)").arg(hits).arg(shown);
    return QString("%1 documents found").arg(hits);
}

bool TSearchPanel::eventFilter(QObject* watched, QEvent* event) {
    // Esc in the results goes back to the field, to type on; the window's Stop keeps
    // Esc everywhere else.
    if (watched == Results &&
        (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
            if (event->type() == QEvent::KeyPress) Field->setFocus(Qt::ShortcutFocusReason);
            event->accept();
            return true;
        }
    }
    if (watched == Field &&
        (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)) {
        auto* key = static_cast<QKeyEvent*>(event);
        // Esc clears a field that holds text; in an empty one it stays the window's Stop.
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier &&
            (!Field->text().isEmpty() || Results->isVisible())) {
            if (event->type() == QEvent::KeyPress) Clear();
            event->accept();
            return true;
        }
        if (key->key() == Qt::Key_Down && event->type() == QEvent::KeyPress &&
            Results->isVisible() && Results->count() > 0) {
            Results->setFocus();
            Results->setCurrentRow(0);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
