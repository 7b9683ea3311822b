#include "script/ReaderApi.h"

#include <string>
#include <string_view>

#include "download/wf_Download.h"
#include "text/Blanks.h"
#include "text/Charset.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

namespace {

constexpr const char* ScannerMeta = "wayfolio.scanner";

std::string_view Arg(lua_State* L, int index) {
    std::size_t size = 0;
    const char* text = luaL_checklstring(L, index, &size);
    return {text, size};
}

void Push(lua_State* L, std::string_view text) { lua_pushlstring(L, text.data(), text.size()); }

int LuaCutBetween(lua_State* L) {
    std::string_view text = Arg(L, 1);
    const std::string_view part = CutBetween(text, Arg(L, 2), Arg(L, 3));
    Push(L, part);
    Push(L, text);
    return 2;
}

int LuaHasMarkers(lua_State* L) {
    lua_pushboolean(L, HasMarkers(Arg(L, 1), Arg(L, 2), Arg(L, 3)));
    return 1;
}

int LuaTrimBlanks(lua_State* L) {
    const std::string_view text = Arg(L, 1);
    const std::string_view trimmed = TrimBlanks(text);
    if (trimmed.size() == text.size())
        lua_settop(L, 1);  // the same string, no copy
    else
        Push(L, trimmed);
    return 1;
}

int LuaContains(lua_State* L) {
    lua_pushboolean(L, Arg(L, 1).find(Arg(L, 2)) != std::string_view::npos);
    return 1;
}

int LuaFindCharset(lua_State* L) {
    const std::string charset = FindCharset(Arg(L, 1), Arg(L, 2));
    Push(L, charset);
    return 1;
}

int LuaMakeAbsoluteUrl(lua_State* L) {
    const std::string url = MakeAbsoluteUrl(Arg(L, 1), Arg(L, 2));
    Push(L, url);
    return 1;
}

int LuaUrlBaseName(lua_State* L) {
    const std::string name = UrlBaseName(Arg(L, 1));
    Push(L, name);
    return 1;
}

int LuaDecodeToUtf8(lua_State* L) {
    const std::string text = DecodeToUtf8(Arg(L, 1), Arg(L, 2));
    Push(L, text);
    return 1;
}

// A view into a Lua string that the scanner's user value keeps alive (Lua strings
// never move).
struct TScanner {
    const char* Data;
    std::size_t Size;
};

std::string_view View(const TScanner& s) { return {s.Data, s.Size}; }

// The scanner's functions carry its metatable as their first upvalue: comparing with
// it is much cheaper than looking the metatable up by name on every call, and readers
// call these in their innermost loops.
TScanner& CheckScanner(lua_State* L) {
    void* s = lua_touserdata(L, 1);
    if (s && lua_getmetatable(L, 1)) {
        const bool same = lua_rawequal(L, -1, lua_upvalueindex(1));
        lua_pop(L, 1);
        if (same) return *static_cast<TScanner*>(s);
    }
    luaL_typeerror(L, 1, "scanner");
    return *static_cast<TScanner*>(s);  // not reached
}

// Pushes a scanner over view, which lies in the string at stringIndex.
void PushScanner(lua_State* L, std::string_view view, int stringIndex) {
    auto* s = static_cast<TScanner*>(lua_newuserdatauv(L, sizeof(TScanner), 1));
    s->Data = view.data();
    s->Size = view.size();
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_setmetatable(L, -2);
    lua_pushvalue(L, stringIndex);
    lua_setiuservalue(L, -2, 1);
}

int NewScanner(lua_State* L) {
    const std::string_view text = Arg(L, 1);
    PushScanner(L, text, 1);
    return 1;
}

std::string_view Cut(lua_State* L, TScanner& s, int startIndex = 2) {
    std::string_view rest = View(s);
    const std::string_view part = CutBetween(rest, Arg(L, startIndex), Arg(L, startIndex + 1));
    s.Data = rest.data();
    s.Size = rest.size();
    return part;
}

// s:cut(start, stop [, start, stop ...]): one part per pair of markers, each cut
// from where the one before left the scanner. Taking a link's address and its text
// in one call matters in a reader's innermost loop.
int CutParts(lua_State* L, bool trimmed) {
    TScanner& s = CheckScanner(L);
    const int markers = lua_gettop(L) - 1;
    if (markers < 2 || markers % 2 != 0)
        return luaL_error(L, "cut takes markers in pairs: start, stop [, start, stop ...]");
    const int parts = markers / 2;
    luaL_checkstack(L, parts, "too many markers");
    for (int i = 0; i < parts; ++i) {
        const std::string_view part = Cut(L, s, 2 + 2 * i);
        Push(L, trimmed ? TrimBlanks(part) : part);
    }
    return parts;
}

int ScannerCut(lua_State* L) { return CutParts(L, false); }

int ScannerCutTrimmed(lua_State* L) { return CutParts(L, true); }

int ScannerPart(lua_State* L) {
    TScanner& s = CheckScanner(L);
    const std::string_view part = Cut(L, s);
    lua_getiuservalue(L, 1, 1);
    PushScanner(L, part, lua_gettop(L));
    return 1;
}

// One step of parts(): cuts the next part out of the list (upvalue 1) into the
// loop's scanner (upvalue 2) with the markers (upvalues 3 and 4); nil when the list
// is used up. Each step takes at least the markers' bytes or empties the list, so
// the loop ends.
int PartsStep(lua_State* L) {
    auto& list = *static_cast<TScanner*>(lua_touserdata(L, lua_upvalueindex(1)));
    if (list.Size == 0) return 0;
    auto& item = *static_cast<TScanner*>(lua_touserdata(L, lua_upvalueindex(2)));
    std::size_t startSize = 0, stopSize = 0;
    const char* start = lua_tolstring(L, lua_upvalueindex(3), &startSize);
    const char* stop = lua_tolstring(L, lua_upvalueindex(4), &stopSize);
    std::string_view rest = View(list);
    const std::string_view part = CutBetween(rest, {start, startSize}, {stop, stopSize});
    list = {rest.data(), rest.size()};
    item = {part.data(), part.size()};
    lua_pushvalue(L, lua_upvalueindex(2));
    return 1;
}

// for item in list:parts(start, stop): the loop gets one scanner and moves it from
// part to part, which saves a scanner per part in the innermost loop of a reader.
int ScannerParts(lua_State* L) {
    CheckScanner(L);
    luaL_checkstring(L, 2);
    luaL_checkstring(L, 3);
    lua_settop(L, 3);
    lua_getiuservalue(L, 1, 1);  // 4: the scanned text
    PushScanner(L, {}, 4);       // 5: the loop's scanner
    lua_pushvalue(L, 1);
    lua_pushvalue(L, 5);
    lua_pushvalue(L, 2);
    lua_pushvalue(L, 3);
    lua_pushcclosure(L, PartsStep, 4);
    return 1;
}

int ScannerEmpty(lua_State* L) {
    lua_pushboolean(L, CheckScanner(L).Size == 0);
    return 1;
}

int ScannerText(lua_State* L) {
    Push(L, View(CheckScanner(L)));
    return 1;
}

int ScannerContains(lua_State* L) {
    lua_pushboolean(L, View(CheckScanner(L)).find(Arg(L, 2)) != std::string_view::npos);
    return 1;
}

int ScannerHas(lua_State* L) {
    lua_pushboolean(L, HasMarkers(View(CheckScanner(L)), Arg(L, 2), Arg(L, 3)));
    return 1;
}

}  // namespace

