// wayfolio-cli: the reload engine and the document tree without a window, for
// gathering unattended (from cron, a script, a terminal). It reads the same
// configuration as the window and logs the same lines, to the same log file and to
// standard error.
#include <signal.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "config/AuxProj.h"
#include "config/CmdLine.h"
#include "config/EAbort.h"
#include "core/Compose.h"
#include "core/DbSettings.h"
#include "core/NewGuide.h"
#include "core/NodeTree.h"
#include "core/PageCheck.h"
#include "core/Reload.h"
#include "core/StopSignals.h"
#include "export/Book.h"
#include "export/EpubWriter.h"
#include "export/PdfWriter.h"
#include "logging/Connect.h"
#include "logging/LogLines.h"
#include "script/ReaderCatalogue.h"
#include "search/DocumentSearch.h"
#include "store/Database.h"
#include "store/OneValue.h"
#include "store/Query.h"
#include "store/Statements.h"
#include "text/ScopeExit.h"
#include "text/SafeText.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// What a command takes from the command line. Each command's parser fills in the
// fields it needs; nothing about a run lives outside this.
struct TCliArgs {
    int NodeId = 0;
    std::string File;   // the book "export" writes
    std::string Query;  // the words "search" looks for
    std::string Url, GuideType, Title;  // the guide "add" creates
    bool Help = false;  // --help: the text is shown at once and nothing runs
    std::string ReaderFile;  // --reader: a file that serves its guide types for the run
};

// One row per command: the help text and the dispatch come from the same place, so
// a command is added by adding its row (and its handler).
struct TCommand {
    const char* Name;
    const char* Arguments;  // as the help shows them
    const char* Help;       // lines after the first are indented below it
    // Takes the words after the command's name into `args`; returns the usage error,
    // or an empty string when they are fine.
    std::string (*Parse)(const TCommand& self, const std::vector<std::string>& words,
                         TCliArgs& args);
    int (*Handle)(TDatabase& db, const TCliArgs& args);
    bool WithoutDatabase = false;  // the handler gets an unopened database
};

// One row per option. An attached value follows the name in the same word and its
// name matches in either case (-I:FILE, /i:FILE); the value of an option named by a
// word is the next word or follows "=" (--reader FILE, --reader=FILE); a flag has no
// value.
struct TOption {
    const char* Names[2];  // the first is the one the help shows
    const char* Value;     // the value's name in the help, or nullptr for a flag
    const char* Help;
    void (*Take)(TCliArgs& args, std::string_view value);
};

const char* const kHelpIntro =
    "Usage: wayfolio-cli [-I:FILE] [--reader FILE] COMMAND NODE_ID\n"
    "       wayfolio-cli [-I:FILE] search QUERY\n"
    "       wayfolio-cli [-I:FILE] add URL GUIDE_TYPE [TITLE]\n"
    "       wayfolio-cli [-I:FILE] readers\n"
    "\n"
    "Gathers travel-guide pages into the Wayfolio database without a window, and\n"
    "lists and shows the documents stored there.\n";

const char* const kHelpEnd =
    "Logging: every line a run logs goes to the configured log file, as in the window,\n"
    "and to standard error; errors met below the start document are prefixed\n"
    "\"error: \" there and do not end the run. On a terminal, standard error also shows\n"
    "a progress line. A summary ends every run.\n"
    "\n"
    "Stopping: Ctrl+C (or SIGTERM) stops a run at once: a page still on its way is\n"
    "abandoned, everything stored so far stays. A second Ctrl+C ends the program at\n"
    "once.\n"
    "\n"
    "Exit status:\n"
    "  0    success (errors below the start document are logged, not fatal)\n"
    "  1    failure: no such document, no page reader for its guide type, its page\n"
    "       could not be downloaded, a database or log file error\n"
    "  2    wrong arguments\n"
    "  130  stopped by Ctrl+C (143 by SIGTERM)\n"
    "\n"
    "The embedded database engine lets one program at a time open a database file:\n"
    "close the window, or share the database through a Firebird server.\n";

int Usage(const std::string& error) {
    std::fprintf(stderr, "wayfolio-cli: %s\nTry 'wayfolio-cli --help'.\n", error.c_str());
    return kExitUsage;
}

