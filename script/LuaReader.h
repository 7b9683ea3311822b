// A page reader written in Lua: a reader file declares one or more guide types with
//
//   reader { guide_type = "NAME", description = "...", charset = "utf-8",
//            recognise = function(page) ... end,        -- optional
//            content = function(page) return body, title, head, encoding end,
//            links = function(page, first) page:link(title, href, order) end }
//
// (content and links may instead be tables of XPath expressions; readers/README.md
// has the whole interface). The file runs in a TLuaSandbox with the routines of
// ReaderApi.h and the HTML tree of HtmlTree.h at hand.
//
// To the engine a TLuaReader is a reader like the compiled ones: it fetches over HTTP
// and delivers content and links in the same order. A page is read by the file once,
// whole, before anything is delivered; when the file raises an error or breaks a
// limit, the page delivers nothing (the engine keeps what it has stored and counts
// the page as failed) and one log line names the file, the line and the page.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "download/wf_Download.h"
#include "script/LuaSandbox.h"

// What a reader file declares for one guide type.
struct TReaderDeclaration {
    std::string GuideType;
    std::string Description;
};

// Runs the file in a fresh sandbox and gives the guide types it declares, in the
// order it declares them. EReaderError when it cannot be read, does not compile,
// raises an error, breaks a limit or declares a guide type badly.
std::vector<TReaderDeclaration> ReadDeclarations(const std::string& file);

class TLuaReader : public THttpDownload {
public:
    // Loads the file for guideType. A file that no longer loads, or no longer
    // declares the guide type, gives a reader whose every page fails with that
    // message; LoadError() tells it.
    TLuaReader(std::string file, std::string guideType,
               std::size_t memoryLimit = TLuaSandbox::DefaultMemoryLimit,
               long instructionLimit = TLuaSandbox::DefaultInstructionLimit);
    ~TLuaReader() override;

    bool Fetch(const std::string& url, std::string& stream) override;
    bool KnowsLayout(const std::string& url, const std::string& html) const override;
    void ParseContent(const std::string& url, const std::string& html,
                      TDownloadHandle& handle) override;
    void ParseLinks(bool first, const std::string& url, const std::string& html,
                    TDownloadHandle& handle) override;

    const std::string& File() const { return file_; }
    const std::string& LoadError() const { return loadError_; }

    // What the file made of one page. Public for the Lua side's callbacks. A link's
    // texts lie in the page's LinkTexts, so that a link costs no allocation of its
    // own; Clear keeps the buffers' capacity from page to page.
    struct TLink {
        bool First;
        bool OwnOrigId;  // else the identifier is the address's base name
        int Order;
        std::size_t Title, TitleSize, Href, HrefSize, OrigId, OrigIdSize;
    };
    struct TPage {
        std::string Url;
        bool Failed = false;
        std::string Error;  // why it failed: one line naming the file and line
        bool LayoutKnown = true;
        std::string Title, Body, Head, Encoding;
        std::vector<TLink> Links;
        std::string LinkTexts;
        // What the links of one page may take of the host's memory: the reader's own
        // memory limit, which they would otherwise get round.
        std::size_t LinkLimit = 0;

        void Clear();
        void Fail(std::string error);
        std::string_view Text(std::size_t at, std::size_t size) const {
            return std::string_view(LinkTexts).substr(at, size);
        }
    };

private:
    // Reads the page when fresh or when it is not the page read last; otherwise gives
    // what the file made of it then.
    const TPage& Evaluate(const std::string& url, const std::string& html, bool fresh = false) const;
    void ReadPage(const std::string& url, const std::string& html) const;
    std::string FailureLine(const std::string& url, const std::string& message) const;

    std::string file_;
    std::string guideType_;
    std::string loadError_;
    std::string charset_ = "utf-8";
    std::unique_ptr<TLuaSandbox> sandbox_;
    int specRef_ = 0;
    int runRef_ = 0;

    mutable TPage page_;
    mutable bool evaluated_ = false;
    mutable long generation_ = 0, evaluatedGeneration_ = -1;
    mutable std::string evaluatedUrl_;
    mutable const char* evaluatedData_ = nullptr;
    mutable std::size_t evaluatedSize_ = 0;
    mutable bool failureLogged_ = false;
};
