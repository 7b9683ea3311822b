#include "export/EpubWriter.h"

#include <zip.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <random>

#include "export/BookText.h"

namespace {

struct TZipDiscard {
    void operator()(zip_t* zip) const { zip_discard(zip); }
};

std::string ChapterFile(std::size_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "c%04zu.xhtml", index + 1);
    return name;
}

std::string Now() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// A fresh random UUID (version 4) naming this book.
std::string NewUuid() {
    std::random_device device;
    std::mt19937_64 random(static_cast<std::uint64_t>(device()) << 32 ^ device());
    const std::uint64_t a = random(), b = random();
    char text[40];
    std::snprintf(text, sizeof text, "%08x-%04x-4%03x-%04x-%012llx", static_cast<unsigned>(a >> 32),
                  static_cast<unsigned>((a >> 16) & 0xFFFF), static_cast<unsigned>(a & 0xFFF),
                  static_cast<unsigned>(0x8000 | ((b >> 48) & 0x3FFF)),
                  static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFULL));
    return text;
}

constexpr const char* kContainer =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">\n"
    "  <rootfiles>\n"
    "    <rootfile full-path=\"OEBPS/content.opf\" "
    "media-type=\"application/oebps-package+xml\"/>\n"
    "  </rootfiles>\n"
    "</container>\n";

constexpr const char* kXhtmlStart =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE html>\n"
    "<html xmlns=\"http://www.w3.org/1999/xhtml\" "
    "xmlns:epub=\"http://www.idpf.org/2007/ops\">\n";

std::string Chapter(const TBookChapter& chapter, const std::string& title) {
    std::string text = kXhtmlStart;
    text += "<head>\n<meta charset=\"UTF-8\"/>\n<title>" + XmlEscape(title) + "</title>\n";
    text += "</head>\n<body>\n<section>\n<h1>" + XmlEscape(title) + "</h1>\n";
    text += BodyToXhtml(DecodeForBook(chapter.Body, chapter.Encoding), chapter.OrigUrl);
    text += "\n</section>\n</body>\n</html>\n";
    return text;
}

// Nested ordered lists: each entry's children are the entries after it one level
// deeper, up to the next entry of its own level or higher.
std::string Navigation(const std::vector<TBookChapter>& chapters,
                       const std::vector<std::string>& titles, const std::string& bookTitle) {
    std::string text = kXhtmlStart;
    text += "<head>\n<meta charset=\"UTF-8\"/>\n<title>" + XmlEscape(bookTitle) + "</title>\n";
    text += "</head>\n<body>\n<nav epub:type=\"toc\" id=\"toc\">\n<h1>Contents</h1>\n<ol>\n";
    int level = 0;
    for (std::size_t i = 0; i < chapters.size(); ++i) {
        const int next = chapters[i].Level;
        if (i > 0) {
            if (next > level) {
                text += "\n<ol>\n";
            } else {
                text += "</li>\n";
                for (; level > next; --level) text += "</ol>\n</li>\n";
            }
        }
        level = next;
        text += "<li><a href=\"" + ChapterFile(i) + "\">" + XmlEscape(titles[i]) + "</a>";
    }
    if (!chapters.empty()) {
        text += "</li>\n";
        for (; level > 0; --level) text += "</ol>\n</li>\n";
    }
    if (chapters.empty()) text += "<li><a href=\"nav.xhtml\">Contents</a></li>\n";
    text += "</ol>\n</nav>\n</body>\n</html>\n";
    return text;
}

std::string Package(const std::vector<TBookChapter>& chapters, const std::string& bookTitle) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" "
        "unique-identifier=\"book-id\">\n"
        "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n";
    text += "<dc:identifier id=\"book-id\">urn:uuid:" + NewUuid() + "</dc:identifier>\n";
    text += "<dc:title>" + XmlEscape(bookTitle) + "</dc:title>\n";
    // The pages' language is not known; "und" says so.
    text += "<dc:language>und</dc:language>\n";
    text += "<dc:creator>Wayfolio</dc:creator>\n";
    text += "<meta property=\"dcterms:modified\">" + Now() + "</meta>\n";
    text += "</metadata>\n<manifest>\n";
    text +=
        "<item id=\"nav\" href=\"nav.xhtml\" media-type=\"application/xhtml+xml\" "
        "properties=\"nav\"/>\n";
    for (std::size_t i = 0; i < chapters.size(); ++i)
        text += "<item id=\"c" + std::to_string(i + 1) + "\" href=\"" + ChapterFile(i) +
                "\" media-type=\"application/xhtml+xml\"/>\n";
    text += "</manifest>\n<spine>\n";
    if (chapters.empty()) text += "<itemref idref=\"nav\"/>\n";
    for (std::size_t i = 0; i < chapters.size(); ++i)
        text += "<itemref idref=\"c" + std::to_string(i + 1) + "\"/>\n";
    text += "</spine>\n</package>\n";
    return text;
}

}  // namespace

void WriteEpub(const std::string& path, std::vector<TBookChapter> chapters) {
    EvenOutLevels(chapters);
    std::vector<std::string> titles;
    for (const TBookChapter& chapter : chapters) titles.push_back(ChapterTitle(chapter));
    const std::string bookTitle = chapters.empty() ? std::string("Wayfolio") : titles.front();

    // Written beside the target and renamed over it, so a failure leaves no broken book.
    const std::string temporary = path + ".part";
    std::remove(temporary.c_str());
    int error = 0;
    std::unique_ptr<zip_t, TZipDiscard> zip(
        zip_open(temporary.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error));
    auto fail = [&](const std::string& what) {
        zip.reset();
        std::remove(temporary.c_str());
        throw EExportError("Cannot write \"" + path + "\": " + what);
    };
    if (!zip) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, error);
        const std::string message = zip_error_strerror(&ze);
        zip_error_fini(&ze);
        throw EExportError("Cannot write \"" + path + "\": " + message);
    }
    // libzip reads the texts when the archive is closed; they live until then.
    std::vector<std::unique_ptr<std::string>> texts;
    auto add = [&](const std::string& name, std::string text, bool compress) {
        texts.push_back(std::make_unique<std::string>(std::move(text)));
        zip_source_t* source =
            zip_source_buffer(zip.get(), texts.back()->data(), texts.back()->size(), 0);
        if (!source) fail(zip_strerror(zip.get()));
        const zip_int64_t index = zip_file_add(zip.get(), name.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            fail(zip_strerror(zip.get()));
        }
        // The media type comes first and uncompressed, so that it can be read at a
        // fixed place in the file.
        if (zip_set_file_compression(zip.get(), index, compress ? ZIP_CM_DEFLATE : ZIP_CM_STORE,
                                     0) < 0)
            fail(zip_strerror(zip.get()));
    };
    add("mimetype", "application/epub+zip", false);
    add("META-INF/container.xml", kContainer, true);
    add("OEBPS/content.opf", Package(chapters, bookTitle), true);
    add("OEBPS/nav.xhtml", Navigation(chapters, titles, bookTitle), true);
    for (std::size_t i = 0; i < chapters.size(); ++i)
        add("OEBPS/" + ChapterFile(i), Chapter(chapters[i], titles[i]), true);
    if (zip_close(zip.get()) < 0) fail(zip_strerror(zip.get()));
    zip.release();  // closed and freed by zip_close
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw EExportError("Cannot write \"" + path + "\": cannot replace the file");
    }
}