int Fail(const std::string& error) {
    std::fprintf(stderr, "wayfolio-cli: %s\n", error.c_str());
    return kExitFailed;
}

bool ParseNodeId(std::string_view text, int& id) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), id);
    return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size() &&
           id >= 0;
}

// The read time-out when the configuration sets none, in milliseconds.
constexpr int CliReadTimeoutMs = 60000;

// The window's configuration file unless the command line names another.
void LoadConfiguration() {
    ProjIniInit();
    ProjIniAutoSave = false;
    std::string named;
    if (!CmdLine::GetSwitchValue("I:", CmdLine::soAsIs, named)) {
        ProjIniName = DefaultIniDir() + "wayfolio.ini";
        ProjIni = std::make_unique<TIniStore>(TIniStore::FromFile(ProjIniName));
    }
    // Nobody watches an unattended run to press Stop: a server that falls silent
    // must not hold it for good. The window keeps what the file says.
    if (GetIniText("Download", "ReadTimeout", "").empty())
        PutIniText("Download", "ReadTimeout", std::to_string(CliReadTimeoutMs));
}

// Logs to the configured file and to standard error, and keeps a progress line at the
// bottom of a terminal.
class TCliHost : public TReloadHost {
public:
    TCliHost(TFileLogger& logger, bool terminal) : logger_(logger), terminal_(terminal) {}
    ~TCliHost() override { ClearProgress(); }

    void ProcessMessages() override {
        if (StopSignal && !StopFlag) {
            StopFlag = true;
            Note("stopping: no further document is started");
        }
    }

    void WriteLog(unsigned char channel, const std::string& text) override {
        logger_.WriteLog("", channel, LogLines(text));
        std::string line = text;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        Note((channel == 3 ? "error: " : "") + line);
    }

    void ShowProgress(const TReloadProgress& p) override {
        if (!terminal_) return;
        std::fprintf(stderr, "\r\033[K%d documents, %d downloaded, %d links", p.Documents,
                     p.Downloads, p.Links);
        std::fflush(stderr);
        progressShown_ = true;
    }

    void Note(const std::string& line) {
        ClearProgress();
        std::fprintf(stderr, "%s\n", line.c_str());
    }

private:
    void ClearProgress() {
        if (!progressShown_) return;
        std::fputs("\r\033[K", stderr);
        progressShown_ = false;
    }

    TFileLogger& logger_;
    bool terminal_;
    bool progressShown_ = false;
};

std::string GuideTypeOf(TDatabase& db, int nodeId) {
    return OneText(db, Statements::WithId(Statements::NodeRowQuery, nodeId), "GUIDE_TYPE")
        .value_or(std::string());
}

bool HasRow(TDatabase& db, int nodeId) {
    std::string title;
    return ReadTitle(db, nodeId, title);
}

// The log of a run: the window's format, into the configured log file. A log file
// that cannot be written is found out here, before anything is downloaded.
void OpenRunLogger(TFileLogger& logger) {
    logger.SetAutoOpen(true);
    logger.SetLogFlags(TLogFormatFlags{lfDivideNames, lfDivideChannels, lfAutoCR});
    logger.SetMaxLineLength(0);
    const std::string logFile = GetIniText("Interbase", "LogFile", "NUL");
    logger.SetLogFile(logFile.empty() ? "NUL" : logFile);
    logger.Open();
    logger.Close();
}

