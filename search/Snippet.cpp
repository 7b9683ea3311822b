#include "search/Snippet.h"

#include <sqlite3.h>

#include <algorithm>
#include <string>
#include <vector>

#include "search/SearchIndex.h"

namespace {

// Words shown before the first match, so that it is read in its sentence.
constexpr int kWordsBefore = 4;
constexpr int kMaxWords = 64;
constexpr int kEdgeBytes = 16;

struct TWindowWord {
    int Begin, End;  // byte offsets in the column text
    bool Match;
};

struct TTokenWalk {
    int Position = -1;        // of the last token seen
    int First = 0, Last = 0;  // the window, in token positions (Last excluded)
    const std::vector<bool>* Matches = nullptr;
    std::vector<TWindowWord> Words;
    bool More = false;  // tokens follow the window
};

int OnToken(void* context, int flags, const char*, int, int begin, int end) {
    auto& walk = *static_cast<TTokenWalk*>(context);
    if (flags & FTS5_TOKEN_COLOCATED) return SQLITE_OK;  // a synonym at the same place
    ++walk.Position;
    if (walk.Position < walk.First) return SQLITE_OK;
    if (walk.Position >= walk.Last) {
        walk.More = true;
        return SQLITE_DONE;  // nothing after the window is read
    }
    walk.Words.push_back({begin, end, (*walk.Matches)[walk.Position - walk.First]});
    return SQLITE_OK;
}

void Snippet(const Fts5ExtensionApi* api, Fts5Context* fts, sqlite3_context* result, int argc,
             sqlite3_value** argv) {
    if (argc != 2) {
        sqlite3_result_error(result, "wf_snippet takes a column and a number of words", -1);
        return;
    }
    const int column = sqlite3_value_int(argv[0]);
    const int words = std::clamp(sqlite3_value_int(argv[1]), 1, kMaxWords);

    int instances = 0;
    int rc = api->xInstCount(fts, &instances);
    if (rc != SQLITE_OK) {
        sqlite3_result_error_code(result, rc);
        return;
    }
    // The first match in the column: one pass over the row's matches.
    int firstMatch = -1;
    for (int i = 0; i < instances; ++i) {
        int phrase = 0, col = 0, offset = 0;
        if ((rc = api->xInst(fts, i, &phrase, &col, &offset)) != SQLITE_OK) {
            sqlite3_result_error_code(result, rc);
            return;
        }
        if (col == column && (firstMatch < 0 || offset < firstMatch)) firstMatch = offset;
    }
    TTokenWalk walk;
    walk.First = std::max(0, firstMatch - kWordsBefore);
    walk.Last = walk.First + words;
    // Which words of the window belong to a match (a phrase covers several).
    std::vector<bool> matches(words, false);
    walk.Matches = &matches;
    for (int i = 0; i < instances && firstMatch >= 0; ++i) {
        int phrase = 0, col = 0, offset = 0;
        api->xInst(fts, i, &phrase, &col, &offset);
        if (col != column) continue;
        const int size = api->xPhraseSize(fts, phrase);
        for (int k = std::max(offset, walk.First); k < std::min(offset + size, walk.Last); ++k)
            matches[k - walk.First] = true;
    }

    const char* text = nullptr;
    int length = 0;
    if ((rc = api->xColumnText(fts, column, &text, &length)) != SQLITE_OK) {
        sqlite3_result_error_code(result, rc);
        return;
    }
    if (!text || length == 0) {
        sqlite3_result_text(result, "", 0, SQLITE_STATIC);
        return;
    }
    rc = api->xTokenize(fts, text, length, &walk, OnToken);
    if (rc != SQLITE_OK && rc != SQLITE_DONE) {
        sqlite3_result_error_code(result, rc);
        return;
    }

    std::string out;
    if (walk.Words.empty()) {
        sqlite3_result_text(result, "", 0, SQLITE_STATIC);
        return;
    }
    if (walk.First > 0) out += "...";
    // Text before the first word and after the last one (quotes, a full stop) is shown
    // when the window reaches the column's start or end, unless it is long.
    int at = walk.Words.front().Begin;
    if (walk.First == 0 && at <= kEdgeBytes) at = 0;
    bool open = false;
    for (const TWindowWord& word : walk.Words) {
        // Between two matched words (a phrase) the marks stay open.
        if (open && !word.Match) {
            out += kMatchEnd;
            open = false;
        }
        out.append(text + at, word.Begin - at);
        if (word.Match && !open) {
            out += kMatchStart;
            open = true;
        }
        out.append(text + word.Begin, word.End - word.Begin);
        at = word.End;
    }
    if (open) out += kMatchEnd;
    if (walk.More)
        out += "...";
    else if (length - at <= kEdgeBytes)
        out.append(text + at, length - at);
    sqlite3_result_text(result, out.data(), static_cast<int>(out.size()), SQLITE_TRANSIENT);
}

}  // namespace

int RegisterSnippetFunction(sqlite3* db) {
    fts5_api* api = nullptr;
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &stmt, nullptr);
    if (rc != SQLITE_OK) return rc;
    sqlite3_bind_pointer(stmt, 1, &api, "fts5_api_ptr", nullptr);
    sqlite3_step(stmt);
    rc = sqlite3_finalize(stmt);
    if (rc != SQLITE_OK) return rc;
    if (!api) return SQLITE_ERROR;
    return api->xCreateFunction(api, "wf_snippet", nullptr, Snippet, nullptr);
}
