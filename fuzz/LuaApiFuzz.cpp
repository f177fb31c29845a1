// Calls of the Lua MIDI API with generated arguments: numbers (any double,
// NaN and infinities included), small integers, texts, nil, booleans, tables
// and a function, in any order and count, through a protected call as a
// script makes them. The periodic timer is left out: every input would add
// one that runs for the rest of the run.
#include <cstdint>
#include <mutex>

#include <lua.hpp>

#include "fuzz/FuzzHost.h"

namespace {

const char* const kFunctions[] = {
    "setParameter", "getParameter", "getParameterID", "getParameterMinMax", "getParameterUnit",
    "getParameterName", "isParameterUsed", "getNumParameters", "sendOSC", "setOthersParameter",
    "getOthersParameter", "requestAllNoteOn", "requestAllNoteOff", "requestAllCC", "requestAllNRPN",
    "requestAllProgramChange", "requestAllPolyPressure", "requestNoteOn", "requestNoteOff", "requestCC",
    "requestNRPN", "requestPitchWheel", "requestChannelPressure", "requestProgramChange", "requestPolyPressure",
    "time", "requestTimedCallback", "cancelTimer", "setGUIBoolValue", "getGUIBoolValue", "setOthersGUIBoolValue",
    "getOthersGUIBoolValue", "registerOSCPathForParameter", "registerOSCPathForParameterNormalized",
    "registerOSCPathForFunction", "addScale",
};
constexpr size_t kFunctionCount = sizeof kFunctions / sizeof kFunctions[0];

struct Call {
    corvane::fuzz::Reader* in;
};

void PushValue(lua_State* state, corvane::fuzz::Reader& in, int depth)
{
    switch (in.Byte() % 8) {
    case 0: lua_pushnumber(state, in.Double()); break;
    case 1: lua_pushinteger(state, static_cast<int8_t>(in.Byte())); break;
    case 2: {
        size_t length = 0;
        const uint8_t* text = in.Bytes(in.Byte() % 64, &length);
        lua_pushlstring(state, reinterpret_cast<const char*>(text), length);
        break;
    }
    case 3: lua_pushnil(state); break;
    case 4: lua_pushboolean(state, in.Byte() & 1); break;
    case 5: {
        lua_newtable(state);
        const int count = depth < 2 ? in.Byte() % 8 : 0;
        for (int i = 1; i <= count; ++i) {
            PushValue(state, in, depth + 1);
            lua_rawseti(state, -2, i);
        }
        break;
    }
    case 6: lua_getglobal(state, "fuzzFunction"); break;
    default: lua_pushinteger(state, in.Byte()); break; // parameter indices and notes
    }
}

// Protected: pushes the function and its arguments and calls it; the
// call's own errors are the expected answers.
int CallProtected(lua_State* state)
{
    corvane::fuzz::Reader& in = *static_cast<Call*>(lua_touserdata(state, 1))->in;
    lua_settop(state, 0);
    lua_getglobal(state, kFunctions[in.Byte() % kFunctionCount]);
    const int count = in.Byte() % 6;
    for (int i = 0; i < count; ++i)
        PushValue(state, in, 0);
    lua_pcall(state, count, LUA_MULTRET, 0);
    lua_settop(state, 0);
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ObryCorvaneBase* plugin = corvane::fuzz::Plugin(corvane::fuzz::kPluginIds[8]); // the Quantizer keeps scales
    if (!plugin)
        return 0;
    auto& lua = plugin->LuaHelper();
    corvane::fuzz::Reader in(data, size);
    Call call{&in};
    std::lock_guard<std::recursive_mutex> lock(lua.LuaLock());
    lua_State* state = lua.LuaState();
    if (!state)
        return 0;
    static bool prepared = false;
    if (!prepared) {
        prepared = true;
        luaL_dostring(state, "function fuzzFunction(...) return ... end");
    }
    while (in.Left() > 0)
        if (lua.RunProtected(CallProtected, &call) != 0)
            lua_settop(state, 0);
    return 0;
}
