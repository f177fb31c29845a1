// A small in-process plug-in for the Lua MIDI tests: records what reaches its
// MIDI hooks and scales, and feeds host events and blocks like a host does.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/ObryCorvaneBase.h"
#include "framework/vst/VstAbi.h"
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

// A host's event list of short MIDI messages (and SysEx dumps), kept alive
// while the object lives.
class EventList {
public:
    void Midi(uint8_t status, uint8_t data1, uint8_t data2 = 0, int32_t delta = 0)
    {
        VstMidiEvent event{};
        event.type = kVstMidiType;
        event.byteSize = sizeof(VstMidiEvent);
        event.deltaFrames = delta;
        event.midiData[0] = static_cast<char>(status);
        event.midiData[1] = static_cast<char>(data1);
        event.midiData[2] = static_cast<char>(data2);
        entries.push_back({event, {}, {}});
    }
    // A SysEx event; `nullDump` hands a null pointer with the length.
    void SysEx(const std::vector<uint8_t>& dump, int32_t claimedLength = -1, bool nullDump = false)
    {
        Entry entry{};
        entry.bytes.assign(dump.begin(), dump.end());
        entry.sysex.type = kVstSysExType;
        entry.sysex.byteSize = sizeof(VstMidiSysexEvent);
        entry.sysex.dumpBytes = claimedLength >= 0 ? claimedLength : static_cast<int32_t>(dump.size());
        entry.nullDump = nullDump;
        entries.push_back(std::move(entry));
    }
    VstEvents* Events()
    {
        pointers.assign(2 + std::max<size_t>(entries.size(), 2), 0);
        for (size_t i = 0; i < entries.size(); ++i) {
            Entry& e = entries[i];
            if (e.midi.type == kVstMidiType) {
                pointers[2 + i] = reinterpret_cast<intptr_t>(&e.midi);
            } else {
                e.sysex.sysexDump = e.nullDump ? nullptr : reinterpret_cast<char*>(e.bytes.data());
                pointers[2 + i] = reinterpret_cast<intptr_t>(&e.sysex);
            }
        }
        auto* events = reinterpret_cast<VstEvents*>(pointers.data());
        events->numEvents = static_cast<int32_t>(entries.size());
        return events;
    }

private:
    struct Entry {
        VstMidiEvent midi;
        VstMidiSysexEvent sysex;
        std::vector<uint8_t> bytes;
        bool nullDump = false;
    };
    std::vector<Entry> entries;
    std::vector<intptr_t> pointers;
};

} // namespace corvane::test
