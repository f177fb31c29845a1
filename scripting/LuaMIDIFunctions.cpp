// The global functions of the Lua MIDI state, in the order they are made.
#include "scripting/LuaMIDIFunctions.h"

#include <lua.hpp>

namespace QZ {

namespace {

const luaL_Reg kMIDIFunctions[] = {
    {"setParameter", LuaSetParameter},
    {"getParameter", LuaGetParameter},
    {"getParameterID", LuaGetParameterID},
    {"getParameterMinMax", LuaGetParameterMinMax},
    {"getParameterUnit", LuaGetParameterUnit},
    {"getParameterName", LuaGetParameterName},
    {"isParameterUsed", LuaIsParameterUsed},
    {"getNumParameters", LuaGetNumParameters},
    // Still to come here: sendOSC, setOthersParameter, getOthersParameter.
    {"requestAllNoteOn", LuaRequestAllNoteOn},
    {"requestAllNoteOff", LuaRequestAllNoteOff},
    {"requestAllCC", LuaRequestAllCC},
    {"requestAllNRPN", LuaRequestAllNRPN},
    {"requestAllProgramChange", LuaRequestAllProgramChange},
    {"requestAllPolyPressure", LuaRequestAllPolyPressure},
    {"requestNoteOn", LuaRequestNoteOn},
    {"requestNoteOff", LuaRequestNoteOff},
    {"requestCC", LuaRequestCC},
    {"requestNRPN", LuaRequestNRPN},
    {"requestPitchWheel", LuaRequestPitchWheel},
    {"requestChannelPressure", LuaRequestChannelPressure},
    {"requestProgramChange", LuaRequestProgramChange},
    {"requestPolyPressure", LuaRequestPolyPressure},
    // Still to come here, in this order: time, requestTimedCallback,
    // requestPeriodicCallback, cancelTimer (timers); setGUIBoolValue,
    // getGUIBoolValue, setOthersGUIBoolValue, getOthersGUIBoolValue
    // (indicators); registerOSCPathForParameter,
    // registerOSCPathForParameterNormalized, registerOSCPathForFunction (the
    // OSC server's bindings).
    {nullptr, nullptr},
};

} // namespace

void RegisterMIDIFunctions(lua_State* state)
{
    for (const luaL_Reg* function = kMIDIFunctions; function->name; ++function)
        lua_register(state, function->name, function->func);
}

} // namespace QZ
