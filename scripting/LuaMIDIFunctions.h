// The global functions of the Lua MIDI state, grouped by the files that
// define them. Every function runs with the Lua lock held by whoever called
// into Lua.
//
// Lua errors unwind with longjmp: a function checks all its arguments (which
// may raise) before it makes any C++ object with a destructor, and raises
// only after such objects are gone.
#pragma once

#include <cstdint>

struct lua_State;
typedef int (*lua_CFunction)(lua_State*);

namespace QZ {

class LuaMIDIHelper;

// Registers the global functions in their order. Lua lock held.
void RegisterMIDIFunctions(lua_State* state);

// Whether a C function of the state may be called from the network by its
// global name: only the API functions meant for remote control. Functions
// the scripts define in Lua are callable too (the caller checks that); no
// standard library function ever is.
bool IsNetworkCallable(lua_CFunction function);

// The helper of the calling state; raises when the state has none.
LuaMIDIHelper* CheckHelper(lua_State* state);

// The parameter argument at `arg`: a number, or a text Lua reads as a number,
// is an index (truncated toward zero); any other text is a parameter name.
// With checkRange an index outside the parameters raises "parameter out of
// range: %d". Raises "parameter not found: '%s'" for an unknown name.
int32_t CheckParameterArgument(lua_State* state, LuaMIDIHelper* helper, int arg, bool checkRange);

// LuaMIDIParameters.cpp
int LuaSetParameter(lua_State* state);
int LuaGetParameter(lua_State* state);
int LuaGetParameterID(lua_State* state);
int LuaGetParameterMinMax(lua_State* state);
int LuaGetParameterUnit(lua_State* state);
int LuaGetParameterName(lua_State* state);
int LuaIsParameterUsed(lua_State* state);
int LuaGetNumParameters(lua_State* state);

// LuaMIDIOSC.cpp. sendOSC needs no MIDI helper; the editor's state
// registers the same function.
int LuaSendOSC(lua_State* state);
int LuaRegisterOSCPathForParameter(lua_State* state);
int LuaRegisterOSCPathForParameterNormalized(lua_State* state);
int LuaRegisterOSCPathForFunction(lua_State* state);

// LuaMIDIOthers.cpp: indicators, and other instances by their id.
int LuaSetOthersParameter(lua_State* state);
int LuaGetOthersParameter(lua_State* state);
int LuaSetGUIBoolValue(lua_State* state);
int LuaGetGUIBoolValue(lua_State* state);
int LuaSetOthersGUIBoolValue(lua_State* state);
int LuaGetOthersGUIBoolValue(lua_State* state);

// LuaMIDITimers.cpp
int LuaTime(lua_State* state);
int LuaRequestTimedCallback(lua_State* state);
int LuaRequestPeriodicCallback(lua_State* state);
int LuaCancelTimer(lua_State* state);

// LuaMIDIRequests.cpp
int LuaRequestAllNoteOn(lua_State* state);
int LuaRequestAllNoteOff(lua_State* state);
int LuaRequestAllCC(lua_State* state);
int LuaRequestAllNRPN(lua_State* state);
int LuaRequestAllProgramChange(lua_State* state);
int LuaRequestAllPolyPressure(lua_State* state);
int LuaRequestNoteOn(lua_State* state);
int LuaRequestNoteOff(lua_State* state);
int LuaRequestCC(lua_State* state);
int LuaRequestNRPN(lua_State* state);
int LuaRequestPitchWheel(lua_State* state);
int LuaRequestChannelPressure(lua_State* state);
int LuaRequestProgramChange(lua_State* state);
int LuaRequestPolyPressure(lua_State* state);

// LuaMIDIScale.cpp: addScale, registered by the plug-in's helper.
int LuaAddScale(lua_State* state);

} // namespace QZ
