#include "app/DocumentView.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QPointer>
#include <QSaveFile>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/WebLinks.h"
#include "config/AuxProj.h"
#include "dialogs/DialogUtil.h"
#include "text/UrlBytes.h"

namespace {

std::string SystemMessage(int error) {
    return std::strerror(error);
}

// The page keeps to the program's own file: it is the only local file a shown
// document may lead to, and the main frame never leaves it. Remote frames and images
// inside the document load as usual; a link the user clicks opens in the desktop's
// browser, so the view always shows the document that "Save HTML..." writes.
class TDocumentPage : public QWebEnginePage {
public:
    explicit TDocumentPage(TDocumentView* view) : QWebEnginePage(view), view_(view) {}
    // The view is going; the page outlives it briefly and then refuses everything.
    void Detach() { view_ = nullptr; }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        if (!view_) return false;
        const std::string& ownFile = view_->TempFileName();
        if (url.isLocalFile() && !ownFile.empty() &&
            QFile::encodeName(url.toLocalFile()).toStdString() == ownFile)
            return true;
        if (isMainFrame) {
            // Handled once the engine is done asking: the answer may show a message.
            if (type == NavigationTypeLinkClicked)
                QMetaObject::invokeMethod(
                    view_,
                    [view = QPointer<TDocumentView>(view_), url] {
                        if (view) view->LinkClicked(url);
                    },
                    Qt::QueuedConnection);
            return false;
        }
        const QString scheme = url.scheme().toLower();
        return !url.isLocalFile() &&
               (scheme == "http" || scheme == "https" || scheme == "about" || scheme == "data");
    }

private:
    TDocumentView* view_;
};

// Writes all of data to fd; false with errno set when the system refuses.
bool WriteAll(int fd, const std::string& data) {
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

TDocumentView::TDocumentView(QWidget* parent) : QWebEngineView(parent) {
    OpenLink = [](const QUrl& url) { OpenWebAddress(url.toEncoded().toStdString()); };
    auto* page = new TDocumentPage(this);
    QWebEngineSettings* s = page->settings();
    // Pages come from the web: their scripts stay off, and a document shown from a
    // local file may not reach other local files (which would otherwise be allowed
    // for file: documents).
    s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    // The guides' images and style sheets are remote, and a file: document loads
    // nothing remote without this. What it relaxes beyond that, reading other origins'
    // responses, takes a script, and scripts are off.
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    s->setAttribute(QWebEngineSettings::LocalStorageEnabled, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    s->setAttribute(QWebEngineSettings::AllowRunningInsecureContent, false);
    s->setAttribute(QWebEngineSettings::AllowGeolocationOnInsecureOrigins, false);
    s->setAttribute(QWebEngineSettings::WebRTCPublicInterfacesOnly, true);
    s->setAttribute(QWebEngineSettings::ScreenCaptureEnabled, false);
    s->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
    s->setAttribute(QWebEngineSettings::AutoLoadImages, true);
    // Showing a document must not take the keyboard from the tree.
    s->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
    setPage(page);
    setContextMenuPolicy(Qt::NoContextMenu);

    try {
        CreateTempFile();
    } catch (const EProjError&) {
        // The folder may become writable later; ShowHTML tries again and reports it.
    }
}

TDocumentView::~TDocumentView() {
    if (auto* p = dynamic_cast<TDocumentPage*>(page())) p->Detach();
    if (!tempFileName_.empty()) ::unlink(tempFileName_.c_str());
}

void TDocumentView::LinkClicked(const QUrl& url) {
    try {
        if (!IsWebAddress(url.toEncoded().toStdString()))
            throw EProjError(RefusedAddressMessage(url.toString().toStdString()));
        if (OpenLink) OpenLink(url);
    } catch (...) {
        ShowCurrentException(this);
    }
}

void TDocumentView::CreateTempFile() {
    // QDir::tempPath() is empty when the folder named by TMPDIR does not exist; the
    // file would then land in the root folder.
    const QString folder = QDir::tempPath();
    if (folder.isEmpty())
        throw EProjError("Cannot create a temporary file: the temporary folder \"" +
                         qEnvironmentVariable("TMPDIR").toStdString() + "\" does not exist");
    // Created with its final name in one step: a separate rename could replace a file
    // of that name that somebody else made meanwhile.
    const std::string suffix = ".html";
    const std::string path = QFile::encodeName(folder).toStdString() + "/WF_XXXXXX" + suffix;
    std::vector<char> buffer(path.begin(), path.end());
    buffer.push_back('\0');
    const int fd = ::mkstemps(buffer.data(), static_cast<int>(suffix.size()));
    if (fd < 0)
        throw EProjError("Cannot create a temporary file in \"" +
                         QFile::encodeName(folder).toStdString() + "\": " + SystemMessage(errno));
    ::close(fd);
    tempFileName_.assign(buffer.data());
}

void TDocumentView::ShowHTML(std::string document) {
    if (tempFileName_.empty()) CreateTempFile();
    // O_NOFOLLOW: should the file have been removed meanwhile, nobody else's link
    // put in its place is followed.
    const int fd =
        ::open(tempFileName_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) throw EProjError("Cannot write \"" + tempFileName_ + "\": " + SystemMessage(errno));
    const bool written = WriteAll(fd, document);
    const int writeError = errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed)
        throw EProjError("Cannot write \"" + tempFileName_ +
                         "\": " + SystemMessage(written ? errno : writeError));

    document_ = std::move(document);
    hasDocument_ = true;
    stop();
    // Loading the address the view already shows reads the file again (the engine
    // treats it as a reload), so the new content appears.
    load(QUrl::fromLocalFile(QFile::decodeName(tempFileName_.c_str())));
}

void TDocumentView::SaveDocument(const QString& path) const {
    if (!hasDocument_)
        throw EProjError("No document is shown. Show a document or join documents first.");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(document_.data(), static_cast<qint64>(document_.size())) !=
            static_cast<qint64>(document_.size()) ||
        !file.commit())
        throw EProjError("Cannot write \"" + QFile::encodeName(path).toStdString() +
                         "\": " + file.errorString().toStdString());
}

void SetupSaveHTMLDialog(QFileDialog& dialog) {
    dialog.setWindowTitle("Save HTML");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({"HTML Files (*.html)", "All files (*.*)"});
    dialog.setDefaultSuffix("html");
    // Asking before an existing file is replaced is the dialog's default; said here
    // so that nobody turns it off by accident.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog.setSizeGripEnabled(true);
}