int Reload(TDatabase& db, int nodeId, bool storeTop, int depth, bool reloadAll) {
    TFileLogger logger;
    OpenRunLogger(logger);

    TCliHost host(logger, isatty(STDERR_FILENO) == 1);
    StopFlag = false;
    TReloadEngine engine(db, host);
    const auto started = std::chrono::steady_clock::now();
    if (!engine.ReloadNodes(nodeId, storeTop, depth, reloadAll)) {
        if (!HasRow(db, nodeId)) return Fail("no document " + std::to_string(nodeId));
        return Fail("document " + std::to_string(nodeId) + " has the guide type \"" +
                    GuideTypeOf(db, nodeId) + "\", which no page reader reads");
    }
    const TReloadProgress& p = engine.Progress();
    host.Note(std::to_string(p.Documents) + " documents walked, " + std::to_string(p.Downloads) +
              " downloaded (" + std::to_string(p.FailedDownloads) + " failed), " +
              std::to_string(p.Links) + " links stored, " + std::to_string(p.Errors) + " errors, " +
              std::to_string(p.UnknownLayouts) + " pages in a layout not recognised");
    // What the run changed, as the window shows it when a run ends.
    host.Note(RunSummary(
        p, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
        StopFlag || engine.ConnectionChanged()));
    // A server that went away ends the run's branches; the run did not do its work.
    if (!db.Connected())
        return 1;  // the run's log said so, once, where the loss was found
    if (StopFlag) {
        host.Note("stopped");
        return 128 + (StopSignal ? static_cast<int>(StopSignal) : SIGINT);
    }
    if (engine.TopDownloaded() && !engine.TopFetched())
        return Fail("the page of document " + std::to_string(nodeId) + " could not be downloaded");
    return kExitOk;
}

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    return text;
}

bool WriteAll(const std::string& bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() &&
           std::fflush(stdout) == 0;
}

int ListChildren(TDatabase& db, int nodeId) {
    if (nodeId != 0 && !HasRow(db, nodeId)) return Fail("no document " + std::to_string(nodeId));
    std::string out;
    for (const TChildNode& child : ReadChildren(db, nodeId))
        out += std::to_string(child.NodeId) + "\t" + OneLine(child.Title) + "\n";
    if (!WriteAll(out)) return Fail(std::string("cannot write the list: ") + std::strerror(errno));
    return kExitOk;
}

int Show(TDatabase& db, int nodeId) {
    std::string out;
    if (!ComposeNode(db, nodeId, kKindDefault, out))
        return Fail("no document " + std::to_string(nodeId));
    if (!WriteAll(out))
        return Fail(std::string("cannot write the document: ") + std::strerror(errno));
    return kExitOk;
}

// Downloads the branch's pages and says what their readers made of them; stores nothing.
int CheckPages(TDatabase& db, int nodeId) {
    TFileLogger logger;
    OpenRunLogger(logger);

    TCliHost host(logger, false);
    StopFlag = false;
    int checked = 0, bad = 0;
    bool written = true;
    const bool found = CheckBranch(db, nodeId, host, [&](const TPageCheck& c) {
        const char* verdict = "recognised";
        if (c.Result == TPageCheck::prUnrecognised) verdict = "NOT RECOGNISED";
        if (c.Result == TPageCheck::prFailed) verdict = "download failed";
        if (c.Result == TPageCheck::prNoReader) verdict = "no page reader";
        if (c.Result != TPageCheck::prNoReader) ++checked;
        if (c.Result == TPageCheck::prUnrecognised || c.Result == TPageCheck::prFailed) ++bad;
        written = WriteAll(std::to_string(c.NodeId) + "\t" + verdict + "\t" +
                           std::to_string(c.BodyBytes) + " bytes\t" + std::to_string(c.Links) +
                           " links\t" + OneLine(c.Url) + "\n") &&
                  written;
    });
    if (!found) return Fail("no document " + std::to_string(nodeId));
    host.Note(std::to_string(checked) + " pages checked, " + std::to_string(bad) +
              " not recognised or not downloaded");
    if (StopFlag) return 128 + (StopSignal ? static_cast<int>(StopSignal) : SIGINT);
    if (!written) return Fail(std::string("cannot write the report: ") + std::strerror(errno));
    return bad == 0 ? kExitOk : kExitFailed;
}

// The guide types and who serves each; files that cannot be used go to standard error.
int ListReaders() {
    std::string out;
    for (const TReaderInfo& info : Readers().List())
        out += info.GuideType + "\t" + OneLine(info.Source) + "\t" + OneLine(info.Description) +
               "\n";
    if (!WriteAll(out)) return Fail(std::string("cannot write the list: ") + std::strerror(errno));
    const std::vector<TReaderProblem> problems = Readers().Problems();
    for (const TReaderProblem& problem : problems) Fail(problem.Message);
    return problems.empty() ? kExitOk : kExitFailed;
}

