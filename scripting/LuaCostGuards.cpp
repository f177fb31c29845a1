// The library functions whose single call may work long in C, without a
// Lua instruction or call where the time limit could stop it (LuaSandbox.h).
#include "scripting/LuaSandbox.h"

#include <lua.hpp>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace QZ {

namespace {

// Patterns of at most this many items are bounded by their subject alone; a
// longer one can compare that many characters at every start.
constexpr double kShortPatternItems = 16;

bool IsQuantifier(char c)
{
    return c == '*' || c == '+' || c == '-' || c == '?';
}

// The logarithm of the steps matching `pattern` against a subject of
// `subjectLength` bytes may take (LuaSandbox.h, PatternTooCostly).
double PatternWork(const char* pattern, size_t patternLength, size_t subjectLength)
{
    int quantifiers = 0;
    size_t items = 0;
    bool inSet = false;
    for (size_t i = 0; i < patternLength; ++i) {
        const char c = pattern[i];
        if (c == '%') {
            ++i; // the escaped character, or the class letter
            items += !inSet;
        } else if (inSet) {
            if (c == ']')
                inSet = false;
        } else if (c == '[') {
            inSet = true;
            ++items;
            if (i + 1 < patternLength && pattern[i + 1] == '^')
                ++i;
            if (i + 1 < patternLength && pattern[i + 1] == ']')
                ++i; // a ']' first in a set is a member
        } else if (IsQuantifier(c) && i > 0) {
            ++quantifiers;
        } else if (c != '(' && c != ')') {
            ++items;
        }
    }
    return std::log(std::max(1.0, static_cast<double>(items) / kShortPatternItems)) +
           (quantifiers + 1) * std::log(static_cast<double>(subjectLength) + 2.0);
}

// The library's plain search (a plain find, or a pattern without special
// characters) compares the whole pattern at every start of the subject: a
// 4 MiB pattern over an 8 MiB subject takes hours. memmem finds the same
// first match in linear time.
int PlainFind(lua_State* state, const char* subject, size_t subjectLength, const char* pattern, size_t patternLength)
{
    // The start as the library reads it: negative counts from the end; the
    // result is clamped to the subject.
    ptrdiff_t init = luaL_optinteger(state, 3, 1);
    if (init < 0)
        init += static_cast<ptrdiff_t>(subjectLength) + 1;
    init = std::clamp<ptrdiff_t>(init - 1, 0, static_cast<ptrdiff_t>(subjectLength));
    const auto* found = static_cast<const char*>(
        memmem(subject + init, subjectLength - static_cast<size_t>(init), pattern, patternLength));
    if (!found) {
        lua_pushnil(state);
        return 1;
    }
    lua_pushinteger(state, found - subject + 1);
    lua_pushinteger(state, found - subject + static_cast<ptrdiff_t>(patternLength));
    return 2;
}

// string.find, match, gmatch and gsub with upvalue 1 the library's own and
// upvalue 2 true for find; arguments 1 and 2 are the subject and the
// pattern. A costly pattern is refused before the search starts.
int GuardedPatternFunction(lua_State* state)
{
    size_t subjectLength = 0, patternLength = 0;
    const char* subject = luaL_checklstring(state, 1, &subjectLength);
    const char* pattern = luaL_checklstring(state, 2, &patternLength);
    // As the library decides: a plain find, or a pattern without special
    // characters (up to its first zero byte).
    if (lua_toboolean(state, lua_upvalueindex(2)) &&
        ((lua_gettop(state) >= 4 && lua_toboolean(state, 4)) || !strpbrk(pattern, "^$*+?.([%-")))
        return PlainFind(state, subject, subjectLength, pattern, patternLength);
    if (PatternTooCostly(pattern, patternLength, subjectLength))
        return luaL_error(state, "pattern too complex for a subject of %d bytes", static_cast<int>(subjectLength));
    lua_pushvalue(state, lua_upvalueindex(1));
    lua_insert(state, 1);
    lua_call(state, lua_gettop(state) - 1, LUA_MULTRET);
    return lua_gettop(state);
}

// string.rep(s, n) with upvalue 1 the library's own: the count must fit the
// library's int and the result kRepeatLimit.
int GuardedRep(lua_State* state)
{
    size_t length = 0;
    luaL_checklstring(state, 1, &length);
    const lua_Number count = luaL_checknumber(state, 2);
    if (count >= static_cast<lua_Number>(INT_MAX) ||
        (count >= 1 && static_cast<double>(length) * std::floor(count) > static_cast<double>(kRepeatLimit)))
        return luaL_error(state, "resulting string too large");
    lua_pushvalue(state, lua_upvalueindex(1));
    lua_insert(state, 1);
    lua_call(state, lua_gettop(state) - 1, 1);
    return 1;
}

// table.sort's comparison without a function of the script's, as the
// library makes it, but as a call: a sort's loop is C code without a Lua
// instruction or call in it (16 million numbers sort for seconds), and a
// call is where the time limit's watch stops a script past its limit. It
// costs a large sort twice its time, so tables of up to kUncheckedSort
// elements (a few milliseconds of sorting) are sorted as they were.
constexpr size_t kUncheckedSort = size_t{1} << 14;

int LessThan(lua_State* state)
{
    lua_pushboolean(state, lua_lessthan(state, 1, 2));
    return 1;
}

// table.sort(t [, comp]) with upvalue 1 the library's own.
int GuardedSort(lua_State* state)
{
    luaL_checktype(state, 1, LUA_TTABLE);
    lua_settop(state, 2);
    if (lua_isnil(state, 2) && lua_objlen(state, 1) > kUncheckedSort) {
        lua_pushcfunction(state, LessThan);
        lua_replace(state, 2);
    }
    lua_pushvalue(state, lua_upvalueindex(1));
    lua_insert(state, 1);
    lua_call(state, 2, 0);
    return 0;
}

// table[field] = wrapper with upvalue 1 the function it replaces and, when
// given, upvalue 2 the boolean `second`.
void Wrap(lua_State* state, int table, const char* field, lua_CFunction wrapper, int second = -1)
{
    lua_getfield(state, table, field);
    if (!lua_isfunction(state, -1)) {
        lua_pop(state, 1);
        return;
    }
    if (second >= 0)
        lua_pushboolean(state, second);
    lua_pushcclosure(state, wrapper, second >= 0 ? 2 : 1);
    lua_setfield(state, table, field);
}

} // namespace

bool PatternTooCostly(const char* pattern, size_t patternLength, size_t subjectLength)
{
    return PatternWork(pattern, patternLength, subjectLength) > std::log(kPatternWorkLimit);
}

void GuardCostlyFunctions(lua_State* state)
{
    lua_getglobal(state, "string");
    if (lua_istable(state, -1)) {
        const int string = lua_gettop(state);
        for (const char* name : {"find", "match", "gmatch", "gsub"})
            Wrap(state, string, name, GuardedPatternFunction, std::strcmp(name, "find") == 0);
        Wrap(state, string, "rep", GuardedRep);
    }
    lua_pop(state, 1);
    lua_getglobal(state, "table");
    if (lua_istable(state, -1))
        Wrap(state, lua_gettop(state), "sort", GuardedSort);
    lua_pop(state, 1);
}

} // namespace QZ
