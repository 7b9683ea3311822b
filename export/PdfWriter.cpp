#include "export/PdfWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string_view>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFAnnotationObjectHelper.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include "config/EAbort.h"
#include "core/StopSignals.h"
#include "export/BookText.h"
#include "export/EpubWriter.h"
#include "text/ScopeExit.h"

namespace {

// The longest wait for loading, and for printing: a hung engine must not hold the
// program for ever, and a large book must not meet a limit made for a small one.
int WaitMsFor(std::size_t htmlBytes) {
    const std::size_t ms = 2 * 60 * 1000 + htmlBytes / 20;  // 2 min, and 50 s a megabyte
    return static_cast<int>(std::min<std::size_t>(ms, 24u * 3600 * 1000));
}
constexpr double kFontSize = 9;
constexpr double kMarginPt = 15 / 25.4 * 72;  // the 15 mm page margins, in points

// A book is printed in parts, the contents and then the chapters a part at a time,
// and the parts are joined: the engine's memory and time then grow with a part, not
// with the book. A part ends after this much HTML or this many chapters.
constexpr std::size_t kPartBytes = 1u << 20;
constexpr std::size_t kPartChapters = 200;

// Which contents entry, or which chapter heading, a link of a printed part stands
// for. These addresses are never visited: the joined book's contents lead to the
// chapters' pages instead, and the headings lose their links.
constexpr std::string_view kEntryMark = "https://wayfolio.invalid/entry/";
constexpr std::string_view kChapterMark = "https://wayfolio.invalid/chapter/";

std::string PartHtml(const std::string& title, const std::string& content) {
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<title>" + XmlEscape(title) +
           "</title>\n<style>\n"
           "body { font-family: serif; font-size: 11pt; line-height: 1.4; }\n"
           "h1 { font-family: sans-serif; font-size: 18pt; }\n"
           "h1 a, .toc a { color: inherit; text-decoration: none; }\n"
           ".chapter { break-before: page; }\n"
           ".toc { margin: 0 3em 0.3em 0; }\n"
           "table { border-collapse: collapse; }\n"
           "td, th { vertical-align: top; padding: 2pt 4pt; }\n"
           "</style></head><body>\n" +
           content + "</body></html>\n";
}

std::string ContentsHtml(const std::vector<TBookChapter>& chapters) {
    std::string html = "<h1>Contents</h1>\n";
    for (std::size_t i = 0; i < chapters.size(); ++i) {
        html += "<p class=\"toc\" style=\"margin-left: " + std::to_string(chapters[i].Level * 1.5) +
                "em\"><a href=\"" + std::string(kEntryMark) + std::to_string(i) + "\">" +
                XmlEscape(ChapterTitle(chapters[i])) + "</a></p>\n";
    }
    return PartHtml(BookTitle(chapters), html);
}

// A chapter as printed: a new page (but for the first of a part, which starts one
// anyway), its title, its body.
std::string ChapterHtml(const TBookChapter& chapter, std::size_t index, bool firstOfPart) {
    return std::string(firstOfPart ? "<section>" : "<section class=\"chapter\">") + "<h1><a href=\"" +
           std::string(kChapterMark) + std::to_string(index) + "\">" +
           XmlEscape(ChapterTitle(chapter)) + "</a></h1>\n" +
           BodyToXhtml(DecodeForBook(chapter.Body, chapter.Encoding), chapter.OrigUrl) +
           "\n</section>\n";
}

// Runs the event loop until done holds, the wait is over or the export is
// cancelled (then EAbort, so that the temporary files go with the unwinding).
bool WaitFor(QEventLoop& loop, const bool& done, int waitMs, const std::function<bool()>& cancel) {
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(waitMs);
    // A stop signal or the window closing is looked for ten times a second.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (StopSignal != 0 || (cancel && cancel())) loop.quit();
    });
    poll.start(100);
    while (!done && timer.isActive()) {
        if (StopSignal != 0 || (cancel && cancel())) throw EAbort();
        loop.exec();
    }
    if (!done && (StopSignal != 0 || (cancel && cancel()))) throw EAbort();
    return done;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