std::string TakeNoWords(const TCommand& self, const std::vector<std::string>& words, TCliArgs&) {
    if (!words.empty()) return std::string(self.Name) + " takes no arguments";
    return {};
}

int ExportBook(TDatabase& db, int nodeId, const std::string& file) {
    if (nodeId != 0 && !HasRow(db, nodeId)) return Fail("no document " + std::to_string(nodeId));
    std::vector<TBookChapter> chapters = ReadChapters(db, BranchEntries(db, nodeId));
    const std::string documents = std::to_string(chapters.size()) + " documents";
    // What was written, on standard output for a script to read.
    if (BookFormatOf(file) == TBookFormat::bfEpub) {
        WriteEpub(file, std::move(chapters));
        std::printf("%s\t%s\n", file.c_str(), documents.c_str());
    } else {
        const int pages = WritePdfWithoutWindow(file, std::move(chapters));
        std::printf("%s\t%s, %d pages\n", file.c_str(), documents.c_str(), pages);
    }
    return kExitOk;
}

int SearchDocuments(TDatabase& db, const std::string& query) {
    const bool terminal = isatty(STDERR_FILENO) == 1;
    TDocumentSearch search(db);
    bool progressShown = false;
    const auto hits = search.Search(query, 0, [&](int done, int total) {
        if (StopSignal) return false;
        if (terminal) {
            std::fprintf(stderr, "\r\033[Kindexing documents: %d of %d", done, total);
            progressShown = true;
        }
        return true;
    });
    if (progressShown) std::fputs("\r\033[K", stderr);
    if (StopSignal) return 128 + static_cast<int>(StopSignal);
    // Matches are shown in bold on a terminal; a pipe gets the plain text. Titles and
    // texts came from the web: they pass the log's safe-text rule, so that no control
    // of theirs reaches the terminal; only the bold marks are ours.
    const bool bold = isatty(STDOUT_FILENO) == 1;
    std::string out;
    for (const TSearchHit& hit : hits) {
        std::string snippet;
        size_t from = 0;
        for (size_t i = 0; i <= hit.Snippet.size(); ++i) {
            const bool end = i == hit.Snippet.size();
            if (!end && hit.Snippet[i] != kMatchStart && hit.Snippet[i] != kMatchEnd) continue;
            snippet += SafeLogText(OneLine(hit.Snippet.substr(from, i - from)));
            if (!end && bold) snippet += hit.Snippet[i] == kMatchStart ? "\033[1m" : "\033[0m";
            from = i + 1;
        }
        out += std::to_string(hit.NodeId) + "\t" + SafeLogText(OneLine(hit.Title)) + "\t" +
               snippet + "\n";
    }
    if (!WriteAll(out)) return Fail(std::string("cannot write the list: ") + std::strerror(errno));
    return kExitOk;
}

std::string TakeNodeId(const std::string& word, TCliArgs& args) {
    if (!ParseNodeId(word, args.NodeId))
        return "\"" + word + "\" is no node id (a number of 0 or more)";
    return {};
}

std::string TakeOneNodeId(const TCommand& self, const std::vector<std::string>& words,
                          TCliArgs& args) {
    if (words.size() != 1) return std::string(self.Name) + " takes one NODE_ID";
    return TakeNodeId(words[0], args);
}

std::string TakeQuery(const TCommand& self, const std::vector<std::string>& words, TCliArgs& args) {
    if (words.empty()) return std::string(self.Name) + " takes a QUERY";
    for (size_t i = 0; i < words.size(); ++i) args.Query += (i > 0 ? " " : "") + words[i];
    // Searching concerns no one node: the top level's id stands for it.
    args.NodeId = 0;
    return {};
}

std::string TakeNodeIdAndBook(const TCommand& self, const std::vector<std::string>& words,
                              TCliArgs& args) {
    if (words.size() != 2) return std::string(self.Name) + " takes NODE_ID FILE";
    if (BookFormatOf(words[1]) == TBookFormat::bfUnknown)
        return "\"" + words[1] + "\" ends neither in .epub nor in .pdf";
    args.File = words[1];
    return TakeNodeId(words[0], args);
}

