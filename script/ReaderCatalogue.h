// Which reader serves which guide type: the readers compiled into the program and the
// reader files found in the reader folders, behind one factory. The engine, the
// command-line tool and the window ask here, so that a compiled reader and a file
// look the same to them.
//
// Order of precedence: a file forced for the run (ForceFile) for the guide types it
// declares; then the compiled readers, which keep their guide types; then the files
// of the folders in order (the configured folder, the user's, the shipped one), and
// within a folder by file name. Files are looked at again on every List and Create
// and read again when they changed on disk, so an edited file takes effect at the
// next run without a restart.
//
// Thread-safe: one lock around the folders' state.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class TDownload;

struct TReaderInfo {
    std::string GuideType;
    std::string Description;
    std::string Source;  // the file serving it, or "built in"
};

// A reader file that could not be read: the file and its one-line message.
struct TReaderProblem {
    std::string File;
    std::string Message;
};

class TReaderCatalogue {
public:
    // Folders searched for "*.lua" files, in order of precedence.
    explicit TReaderCatalogue(std::vector<std::string> folders);
    ~TReaderCatalogue();

    // The folders from the program's settings: [Download] ReaderDir when set, then
    // $XDG_DATA_HOME/wayfolio/readers/, then the shipped readers (the source tree's
    // readers/ when run from a build folder, share/wayfolio/readers/ installed).
    static std::vector<std::string> DefaultFolders();

    // Makes file serve the guide types it declares, before everything else; an empty
    // name ends that. EReaderError when it cannot be read or declares no guide type.
    void ForceFile(const std::string& file);
    const std::string& ForcedFile() const { return forced_; }

    // Every guide type that has a reader, sorted by guide type.
    std::vector<TReaderInfo> List();
    // Files in the folders that failed to load, as of the latest List or Create.
    std::vector<TReaderProblem> Problems();
    // A new reader for guideType (compared exactly), or nullptr when none serves it.
    std::unique_ptr<TDownload> Create(std::string_view guideType);
    // Who serves guideType; false when nobody does.
    bool Find(std::string_view guideType, TReaderInfo& info);

private:
    struct TFileState;
    void Refresh();
    bool FindLocked(std::string_view guideType, TReaderInfo& info);

    std::mutex mutex_;
    std::vector<std::string> folders_;
    std::string forced_;
    std::vector<TFileState> files_;  // every file seen, in precedence order
};

// The program's catalogue, on DefaultFolders() as they are at its first use.
TReaderCatalogue& Readers();

// Readers().Create(guideType): what the engine calls for a run.
std::unique_ptr<TDownload> CreateReader(std::string_view guideType);
