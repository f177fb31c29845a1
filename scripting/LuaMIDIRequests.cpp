// The request functions of the Lua MIDI state: scripts register functions
// for incoming MIDI. Each registration is a registry reference appended to a
// list of the helper; the audio thread serves the lists (LuaMIDIHelper.cpp).
// Lua lock held.
#include <lua.hpp>

#include <new>

#include "scripting/LuaMIDIFunctions.h"
#include "scripting/LuaMIDIHelper.h"

namespace QZ {

namespace {

// References the function at `functionArg` and appends it to the list.
// Arguments are checked by the caller; nothing here holds a C++ object when
// Lua raises.
int Register(lua_State* state, LuaMIDIHelper::Kind kind, int number, int functionArg)
{
    LuaMIDIHelper* helper = CheckHelper(state);
    lua_pushvalue(state, functionArg);
    const int reference = luaL_ref(state, LUA_REGISTRYINDEX);
    bool added = true;
    bool full = false;
    try {
        full = !helper->AddRegistration(kind, number, reference);
    } catch (const std::bad_alloc&) {
        added = false;
    }
    if (!added || full) {
        luaL_unref(state, LUA_REGISTRYINDEX, reference);
        if (full)
            return luaL_error(state, "too many MIDI registrations (at most %d)",
                              static_cast<int>(LuaMIDIHelper::kMaxRegistrations));
        return luaL_error(state, "not enough memory");
    }
    return 0;
}

// requestAll...(fn) and the lists without numbers.
int RegisterEvery(lua_State* state, LuaMIDIHelper::Kind kind, const char* message)
{
    if (!lua_isfunction(state, 1))
        return luaL_error(state, "%s", message);
    return Register(state, kind, LuaMIDIHelper::kEveryNumber, 1);
}

// request...(number, fn). Numbers beyond int32 are clamped: no MIDI message
// carries them, and they must not meet the marker of the every-message list.
int RegisterNumbered(lua_State* state, LuaMIDIHelper::Kind kind, const char* message)
{
    // Read as a number and clamped before it becomes an integer: Lua's own
    // conversion of a huge or NaN number is undefined.
    const lua_Number number = luaL_checknumber(state, 1);
    if (!lua_isfunction(state, 2))
        return luaL_error(state, "%s", message);
    int clamped = LuaMIDIHelper::kEveryNumber + 1;
    if (number >= static_cast<lua_Number>(INT32_MAX))
        clamped = INT32_MAX;
    else if (number > static_cast<lua_Number>(clamped))
        clamped = static_cast<int>(number);
    return Register(state, kind, clamped, 2);
}

} // namespace

int LuaRequestAllNoteOn(lua_State* state)
{
    return RegisterEvery(state, LuaMIDIHelper::kNoteOn, "first argument to requestAllNoteOn() is not a function");
}

int LuaRequestAllNoteOff(lua_State* state)
{
    return RegisterEvery(state, LuaMIDIHelper::kNoteOff, "first argument to requestAllNoteOff() is not a function");
}

int LuaRequestAllCC(lua_State* state)
{
    return RegisterEvery(state, LuaMIDIHelper::kControlChange, "first argument to requestAllCC() is not a function");
}

int LuaRequestAllNRPN(lua_State* state)
{
    return RegisterEvery(state, LuaMIDIHelper::kNRPN, "first argument to requestAllNRPN() is not a function");
}

int LuaRequestAllProgramChange(lua_State* state)
{
    return RegisterEvery(state, LuaMIDIHelper::kProgramChange,
                         "first argument to requestAllProgramChange() is not a function");
}

int LuaRequestAllPolyPressure(lua_State* state)
{
    return RegisterEvery(state, LuaMIDIHelper::kPolyPressure,
                         "first argument to requestAllPolyPressure() is not a function");
}

int LuaRequestNoteOn(lua_State* state)
{
    return RegisterNumbered(state, LuaMIDIHelper::kNoteOn, "second argument to requestNoteOn() is not a function");
}

int LuaRequestNoteOff(lua_State* state)
{
    return RegisterNumbered(state, LuaMIDIHelper::kNoteOff, "second argument to requestNoteOff() is not a function");
}

int LuaRequestCC(lua_State* state)
{
    return RegisterNumbered(state, LuaMIDIHelper::kControlChange, "second argument to requestCC() is not a function");
}

int LuaRequestNRPN(lua_State* state)
{
    return RegisterNumbered(state, LuaMIDIHelper::kNRPN, "second argument to requestNRPN() is not a function");
}

int LuaRequestPitchWheel(lua_State* state)
{
    return RegisterEvery(state, LuaMIDIHelper::kPitchWheel,
                         "first argument to requestPitchWheel() is not a function");
}

int LuaRequestChannelPressure(lua_State* state)
{
    return RegisterEvery(state, LuaMIDIHelper::kChannelPressure,
                         "first argument to requestChannelPressure() is not a function");
}

int LuaRequestProgramChange(lua_State* state)
{
    return RegisterNumbered(state, LuaMIDIHelper::kProgramChange,
                            "second argument to requestProgramChange() is not a function");
}

int LuaRequestPolyPressure(lua_State* state)
{
    return RegisterNumbered(state, LuaMIDIHelper::kPolyPressure,
                            "second argument to requestPolyPressure() is not a function");
}

} // namespace QZ