std::string TakeGuide(const TCommand& self, const std::vector<std::string>& words, TCliArgs& args) {
    if (words.size() < 2) return std::string(self.Name) + " takes URL GUIDE_TYPE [TITLE]";
    args.Url = words[0];
    args.GuideType = words[1];
    // An unquoted title of several words is still one title.
    for (size_t i = 2; i < words.size(); ++i) args.Title += (i > 2 ? " " : "") + words[i];
    return {};
}

// Which guide types have readers is known only once the configuration (which may name
// a folder of reader files) is read, so the answer is checked here, not while parsing.
int AddGuide(TDatabase& db, const TCliArgs& a) {
    const std::string problem = NewGuideProblem(a.Url, a.GuideType);
    if (!problem.empty()) return Usage(problem);
    TFileLogger logger;
    OpenRunLogger(logger);
    TCliHost host(logger, isatty(STDERR_FILENO) == 1);
    StopFlag = false;
    const TNewGuide guide = CreateGuide(db, a.Url, a.GuideType, a.Title, &host);
    if (guide.Existed)
        std::fprintf(stderr,
                     "wayfolio-cli: document %d is there already for that address and guide "
                     "type\n",
                     guide.NodeId);
    if (!WriteAll(std::to_string(guide.NodeId) + "\n"))
        return Fail(std::string("cannot write the id: ") + std::strerror(errno));
    return kExitOk;
}

const TCommand kCommands[] = {
    {"reload", "NODE_ID",
     "download the document, store its content and its links\n"
     "(the window's \"Reload document\")",
     TakeOneNodeId,
     [](TDatabase& db, const TCliArgs& a) { return Reload(db, a.NodeId, true, 0, true); }},
    {"reload-branch", "NODE_ID",
     "download every document of the branch below NODE_ID,\n"
     "depth first, each at most once; NODE_ID itself gets its\n"
     "links refreshed, not its content\n"
     "(\"Reload branch documents\")",
     TakeOneNodeId,
     [](TDatabase& db, const TCliArgs& a) { return Reload(db, a.NodeId, false, 999, true); }},
    {"load-empty", "NODE_ID",
     "as reload-branch, but download only documents that have\n"
     "no content yet (\"Load branch documents (empty only)\")",
     TakeOneNodeId,
     [](TDatabase& db, const TCliArgs& a) { return Reload(db, a.NodeId, false, 999, false); }},
    {"add", "URL GUIDE_TYPE [TITLE]",
     "create a guide: a top-level document for the page at URL\n"
     "(http or https) read by GUIDE_TYPE's page reader, placed\n"
     "after the guides there, and print its id. Without TITLE\n"
     "the page is fetched for its own title. When a document\n"
     "for URL and GUIDE_TYPE exists, nothing is created and its\n"
     "id is printed",
     TakeGuide, AddGuide},
    {"children", "NODE_ID",
     "list the document's children in tree order, one per line:\n"
     "id, a tab, the title (tabs and line breaks in a title\n"
     "become blanks); 0 lists the top level",
     TakeOneNodeId, [](TDatabase& db, const TCliArgs& a) { return ListChildren(db, a.NodeId); }},
    {"show", "NODE_ID",
     "write the document composed with its \"DEFAULT\" template\n"
     "to standard output, byte for byte",
     TakeOneNodeId, [](TDatabase& db, const TCliArgs& a) { return Show(db, a.NodeId); }},
    {"search", "QUERY",
     "list the stored documents that hold the words, best\n"
     "first, one per line: id, a tab, the title, a tab, a\n"
     "snippet of the text around the matches. All words\n"
     "must occur, in any of their forms (market, markets);\n"
     "a OR b needs either; -word or NOT word leaves documents\n"
     "with it out; \"quoted words\" form a phrase; title:word\n"
     "looks in titles only; word* matches words beginning so;\n"
     "accents are ignored. Anything else is a word to look\n"
     "for. Every word after search belongs to the query,\n"
     "-word included. The index is\n"
     "kept in $XDG_CACHE_HOME/wayfolio/ (~/.cache/wayfolio/)\n"
     "and brought up to date with the database first",
     TakeQuery, [](TDatabase& db, const TCliArgs& a) { return SearchDocuments(db, a.Query); }},
    {"check", "NODE_ID",
     "download the pages of the document and of its whole branch\n"
     "without storing anything, and say for each whether its\n"
     "page reader recognised the page, and what a reload would\n"
     "store: one line each, id, verdict (recognised, NOT\n"
     "RECOGNISED, download failed, no page reader), body bytes,\n"
     "links, address, separated by tabs. Exit status 0 when\n"
     "every page arrived and was recognised, 1 otherwise. With\n"
     "--reader FILE, tries a reader file before installing it",
     TakeOneNodeId, [](TDatabase& db, const TCliArgs& a) { return CheckPages(db, a.NodeId); }},
    {"readers", "",
     "list the guide types that have a page reader, one per\n"
     "line: guide type, the reader file serving it (or \"built\n"
     "in\"), its description, separated by tabs. Reader files\n"
     "that cannot be used are named on standard error, with\n"
     "exit status 1",
     TakeNoWords, [](TDatabase&, const TCliArgs&) { return ListReaders(); }, true},
    {"export", "NODE_ID FILE",
     "write the document and its whole branch below it, in tree\n"
     "order, as a book: FILE ending in .epub gives an EPUB 3\n"
     "e-book, .pdf a PDF (printed by Qt WebEngine, which needs\n"
     "a display or QT_QPA_PLATFORM=offscreen); 0 exports every\n"
     "document",
     TakeNodeIdAndBook,
     [](TDatabase& db, const TCliArgs& a) { return ExportBook(db, a.NodeId, a.File); }},
};

