#include "script/ReaderCatalogue.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "config/AuxProj.h"
#include "download/wf_Download.h"
#include "script/LuaReader.h"

struct TReaderCatalogue::TFileState {
    std::string Path;
    long long Stamp = 0;  // modification time in nanoseconds
    long long Size = -1;
    std::vector<TReaderDeclaration> Declarations;
    std::string Error;
};

namespace {

constexpr std::string_view BuiltIn = "built in";

bool StatFile(const std::string& path, long long& stamp, long long& size) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    stamp = static_cast<long long>(st.st_mtim.tv_sec) * 1'000'000'000LL + st.st_mtim.tv_nsec;
    size = static_cast<long long>(st.st_size);
    return true;
}

std::vector<std::string> LuaFilesIn(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::filesystem::path& path = it->path();
        if (path.extension() == ".lua") files.push_back(path.string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string WithSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

}  // namespace

TReaderCatalogue::TReaderCatalogue(std::vector<std::string> folders)
    : folders_(std::move(folders)) {}

TReaderCatalogue::~TReaderCatalogue() = default;

std::vector<std::string> TReaderCatalogue::DefaultFolders() {
    std::vector<std::string> folders;
    const std::string configured = GetIniText("Download", "ReaderDir", "");
    if (!configured.empty()) folders.push_back(WithSlash(configured));
    folders.push_back(UserDataDir() + "readers/");
    folders.push_back(RunsInstalled() ? SharedDataDir() + "readers/"
                                      : WithSlash(WF_SOURCE_READERS));
    return folders;
}

void TReaderCatalogue::ForceFile(const std::string& file) {
    if (file.empty()) {
        std::lock_guard<std::mutex> lock(mutex_);
        forced_.clear();
        return;
    }
    const std::vector<TReaderDeclaration> declarations = ReadDeclarations(file);
    if (declarations.empty())
        throw EReaderError("The reader file \"" + file + "\" declares no guide type");
    std::lock_guard<std::mutex> lock(mutex_);
    forced_ = file;
}

void TReaderCatalogue::Refresh() {
    std::vector<TFileState> previous = std::move(files_);
    files_.clear();
    std::vector<std::string> paths;
    if (!forced_.empty()) paths.push_back(forced_);
    for (const std::string& folder : folders_)
        for (std::string& path : LuaFilesIn(folder)) paths.push_back(std::move(path));
    for (const std::string& path : paths) {
        TFileState state;
        state.Path = path;
        if (!StatFile(path, state.Stamp, state.Size)) {
            state.Error = "The reader file \"" + path + "\" cannot be read";
        } else {
            const auto known = std::find_if(previous.begin(), previous.end(), [&](const auto& p) {
                return p.Path == path && p.Stamp == state.Stamp && p.Size == state.Size;
            });
            if (known != previous.end()) {
                state = *known;
            } else {
                try {
                    state.Declarations = ReadDeclarations(path);
                } catch (const EReaderError& e) {
                    state.Error = "The reader file \"" + path + "\" cannot be used: " + e.what();
                }
            }
        }
        files_.push_back(std::move(state));
    }
}

bool TReaderCatalogue::FindLocked(std::string_view guideType, TReaderInfo& info) {
    const bool forcedFirst = !forced_.empty() && !files_.empty() && files_.front().Path == forced_;
    auto inFile = [&](const TFileState& file) {
        for (const auto& declaration : file.Declarations) {
            if (declaration.GuideType != guideType) continue;
            info = {declaration.GuideType, declaration.Description, file.Path};
            return true;
        }
        return false;
    };
    if (forcedFirst && inFile(files_.front())) return true;
    for (const TCompiledReader& compiled : CompiledReaders()) {
        if (compiled.GuideType != guideType) continue;
        info = {compiled.GuideType, compiled.Description, std::string(BuiltIn)};
        return true;
    }
    for (std::size_t i = forcedFirst ? 1 : 0; i < files_.size(); ++i)
        if (inFile(files_[i])) return true;
    return false;
}

bool TReaderCatalogue::Find(std::string_view guideType, TReaderInfo& info) {
    std::lock_guard<std::mutex> lock(mutex_);
    Refresh();
    return FindLocked(guideType, info);
}

std::vector<TReaderInfo> TReaderCatalogue::List() {
    std::lock_guard<std::mutex> lock(mutex_);
    Refresh();
    std::map<std::string, TReaderInfo> byType;
    auto add = [&](const std::string& guideType) {
        TReaderInfo info;
        if (!byType.count(guideType) && FindLocked(guideType, info)) byType[guideType] = info;
    };
    for (const TCompiledReader& compiled : CompiledReaders()) add(compiled.GuideType);
    for (const TFileState& file : files_)
        for (const auto& declaration : file.Declarations) add(declaration.GuideType);
    std::vector<TReaderInfo> out;
    for (auto& entry : byType) out.push_back(std::move(entry.second));
    return out;
}

std::vector<TReaderProblem> TReaderCatalogue::Problems() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<TReaderProblem> out;
    for (const TFileState& file : files_)
        if (!file.Error.empty()) out.push_back({file.Path, file.Error});
    return out;
}

std::unique_ptr<TDownload> TReaderCatalogue::Create(std::string_view guideType) {
    TReaderInfo info;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Refresh();
        if (!FindLocked(guideType, info)) return nullptr;
    }
    if (info.Source == BuiltIn) return CreateDownload(guideType);
    return std::make_unique<TLuaReader>(info.Source, info.GuideType);
}

TReaderCatalogue& Readers() {
    static TReaderCatalogue catalogue(TReaderCatalogue::DefaultFolders());
    return catalogue;
}

std::unique_ptr<TDownload> CreateReader(std::string_view guideType) {
    return Readers().Create(guideType);
}
