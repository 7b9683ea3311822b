#include "download/wf_Article.h"

#include <functional>
#include <unordered_set>

const TMainText& TArticleDownload::MainText(const std::string& url, const std::string& html) const {
    const std::size_t hash = std::hash<std::string_view>()(html);
    if (!cached_ || cachedUrl_ != url || cachedSize_ != html.size() || cachedHash_ != hash) {
        main_ = ReadMainText(url, html);
        cachedUrl_ = url;
        cachedSize_ = html.size();
        cachedHash_ = hash;
        cached_ = true;
    }
    return main_;
}

void TArticleDownload::DeliverArticle(const std::string& url, const std::string& html,
                                      TDownloadHandle& handle) {
    const TMainText& page = MainText(url, html);
    DoContent(page.Title, page.Body, "", "utf-8", url, MakeOrigId(url), handle);
}

void TArticleDownload::ParseContent(const std::string& url, const std::string& html,
                                    TDownloadHandle& handle) {
    DeliverArticle(url, html, handle);
}

bool TArticleDownload::KnowsLayout(const std::string& url, const std::string& html) const {
    return MainText(url, html).Parsed;
}

bool TArticleDownload::IsFileLink(std::string_view url) {
    static const char* const fileExtensions[] = {
        "pdf", "zip", "gz",  "tgz", "bz2", "xz",   "7z",  "tar", "rar",  "png", "jpg",
        "jpeg", "gif", "svg", "webp", "ico", "bmp", "tif", "tiff", "mp3", "mp4", "ogg",
        "webm", "avi", "mov", "wav", "flac", "css", "js",  "json", "xml", "exe", "deb",
        "rpm", "iso", "dmg", "epub", "mobi", "doc", "docx", "xls", "xlsx", "ppt", "pptx"};
    const TAddressParts parts = SplitAddress(url);
    const std::size_t slash = parts.Path.rfind('/');
    const std::string name = parts.Path.substr(slash == std::string::npos ? 0 : slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    std::string ext = name.substr(dot + 1);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    for (const char* e : fileExtensions)
        if (ext == e) return true;
    return false;
}

void TArticleDownload::ParseLinks(bool first, const std::string& url, const std::string& html,
                                  TDownloadHandle& handle) {
    if (!first) return;
    const TMainText& page = MainText(url, html);
    const std::string folder = AddressFolder(handle.TopUrl.empty() ? url : handle.TopUrl);
    if (folder.empty()) return;
    std::unordered_set<std::string> seen{MakeOrigId(url)};
    int order = 1;
    for (const TMainText::TLink& link : page.Links) {
        std::string id = MakeOrigId(link.Url);
        if (id.compare(0, folder.size(), folder) != 0 || IsFileLink(link.Url)) continue;
        if (!seen.insert(id).second) continue;
        DoLink(true, link.Text.empty() ? link.Url : link.Text, link.Url, id, order++, handle);
    }
}
