#include "export/Book.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <unordered_set>

#include "core/NodeTree.h"
#include "export/BookText.h"
#include "store/Database.h"
#include "store/Query.h"
#include "store/Statements.h"

std::vector<TBookEntry> BranchEntries(TDatabase& db, int nodeId) {
    std::vector<TBookEntry> entries;
    std::unordered_set<int> seen{nodeId};
    // An explicit stack: a branch may be far deeper than the call stack would like.
    std::vector<TBookEntry> stack;
    if (nodeId != 0) {
        entries.emplace_back(nodeId, 0);
    }
    const int childLevel = nodeId != 0 ? 1 : 0;
    auto pushChildren = [&](int parent, int level) {
        const std::vector<TChildNode> children = ReadChildren(db, parent);
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            stack.emplace_back(it->NodeId, level);
    };
    pushChildren(nodeId, childLevel);
    while (!stack.empty()) {
        const TBookEntry entry = stack.back();
        stack.pop_back();
        if (!seen.insert(entry.first).second) continue;
        entries.push_back(entry);
        pushChildren(entry.first, entry.second + 1);
    }
    return entries;
}

std::vector<TBookChapter> ReadChapters(TDatabase& db, const std::vector<TBookEntry>& entries) {
    std::vector<TBookChapter> chapters;
    for (const TBookEntry& entry : entries) {
        if (entry.first == 0) continue;
        TQuery query(db);
        query.SetSQL(Statements::WithId(Statements::NodeByIdQuery, entry.first));
        query.ExecQuery();
        if (query.Eof()) continue;
        TBookChapter chapter;
        chapter.NodeId = entry.first;
        chapter.Level = entry.second;
        chapter.Title = query.AsText("TITLE");
        chapter.Body = query.AsText("BODY");
        chapter.Encoding = query.AsText("ENCODING");
        chapter.OrigUrl = query.AsText("ORIG_URL");
        chapters.push_back(std::move(chapter));
    }
    return chapters;
}

void EvenOutLevels(std::vector<TBookChapter>& chapters) {
    int previous = -1;
    for (TBookChapter& chapter : chapters) {
        chapter.Level = std::clamp(chapter.Level, 0, previous + 1);
        previous = chapter.Level;
    }
}

std::string BookTitle(const std::vector<TBookChapter>& chapters) {
    return chapters.empty() || chapters.front().Title.empty() ? "Wayfolio" : chapters.front().Title;
}

TBookFormat BookFormatOf(const std::string& fileName) {
    auto endsWith = [&](std::string_view suffix) {
        if (fileName.size() < suffix.size()) return false;
        for (std::size_t i = 0; i < suffix.size(); ++i) {
            const char c = fileName[fileName.size() - suffix.size() + i];
            if (std::tolower(static_cast<unsigned char>(c)) != suffix[i]) return false;
        }
        return true;
    };
    if (endsWith(".epub")) return TBookFormat::bfEpub;
    if (endsWith(".pdf")) return TBookFormat::bfPdf;
    return TBookFormat::bfUnknown;
}

std::string ChapterTitle(const TBookChapter& chapter) {
    std::string title = DecodeForBook(chapter.Title, chapter.Encoding);
    for (char& c : title)
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    return title.find_first_not_of(' ') == std::string::npos
               ? "Document " + std::to_string(chapter.NodeId)
               : title;
}
