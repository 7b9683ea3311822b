// The search field above the document tree and the list of documents found. The
// index itself lives in search/; this panel only asks it and shows the answer.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QSplitter;
class QTimer;
class TDatabase;
class TDocumentSearch;

// What the status bar says about a search that found hits documents, of which the
// list shows the best shown.
QString HitCountText(int hits, int shown);

class TSearchPanel : public QWidget {
    Q_OBJECT
public:
    // Shows the field above a splitter that holds the results over tree; the panel
    // takes tree into its own layout.
    TSearchPanel(TDatabase& db, QWidget* tree, QWidget* parent = nullptr);
    ~TSearchPanel() override;

    QLineEdit* Field = nullptr;
    QListWidget* Results = nullptr;
    // For the window's status bar: what the index is doing, or why a search failed.
    QLabel* Status = nullptr;
    // "Find documents" (Ctrl+F): focuses the field.
    QAction* FindAction = nullptr;

    // Called with the node id of the result the user chose.
    std::function<void(int nodeId)> OnChoose;

    // Searches for the field's text now (typing searches after a short pause). The
    // index catches up with the database first, keeping the window responsive; a
    // search asked for meanwhile runs when this one ends.
    void RunSearch();
    // Empties the field and the results.
    void Clear();
    bool Busy() const { return busy_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowHits(const std::string& query);
    void Choose(QListWidgetItem* item);

    TDatabase& db_;
    std::unique_ptr<TDocumentSearch> search_;
    std::string searchDatabase_;  // the database search_ was made for
    QSplitter* splitter_ = nullptr;
    QTimer* typingPause_ = nullptr;
    bool busy_ = false;
    bool pending_ = false;
};
