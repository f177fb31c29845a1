#include "scripting/LuaSandbox.h"

#include <lua.hpp>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "platform/FileText.h"
#include "scripting/ScriptLimits.h"

namespace QZ {

using corvane::FileRead;
using corvane::OpenRegularFile;
using corvane::ReadWholeFile;

namespace {

// Measures what a C function spent blocked on the file system rather than
// running: wall time less the thread's processor time. A limit that counts
// processor time is charged the difference (ScriptLimits::ChargeWait); on a
// network folder a lookup may wait 50 ms.
class WaitMeter {
public:
    WaitMeter() : wallStart(std::chrono::steady_clock::now()), ranStart(ScriptClock::now()) {}
    void Charge(lua_State* state) const
    {
        const auto wall = std::chrono::steady_clock::now() - wallStart;
        const auto ran = ScriptClock::now() - ranStart;
        ScriptLimits::ChargeWait(state, std::chrono::duration_cast<ScriptLimits::Time>(wall - ran));
    }

private:
    std::chrono::steady_clock::time_point wallStart;
    ScriptClock::time_point ranStart;
};

// f(...) with upvalue 1 a library function that may wait on the file
// system: its wait is charged and the time limit looked at after each call,
// so that a loop of them ends at the limit, however few instructions it
// runs between them.
int AfterWaiting(lua_State* state)
{
    const WaitMeter meter;
    lua_pushvalue(state, lua_upvalueindex(1));
    lua_insert(state, 1);
    lua_call(state, lua_gettop(state) - 1, LUA_MULTRET);
    meter.Charge(state);
    ScriptLimits::Check(state);
    return lua_gettop(state);
}

// file:lines() and io.lines(): the iterator reads too, so it waits as well.
int LinesAfterWaiting(lua_State* state)
{
    AfterWaiting(state);
    if (lua_isfunction(state, 1)) {
        lua_pushvalue(state, 1);
        lua_pushcclosure(state, AfterWaiting, 1);
        lua_replace(state, 1);
    }
    return lua_gettop(state);
}

// LoadScriptFile with its reading charged as a wait; the caller checks the
// limit (ScriptLimits::Check) once no C++ object is alive.
int LoadScriptFileWaiting(lua_State* state, const char* path)
{
    const WaitMeter meter;
    const int status = LoadScriptFile(state, path);
    meter.Charge(state);
    return status;
}

int Refuse(lua_State* state)
{
    return luaL_error(state, "%s is not available to scripts", lua_tostring(state, lua_upvalueindex(1)));
}

// loadfile(path): the chunk, or nil and the message.
int SafeLoadfile(lua_State* state)
{
    const char* path = luaL_checkstring(state, 1);
    lua_settop(state, 1);
    const int status = LoadScriptFileWaiting(state, path);
    ScriptLimits::Check(state);
    if (status == 0)
        return 1;
    lua_pushnil(state);
    lua_insert(state, -2);
    return 2;
}

// dofile(path): runs the chunk and returns what it returns. Without a file
// name the library's own would read the host's standard input.
int SafeDofile(lua_State* state)
{
    const char* path = luaL_checkstring(state, 1);
    lua_settop(state, 1);
    const int status = LoadScriptFileWaiting(state, path);
    ScriptLimits::Check(state);
    if (status != 0)
        return lua_error(state);
    lua_call(state, 0, LUA_MULTRET);
    return lua_gettop(state) - 1;
}

// load(reader [, chunkname]) as the library's, but a reader whose first
// piece begins a precompiled chunk is refused, and so are pieces that make
// more text than a script file may hold (the parser is C code: a text of
// tens of megabytes would hold the thread for a second past any limit).
// Stack slot 3 keeps the last piece alive while the parser reads it.
struct TextReading {
    bool textSeen = false;
    size_t total = 0;
};

const char* ReadTextPiece(lua_State* state, void* readingPointer, size_t* size)
{
    luaL_checkstack(state, 2, "too many nested functions");
    lua_pushvalue(state, 1);
    lua_call(state, 0, 1);
    if (lua_isnil(state, -1)) {
        *size = 0;
        return nullptr;
    }
    if (!lua_isstring(state, -1))
        luaL_error(state, "reader function must return a string");
    lua_replace(state, 3);
    const char* piece = lua_tolstring(state, 3, size);
    auto& reading = *static_cast<TextReading*>(readingPointer);
    if (!reading.textSeen && *size > 0) {
        if (piece[0] == LUA_SIGNATURE[0])
            luaL_error(state, "binary chunks are not loaded");
        reading.textSeen = true;
    }
    reading.total += *size;
    if (reading.total > kScriptFileLimit)
        luaL_error(state, "source text larger than a script may be (%d bytes at most)",
                   static_cast<int>(kScriptFileLimit));
    return piece;
}

int SafeLoad(lua_State* state)
{
    luaL_checktype(state, 1, LUA_TFUNCTION);
    const char* chunkName = luaL_optstring(state, 2, "=(load)");
    lua_settop(state, 3);
    TextReading reading;
    if (lua_load(state, ReadTextPiece, &reading, chunkName) == 0)
        return 1;
    lua_pushnil(state);
    lua_insert(state, -2);
    return 2;
}

// The open(2) flags of an fopen mode ("r", "w+b", ...); -1 for a mode
// fopen would not take.
int OpenFlags(const char* mode)
{
    int flags = 0;
    switch (mode[0]) {
    case 'r': flags = O_RDONLY; break;
    case 'w': flags = O_WRONLY | O_CREAT; break;
    case 'a': flags = O_WRONLY | O_CREAT | O_APPEND; break;
    default: return -1;
    }
    for (const char* c = mode + 1; *c; ++c) {
        if (*c == '+')
            flags = (flags & ~(O_RDONLY | O_WRONLY)) | O_RDWR;
        else if (*c != 'b')
            return -1;
    }
    return flags;
}

// io.open(path [, mode]) with upvalue 1 the library's own and upvalue 2 true
// when only reading is allowed. The file is opened here first, without
// blocking, and kept only when it is a regular file; the library then opens
// that very file through /proc/self/fd, so a rename in between cannot swap
// in something else.
int SafeOpen(lua_State* state)
{
    const char* path = luaL_checkstring(state, 1);
    const char* mode = luaL_optstring(state, 2, "r");
    const int flags = OpenFlags(mode);
    if (flags < 0)
        return luaL_argerror(state, 2, "invalid mode");
    if (lua_toboolean(state, lua_upvalueindex(2)) && flags != O_RDONLY) {
        lua_pushnil(state);
        lua_pushfstring(state, "%s: files are opened for reading only", path);
        return 2;
    }
    const int fd = OpenRegularFile(path, flags);
    if (fd < 0) {
        const int error = errno;
        lua_pushnil(state);
        lua_pushfstring(state, "%s: %s", path, error == EINVAL ? "not a regular file" : strerror(error));
        lua_pushinteger(state, error);
        return 3;
    }
    char procPath[64];
    snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd);
    lua_pushvalue(state, lua_upvalueindex(1));
    lua_pushstring(state, procPath);
    lua_pushstring(state, mode);
    const int status = lua_pcall(state, 2, 3, 0);
    close(fd);
    if (status != 0)
        return lua_error(state);
    return 3;
}

// Pushes SafeOpen's answer for (path, mode) and leaves the file handle (or
// raises with the message).
void OpenFileArgument(lua_State* state, int pathIndex, const char* mode)
{
    lua_getglobal(state, "io");
    lua_getfield(state, -1, "open");
    lua_remove(state, -2);
    lua_pushvalue(state, pathIndex);
    lua_pushstring(state, mode);
    lua_call(state, 2, 2);
    if (lua_isnil(state, -2))
        lua_error(state); // the message
    lua_pop(state, 1);
}

// io.lines(path): the lines of a file opened as io.open opens it. Without a
// path, the library's own (upvalue 1) reads the default input.
int SafeLines(lua_State* state)
{
    if (lua_isnoneornil(state, 1)) {
        lua_pushvalue(state, lua_upvalueindex(1));
        lua_call(state, 0, 1);
        return 1;
    }
    luaL_checkstring(state, 1);
    OpenFileArgument(state, 1, "r");
    lua_getfield(state, -1, "lines");
    lua_insert(state, -2);
    lua_call(state, 1, 1);
    return 1;
}

// io.input(x) and io.output(x) (upvalue 1 the library's own, upvalue 2 the
// mode): a file name is opened as io.open opens it.
int SafeDefaultFile(lua_State* state)
{
    lua_settop(state, 1);
    if (lua_type(state, 1) == LUA_TSTRING) {
        OpenFileArgument(state, 1, lua_tostring(state, lua_upvalueindex(2)));
        lua_replace(state, 1);
    }
    lua_pushvalue(state, lua_upvalueindex(1));
    lua_insert(state, 1);
    lua_call(state, lua_gettop(state) - 1, 1);
    return 1;
}

// require's searcher for Lua files (package.loaders[2]): the same search
// along package.path, each candidate loaded as LoadScriptFile loads it. The
// search is C code, which the time limit's hook cannot interrupt, so what it
// may walk is bounded: the path's length and the entries tried, and the time
// limit is looked at after each lookup (its wait charged to the limit: on a
// network folder each lookup may take 50 ms).
int SafeLuaSearcher(lua_State* state)
{
    const char* name = luaL_checkstring(state, 1);
    lua_getfield(state, LUA_REGISTRYINDEX, "_LOADED");
    lua_getfield(state, -1, "package");
    lua_getfield(state, -1, "path");
    size_t pathLength = 0;
    const char* path = lua_tolstring(state, -1, &pathLength);
    if (!path)
        return luaL_error(state, "package.path must be a string");
    if (pathLength > kSearchPathLimit)
        return luaL_error(state, "package.path is longer than a search may walk (at most %d bytes)",
                          static_cast<int>(kSearchPathLimit));
    const char* file = luaL_gsub(state, name, ".", "/");
    luaL_Buffer tried;
    luaL_buffinit(state, &tried);
    int entries = 0;
    for (const char* start = path; *start;) {
        const char* end = std::strchr(start, ';');
        if (!end)
            end = start + std::strlen(start);
        if (end > start) {
            if (++entries > kSearchEntryLimit)
                return luaL_error(state, "package.path has more entries than a search may try (at most %d)",
                                  kSearchEntryLimit);
            lua_pushlstring(state, start, static_cast<size_t>(end - start));
            const char* candidate = luaL_gsub(state, lua_tostring(state, -1), "?", file);
            lua_remove(state, -2);
            bool missing = false;
            {
                const WaitMeter meter;
                std::string ignored;
                missing = ReadWholeFile(candidate, 0, ignored) == FileRead::Missing;
                meter.Charge(state);
            }
            ScriptLimits::Check(state);
            if (!missing) {
                const int status = LoadScriptFileWaiting(state, candidate);
                ScriptLimits::Check(state);
                if (status != 0)
                    return luaL_error(state, "error loading module '%s' from file '%s':\n\t%s", name, candidate,
                                      lua_tostring(state, -1));
                return 1;
            }
            lua_pushfstring(state, "\n\tno file '%s'", candidate);
            lua_remove(state, -2);
            luaL_addvalue(&tried);
        }
        start = *end ? end + 1 : end;
    }
    luaL_pushresult(&tried);
    return 1;
}

// loadstring: upvalue 1 the library's own; text only, no longer than a
// script file may be (see SafeLoad).
int TextChunksOnly(lua_State* state)
{
    size_t length = 0;
    const char* chunk = luaL_checklstring(state, 1, &length);
    if (chunk[0] == LUA_SIGNATURE[0] || length > kScriptFileLimit) {
        lua_pushnil(state);
        if (chunk[0] == LUA_SIGNATURE[0])
            lua_pushstring(state, "binary chunks are not loaded");
        else
            lua_pushfstring(state, "source text larger than a script may be (%d bytes at most)",
                            static_cast<int>(kScriptFileLimit));
        return 2;
    }
    lua_pushvalue(state, lua_upvalueindex(1));
    lua_insert(state, 1);
    lua_call(state, lua_gettop(state) - 1, LUA_MULTRET);
    return lua_gettop(state);
}

void ReplaceWithRefusal(lua_State* state, int table, const char* field, const char* shownName)
{
    lua_pushstring(state, shownName);
    lua_pushcclosure(state, Refuse, 1);
    lua_setfield(state, table, field);
}

void WrapField(lua_State* state, int table, const char* field, lua_CFunction wrapper)
{
    lua_getfield(state, table, field);
    lua_pushcclosure(state, wrapper, 1);
    lua_setfield(state, table, field);
}

} // namespace