// Text drawn in Helvetica, which every PDF reader has; digits are 0.556 em wide.
std::string TextAt(double x, double y, const std::string& digits) {
    return "BT /WFPageNo " + Number(kFontSize) + " Tf " + Number(x) + " " + Number(y) + " Td (" +
           digits + ") Tj ET\n";
}

double DigitsWidth(const std::string& digits) {
    return 0.556 * kFontSize * static_cast<double>(digits.size());
}

// The number a link carries when it leads to mark followed by a number; -1 when
// it is no such link.
long MarkedIndex(QPDFObjectHandle annotation, std::string_view mark) {
    if (!annotation.isDictionary()) return -1;
    QPDFObjectHandle action = annotation.getKey("/A");
    if (!action.isDictionary()) return -1;
    QPDFObjectHandle uri = action.getKey("/URI");
    if (!uri.isString()) return -1;
    const std::string text = uri.getStringValue();
    if (text.size() <= mark.size() || text.compare(0, mark.size(), mark) != 0) return -1;
    const std::string digits = text.substr(mark.size());
    if (digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return -1;
    return std::stol(digits);
}

double LowerY(QPDFObjectHandle annotation) {
    QPDFObjectHandle rect = annotation.getKey("/Rect");
    if (!rect.isRectangle()) return 0;
    const QPDFObjectHandle::Rectangle r = rect.getArrayAsRectangle();
    return std::min(r.lly, r.ury);
}

// Joins the printed parts (the contents first) into output and numbers its pages:
// at the foot of every page, and on the contents pages after every entry, at the
// height of its last line, the page its chapter starts on, to which the entry
// leads. Returns the number of pages.
int JoinParts(const std::vector<std::string>& parts, std::size_t chapterCount,
              const std::string& output) {
    QPDF book;
    book.emptyPDF();
    QPDFPageDocumentHelper bookPages(book);
    // The parts' objects are copied on writing, so the parts stay open until then.
    std::vector<std::unique_ptr<QPDF>> sources;
    int contentsPages = 0;
    for (const std::string& part : parts) {
        sources.push_back(std::make_unique<QPDF>());
        sources.back()->processFile(part.c_str());
        for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(*sources.back()).getAllPages())
            bookPages.addPage(page, false);
        if (sources.size() == 1)
            contentsPages = static_cast<int>(bookPages.getAllPages().size());
    }
    std::vector<QPDFPageObjectHelper> pages = bookPages.getAllPages();

    // Where each chapter starts: the page of its heading's link, which then goes.
    std::vector<int> starts(chapterCount, 0);
    for (std::size_t i = static_cast<std::size_t>(contentsPages); i < pages.size(); ++i) {
        QPDFObjectHandle page = pages[i].getObjectHandle();
        QPDFObjectHandle annots = page.getKey("/Annots");
        if (!annots.isArray()) continue;
        QPDFObjectHandle kept = QPDFObjectHandle::newArray();
        for (int a = 0; a < annots.getArrayNItems(); ++a) {
            QPDFObjectHandle annotation = annots.getArrayItem(a);
            const long index = MarkedIndex(annotation, kChapterMark);
            if (index < 0) {
                kept.appendItem(annotation);
                continue;
            }
            if (static_cast<std::size_t>(index) < chapterCount && starts[index] == 0)
                starts[index] = static_cast<int>(i + 1);
        }
        page.replaceKey("/Annots", kept);
    }
    // A heading that gave no link (none is known to) starts where the one before did.
    for (std::size_t c = 0; c < chapterCount; ++c)
        if (starts[c] == 0) starts[c] = c > 0 ? starts[c - 1] : contentsPages + 1;

    QPDFObjectHandle font = QPDFObjectHandle::parse(
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    for (std::size_t i = 0; i < pages.size(); ++i) {
        QPDFPageObjectHelper& page = pages[i];
        const QPDFObjectHandle::Rectangle box = page.getMediaBox().getArrayAsRectangle();
        std::string content;
        if (static_cast<int>(i) < contentsPages) {
            // An entry whose title wraps has a link on each line; its number goes
            // beside the last one.
            std::map<long, double> entries;
            QPDFObjectHandle annots = page.getObjectHandle().getKey("/Annots");
            for (int a = 0; annots.isArray() && a < annots.getArrayNItems(); ++a) {
                QPDFObjectHandle annotation = annots.getArrayItem(a);
                const long index = MarkedIndex(annotation, kEntryMark);
                if (index < 0 || static_cast<std::size_t>(index) >= chapterCount) continue;
                QPDFObjectHandle target = pages[starts[index] - 1].getObjectHandle();
                annotation.removeKey("/A");
                annotation.replaceKey(
                    "/Dest", QPDFObjectHandle::newArray({target, QPDFObjectHandle::newName("/XYZ"),
                                                         QPDFObjectHandle::newNull(),
                                                         QPDFObjectHandle::newNull(),
                                                         QPDFObjectHandle::newNull()}));
                const double y = LowerY(annotation);
                auto entry = entries.emplace(index, y).first;
                entry->second = std::min(entry->second, y);
            }
            for (const auto& [index, y] : entries) {
                const std::string digits = std::to_string(starts[index]);
                content += TextAt(box.urx - kMarginPt - DigitsWidth(digits), y + 2, digits);
            }
        }
        const std::string digits = std::to_string(i + 1);
        content +=
            TextAt((box.llx + box.urx - DigitsWidth(digits)) / 2, box.lly + kMarginPt / 2, digits);

        QPDFObjectHandle resources = page.getObjectHandle().getKey("/Resources");
        if (!resources.isDictionary()) {
            resources = QPDFObjectHandle::newDictionary();
            page.getObjectHandle().replaceKey("/Resources", resources);
        }
        QPDFObjectHandle fonts = resources.getKey("/Font");
        if (!fonts.isDictionary()) {
            fonts = QPDFObjectHandle::newDictionary();
            resources.replaceKey("/Font", fonts);
        }
        fonts.replaceKey("/WFPageNo", font);
        // The page's own drawing is wrapped in q ... Q so that whatever state it leaves
        // (a transformation, a clip) does not move the numbers.
        page.addPageContents(QPDFObjectHandle::newStream(&book, "q\n"), true);
        page.addPageContents(QPDFObjectHandle::newStream(&book, "Q\n" + content), false);
    }
    QPDFWriter writer(book, output.c_str());
    writer.setStaticID(false);
    writer.write();
    return static_cast<int>(pages.size());
}

// Prints HTML files to PDF files with one engine page, off the record: nothing of
// it reaches the window's profile.
class TPrinter {
public:
    explicit TPrinter(const std::function<bool()>& cancel) : page_(&profile_), cancel_(cancel) {
        QWebEngineSettings* settings = page_.settings();
        settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
        settings->setAttribute(QWebEngineSettings::AutoLoadImages, false);
        settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
        settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
        QObject::connect(&page_, &QWebEnginePage::loadFinished, &loop_, [this](bool ok) {
            loaded_ = true;
            loadOk_ = ok;
            loop_.quit();
        });
        QObject::connect(&page_, &QWebEnginePage::pdfPrintingFinished, &loop_,
                         [this](const QString&, bool ok) {
                             printed_ = true;
                             printOk_ = ok;
                             loop_.quit();
                         });
    }

    // An empty text when printed, else what went wrong.
    std::string Print(const QString& html, const QString& pdf, std::size_t htmlBytes) {
        const int waitMs = WaitMsFor(htmlBytes);
        loaded_ = printed_ = false;
        page_.load(QUrl::fromLocalFile(html));
        if (!WaitFor(loop_, loaded_, waitMs, cancel_) || !loadOk_)
            return "the book could not be laid out";
        const QPageLayout layout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                 QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        page_.printToPdf(pdf, layout);
        if (!WaitFor(loop_, printed_, waitMs, cancel_) || !printOk_) return "printing failed";
        return {};
    }

private:
    QWebEngineProfile profile_;
    QWebEnginePage page_;
    QEventLoop loop_;
    const std::function<bool()>& cancel_;
    bool loaded_ = false, loadOk_ = false, printed_ = false, printOk_ = false;
};

// Qt's warnings while a book is printed without a window (no runtime folder, no
// graphics backend for a window never shown) tell someone exporting a book nothing;
// critical messages still reach stderr.
void QuietMessages(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

}  // namespace

int WritePdf(const std::string& path, std::vector<TBookChapter> chapters,
             const std::function<bool()>& cancel) {
    EvenOutLevels(chapters);
    auto fail = [&](const std::string& why) {
        throw EExportError("Cannot write \"" + path + "\": " + why);
    };
    // The target is tried before any printing, which takes a while: a folder that
    // does not exist or cannot be written is told at once. The file made here is the
    // one the finished book is written to and renamed from.
    const std::string temporary = path + ".part";
    {
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) fail(std::strerror(errno));
        ::close(fd);
    }
    TScopeExit removePart([&temporary] { std::remove(temporary.c_str()); });

    QTemporaryDir folder;
    if (!folder.isValid()) fail("no temporary folder");
    TPrinter printer(cancel);
    std::vector<std::string> parts;
    // Writes one part's HTML, prints it, and keeps only the printed file.
    auto printPart = [&](const std::string& html) {
        const QString number = QString::number(parts.size());
        const QString htmlFile = folder.filePath("part" + number + ".html");
        const QString pdfFile = folder.filePath("part" + number + ".pdf");
        {
            QFile file(htmlFile);
            if (!file.open(QIODevice::WriteOnly) ||
                file.write(html.data(), static_cast<qint64>(html.size())) !=
                    static_cast<qint64>(html.size()))
                fail("cannot write a temporary file");
        }
        const std::string error = printer.Print(htmlFile, pdfFile, html.size());
        QFile::remove(htmlFile);
        if (!error.empty()) fail(error);
        parts.push_back(pdfFile.toStdString());
    };
    printPart(ContentsHtml(chapters));
    std::string part;
    std::size_t inPart = 0;
    for (std::size_t i = 0; i < chapters.size(); ++i) {
        part += ChapterHtml(chapters[i], i, inPart == 0);
        ++inPart;
        if (part.size() >= kPartBytes || inPart >= kPartChapters || i + 1 == chapters.size()) {
            printPart(PartHtml(BookTitle(chapters), part));
            part.clear();
            inPart = 0;
        }
    }

    int pages = 0;
    try {
        pages = JoinParts(parts, chapters.size(), temporary);
    } catch (const std::exception& e) {
        fail(e.what());
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) fail("cannot replace the file");
    removePart.Dismiss();
    return pages;
}

int WritePdfWithoutWindow(const std::string& path, std::vector<TBookChapter> chapters) {
    if (QCoreApplication::instance()) return WritePdf(path, std::move(chapters));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (geteuid() == 0 && !flags.contains("--no-sandbox")) flags += " --no-sandbox";
    // Chromium's own log lines (GPU, sandbox, D-Bus) mean nothing to someone
    // exporting a book; its fatal errors still get through.
    if (!flags.contains("--log-level")) flags += " --disable-logging --log-level=3";
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.trimmed());
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The engine's start-up report is of no use to someone exporting a book.
    QLoggingCategory::setFilterRules("qt.webenginecontext.info=false\njs.*=false");
    int argc = 1;
    char name[] = "wayfolio";
    char* argv[] = {name, nullptr};
    struct TMessages {
        QtMessageHandler previous = qInstallMessageHandler(QuietMessages);
        ~TMessages() { qInstallMessageHandler(previous); }
    } messages;
    QGuiApplication app(argc, argv);
    return WritePdf(path, std::move(chapters));
}