const TOption kOptions[] = {
    // The configuration reads its own switch from the command line (see
    // LoadConfiguration); here it is only let through.
    {{"-I:", "/I:"},
     "FILE",
     "the configuration file (also /I:FILE); by default wayfolio.ini\n"
     "beside the program, the file the window reads. Its section\n"
     "\"Interbase\" names the database (default DATA/WAYFOLIO.GDB beside the\n"
     "program) and the log file, section \"Download\" the proxy and time-out.\n"
     "Installed, the defaults are $XDG_CONFIG_HOME/wayfolio/wayfolio.ini and\n"
     "$XDG_DATA_HOME/wayfolio/WAYFOLIO.GDB, created on first use.",
     [](TCliArgs&, std::string_view) {}},
    {{"--reader", nullptr},
     "FILE",
     "a reader file (Lua) that serves the guide types it declares for\n"
     "this run, before the compiled readers and the installed files.",
     [](TCliArgs& a, std::string_view value) { a.ReaderFile = value; }},
    {{"--help", "-h"},
     nullptr,
     "show this text",
     [](TCliArgs& a, std::string_view) { a.Help = true; }},
};

// An option's name with its value as the help shows it: "-I:FILE", "--help".
std::string OptionShown(const TOption& option) {
    std::string shown = option.Names[0];
    if (option.Value) shown += (shown.back() == ':' ? "" : " ") + std::string(option.Value);
    return shown;
}

// Writes `term` at the left and `help` in a column beside it, its further lines
// indented to that column; a term too wide for the column has its help below it.
void AppendEntry(std::string& out, const std::string& term, const char* help, size_t column) {
    out += "  " + term;
    size_t at = 2 + term.size();
    if (at + 2 > column) {
        out += "\n";
        at = 0;
    }
    out.append(column - at, ' ');
    for (const char* c = help; *c; ++c) {
        out += *c;
        if (*c == '\n') out.append(column, ' ');
    }
    out += "\n";
}

std::string HelpText() {
    std::string out = kHelpIntro;
    out += "\nCommands:\n";
    for (const TCommand& command : kCommands)
        AppendEntry(out, std::string(command.Name) + " " + command.Arguments, command.Help, 25);
    out += "\nOptions:\n";
    for (const TOption& option : kOptions) AppendEntry(out, OptionShown(option), option.Help, 12);
    out += "\n";
    return out + kHelpEnd;
}