void OpenReaderApi(lua_State* L) {
    static const luaL_Reg globals[] = {{"CutBetween", LuaCutBetween},
                                       {"HasMarkers", LuaHasMarkers},
                                       {"TrimBlanks", LuaTrimBlanks},
                                       {"Contains", LuaContains},
                                       {"FindCharset", LuaFindCharset},
                                       {"MakeAbsoluteUrl", LuaMakeAbsoluteUrl},
                                       {"UrlBaseName", LuaUrlBaseName},
                                       {"DecodeToUtf8", LuaDecodeToUtf8},
                                       {nullptr, nullptr}};
    lua_pushglobaltable(L);
    luaL_setfuncs(L, globals, 0);

    static const luaL_Reg methods[] = {{"cut", ScannerCut},
                                       {"cut_trimmed", ScannerCutTrimmed},
                                       {"part", ScannerPart},
                                       {"parts", ScannerParts},
                                       {"empty", ScannerEmpty},
                                       {"text", ScannerText},
                                       {"contains", ScannerContains},
                                       {"has", ScannerHas},
                                       {nullptr, nullptr}};
    luaL_newmetatable(L, ScannerMeta);  // globals, meta
    lua_createtable(L, 0, 9);           // globals, meta, methods
    lua_pushvalue(L, -2);
    luaL_setfuncs(L, methods, 1);
    lua_setfield(L, -2, "__index");
    lua_pushcclosure(L, NewScanner, 1);  // with the metatable
    lua_setfield(L, -2, "Scanner");
    lua_pop(L, 1);
}
