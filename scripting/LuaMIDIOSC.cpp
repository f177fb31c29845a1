// The OSC functions of the Lua MIDI state: sendOSC, and the bindings of the
// instance server's addresses to parameters and functions. Lua lock held
// (whoever called into Lua holds it); the same lock guards the server's
// binding maps.
//
// Lua errors unwind with longjmp, past C++ destructors, and C++ exceptions
// must not unwind through Lua's frames. So each function first checks its
// arguments with the Lua API (which may raise), then does its C++ work in a
// noexcept helper that catches everything and leaves a message in a plain
// buffer, and raises only after that helper has returned and every C++
// object in it is gone.
#include <lua.hpp>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "scripting/LuaMIDIFunctions.h"
#include "scripting/LuaMIDIHelper.h"
#include "scripting/OSCHelper.h"
#include "scripting/OSCPacket.h"
#include "scripting/OSCSocket.h"

namespace QZ {

namespace {

constexpr size_t kErrorTextSize = 256;

int32_t ClampedInt32(lua_Number value)
{
    if (std::isnan(value))
        return 0;
    if (value <= static_cast<lua_Number>(INT32_MIN))
        return INT32_MIN;
    if (value >= static_cast<lua_Number>(INT32_MAX))
        return INT32_MAX;
    return static_cast<int32_t>(value);
}

void CopyErrorText(char* errorText, const char* text)
{
    snprintf(errorText, kErrorTextSize, "%s", text && *text ? text : "unknown error");
}

// Builds and sends the message. The values' types were checked by the
// caller; only calls that cannot raise touch the state here (raw reads of
// the table, numbers and strings read without conversion to a new string).
bool SendOSCMessage(lua_State* state, const char* url, const char* path, const char* format, int tableArg,
                    size_t count, char* errorText) noexcept
{
    try {
        const IpEndpointName target = ResolveReplyURL(url);
        OSCReplyPacket packet(path);
        osc::OutboundPacketStream& stream = packet.Stream();
        for (size_t i = 1; i <= count; ++i) {
            lua_rawgeti(state, tableArg, static_cast<int>(i));
            const int type = lua_type(state, -1);
            bool isNumber = false;
            lua_Number number = 0;
            const char* text = nullptr;
            if (type == LUA_TNUMBER || (type == LUA_TSTRING && lua_isnumber(state, -1))) {
                isNumber = true;
                number = lua_tonumber(state, -1);
            } else if (type == LUA_TSTRING) {
                text = lua_tostring(state, -1); // stays valid: the table holds the string
            }
            lua_pop(state, 1);
            if (isNumber) {
                if (format && format[i - 1] == 'i')
                    stream << static_cast<osc::int32>(ClampedInt32(number));
                else
                    stream << static_cast<float>(number);
            } else if (text) {
                stream << text;
            } else {
                stream << osc::OscNil;
            }
        }
        packet.SendTo(target);
        return true;
    } catch (const std::exception& error) {
        CopyErrorText(errorText, error.what());
    } catch (...) {
        CopyErrorText(errorText, nullptr);
    }
    return false;
}

// One binding per resolved index, added to the server's parameter-path map.
// Normalised bindings use the helper's parameter table, which exists before
// the scripts run (the server learns its own copy later).
bool AddParameterBindings(LuaMIDIHelper* helper, OSCHelper* server, const char* path, const int32_t* indices,
                          size_t count, bool normalized) noexcept
{
    try {
        std::vector<OSCHelper::ParameterBinding> bindings;
        bindings.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            const int32_t index = indices[i];
            OSCHelper::ParameterBinding binding{index, 0.0f, 1.0f};
            if (normalized && index >= 0 && index < helper->ParameterCount()) {
                const ParameterInfo& info = helper->ParameterTable()[index];
                binding.offset = info.min;
                binding.scale = info.max - info.min;
            }
            bindings.push_back(binding);
        }
        // Refused bindings (another length at the address) are reported by
        // the server and are not an error of the call.
        server->AddParameterBindingsLocked(path, bindings);
        return true;
    } catch (...) {
        return false;
    }
}

bool AddFunctionBinding(OSCHelper* server, const char* path, int reference) noexcept
{
    try {
        server->AddFunctionBindingLocked(path, reference);
        return true;
    } catch (...) {
        return false;
    }
}

// A parameter given inside a table: a number or numeric text is an index,
// other text a name of the calling instance.
int32_t TableParameter(lua_State* state, int valueIndex)
{
    if (lua_isnumber(state, valueIndex))
        return ClampedInt32(lua_tonumber(state, valueIndex));
    if (lua_type(state, valueIndex) != LUA_TSTRING)
        return luaL_argerror(state, 2,
                             lua_pushfstring(state, "parameter number or name expected in the table, got %s",
                                             luaL_typename(state, valueIndex)));
    return LuaMIDIHelper::LookupParameterID(state, lua_tostring(state, valueIndex));
}

// The address argument of the binding functions. The server's own
// addresses stay its own: a binding is served before them, so one call
// (from a script, or from the network through "/exec") could otherwise take
// over "/set" or "/ping".
const char* CheckBindablePath(lua_State* state)
{
    const char* path = luaL_checkstring(state, 1);
    if (OSCHelper::IsBuiltInAddress(path))
        luaL_error(state, "cannot bind the built-in OSC address %s", path);
    return path;
}

int RegisterParameterPath(lua_State* state, bool normalized)
{
    LuaMIDIHelper* helper = CheckHelper(state);
    const char* path = CheckBindablePath(state);
    size_t count = 1;
    if (lua_istable(state, 2))
        count = lua_objlen(state, 2);
    // The indices live in a Lua block until the call returns: a name that
    // does not resolve raises, which must not leave C++ memory behind.
    auto* indices = static_cast<int32_t*>(lua_newuserdata(state, (count > 0 ? count : 1) * sizeof(int32_t)));
    if (lua_istable(state, 2)) {
        for (size_t i = 1; i <= count; ++i) {
            lua_rawgeti(state, 2, static_cast<int>(i));
            indices[i - 1] = TableParameter(state, -1);
            lua_pop(state, 1);
        }
    } else {
        indices[0] = CheckParameterArgument(state, helper, 2, false);
    }
    OSCHelper* server = helper->GetOSCHelper();
    if (!server)
        return 0;
    if (!AddParameterBindings(helper, server, path, indices, count, normalized))
        return luaL_error(state, "not enough memory");
    return 0;
}

} // namespace

