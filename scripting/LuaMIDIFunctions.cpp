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
    {"sendOSC", LuaSendOSC},
    {"setOthersParameter", LuaSetOthersParameter},
    {"getOthersParameter", LuaGetOthersParameter},
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
    {"time", LuaTime},
    {"requestTimedCallback", LuaRequestTimedCallback},
    {"requestPeriodicCallback", LuaRequestPeriodicCallback},
    {"cancelTimer", LuaCancelTimer},
    {"setGUIBoolValue", LuaSetGUIBoolValue},
    {"getGUIBoolValue", LuaGetGUIBoolValue},
    {"setOthersGUIBoolValue", LuaSetOthersGUIBoolValue},
    {"getOthersGUIBoolValue", LuaGetOthersGUIBoolValue},
    {"registerOSCPathForParameter", LuaRegisterOSCPathForParameter},
    {"registerOSCPathForParameterNormalized", LuaRegisterOSCPathForParameterNormalized},
    {"registerOSCPathForFunction", LuaRegisterOSCPathForFunction},
    {nullptr, nullptr},
};

// What "/exec" and "/call" may reach of the functions above: those that read
// and set parameters and indicators. The rest take Lua functions or tables
// (which no OSC message carries) or send packets to addresses of the
// caller's choosing.
const lua_CFunction kNetworkCallable[] = {
    LuaSetParameter,       LuaGetParameter,        LuaGetParameterID,
    LuaGetParameterMinMax, LuaGetParameterUnit,    LuaGetParameterName,
    LuaIsParameterUsed,    LuaGetNumParameters,    LuaSetOthersParameter,
    LuaGetOthersParameter, LuaTime,                LuaSetGUIBoolValue,
    LuaGetGUIBoolValue,    LuaSetOthersGUIBoolValue, LuaGetOthersGUIBoolValue,
    LuaRegisterOSCPathForParameter, LuaRegisterOSCPathForParameterNormalized,
};

} // namespace

bool IsNetworkCallable(lua_CFunction function)
{
    for (const lua_CFunction allowed : kNetworkCallable)
        if (function == allowed)
            return true;
    return false;
}

void RegisterMIDIFunctions(lua_State* state)
{
    for (const luaL_Reg* function = kMIDIFunctions; function->name; ++function)
        lua_register(state, function->name, function->func);
}

} // namespace QZ
