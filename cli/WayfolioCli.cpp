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

#include "core/Compose.h"
#include "core/DbSettings.h"
#include "core/NodeTree.h"
#include "core/PageCheck.h"
#include "core/Reload.h"
#include "core/StopSignals.h"
#include "config/AuxProj.h"
#include "config/CmdLine.h"
#include "config/EAbort.h"
#include "export/Book.h"
#include "export/EpubWriter.h"
#include "export/PdfWriter.h"
#include "logging/Connect.h"
#include "logging/LogLines.h"
#include "search/DocumentSearch.h"
#include "store/Database.h"
#include "store/Query.h"
#include "store/Statements.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char* const kHelp =
    "Usage: wayfolio-cli [-I:FILE] COMMAND NODE_ID\n"
    "       wayfolio-cli [-I:FILE] search QUERY\n"
    "\n"
    "Gathers travel-guide pages into the Wayfolio database without a window, and\n"
    "lists and shows the documents stored there.\n"
    "\n"
    "Commands:\n"
    "  reload NODE_ID         download the document, store its content and its links\n"
    "                         (the window's \"Reload document\")\n"
    "  reload-branch NODE_ID  download every document of the branch below NODE_ID,\n"
    "                         depth first, each at most once; NODE_ID itself gets its\n"
    "                         links refreshed, not its content\n"
    "                         (\"Reload branch documents\")\n"
    "  load-empty NODE_ID     as reload-branch, but download only documents that have\n"
    "                         no content yet (\"Load branch documents (empty only)\")\n"
    "  children NODE_ID       list the document's children in tree order, one per line:\n"
    "                         id, a tab, the title (tabs and line breaks in a title\n"
    "                         become blanks); 0 lists the top level\n"
    "  show NODE_ID           write the document composed with its \"DEFAULT\" template\n"
    "                         to standard output, byte for byte\n"
    "  search QUERY           list the stored documents that hold the words, best\n"
    "                         first, one per line: id, a tab, the title, a tab, a\n"
    "                         snippet of the text around the matches. All words\n"
    "                         must occur; \"quoted words\" form a phrase; word* matches\n"
    "                         words beginning so; accents are ignored. The index is\n"
    "                         kept in $XDG_CACHE_HOME/wayfolio/ (~/.cache/wayfolio/)\n"
    "                         and brought up to date with the database first\n"
    "  check NODE_ID          download the pages of the document and of its whole branch\n"
    "                         without storing anything, and say for each whether its\n"
    "                         page reader recognised the page, and what a reload would\n"
    "                         store: one line each, id, verdict (recognised, NOT\n"
    "                         RECOGNISED, download failed, no page reader), body bytes,\n"
    "                         links, address, separated by tabs. Exit status 0 when\n"
    "                         every page arrived and was recognised, 1 otherwise\n"
    "  export NODE_ID FILE    write the document and its whole branch below it, in tree\n"
    "                         order, as a book: FILE ending in .epub gives an EPUB 3\n"
    "                         e-book, .pdf a PDF (printed by Qt WebEngine, which needs\n"
    "                         a display or QT_QPA_PLATFORM=offscreen); 0 exports every\n"
    "                         document\n"
    "\n"
    "Options:\n"
    "  -I:FILE   the configuration file (also /I:FILE); by default wayfolio.ini\n"
    "            beside the program, the file the window reads. Its section\n"
    "            \"Interbase\" names the database (default DATA/WAYFOLIO.GDB beside the\n"
    "            program) and the log file, section \"Download\" the proxy and time-out.\n"
    "            Installed, the defaults are $XDG_CONFIG_HOME/wayfolio/wayfolio.ini and\n"
    "            $XDG_DATA_HOME/wayfolio/WAYFOLIO.GDB, created on first use.\n"
    "  --help    show this text\n"
    "\n"
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

bool IsConfigSwitch(std::string_view arg) {
    return arg.size() >= 3 && (arg[0] == '-' || arg[0] == '/') && (arg[1] | 0x20) == 'i' &&
           arg[2] == ':';
}

bool ParseNodeId(std::string_view text, int& id) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), id);
    return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size() &&
           id >= 0;
}

