// A Lua 5.4 state that runs code nobody vouched for: reader files come from the web
// and from other users. Only the base (without file access and without loading
// bytecode), string (without dump), table, math and utf8 libraries are there; no io,
// os, package/require, debug or coroutine. Memory is counted by the state's own
// allocator and refused over the limit; instructions are counted by a hook and a
// call that runs over its budget is stopped. Both stops are final for the call: the
// script's own pcall cannot catch them.
//
// One state, one thread. Errors come back as EReaderError whose message names the
// file and line ("eztrip.lua:12: ...").
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

struct lua_State;

// A reader file that cannot be loaded or run; the message is one line.
class EReaderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TLuaSandbox {
public:
    // Per reader: the state's own memory, the page text it is handed excluded.
    static constexpr std::size_t DefaultMemoryLimit = 64u * 1024 * 1024;
    // Per call (one page): far above what any reader needs, a fraction of a second.
    static constexpr long DefaultInstructionLimit = 50'000'000;

    explicit TLuaSandbox(std::size_t memoryLimit = DefaultMemoryLimit,
                         long instructionLimit = DefaultInstructionLimit);
    ~TLuaSandbox();
    TLuaSandbox(const TLuaSandbox&) = delete;
    TLuaSandbox& operator=(const TLuaSandbox&) = delete;

    lua_State* State() const { return L_; }

    // Compiles the file's text (never bytecode) as a chunk named after the file's
    // base name and runs it under the limits. EReaderError when the file cannot be
    // read, does not compile, raises an error or breaks a limit.
    void RunFile(const std::string& path);

    // Calls the function below its nargs arguments on the stack, under a fresh
    // instruction budget; nresults results are left on the stack. extraMemory widens
    // the memory limit for this call (the page text pushed for it). EReaderError on
    // any failure, the stack then as before the function was pushed.
    void Call(int nargs, int nresults, std::size_t extraMemory = 0);

    std::size_t MemoryInUse() const { return used_; }

private:
    static void* Alloc(void* ud, void* ptr, std::size_t osize, std::size_t nsize);
    static int Pcall(lua_State* L);
    static int Xpcall(lua_State* L);
    static int Load(lua_State* L);
    static void CountHook(lua_State* L, struct lua_Debug* ar);
    static TLuaSandbox& Of(lua_State* L);
    std::string ErrorText(int status);
    void Protected(int nargs, int nresults, std::size_t extraMemory);

    lua_State* L_ = nullptr;
    std::size_t used_ = 0;
    std::size_t limit_;
    std::size_t callLimit_;
    long instructionLimit_;
    long counted_ = 0;
    // Set when a limit stopped the running call; rethrown past the script's pcalls.
    bool stopped_ = false;
    std::string stopMessage_;
    // Where the script was when the count hook last ran, for a memory stop.
    std::string where_;
};
