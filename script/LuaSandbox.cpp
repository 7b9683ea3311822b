#include "script/LuaSandbox.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

namespace {

// How many instructions run between two looks at the budget: rare enough to cost
// nothing measurable, often enough to stop a runaway loop within microseconds.
constexpr int HookEvery = 1000;

// A reader file is a page of code, not data; anything far larger is a mistake.
constexpr std::streamsize MaxFileSize = 1024 * 1024;

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "eztrip.lua:12: " for the innermost Lua function running, or "" outside one.
std::string Where(lua_State* L) {
    lua_Debug ar;
    for (int level = 0; lua_getstack(L, level, &ar); ++level) {
        if (!lua_getinfo(L, "Sl", &ar)) break;
        if (ar.currentline > 0) return std::string(ar.short_src) + ":" + std::to_string(ar.currentline) + ": ";
    }
    return "";
}

}  // namespace

TLuaSandbox& TLuaSandbox::Of(lua_State* L) {
    void* ud = nullptr;
    lua_getallocf(L, &ud);
    return *static_cast<TLuaSandbox*>(ud);
}

void* TLuaSandbox::Alloc(void* ud, void* ptr, std::size_t osize, std::size_t nsize) {
    auto& self = *static_cast<TLuaSandbox*>(ud);
    const std::size_t old = ptr ? osize : 0;  // without a block, osize tells its kind
    if (nsize == 0) {
        std::free(ptr);
        self.used_ -= old;
        return nullptr;
    }
    // Lua answers a refusal with a full collection and one more try, so a refusal
    // while garbage is still counted costs a collection, not the call.
    if (nsize > old && self.used_ - old + nsize > self.callLimit_) {
        if (self.L_) self.where_ = Where(self.L_);
        return nullptr;
    }
    void* block = std::realloc(ptr, nsize);
    if (block) self.used_ = self.used_ - old + nsize;
    return block;
}

void TLuaSandbox::CountHook(lua_State* L, lua_Debug* /*ar*/) {
    TLuaSandbox& self = Of(L);
    self.counted_ += HookEvery;
    if (self.counted_ <= self.instructionLimit_ && !self.stopped_) return;
    if (!self.stopped_) {
        self.stopped_ = true;
        self.stopMessage_ = Where(L) + "the reader ran over its limit of " +
                            std::to_string(self.instructionLimit_ / 1'000'000) +
                            " million instructions for one page";
    }
    lua_pushstring(L, self.stopMessage_.c_str());
    lua_error(L);
}

// pcall and xpcall as the script sees them: like Lua's own, except that a stop by a
// limit goes on past them to the host.
int TLuaSandbox::Pcall(lua_State* L) {
    luaL_checkany(L, 1);
    const int status = lua_pcall(L, lua_gettop(L) - 1, LUA_MULTRET, 0);
    TLuaSandbox& self = Of(L);
    if (status == LUA_ERRMEM && !self.stopped_) {
        self.stopped_ = true;
        self.stopMessage_ = self.where_ + "the reader used more than its " +
                            std::to_string(self.limit_ / (1024 * 1024)) + " MB of memory";
    }
    if (self.stopped_) return lua_error(L);
    lua_pushboolean(L, status == LUA_OK);
    lua_insert(L, 1);
    return lua_gettop(L);
}

int TLuaSandbox::Xpcall(lua_State* L) {
    const int n = lua_gettop(L);
    luaL_checktype(L, 2, LUA_TFUNCTION);
    lua_pushvalue(L, 1);  // f, msgh, args..., f
    lua_copy(L, 2, 1);    // msgh, msgh, args..., f
    lua_replace(L, 2);    // msgh, f, args...
    const int status = lua_pcall(L, n - 2, LUA_MULTRET, 1);
    TLuaSandbox& self = Of(L);
    if (status == LUA_ERRMEM && !self.stopped_) {
        self.stopped_ = true;
        self.stopMessage_ = self.where_ + "the reader used more than its " +
                            std::to_string(self.limit_ / (1024 * 1024)) + " MB of memory";
    }
    if (self.stopped_) return lua_error(L);
    lua_pushboolean(L, status == LUA_OK);
    lua_replace(L, 1);  // replaces the handler
    return lua_gettop(L);
}