// The window's configuration file unless the command line names another.
void LoadConfiguration() {
    ProjIniInit();
    ProjIniAutoSave = false;
    std::string named;
    if (!CmdLine::GetSwitchValue("I:", CmdLine::soAsIs, named)) {
        ProjIniName = DefaultIniDir() + "wayfolio.ini";
        ProjIni = std::make_unique<TIniStore>(TIniStore::FromFile(ProjIniName));
    }
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
    TQuery q(db);
    q.SetSQL(Statements::WithId(Statements::NodeRowQuery, nodeId));
    q.ExecQuery();
    return q.Eof() ? std::string() : q.AsText("GUIDE_TYPE");
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
        return Fail("the connection to the database server was lost during the run");
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

// The file "export" writes.
std::string ExportFile;

int ExportBook(TDatabase& db, int nodeId, const std::string& file) {
    if (nodeId != 0 && !HasRow(db, nodeId)) return Fail("no document " + std::to_string(nodeId));
    std::vector<TBookChapter> chapters = ReadChapters(db, BranchEntries(db, nodeId));
    if (BookFormatOf(file) == TBookFormat::bfEpub)
        WriteEpub(file, std::move(chapters));
    else
        WritePdfWithoutWindow(file, std::move(chapters));
    return kExitOk;
}

// The query of "search", taken from the command line.
std::string SearchQuery;

int SearchDocuments(TDatabase& db) {
    const bool terminal = isatty(STDERR_FILENO) == 1;
    TDocumentSearch search(db);
    bool progressShown = false;
    const auto hits = search.Search(SearchQuery, 0, [&](int done, int total) {
        if (StopSignal) return false;
        if (terminal) {
            std::fprintf(stderr, "\r\033[Kindexing documents: %d of %d", done, total);
            progressShown = true;
        }
        return true;
    });
    if (progressShown) std::fputs("\r\033[K", stderr);
    if (StopSignal) return 128 + static_cast<int>(StopSignal);
    // Matches are shown in bold on a terminal; a pipe gets the plain text.
    const bool bold = isatty(STDOUT_FILENO) == 1;
    std::string out;
    for (const TSearchHit& hit : hits) {
        std::string snippet;
        for (char c : hit.Snippet) {
            if (c == kMatchStart)
                snippet += bold ? "\033[1m" : "";
            else if (c == kMatchEnd)
                snippet += bold ? "\033[0m" : "";
            else
                snippet += c;
        }
        out +=
            std::to_string(hit.NodeId) + "\t" + OneLine(hit.Title) + "\t" + OneLine(snippet) + "\n";
    }
    if (!WriteAll(out)) return Fail(std::string("cannot write the list: ") + std::strerror(errno));
    return kExitOk;
}

int Run(const std::string& command, int nodeId) {
    TDatabase db;
    TTransaction tr(db);
    db.SetDefaultTransaction(&tr);
    // The connection is closed while its transaction still exists, on every path:
    // destroyed in declaration order, the transaction would go first, and closing the
    // connection on an error path would then commit through a destroyed object.
    struct TCloseFirst {
        TDatabase& db;
        ~TCloseFirst() {
            try {
                db.Close();
            } catch (...) {
                // The error that ends the run is the one worth reporting.
            }
            db.SetDefaultTransaction(nullptr);
        }
    } closeFirst{db};
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
    int rc;
    if (command == "reload")
        rc = Reload(db, nodeId, true, 0, true);
    else if (command == "reload-branch")
        rc = Reload(db, nodeId, false, 999, true);
    else if (command == "load-empty")
        rc = Reload(db, nodeId, false, 999, false);
    else if (command == "children")
        rc = ListChildren(db, nodeId);
    else if (command == "search")
        rc = SearchDocuments(db);
    else if (command == "export")
        rc = ExportBook(db, nodeId, ExportFile);
    else if (command == "check")
        rc = CheckPages(db, nodeId);
    else
        rc = Show(db, nodeId);
    if (StopSignal) {
        // After a stop signal, detaching from the embedded engine can spin without
        // end once a transfer has been abandoned. Everything stored is committed here;
        // the process then ends without detaching, which the engine survives as it
        // survives any ended process: the next program opens the database as usual.
        tr.Commit();
        std::fflush(nullptr);
        _exit(rc);
    }
    db.Close();  // commits
    return rc;
}

}  // namespace

int main(int argc, char* argv[]) {
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return kExitOk;
        }
        if (IsConfigSwitch(arg)) continue;
        if (arg.size() > 1 && arg[0] == '-') return Usage("unknown option " + std::string(arg));
        words.emplace_back(arg);
    }
    if (words.empty()) return Usage("no command given");
    const std::string& command = words[0];
    if (command != "reload" && command != "reload-branch" && command != "load-empty" &&
        command != "children" && command != "show" && command != "export" && command != "check" &&
        command != "search")
        return Usage("unknown command \"" + command + "\"");
    if (command == "search") {
        if (words.size() < 2) return Usage("search takes a QUERY");
        for (size_t i = 1; i < words.size(); ++i) SearchQuery += (i > 1 ? " " : "") + words[i];
        // Searching concerns no one node: the id checked below is the top level's.
        words.resize(2);
        words[1] = "0";
    }
    if (command == "export") {
        if (words.size() != 3) return Usage("export takes NODE_ID FILE");
        if (BookFormatOf(words[2]) == TBookFormat::bfUnknown)
            return Usage("\"" + words[2] + "\" ends neither in .epub nor in .pdf");
        ExportFile = words[2];
    } else if (words.size() != 2) {
        return Usage(command + " takes one NODE_ID");
    }
    int nodeId = 0;
    if (!ParseNodeId(words[1], nodeId))
        return Usage("\"" + words[1] + "\" is no node id (a number of 0 or more)");

    CmdLine::SetParams(argc, argv);
    int rc = kExitFailed;
    try {
        LoadConfiguration();
        rc = Run(command, nodeId);
    } catch (const EAbort&) {
        // The silent abort ends quietly in the window; here the caller needs to know.
        rc = StopFlag ? 128 + (StopSignal ? static_cast<int>(StopSignal) : SIGINT)
                      : Fail("operation aborted");
    } catch (const std::exception& e) {
        rc = Fail(e.what());
    }
    ProjIniDone();
    return rc;
}
