#include "scripting/LuaPrint.h"

#include <lua.hpp>

#include <atomic>

#include "platform/Debug.h"
#include "platform/NumberText.h"

namespace QZ {

namespace {

// The base library's tostring: for it, numbers are formatted here, since the
// library's own formatting follows the locale's decimal separator.
std::atomic<lua_CFunction> gBaseToString{nullptr};

void AddNumber(luaL_Buffer* buffer, lua_Number value)
{
    char text[48];
    const size_t length = corvane::platform::FormatGeneral(text, sizeof text, value, 14);
    luaL_addlstring(buffer, text, length);
}

} // namespace

int LuaPrint(lua_State* state)
{
    const int count = lua_gettop(state);
    lua_getglobal(state, "tostring");
    const int toString = count + 1;
    const bool baseToString =
        lua_iscfunction(state, toString) && lua_tocfunction(state, toString) == gBaseToString.load();

    // The whole line is built first and written at once, so that lines
    // printed by several threads do not mix.
    luaL_Buffer line;
    luaL_buffinit(state, &line);
    for (int i = 1; i <= count; ++i) {
        if (i > 1)
            luaL_addchar(&line, '\t');
        if (baseToString && lua_type(state, i) == LUA_TNUMBER) {
            AddNumber(&line, lua_tonumber(state, i));
            continue;
        }
        lua_pushvalue(state, toString);
        lua_pushvalue(state, i);
        lua_call(state, 1, 1);
        if (lua_type(state, -1) == LUA_TNUMBER) {
            const lua_Number value = lua_tonumber(state, -1);
            lua_pop(state, 1);
            AddNumber(&line, value);
        } else if (lua_type(state, -1) == LUA_TSTRING) {
            luaL_addvalue(&line);
        } else {
            return luaL_error(state, "'tostring' must return a string to 'print'");
        }
    }
    luaL_addchar(&line, '\n');
    luaL_pushresult(&line);

    size_t length = 0;
    const char* text = lua_tolstring(state, -1, &length);
    // DebugPrintf cuts texts at about 1 KiB: longer lines go in pieces.
    constexpr size_t kPiece = 1000;
    for (size_t offset = 0; offset < length; offset += kPiece) {
        const size_t piece = length - offset < kPiece ? length - offset : kPiece;
        corvane::DebugPrintf("%.*s", static_cast<int>(piece), text + offset);
    }
    return 0;
}

void InstallLuaPrint(lua_State* state)
{
    lua_getglobal(state, "tostring");
    if (lua_iscfunction(state, -1))
        gBaseToString.store(lua_tocfunction(state, -1));
    lua_pop(state, 1);
    lua_register(state, "print", LuaPrint);
}

} // namespace QZ
