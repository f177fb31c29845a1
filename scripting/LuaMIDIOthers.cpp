// The indicator functions of the Lua MIDI state and the "Others" functions,
// which reach other instances by their id (the truncated "OSC Port Offset"
// value) through the instance registry. Lua lock held; the registry's lock
// is taken inside it (never the reverse).
#include <lua.hpp>

#include <cmath>
#include <cstdint>

#include "framework/InstanceRegistry.h"
#include "framework/ObryProperties.h"
#include "scripting/LuaMIDIFunctions.h"
#include "scripting/LuaMIDIHelper.h"

namespace QZ {

namespace {

constexpr int kIndicatorCount = 8;

// A script's number truncated toward zero and kept within int32; NaN gives
// `nanValue`.
int32_t ClampedInteger(lua_Number value, int32_t nanValue)
{
    if (std::isnan(value))
        return nanValue;
    if (value <= static_cast<lua_Number>(INT32_MIN))
        return INT32_MIN;
    if (value >= static_cast<lua_Number>(INT32_MAX))
        return INT32_MAX;
    return static_cast<int32_t>(value);
}

// The indicator index at `arg`: a number (Lua's standard error otherwise),
// 0 to 7, else "indicator id out of range: %d".
int CheckIndicator(lua_State* state, int arg)
{
    const int32_t index = ClampedInteger(luaL_checknumber(state, arg), -1);
    if (index < 0 || index >= kIndicatorCount)
        return luaL_error(state, "indicator id out of range: %d", index);
    return index;
}

// The instance id at `arg`; anything but a number counts as 0.
int32_t InstanceId(lua_State* state, int arg)
{
    return lua_isnumber(state, arg) ? ClampedInteger(lua_tonumber(state, arg), 0) : 0;
}

// The registry's calls lock and may, in principle, throw (std::system_error
// from a lock); an exception must not unwind through Lua's frames. Each runs
// here and a failure is raised as a Lua error by the caller afterwards.
template <typename Work>
bool RunGuarded(Work work) noexcept
{
    try {
        work();
        return true;
    } catch (...) {
        return false;
    }
}

int RegistryFailure(lua_State* state)
{
    return luaL_error(state, "the instance registry is not available");
}

} // namespace

// setOthersParameter(id, param, value): every instance with that id; an
// index outside a target's parameters changes nothing there.
int LuaSetOthersParameter(lua_State* state)
{
    LuaMIDIHelper* helper = CheckHelper(state);
    const int32_t id = InstanceId(state, 1);
    const int32_t index = CheckParameterArgument(state, helper, 2, false);
    const auto value = static_cast<float>(luaL_checknumber(state, 3));
    if (!RunGuarded([&] { InstanceRegistry::SetParameterOfId(id, index, value); }))
        return RegistryFailure(state);
    return 0;
}

// getOthersParameter(id, param) -> the first instance with that id's real
// value, 0 when there is none.
int LuaGetOthersParameter(lua_State* state)
{
    LuaMIDIHelper* helper = CheckHelper(state);
    const int32_t id = InstanceId(state, 1);
    const int32_t index = CheckParameterArgument(state, helper, 2, false);
    float value = 0.0f;
    if (!RunGuarded([&] { value = InstanceRegistry::GetParameterOfId(id, index); }))
        return RegistryFailure(state);
    lua_pushnumber(state, value);
    return 1;
}

// setGUIBoolValue(index, value): nil and false are false, anything else
// (0 included) true.
int LuaSetGUIBoolValue(lua_State* state)
{
    LuaMIDIHelper* helper = CheckHelper(state);
    const int index = CheckIndicator(state, 1);
    helper->setGUIBoolValue(index, lua_toboolean(state, 2) != 0);
    return 0;
}

int LuaGetGUIBoolValue(lua_State* state)
{
    LuaMIDIHelper* helper = CheckHelper(state);
    const int index = CheckIndicator(state, 1);
    lua_pushboolean(state, helper->getGUIBoolValue(index) ? 1 : 0);
    return 1;
}

int LuaSetOthersGUIBoolValue(lua_State* state)
{
    const int32_t id = InstanceId(state, 1);
    const int index = CheckIndicator(state, 2);
    const int on = lua_toboolean(state, 3) != 0 ? 1 : 0;
    if (!RunGuarded([&] { InstanceRegistry::SetIndicatorOfId(id, index, on); }))
        return RegistryFailure(state);
    return 0;
}

int LuaGetOthersGUIBoolValue(lua_State* state)
{
    const int32_t id = InstanceId(state, 1);
    const int index = CheckIndicator(state, 2);
    int32_t on = 0;
    if (!RunGuarded([&] { on = InstanceRegistry::GetIndicatorOfId(id, index); }))
        return RegistryFailure(state);
    lua_pushboolean(state, on != 0 ? 1 : 0);
    return 1;
}

} // namespace QZ
