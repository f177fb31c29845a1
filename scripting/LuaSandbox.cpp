#include "scripting/LuaSandbox.h"

#include <lua.hpp>

#include <cmath>
#include <cstdio>
#include <string>

namespace QZ {

namespace {

bool IsQuantifier(char c)
{
    return c == '*' || c == '+' || c == '-' || c == '?';
}

// f(...) with upvalue 1 the library's own function; arguments 1 and 2 are
// the subject and the pattern. A plain find (argument 4 true) is linear.
int GuardedPatternFunction(lua_State* state)
{
    size_t subjectLength = 0, patternLength = 0;
    luaL_checklstring(state, 1, &subjectLength);
    const char* pattern = luaL_checklstring(state, 2, &patternLength);
    const bool plain = lua_gettop(state) >= 4 && lua_toboolean(state, 4);
    if (!plain && PatternTooCostly(pattern, patternLength, subjectLength))
        return luaL_error(state, "pattern too complex for a subject of %d bytes", static_cast<int>(subjectLength));
    lua_pushvalue(state, lua_upvalueindex(1));
    lua_insert(state, 1);
    lua_call(state, lua_gettop(state) - 1, LUA_MULTRET);
    return lua_gettop(state);
}

int Refuse(lua_State* state)
{
    return luaL_error(state, "%s is not available to scripts", lua_tostring(state, lua_upvalueindex(1)));
}

// dofile and loadfile: upvalue 1 the library's own. Without a file name they
// would read the host's standard input.
int NeedsFileName(lua_State* state)
{
    if (IsBinaryChunkFile(luaL_checkstring(state, 1)))
        return luaL_error(state, "%s: binary chunks are not loaded", lua_tostring(state, 1));
    lua_pushvalue(state, lua_upvalueindex(1));
    lua_insert(state, 1);
    lua_call(state, lua_gettop(state) - 1, LUA_MULTRET);
    return lua_gettop(state);
}

// loadstring: upvalue 1 the library's own; text only.
int TextChunksOnly(lua_State* state)
{
    const char* chunk = luaL_checkstring(state, 1);
    if (chunk[0] == LUA_SIGNATURE[0]) {
        lua_pushnil(state);
        lua_pushstring(state, "binary chunks are not loaded");
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

bool IsBinaryChunkFile(const char* path)
{
    FILE* file = path ? fopen(path, "rb") : nullptr;
    if (!file)
        return false; // the loader reports it
    const int first = fgetc(file);
    fclose(file);
    return first == LUA_SIGNATURE[0];
}

bool PatternTooCostly(const char* pattern, size_t patternLength, size_t subjectLength)
{
    int quantifiers = 0;
    bool inSet = false;
    for (size_t i = 0; i < patternLength; ++i) {
        const char c = pattern[i];
        if (c == '%') {
            ++i; // the escaped character, or the class letter
        } else if (inSet) {
            if (c == ']')
                inSet = false;
        } else if (c == '[') {
            inSet = true;
            if (i + 1 < patternLength && pattern[i + 1] == '^')
                ++i;
            if (i + 1 < patternLength && pattern[i + 1] == ']')
                ++i; // a ']' first in a set is a member
        } else if (IsQuantifier(c) && i > 0) {
            ++quantifiers;
        }
    }
    const double steps = (quantifiers + 1) * std::log(static_cast<double>(subjectLength) + 2.0);
    return steps > std::log(kPatternWorkLimit);
}

void RestrictLuaLibraries(lua_State* state)
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
    WrapField(state, LUA_GLOBALSINDEX, "dofile", NeedsFileName);
    WrapField(state, LUA_GLOBALSINDEX, "loadfile", NeedsFileName);
    WrapField(state, LUA_GLOBALSINDEX, "loadstring", TextChunksOnly);
    ReplaceWithRefusal(state, LUA_GLOBALSINDEX, "load", "load");
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
        lua_pushnil(state);
        lua_setfield(state, io, "stdin");
    }
    lua_pop(state, 1);

    lua_getglobal(state, "string");
    if (lua_istable(state, -1))
        for (const char* name : {"find", "match", "gmatch", "gsub"})
            WrapField(state, lua_gettop(state), name, GuardedPatternFunction);
    lua_pop(state, 1);
}

} // namespace QZ
