#include "export/PdfWriter.h"

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
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include "export/BookText.h"
#include "export/EpubWriter.h"

namespace {

constexpr int kWaitMs = 5 * 60 * 1000;  // longest wait for loading, and for printing
constexpr double kFontSize = 9;
constexpr double kMarginPt = 15 / 25.4 * 72;  // the 15 mm page margins, in points

std::string AnchorOf(std::size_t index) {
    return "wf-c" + std::to_string(index + 1);
}

std::string BookHtml(const std::vector<TBookChapter>& chapters) {
    std::string html =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<title>" +
        XmlEscape(chapters.empty() ? std::string("Wayfolio") : ChapterTitle(chapters.front())) +
        "</title>\n<style>\n"
        "body { font-family: serif; font-size: 11pt; line-height: 1.4; }\n"
        "h1 { font-family: sans-serif; font-size: 18pt; }\n"
        ".chapter { break-before: page; }\n"
        ".toc { margin: 0 3em 0.3em 0; }\n"
        ".toc a { color: inherit; text-decoration: none; }\n"
        "table { border-collapse: collapse; }\n"
        "td, th { vertical-align: top; padding: 2pt 4pt; }\n"
        "</style></head><body>\n<h1>Contents</h1>\n";
    for (std::size_t i = 0; i < chapters.size(); ++i) {
        html += "<p class=\"toc\" style=\"margin-left: " + std::to_string(chapters[i].Level * 1.5) +
                "em\"><a href=\"#" + AnchorOf(i) + "\">" + XmlEscape(ChapterTitle(chapters[i])) +
                "</a></p>\n";
    }
    for (std::size_t i = 0; i < chapters.size(); ++i) {
        const TBookChapter& chapter = chapters[i];
        html += "<section class=\"chapter\"><h1 id=\"" + AnchorOf(i) + "\">" +
                XmlEscape(ChapterTitle(chapter)) + "</h1>\n";
        html += BodyToXhtml(DecodeForBook(chapter.Body, chapter.Encoding), chapter.OrigUrl);
        html += "\n</section>\n";
    }
    html += "</body></html>\n";
    return html;
}

// Runs the event loop until done() holds or the wait is over.
bool WaitFor(QEventLoop& loop, const bool& done) {
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(kWaitMs);
    while (!done && timer.isActive()) loop.exec();
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

// The page a link annotation leads to: its /Dest (an array naming the page, or a
// name looked up in the catalogue's destinations), or its GoTo action's.
QPDFObjectHandle LinkTarget(QPDF& pdf, QPDFObjectHandle annotation) {
    QPDFObjectHandle dest = annotation.getKey("/Dest");
    if (dest.isNull()) {
        QPDFObjectHandle action = annotation.getKey("/A");
        if (action.isDictionary()) dest = action.getKey("/D");
    }
    if (dest.isName() || dest.isString()) {
        const std::string name = dest.isName() ? dest.getName().substr(1) : dest.getUTF8Value();
        QPDFObjectHandle root = pdf.getRoot();
        QPDFObjectHandle dests = root.getKey("/Dests");
        if (dests.isDictionary()) dest = dests.getKey("/" + name);
        if (dest.isDictionary()) dest = dest.getKey("/D");
    }
    if (dest.isArray() && dest.getArrayNItems() > 0) return dest.getArrayItem(0);
    return QPDFObjectHandle::newNull();
}

// Adds the page numbers: at the foot of every page, and on the contents pages after
// every entry, at the height of its link, the number of the page it leads to.
void NumberPages(const std::string& input, const std::string& output) {
    QPDF pdf;
    pdf.processFile(input.c_str());
    std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
    std::map<QPDFObjGen, int> pageNumbers;
    for (std::size_t i = 0; i < pages.size(); ++i)
        pageNumbers[pages[i].getObjectHandle().getObjGen()] = static_cast<int>(i + 1);

    QPDFObjectHandle font = QPDFObjectHandle::parse(
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    // The contents are the pages before the first chapter, the first page any of their
    // links leads to. An entry whose title wraps has a link on each line; its number
    // goes beside the last one.
    std::vector<std::map<int, double>> entryLines(pages.size());  // target page -> lowest y
    int firstChapter = static_cast<int>(pages.size()) + 1;
    for (std::size_t i = 0; i < pages.size() && static_cast<int>(i + 1) < firstChapter; ++i) {
        for (QPDFAnnotationObjectHelper& link : pages[i].getAnnotations("/Link")) {
            auto target = pageNumbers.find(LinkTarget(pdf, link.getObjectHandle()).getObjGen());
            if (target == pageNumbers.end()) continue;
            firstChapter = std::min(firstChapter, target->second);
            const double y = link.getRect().lly;
            auto line = entryLines[i].emplace(target->second, y).first;
            line->second = std::min(line->second, y);
        }
    }
    for (std::size_t i = 0; i < pages.size(); ++i) {
        QPDFPageObjectHelper& page = pages[i];
        const QPDFObjectHandle::Rectangle box = page.getMediaBox().getArrayAsRectangle();
        std::string content;
        if (static_cast<int>(i + 1) < firstChapter) {
            for (const auto& [target, y] : entryLines[i]) {
                const std::string digits = std::to_string(target);
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
        page.addPageContents(QPDFObjectHandle::newStream(&pdf, "q\n"), true);
        page.addPageContents(QPDFObjectHandle::newStream(&pdf, "Q\n" + content), false);
    }
    QPDFWriter writer(pdf, output.c_str());
    writer.setStaticID(false);
    writer.write();
}

}  // namespace

void WritePdf(const std::string& path, std::vector<TBookChapter> chapters) {
    EvenOutLevels(chapters);
    auto fail = [&](const std::string& why) {
        throw EExportError("Cannot write \"" + path + "\": " + why);
    };
    QTemporaryDir folder;
    if (!folder.isValid()) fail("no temporary folder");
    const QString htmlFile = folder.filePath("book.html");
    const QString printed = folder.filePath("printed.pdf");
    {
        QFile file(htmlFile);
        const std::string html = BookHtml(chapters);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(html.data(), static_cast<qint64>(html.size())) !=
                static_cast<qint64>(html.size()))
            fail("cannot write a temporary file");
    }

    // A page of its own, off the record: nothing of it reaches the window's profile.
    QWebEngineProfile profile;
    QWebEnginePage page(&profile);
    QWebEngineSettings* settings = page.settings();
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    settings->setAttribute(QWebEngineSettings::AutoLoadImages, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);

    QEventLoop loop;
    bool loaded = false, loadOk = false;
    QObject::connect(&page, &QWebEnginePage::loadFinished, &loop, [&](bool ok) {
        loaded = true;
        loadOk = ok;
        loop.quit();
    });
    page.load(QUrl::fromLocalFile(htmlFile));
    if (!WaitFor(loop, loaded) || !loadOk) fail("the book could not be laid out");

    bool printedDone = false, printOk = false;
    QObject::connect(&page, &QWebEnginePage::pdfPrintingFinished, &loop,
                     [&](const QString&, bool ok) {
                         printedDone = true;
                         printOk = ok;
                         loop.quit();
                     });
    const QPageLayout layout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                             QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    page.printToPdf(printed, layout);
    if (!WaitFor(loop, printedDone) || !printOk) fail("printing failed");

    const std::string temporary = path + ".part";
    try {
        NumberPages(printed.toStdString(), temporary);
    } catch (const std::exception& e) {
        std::remove(temporary.c_str());
        fail(e.what());
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        fail("cannot replace the file");
    }
}

void WritePdfWithoutWindow(const std::string& path, std::vector<TBookChapter> chapters) {
    if (QCoreApplication::instance()) return WritePdf(path, std::move(chapters));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (geteuid() == 0) {
        QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        if (!flags.contains("--no-sandbox"))
            qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags + " --no-sandbox");
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The engine's start-up report is of no use to someone exporting a book.
    QLoggingCategory::setFilterRules("qt.webenginecontext.info=false");
    int argc = 1;
    char name[] = "wayfolio";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    WritePdf(path, std::move(chapters));
}