// sendOSC(url, path, [format,] values): one message in a bundle with the
// immediate time tag. Failures (an unresolvable host or a port outside
// 1..65535, a full buffer, no socket) end the call with the failure's text.
int LuaSendOSC(lua_State* state)
{
    const char* url = luaL_checkstring(state, 1);
    const char* path = luaL_checkstring(state, 2);
    const char* format = nullptr;
    size_t formatLength = 0;
    int tableArg = 0;
    const int argumentCount = lua_gettop(state);
    if (argumentCount == 3) {
        luaL_checktype(state, 3, LUA_TTABLE);
        tableArg = 3;
    } else if (argumentCount == 4) {
        format = luaL_checklstring(state, 3, &formatLength);
        luaL_checktype(state, 4, LUA_TTABLE);
        tableArg = 4;
    }
    const size_t count = tableArg ? lua_objlen(state, tableArg) : 0;
    if (format && formatLength != count)
        return luaL_error(state, "format string length mismatch in sendOSC");
    for (size_t i = 1; i <= count; ++i) {
        lua_rawgeti(state, tableArg, static_cast<int>(i));
        const int type = lua_type(state, -1);
        lua_pop(state, 1);
        if (type != LUA_TNIL && type != LUA_TNUMBER && type != LUA_TSTRING)
            return luaL_error(state, "unhandled argument type return from call");
    }
    char errorText[kErrorTextSize];
    if (!SendOSCMessage(state, url, path, format, tableArg, count, errorText))
        return luaL_error(state, "%s", errorText);
    return 0;
}

int LuaRegisterOSCPathForParameter(lua_State* state)
{
    return RegisterParameterPath(state, false);
}

int LuaRegisterOSCPathForParameterNormalized(lua_State* state)
{
    return RegisterParameterPath(state, true);
}

// registerOSCPathForFunction(path, fn): every function bound to an address
// is called, in the order bound, with the message's arguments.
int LuaRegisterOSCPathForFunction(lua_State* state)
{
    LuaMIDIHelper* helper = CheckHelper(state);
    const char* path = CheckBindablePath(state);
    if (!lua_isfunction(state, 2))
        return luaL_error(state, "second argument to registerOSCPathForFunction is not a function");
    OSCHelper* server = helper->GetOSCHelper();
    if (!server)
        return 0;
    lua_pushvalue(state, 2);
    const int reference = luaL_ref(state, LUA_REGISTRYINDEX);
    if (!AddFunctionBinding(server, path, reference)) {
        luaL_unref(state, LUA_REGISTRYINDEX, reference);
        return luaL_error(state, "not enough memory");
    }
    return 0;
}

} // namespace QZ