int LoadScriptFile(lua_State* state, const char* path)
{
    int status = 0;
    {
        // Nothing below may raise while the text is alive (a Lua error
        // jumps over its destructor); the chunk's name is pushed first.
        lua_pushfstring(state, "@%s", path);
        std::string text;
        const FileRead read = ReadWholeFile(path, kScriptFileLimit, text);
        if (read != FileRead::Ok) {
            status = LUA_ERRFILE;
        } else if (!text.empty() && text[0] == LUA_SIGNATURE[0]) {
            status = -1;
        } else {
            status = luaL_loadbuffer(state, text.data(), text.size(), lua_tostring(state, -1));
            lua_remove(state, -2); // the name
            return status;
        }
        lua_pop(state, 1);
        if (status == LUA_ERRFILE) {
            const char* why = read == FileRead::Missing    ? "no such file"
                              : read == FileRead::TooLarge ? "larger than a script may be"
                                                           : "not a readable regular file";
            lua_pushfstring(state, "cannot open %s: %s", path, why);
            return status;
        }
    }
    lua_pushfstring(state, "%s: binary chunks are not loaded", path);
    return LUA_ERRFILE;
}

void SealMetatable(lua_State* state, const char* name)
{
    luaL_getmetatable(state, name);
    if (!lua_istable(state, -1)) {
        lua_pop(state, 1);
        return;
    }
    const int metatable = lua_gettop(state);
    lua_getfield(state, metatable, "__index");
    if (lua_rawequal(state, -1, metatable)) {
        lua_newtable(state);
        lua_pushnil(state);
        while (lua_next(state, metatable) != 0) {
            size_t length = 0;
            const char* key = lua_type(state, -2) == LUA_TSTRING ? lua_tolstring(state, -2, &length) : nullptr;
            if (key && !(length >= 2 && key[0] == '_' && key[1] == '_')) {
                lua_pushvalue(state, -2);
                lua_insert(state, -2);
                lua_rawset(state, -4);
            } else {
                lua_pop(state, 1);
            }
        }
        lua_setfield(state, metatable, "__index");
    }
    lua_pop(state, 1);
    lua_pushboolean(state, 0);
    lua_setfield(state, metatable, "__metatable");
    lua_pop(state, 1);
}