const TCommand* FindCommand(const std::string& name) {
    for (const TCommand& command : kCommands)
        if (name == command.Name) return &command;
    return nullptr;
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The option `arg` is, with its attached value, or nullptr.
const TOption* FindOption(std::string_view arg, std::string_view& value) {
    for (const TOption& option : kOptions) {
        for (const char* name : option.Names) {
            if (!name) continue;
            const std::string_view n = name;
            if (option.Value && n.back() != ':') {
                if (arg == n) {
                    value = {};
                    return &option;
                }
                if (arg.substr(0, n.size() + 1) == std::string(n) + "=") {
                    value = arg.substr(n.size() + 1);
                    return &option;
                }
                continue;
            }
            if (option.Value) {
                if (arg.size() < n.size()) continue;
                bool same = true;
                for (size_t i = 0; i < n.size() && same; ++i)
                    same = AsciiLower(arg[i]) == AsciiLower(n[i]);
                if (!same) continue;
                value = arg.substr(n.size());
                return &option;
            }
            if (arg == n) {
                value = {};
                return &option;
            }
        }
    }
    return nullptr;
}

int Run(const TCommand& command, const TCliArgs& args) {
    TDatabase db;
    TTransaction tr(db);
    db.SetDefaultTransaction(&tr);
    // The connection is closed while its transaction still exists, on every path:
    // destroyed in declaration order, the transaction would go first, and closing the
    // connection on an error path would then commit through a destroyed object.
    TScopeExit closeFirst([&db] {
        try {
            db.Close();
        } catch (...) {
            // The error that ends the run is the one worth reporting.
        }
        db.SetDefaultTransaction(nullptr);
    });
    db.BeforeConnect = [](TDatabase& d) { ApplyDbSettings(d); };
    db.AfterConnect = [&tr](TDatabase&) { tr.StartTransaction(); };
    // The database client library takes SIGINT and SIGTERM at its first use, to shut
    // the engine down. It has them now, before connecting: while connecting they end
    // the program as they would any other, and from then on they ask the run to stop,
    // and the connection is closed in order.
    SetUpClientLibrary();
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    db.Open();
    InstallStopSignals();
    const int rc = command.Handle(db, args);
    db.Close();  // commits, also after a stop signal
    return rc;
}

}  // namespace

int main(int argc, char* argv[]) {
    TCliArgs args;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        // A query's words are the query's: "-tourist" leaves a word out, it is no option.
        if (!words.empty() && words[0] == "search") {
            words.emplace_back(arg);
            continue;
        }
        std::string_view value;
        if (const TOption* option = FindOption(arg, value)) {
            // An option named by a word takes the next word as its value.
            if (option->Value && std::string_view(option->Names[0]).back() != ':' &&
                value.empty()) {
                if (arg.back() == '=' || i + 1 >= argc)
                    return Usage(std::string(option->Names[0]) + " takes " + option->Value);
                value = argv[++i];
            }
            option->Take(args, value);
            if (args.Help) {
                std::fputs(HelpText().c_str(), stdout);
                return kExitOk;
            }
            continue;
        }
        if (arg.size() > 1 && arg[0] == '-') return Usage("unknown option " + std::string(arg));
        words.emplace_back(arg);
    }
    if (words.empty()) return Usage("no command given");
    const TCommand* command = FindCommand(words[0]);
    if (!command) return Usage("unknown command \"" + words[0] + "\"");
    const std::string error =
        command->Parse(*command, std::vector<std::string>(words.begin() + 1, words.end()), args);
    if (!error.empty()) return Usage(error);

    CmdLine::SetParams(argc, argv);
    int rc = kExitFailed;
    try {
        LoadConfiguration();
        if (!args.ReaderFile.empty()) Readers().ForceFile(args.ReaderFile);
        if (command->WithoutDatabase) {
            TDatabase unopened;
            rc = command->Handle(unopened, args);
        } else {
            rc = Run(*command, args);
        }
    } catch (const EAbort&) {
        // The silent abort ends quietly in the window; here the caller needs to know.
        // An export watches the signal itself, without the flag.
        rc = StopFlag || StopSignal ? 128 + (StopSignal ? static_cast<int>(StopSignal) : SIGINT)
                                    : Fail("operation aborted");
    } catch (const std::exception& e) {
        rc = Fail(e.what());
    }
    ProjIniDone();
    return rc;
}
