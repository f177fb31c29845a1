// The parameter functions of the Lua MIDI state: read and set the calling
// instance's parameters by index or by name. Lua lock held (whoever called
// into Lua holds it).
#include <lua.hpp>

#include <cmath>

#include "framework/ObryProperties.h"
#include "scripting/LuaMIDIFunctions.h"
#include "scripting/LuaMIDIHelper.h"

namespace QZ {

namespace {

// A script's number as an index: truncated toward zero, kept within int32
// (NaN counts as -1), so that the range check sees what the script meant.
int32_t IndexFromNumber(lua_Number value)
{
    if (std::isnan(value))
        return -1;
    if (value <= static_cast<lua_Number>(INT32_MIN))
        return INT32_MIN;
    if (value >= static_cast<lua_Number>(INT32_MAX))
        return INT32_MAX;
    return static_cast<int32_t>(value);
}

// The parameter of argument 1, range-checked, with its record.
const ParameterInfo& CheckedParameter(lua_State* state, LuaMIDIHelper*& helper, int32_t& index)
{
    helper = CheckHelper(state);
    index = CheckParameterArgument(state, helper, 1, true);
    return helper->ParameterTable()[index];
}

} // namespace

LuaMIDIHelper* CheckHelper(lua_State* state)
{
    LuaMIDIHelper* helper = LuaMIDIHelper::GetHelper(state);
    if (!helper)
        luaL_error(state, "this Lua state has no MIDI helper");
    return helper;
}

int32_t CheckParameterArgument(lua_State* state, LuaMIDIHelper* helper, int arg, bool checkRange)
{
    if (lua_isnumber(state, arg)) {
        const int32_t index = IndexFromNumber(lua_tonumber(state, arg));
        if (checkRange && (index < 0 || index >= helper->ParameterCount()))
            return luaL_error(state, "parameter out of range: %d", index);
        return index;
    }
    const char* name = luaL_checkstring(state, arg);
    // A name maps to a valid index by construction.
    return LuaMIDIHelper::LookupParameterID(state, name);
}

// setParameter(param, value): sets the real value and tells the host; an
// index outside the parameters changes nothing.
int LuaSetParameter(lua_State* state)
{
    LuaMIDIHelper* helper = CheckHelper(state);
    const int32_t index = CheckParameterArgument(state, helper, 1, false);
    const lua_Number value = luaL_checknumber(state, 2);
    if (index < 0 || index >= helper->ParameterCount() || !helper->Owner())
        return 0;
    // SetParameterValue keeps non-finite and out-of-range values inside the
    // parameter's range.
    helper->Owner()->SetParameterValue(index, static_cast<float>(value), true);
    return 0;
}

// getParameter(param) -> the current program's real value.
int LuaGetParameter(lua_State* state)
{
    LuaMIDIHelper* helper = nullptr;
    int32_t index = 0;
    CheckedParameter(state, helper, index);
    lua_pushnumber(state, helper->Owner() ? helper->Owner()->GetParameterReal(index) : 0.0);
    return 1;
}

int LuaGetParameterID(lua_State* state)
{
    const char* name = luaL_checkstring(state, 1);
    lua_pushinteger(state, LuaMIDIHelper::LookupParameterID(state, name));
    return 1;
}

int LuaGetParameterMinMax(lua_State* state)
{
    LuaMIDIHelper* helper = nullptr;
    int32_t index = 0;
    const ParameterInfo& info = CheckedParameter(state, helper, index);
    lua_pushnumber(state, info.min);
    lua_pushnumber(state, info.max);
    return 2;
}

int LuaGetParameterUnit(lua_State* state)
{
    LuaMIDIHelper* helper = nullptr;
    int32_t index = 0;
    const ParameterInfo& info = CheckedParameter(state, helper, index);
    lua_pushinteger(state, static_cast<lua_Integer>(info.unit));
    return 1;
}

int LuaGetParameterName(lua_State* state)
{
    LuaMIDIHelper* helper = nullptr;
    int32_t index = 0;
    const ParameterInfo& info = CheckedParameter(state, helper, index);
    if (info.name)
        lua_pushstring(state, info.name);
    else
        lua_pushnil(state);
    return 1;
}

int LuaIsParameterUsed(lua_State* state)
{
    LuaMIDIHelper* helper = nullptr;
    int32_t index = 0;
    CheckedParameter(state, helper, index);
    lua_pushboolean(state, helper->isParameterUsed(index) ? 1 : 0);
    return 1;
}

int LuaGetNumParameters(lua_State* state)
{
    lua_pushinteger(state, CheckHelper(state)->ParameterCount());
    return 1;
}

} // namespace QZ
