// The document view: an embedded browser that shows composed documents through a
// temporary HTML file, and writes the shown document to a file of the user's choice.
#pragma once

#include <QWebEngineView>
#include <functional>
#include <string>

class QFileDialog;

// Composed documents are built from downloaded pages, so the view treats them as
// untrusted: no scripts, no access to local files, and the view only ever shows the
// program's own temporary file (links to the web open in the desktop's browser).
class TDocumentView : public QWebEngineView {
    Q_OBJECT
public:
    // Creates the temporary file "WF_<unique>.html" in the user's temporary folder.
    // When that fails, showing a document tries again and reports the error.
    explicit TDocumentView(QWidget* parent = nullptr);
    // Deletes the temporary file.
    ~TDocumentView() override;

    // Full path of the temporary file (local 8-bit encoding); empty while none exists.
    const std::string& TempFileName() const { return tempFileName_; }

    // Writes the document to the temporary file and makes the view show it, also when
    // it shows that file already. A failure to write throws EProjError with the
    // system's message; the view then keeps showing its previous document.
    void ShowHTML(std::string document);

    // Whether a document has been shown, and its bytes as they were written.
    bool HasDocument() const { return hasDocument_; }
    const std::string& Document() const { return document_; }

    // Writes the shown document's bytes to path, replacing the file only once the
    // whole document is written. EProjError when nothing is shown or writing fails.
    void SaveDocument(const QString& path) const;

    // A link the user clicked in the shown document: an http or https address goes to
    // OpenLink; any other is refused with a message that names it. Errors are shown.
    void LinkClicked(const QUrl& url);
    // Opens a web link the user clicked in the shown document; the desktop's browser
    // unless replaced (tests replace it).
    std::function<void(const QUrl&)> OpenLink;

private:
    void CreateTempFile();

    std::string tempFileName_;
    std::string document_;
    bool hasDocument_ = false;
};

// The settings of the "Save HTML" file dialog.
void SetupSaveHTMLDialog(QFileDialog& dialog);
