// addScale(name, semitones): hands a scale to the plug-in. The plug-in's
// helper registers it; the built-in "midi.lua" defines the standard scales
// with it. Lua lock held.
#include <lua.hpp>

#include <cmath>

#include "framework/ObryProperties.h"
#include "scripting/LuaMIDIFunctions.h"
#include "scripting/LuaMIDIHelper.h"

namespace QZ {

namespace {

// The plug-in keeps the scale (and may allocate); an exception must not
// unwind through Lua's frames, so it is caught here and raised afterwards.
bool HandToOwner(LuaMIDIHelper* helper, const char* name, uint16_t mask) noexcept
{
    try {
        helper->AddScale(name, mask);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace

// Entries are 1-based semitone numbers; 1 to 16 set bits 0 to 15 of the
// mask, anything else (other numbers, non-numbers) is ignored.
int LuaAddScale(lua_State* state)
{
    LuaMIDIHelper* helper = CheckHelper(state);
    const char* name = luaL_checkstring(state, 1);
    luaL_checktype(state, 2, LUA_TTABLE);
    const size_t count = lua_objlen(state, 2);
    uint16_t mask = 0;
    for (size_t i = 1; i <= count; ++i) {
        lua_rawgeti(state, 2, static_cast<int>(i));
        if (lua_isnumber(state, -1)) {
            const lua_Number semitone = std::trunc(lua_tonumber(state, -1));
            if (semitone >= 1 && semitone <= 16)
                mask = static_cast<uint16_t>(mask | (1u << (static_cast<int>(semitone) - 1)));
        }
        lua_pop(state, 1);
    }
    if (!HandToOwner(helper, name, mask))
        return luaL_error(state, "not enough memory");
    return 0;
}

} // namespace QZ