void RestrictLuaLibraries(lua_State* state, FileAccess access)
{
    // debug: the traceback only. The getters reach the library's own
    // functions behind the guards below (an upvalue, a running function).
    lua_getglobal(state, "debug");
    if (lua_istable(state, -1)) {
        const int debugTable = lua_gettop(state);
        lua_newtable(state);
        lua_getfield(state, debugTable, "traceback");
        lua_setfield(state, -2, "traceback");
        for (const char* name : {"sethook", "gethook", "getregistry", "getinfo", "getlocal", "setlocal",
                                 "getupvalue", "setupvalue", "getmetatable", "setmetatable", "getfenv", "setfenv",
                                 "debug"})
            ReplaceWithRefusal(state, lua_gettop(state), name, (std::string("debug.") + name).c_str());
        lua_setglobal(state, "debug");
    }
    lua_pop(state, 1);
    // The loaded-module table holds the same library tables.
    lua_getfield(state, LUA_REGISTRYINDEX, "_LOADED");
    if (lua_istable(state, -1)) {
        lua_getglobal(state, "debug");
        lua_setfield(state, -2, "debug");
    }
    lua_pop(state, 1);

    lua_getglobal(state, "os");
    if (lua_istable(state, -1))
        ReplaceWithRefusal(state, lua_gettop(state), "exit", "os.exit");
    lua_pop(state, 1);

    // Lua 5.1 does not check precompiled chunks: crafted bytecode corrupts
    // memory. Only text is loaded.
    lua_pushcfunction(state, SafeDofile);
    lua_setglobal(state, "dofile");
    lua_pushcfunction(state, SafeLoadfile);
    lua_setglobal(state, "loadfile");
    WrapField(state, LUA_GLOBALSINDEX, "loadstring", TextChunksOnly);
    lua_pushcfunction(state, SafeLoad);
    lua_setglobal(state, "load");
    // A finalizer of a script's would run with the time limit's hook off.
    lua_pushnil(state);
    lua_setglobal(state, "newproxy");
    // Every call that may wait on the file system is followed by a look at
    // the time limit (AfterWaiting).
    luaL_getmetatable(state, LUA_FILEHANDLE);
    if (lua_istable(state, -1)) {
        for (const char* name : {"read", "write", "seek", "flush", "close", "setvbuf"})
            WrapField(state, lua_gettop(state), name, AfterWaiting);
        WrapField(state, lua_gettop(state), "lines", LinesAfterWaiting);
    }
    lua_pop(state, 1);
    lua_getglobal(state, "os");
    if (lua_istable(state, -1))
        for (const char* name : {"remove", "rename", "tmpname"})
            WrapField(state, lua_gettop(state), name, AfterWaiting);
    lua_pop(state, 1);
    SealMetatable(state, LUA_FILEHANDLE);
    lua_getglobal(state, "package");
    if (lua_istable(state, -1)) {
        lua_getfield(state, -1, "loaders");
        if (lua_istable(state, -1)) {
            lua_pushcfunction(state, SafeLuaSearcher);
            lua_rawseti(state, -2, 2);
            // The C searchers could never load (this Lua has no dlopen), but
            // they would walk package.cpath without bound, opening each
            // candidate with fopen, which waits on a FIFO.
            lua_pushnil(state);
            lua_rawseti(state, -2, 4);
            lua_pushnil(state);
            lua_rawseti(state, -2, 3);
        }
        lua_pop(state, 1);
        lua_pushstring(state, "");
        lua_setfield(state, -2, "cpath");
    }
    lua_pop(state, 1);
    lua_getglobal(state, "io");
    if (lua_istable(state, -1)) {
        const int io = lua_gettop(state);
        lua_getfield(state, io, "input");
        lua_pushstring(state, "/dev/null");
        if (lua_pcall(state, 1, 0, 0) != 0) {
            lua_pop(state, 1); // no /dev/null: the default input stays out of reach
            ReplaceWithRefusal(state, io, "read", "io.read");
            ReplaceWithRefusal(state, io, "lines", "io.lines");
            ReplaceWithRefusal(state, io, "input", "io.input");
        }
        const bool readOnly = access == FileAccess::ReadOnly;
        lua_getfield(state, io, "open");
        lua_pushboolean(state, readOnly);
        lua_pushcclosure(state, SafeOpen, 2);
        lua_setfield(state, io, "open");
        for (const char* name : {"open", "read", "write", "close", "flush"})
            WrapField(state, io, name, AfterWaiting);
        WrapField(state, io, "lines", SafeLines);
        for (const char* name : {"input", "output"}) {
            if (readOnly && name[0] == 'o') {
                ReplaceWithRefusal(state, io, name, "io.output");
                continue;
            }
            lua_getfield(state, io, name);
            lua_pushstring(state, name[0] == 'i' ? "r" : "w");
            lua_pushcclosure(state, SafeDefaultFile, 2);
            lua_setfield(state, io, name);
        }
        lua_pushnil(state);
        lua_setfield(state, io, "stdin");
        if (readOnly) {
            // The host's standard output and error are its own (often its
            // log): no handle to write, seek or rebuffer them. (print still
            // reaches standard error, a line at a time, through the
            // module's debug output.)
            ReplaceWithRefusal(state, io, "write", "io.write");
            lua_pushnil(state);
            lua_setfield(state, io, "stdout");
            lua_pushnil(state);
            lua_setfield(state, io, "stderr");
        }
    }
    lua_pop(state, 1);

    GuardCostlyFunctions(state);
}

} // namespace QZ
