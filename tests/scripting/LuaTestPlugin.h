// A small in-process plug-in for the Lua MIDI tests: records what reaches its
// MIDI hooks and scales, and feeds host events and blocks like a host does.
// Also: Lua run in a helper's state as the other threads do.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <lua.hpp>

#include "plugins/base/ObryCorvaneBase.h"
#include "framework/vst/VstAbi.h"
#include "scripting/LuaMIDIHelper.h"
#include "tests/support/InProcessPlugin.h"
#include "tests/scripting/ScriptFolders.h"

namespace corvane::test {

inline const ParameterInfo kLuaTestParameters[] = {
    {"OSC Port Offset", kAudioUnitParameterUnit_Indexed, 0, 100, 0},
    {"Level", kAudioUnitParameterUnit_Generic, -10, 10, 0},
    {"Level", kAudioUnitParameterUnit_Generic, -5, 5, 1},
    {"Rate", kAudioUnitParameterUnit_Hertz, 0.25f, 100, 1},
    {nullptr, kAudioUnitParameterUnit_Generic, 0, 1, 0},
};
constexpr int32_t kLuaTestParameterCount = 5;
inline constexpr const char* kLuaTestPluginName = "Corvane LuaTest";

inline FactoryPresetTable& LuaTestPresets()
{
    static FactoryPresetTable presets{{"Defaults", {}}};
    return presets;
}

struct HookCall {
    std::string hook;
    int channel, a, b;
    bool operator==(const HookCall&) const = default;
};

class LuaTestPlugin : public ObryCorvaneBase {
public:
    LuaTestPlugin()
        : ObryCorvaneBase(nullptr, 0, 1, false, vst::FourCC("LuaT"), 0, 1, &LuaTestPresets(),
                          kLuaTestParameterCount, kLuaTestParameters,
                          ObryProgramBasic<kLuaTestParameterCount>::Create)
    {
        Initialize();
    }

    void NoteOn(int channel, int note, int velocity) override { Record("NoteOn", channel, note, velocity); }
    void NoteOff(int channel, int note, int velocity) override { Record("NoteOff", channel, note, velocity); }
    void ControlChange(int channel, int controller, int value) override { Record("CC", channel, controller, value); }
    void PitchWheel(int channel, int lsb, int msb) override { Record("PitchWheel", channel, lsb, msb); }
    void AddScale(const char* name, uint16_t mask) override { scales.emplace_back(name, mask); }
    const char* GetPluginName() override { return kLuaTestPluginName; }
    const char* GetGUIScriptName() override { return "gui.lua"; }

    bool MidiQueueEmpty() const { return queueA.Empty(); }
    void SetCloseBudget(std::chrono::milliseconds budget) { closeBudgetLength = budget; }

    // One host block of `frames` frames (no inputs, one output).
    void Block(int32_t frames = 64)
    {
        output.assign(static_cast<size_t>(frames), 0.0f);
        float* outputs[1] = {output.data()};
        processReplacing(nullptr, outputs, frames);
    }

    bool recordHooks = true;
    std::vector<HookCall> hooks;
    std::vector<std::pair<std::string, uint16_t>> scales;
    std::vector<float> output;

private:
    void Record(const char* hook, int channel, int a, int b)
    {
        if (recordHooks)
            hooks.push_back({hook, channel, a, b});
    }
};

// Lua text run in a helper's state the way other threads call into it, under
// the chunk name "test" (errors read "test:1: ..."); the error, empty on success.
inline std::string RunLua(QZ::LuaMIDIHelper& helper, const std::string& code)
{
    std::lock_guard<std::recursive_mutex> lock(helper.LuaLock());
    lua_State* state = helper.LuaState();
    if (luaL_loadbuffer(state, code.data(), code.size(), "=test") != 0) {
        std::string error = lua_tostring(state, -1);
        lua_pop(state, 1);
        return error;
    }
    std::string error;
    return helper.CallLocked(0, &error) == 0 ? std::string() : error;
}

// The value of a Lua expression as a number (NaN when it is none) or as text
// ("<error>" when it fails).
inline double LuaNumber(QZ::LuaMIDIHelper& helper, const std::string& expression)
{
    std::lock_guard<std::recursive_mutex> lock(helper.LuaLock());
    lua_State* state = helper.LuaState();
    const int top = lua_gettop(state);
    double value = NAN;
    if (luaL_dostring(state, ("return " + expression).c_str()) == 0 && lua_isnumber(state, -1))
        value = lua_tonumber(state, -1);
    lua_settop(state, top);
    return value;
}

inline std::string LuaText(QZ::LuaMIDIHelper& helper, const std::string& expression)
{
    std::lock_guard<std::recursive_mutex> lock(helper.LuaLock());
    lua_State* state = helper.LuaState();
    const int top = lua_gettop(state);
    std::string value = "<error>";
    if (luaL_dostring(state, ("return " + expression).c_str()) == 0) {
        const char* text = lua_tostring(state, -1);
        value = text ? text : "<not a string>";
    }
    lua_settop(state, top);
    return value;
}

} // namespace corvane::test