// load of text only, into the sandbox's own globals unless an environment is given:
// bytecode can break the virtual machine's own checks.
int TLuaSandbox::Load(lua_State* L) {
    std::size_t size = 0;
    const char* text = lua_tolstring(L, 1, &size);
    if (!text || lua_type(L, 1) != LUA_TSTRING) return luaL_error(L, "load takes the text of a chunk");
    const char* name = luaL_optstring(L, 2, "=(load)");
    const bool hasEnv = !lua_isnone(L, 4);
    const int status = luaL_loadbufferx(L, text, size, name, "t");
    if (status != LUA_OK) {
        luaL_pushfail(L);
        lua_insert(L, -2);
        return 2;
    }
    if (hasEnv) {
        lua_pushvalue(L, 4);
        if (!lua_setupvalue(L, -2, 1)) lua_pop(L, 1);
    }
    return 1;
}

TLuaSandbox::TLuaSandbox(std::size_t memoryLimit, long instructionLimit)
    : limit_(memoryLimit), callLimit_(memoryLimit), instructionLimit_(instructionLimit) {
    L_ = lua_newstate(&TLuaSandbox::Alloc, this);
    if (!L_) throw EReaderError("Not enough memory for a reader");
    luaL_requiref(L_, LUA_GNAME, luaopen_base, 1);
    luaL_requiref(L_, LUA_STRLIBNAME, luaopen_string, 1);
    luaL_requiref(L_, LUA_TABLIBNAME, luaopen_table, 1);
    luaL_requiref(L_, LUA_MATHLIBNAME, luaopen_math, 1);
    luaL_requiref(L_, LUA_UTF8LIBNAME, luaopen_utf8, 1);
    lua_settop(L_, 0);

    // Whatever reaches files, the program's output or bytecode goes.
    for (const char* name : {"dofile", "loadfile", "print", "collectgarbage"}) {
        lua_pushnil(L_);
        lua_setglobal(L_, name);
    }
    lua_getglobal(L_, LUA_STRLIBNAME);
    lua_pushnil(L_);
    lua_setfield(L_, -2, "dump");
    lua_pop(L_, 1);
    lua_register(L_, "pcall", &TLuaSandbox::Pcall);
    lua_register(L_, "xpcall", &TLuaSandbox::Xpcall);
    lua_register(L_, "load", &TLuaSandbox::Load);
    // A reader makes short-lived garbage on every page (the page's text, cut parts,
    // scanners); the generational collector frees it young and cheaply.
    lua_gc(L_, LUA_GCGEN, 0, 0);
}

TLuaSandbox::~TLuaSandbox() {
    if (L_) lua_close(L_);
}

std::string TLuaSandbox::ErrorText(int status) {
    if (stopped_) return stopMessage_;
    if (status == LUA_ERRMEM)
        return where_ + "the reader used more than its " + std::to_string(limit_ / (1024 * 1024)) +
               " MB of memory";
    if (const char* text = lua_tostring(L_, -1)) return text;
    return std::string("an error whose value is a ") + luaL_typename(L_, -1);
}

void TLuaSandbox::Protected(int nargs, int nresults, std::size_t extraMemory) {
    const int base = lua_gettop(L_) - nargs - 1;
    counted_ = 0;
    stopped_ = false;
    where_.clear();
    callLimit_ = limit_ + extraMemory;
    lua_sethook(L_, &TLuaSandbox::CountHook, LUA_MASKCOUNT, HookEvery);
    const int status = lua_pcall(L_, nargs, nresults, 0);
    lua_sethook(L_, nullptr, 0, 0);
    if (status == LUA_OK) return;
    std::string message = ErrorText(status);
    lua_settop(L_, base);
    // What a stopped call left behind must not count against the next one.
    lua_gc(L_, LUA_GCCOLLECT);
    stopped_ = false;
    throw EReaderError(message);
}

void TLuaSandbox::Call(int nargs, int nresults, std::size_t extraMemory) {
    Protected(nargs, nresults, extraMemory);
}

void TLuaSandbox::RunFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw EReaderError("Cannot read the reader file \"" + path + "\"");
    std::string text;
    text.resize(static_cast<std::size_t>(MaxFileSize) + 1);
    in.read(&text[0], MaxFileSize + 1);
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (in.bad()) throw EReaderError("Cannot read the reader file \"" + path + "\"");
    if (text.size() > static_cast<std::size_t>(MaxFileSize))
        throw EReaderError("The reader file \"" + path + "\" is larger than 1 MB");
    const std::string chunkName = "@" + BaseName(path);
    if (luaL_loadbufferx(L_, text.data(), text.size(), chunkName.c_str(), "t") != LUA_OK) {
        std::string message = ErrorText(LUA_ERRSYNTAX);
        lua_pop(L_, 1);
        throw EReaderError(message);
    }
    Protected(0, 0, 0);
}
