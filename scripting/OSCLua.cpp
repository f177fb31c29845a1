// The server's road into the instance's MIDI Lua state: "/exec", "/call",
// and the addresses that scripts bound to parameters and functions.
//
// Listen thread; everything that touches the Lua state holds the Lua MIDI
// helper's Lua lock. The binding maps are guarded by the same lock.
//
// Requests come from the network: a function is found by its global name
// only (nothing from the network is ever run as code), the stack is checked
// before the arguments go on it, and every push and call runs inside
// lua_cpcall, so even a memory error of the capped state unwinds into an
// error reply instead of Lua's panic. The protected part works on a plain
// record: Lua errors unwind with longjmp, past any C++ destructor.
#include "scripting/OSCHelper.h"

#include <lua.hpp>

#include <cstring>
#include <string>

#include <osc/OscException.h>

#include "framework/ObryProperties.h"
#include "platform/Debug.h"
#include "scripting/LuaMIDIFunctions.h"
#include "scripting/LuaMIDIHelper.h"
#include "scripting/OSCPacket.h"
#include "scripting/OSCSocket.h"

namespace QZ {

namespace {

constexpr int kMaxResults = 16;

// One OSC argument converted for Lua.
struct LuaArgument {
    char kind; // 'b' boolean, 'n' number, 's' string, '0' nil
    bool boolean;
    double number;
    const char* text; // points into the packet
};

enum class CallStatus { kDone, kNotAFunction, kRefused, kFailed, kNoStackRoom, kUnhandledResult };

struct LuaResult {
    bool isString;
    double number;
    size_t offset; // into LuaCall::text
};

// Everything the protected part reads and writes. Plain data only.
struct LuaCall {
    LuaMIDIHelper* helper;
    const char* functionName; // a global's name, or null to use `reference`
    int reference;
    const LuaArgument* arguments;
    int argumentCount;
    bool wantResults;
    std::string* errorText; // lives in the caller's frame, outside the protected part
    CallStatus status;
    int resultCount;
    LuaResult results[kMaxResults];
    char text[OSCReplyPacket::kBufferSize];
    size_t textUsed;
    bool textOverflow;
};

std::vector<LuaArgument> ConvertArguments(const osc::ReceivedMessage& message, uint32_t skip)
{
    std::vector<LuaArgument> converted;
    uint32_t position = 0;
    for (auto i = message.ArgumentsBegin(); i != message.ArgumentsEnd(); ++i, ++position) {
        if (position < skip)
            continue;
        LuaArgument argument{'0', false, 0.0, nullptr};
        switch (i->TypeTag()) {
        case osc::TRUE_TYPE_TAG:
        case osc::FALSE_TYPE_TAG:
            argument.kind = 'b';
            argument.boolean = i->AsBoolUnchecked();
            break;
        case osc::FLOAT_TYPE_TAG:
            argument.kind = 'n';
            argument.number = i->AsFloatUnchecked();
            break;
        case osc::DOUBLE_TYPE_TAG:
            argument.kind = 'n';
            argument.number = i->AsDoubleUnchecked();
            break;
        case osc::INT32_TYPE_TAG:
            argument.kind = 'n';
            argument.number = i->AsInt32Unchecked();
            break;
        case osc::INT64_TYPE_TAG:
            argument.kind = 'n';
            argument.number = static_cast<double>(i->AsInt64Unchecked());
            break;
        case osc::STRING_TYPE_TAG:
            argument.kind = 's';
            argument.text = i->AsStringUnchecked();
            break;
        case osc::NIL_TYPE_TAG:
            break;
        default:
            throw osc::Exception("unhandled argument type to exec");
        }
        converted.push_back(argument);
    }
    return converted;
}

// Called by the protected part with the function below its arguments: calls
// it with kMaxResults results and stores them in the table of upvalue 1.
int CollectResults(lua_State* state)
{
    const int argumentCount = lua_gettop(state) - 1;
    lua_checkstack(state, kMaxResults + 2);
    lua_call(state, argumentCount, kMaxResults);
    for (int i = kMaxResults; i >= 1; --i)
        lua_rawseti(state, lua_upvalueindex(1), i);
    return 0;
}

void CopyResult(lua_State* state, LuaCall& call, int stackIndex)
{
    LuaResult& result = call.results[call.resultCount++];
    if (lua_type(state, stackIndex) == LUA_TNUMBER) {
        result.isString = false;
        result.number = lua_tonumber(state, stackIndex);
        return;
    }
    size_t length = 0;
    const char* text = lua_tolstring(state, stackIndex, &length);
    result.isString = true;
    result.offset = call.textUsed;
    if (call.textUsed + length + 1 > sizeof call.text) {
        call.textOverflow = true;
        result.offset = 0;
        return;
    }
    memcpy(call.text + call.textUsed, text, length);
    call.text[call.textUsed + length] = 0;
    call.textUsed += length + 1;
}

// Runs under lua_cpcall with the Lua lock held.
int RunCall(lua_State* state)
{
    LuaCall& call = *static_cast<LuaCall*>(lua_touserdata(state, 1));
    lua_settop(state, 0);
    if (!lua_checkstack(state, call.argumentCount + kMaxResults + 8)) {
        call.status = CallStatus::kNoStackRoom;
        return 0;
    }
    lua_newtable(state); // 1: the results
    if (call.wantResults) {
        lua_pushvalue(state, 1);
        lua_pushcclosure(state, CollectResults, 1);
    }
    if (call.functionName) {
        // A raw read: a metatable on the globals (a "strict" script) must not
        // run for a name that came from the network.
        lua_pushstring(state, call.functionName);
        lua_rawget(state, LUA_GLOBALSINDEX);
    } else {
        lua_rawgeti(state, LUA_REGISTRYINDEX, call.reference);
    }
    if (!lua_isfunction(state, -1)) {
        call.status = CallStatus::kNotAFunction;
        return 0;
    }
    // By name, the network reaches the functions the scripts wrote in Lua
    // and the API functions meant for it; never the standard library
    // (dofile, require, io, os, debug...), even under another name.
    if (call.functionName && lua_iscfunction(state, -1) && !IsNetworkCallable(lua_tocfunction(state, -1))) {
        call.status = CallStatus::kRefused;
        return 0;
    }
    for (int i = 0; i < call.argumentCount; ++i) {
        const LuaArgument& argument = call.arguments[i];
        switch (argument.kind) {
        case 'b': lua_pushboolean(state, argument.boolean ? 1 : 0); break;
        case 'n': lua_pushnumber(state, argument.number); break;
        case 's': lua_pushstring(state, argument.text); break;
        default: lua_pushnil(state); break;
        }
    }
    if (call.helper->CallLocked(call.argumentCount + (call.wantResults ? 1 : 0), call.errorText) != 0) {
        call.status = CallStatus::kFailed;
        return 0;
    }
    call.status = CallStatus::kDone;
    if (!call.wantResults)
        return 0;
    for (int i = 1; i <= kMaxResults; ++i) {
        lua_rawgeti(state, 1, i);
        const int type = lua_type(state, -1);
        if (type == LUA_TNIL)
            break;
        if (type != LUA_TNUMBER && type != LUA_TSTRING) {
            call.status = CallStatus::kUnhandledResult;
            break;
        }
        CopyResult(state, call, -1);
        lua_pop(state, 1);
    }
    return 0;
}

// Lua lock held by the caller. Leaves the stack as it found it.
void RunLocked(lua_State* state, LuaCall& call)
{
    const int top = lua_gettop(state);
    call.status = CallStatus::kFailed;
    call.resultCount = 0;
    call.textUsed = 0;
    call.textOverflow = false;
    if (call.helper->RunProtected(RunCall, &call) != 0) {
        if (call.errorText) {
            const char* text = lua_tostring(state, -1);
            *call.errorText = text ? text : "error";
        }
        call.status = CallStatus::kFailed;
    }
    lua_settop(state, top);
}

} // namespace

// "/exec" name args... and "/call" name url path args...
void OSCHelper::HandleExec(const osc::ReceivedMessage& message, bool withResults, const IpEndpointName& remote)
{
    osc::ReceivedMessageArgumentStream args = message.ArgumentStream();
    const char* name = nullptr;
    const char* url = nullptr;
    const char* path = nullptr;
    args >> name;
    if (withResults)
        args >> url >> path;
    const std::vector<LuaArgument> arguments = ConvertArguments(message, withResults ? 3 : 1);
    if (!luaHelper)
        throw osc::Exception("no Lua support from OSC");
    // Resolved before the Lua lock is taken: a slow name lookup must not
    // hold up the audio thread's MIDI delivery.
    IpEndpointName target;
    if (withResults)
        target = ResolveReplyURLFor(url, remote);

    std::string errorText;
    LuaCall call{};
    call.helper = luaHelper;
    call.functionName = name;
    call.arguments = arguments.data();
    call.argumentCount = static_cast<int>(arguments.size());
    call.wantResults = withResults;
    call.errorText = &errorText;
    {
        std::lock_guard<std::recursive_mutex> lock(luaHelper->LuaLock());
        lua_State* state = luaHelper->LuaState();
        if (!state)
            throw osc::Exception("no Lua support from OSC");
        RunLocked(state, call);
    }
    switch (call.status) {
    case CallStatus::kDone: break;
    case CallStatus::kNoStackRoom: throw osc::ExcessArgumentException();
    case CallStatus::kUnhandledResult: throw osc::Exception("unhandled argument type return from call");
    case CallStatus::kRefused: throw osc::Exception("function not callable from OSC");
    case CallStatus::kNotAFunction:
    case CallStatus::kFailed:
        if (!errorText.empty())
            corvane::DebugPrintf("OSC %s %s: %s\n", withResults ? "/call" : "/exec", name, errorText.c_str());
        throw osc::Exception("failed to exec function");
    }
    if (!withResults)
        return;
    if (call.textOverflow)
        throw osc::OutOfBufferMemoryException();
    OSCReplyPacket reply(path);
    for (int i = 0; i < call.resultCount; ++i) {
        const LuaResult& result = call.results[i];
        if (result.isString)
            reply.Stream() << call.text + result.offset;
        else
            reply.Stream() << static_cast<float>(result.number);
    }
    reply.SendTo(target);
}

// ---------------------------------------------------------------------------
// Lua-bound addresses.

bool OSCHelper::HandleParameterPath(const osc::ReceivedMessage& message)
{
    if (!luaHelper || bindingCount.load(std::memory_order_acquire) == 0)
        return false;
    std::vector<std::vector<ParameterBinding>> found;
    {
        std::lock_guard<std::recursive_mutex> lock(luaHelper->LuaLock());
        const auto range = parameterBindings.equal_range(message.AddressPattern());
        for (auto i = range.first; i != range.second; ++i)
            found.push_back(i->second);
    }
    if (found.empty())
        return false;
    // Every binding of one address has the same length.
    const size_t count = found.front().size();
    std::vector<float> values(count);
    osc::ReceivedMessageArgumentStream args = message.ArgumentStream();
    for (float& value : values)
        args >> value;
    args >> osc::EndMessage;
    for (const std::vector<ParameterBinding>& bindings : found) {
        for (size_t i = 0; i < count && i < bindings.size(); ++i) {
            const ParameterBinding& binding = bindings[i];
            if (binding.index >= 0 && binding.index < parameterCount)
                owner->SetParameterValue(binding.index, values[i] * binding.scale + binding.offset, true);
        }
    }
    return true;
}

bool OSCHelper::HandleFunctionPath(const osc::ReceivedMessage& message)
{
    if (!luaHelper || bindingCount.load(std::memory_order_acquire) == 0)
        return false;
    std::vector<int> references;
    {
        std::lock_guard<std::recursive_mutex> lock(luaHelper->LuaLock());
        const auto range = functionBindings.equal_range(message.AddressPattern());
        for (auto i = range.first; i != range.second; ++i)
            references.push_back(i->second.reference);
    }
    if (references.empty())
        return false;
    const std::vector<LuaArgument> arguments = ConvertArguments(message, 0);
    std::string errorText;
    for (const int reference : references) {
        LuaCall call{};
        call.helper = luaHelper;
        call.reference = reference;
        call.arguments = arguments.data();
        call.argumentCount = static_cast<int>(arguments.size());
        call.errorText = &errorText;
        {
            std::lock_guard<std::recursive_mutex> lock(luaHelper->LuaLock());
            lua_State* state = luaHelper->LuaState();
            if (!state)
                throw osc::Exception("no Lua support from OSC");
            RunLocked(state, call);
        }
        if (call.status == CallStatus::kNoStackRoom)
            throw osc::ExcessArgumentException();
        if (call.status != CallStatus::kDone) {
            if (!errorText.empty())
                corvane::DebugPrintf("OSC %s: %s\n", message.AddressPattern(), errorText.c_str());
            throw osc::Exception("failed to pcall function");
        }
    }
    return true;
}

bool OSCHelper::AddParameterBindingsLocked(const std::string& path, const std::vector<ParameterBinding>& bindings)
{
    const auto existing = parameterBindings.find(path);
    if (existing != parameterBindings.end() && existing->second.size() != bindings.size()) {
        corvane::DebugPrintf("inconsistent sizes in RegisterOSCPathForParameter\n");
        return false;
    }
    parameterBindings.emplace(path, bindings);
    bindingCount.fetch_add(1, std::memory_order_release);
    return true;
}

void OSCHelper::AddFunctionBindingLocked(const std::string& path, int reference)
{
    functionBindings.emplace(path, FunctionBinding{reference});
    bindingCount.fetch_add(1, std::memory_order_release);
}

OSCHelper::ParameterBinding OSCHelper::MakeParameterBinding(int32_t index, bool normalized) const
{
    if (!normalized || !parameterTable || index < 0 || index >= parameterCount)
        return {index, 0.0f, 1.0f};
    const ParameterInfo& info = parameterTable[index];
    return {index, info.min, info.max - info.min};
}

} // namespace QZ
