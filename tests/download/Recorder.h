// Records what a reader delivers, one line per callback, in delivery order.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "download/wf_Download.h"

struct TRecordedLink {
    bool First;
    std::string Title, Url, OrigId;
    int Order;
    int NodeId;  // of the handle the link came with
};

struct TRecordedContent {
    std::string Title, Body, Head, Encoding, Url, OrigId;
};

class TRecorder {
public:
    std::vector<std::string> Events;  // "log", "content", "link1", "link0" in order
    std::vector<std::string> LogLines;
    std::vector<TRecordedContent> Contents;
    std::vector<TRecordedLink> Links;

    void Attach(TDownload& download) {
        download.OnLog = [this](const std::string& msg) {
            Events.push_back("log");
            LogLines.push_back(msg);
        };
        download.OnContent = [this](const std::string& title, const std::string& body,
                                    const std::string& head, const std::string& encoding,
                                    const std::string& url, const std::string& origId,
                                    TDownloadHandle&) {
            Events.push_back("content");
            Contents.push_back({title, body, head, encoding, url, origId});
        };
        download.OnLink = [this](bool first, const std::string& title, const std::string& url,
                                 const std::string& origId, int order, TDownloadHandle& handle) {
            Events.push_back(first ? "link1" : "link0");
            Links.push_back({first, title, url, origId, order, handle.NodeId});
        };
    }

    // "order:title" of each link, for compact expectations.
    std::vector<std::string> LinkSummary() const {
        std::vector<std::string> out;
        for (const auto& l : Links) out.push_back(std::to_string(l.Order) + ":" + l.Title);
        return out;
    }
};

// Runs both link passes and the content of a page held in memory, as RunDownload
// would after a successful fetch.
inline void ParsePage(TDownload& reader, const std::string& url, const std::string& html,
                      TDownloadHandle& handle) {
    reader.ParseContent(url, html, handle);
    reader.ParseLinks(true, url, html, handle);
    reader.ParseLinks(false, url, html, handle);
}

// A sample page's bytes, from samples/<site>/.
inline std::string ReadSample(const std::string& site, const std::string& name) {
    std::ifstream in(std::string(WF_SOURCE_DIR) + "/samples/" + site + "/" + name,
                     std::ios::binary);
    EXPECT_TRUE(in) << site << "/" << name;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// One reader with its events recorded, parsing sample or crafted pages of its site.
template <class TReader>
struct TReaderFixture : ::testing::Test {
    TReaderFixture(std::string folder, TDownloadHandle h) : Folder(std::move(folder)), handle(h) {}
    void SetUp() override { rec.Attach(reader); }
    void ParseSample(const std::string& name) {
        ParsePage(reader, "http://127.0.0.1:8808/" + Folder + "/" + name, ReadSample(Folder, name),
                  handle);
    }
    void Parse(const std::string& url, const std::string& html) {
        ParsePage(reader, url, html, handle);
    }

    std::string Folder;  // below samples/, and below the sample site's address
    TReader reader;
    TRecorder rec;
    TDownloadHandle handle;
};
