// Plug-ins built in the test binary (tests linked with the module's code):
// made and let go as a host does, with InProcessHost as their host callback,
// and what only the plug-in object shows (the indicator block, value lists,
// value texts for a given value). Header only: the test support library does not link
// the module's code.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "plugins/base/ObryCorvaneBase.h"
#include "tests/support/PluginTestSupport.h"

namespace corvane::test {

// Plug-ins leave through close() and ReleaseAfterClose, as the host's
// effClose does: a plug-in a close kept for a thread still running is freed
// when that thread ends. A close that keeps a plug-in fails the test (a test
// that blocks a script on purpose closes and releases it itself).
struct InProcessCloser {
    void operator()(ObryCorvaneBase* plugin) const
    {
        plugin->close();
        if (plugin->MustOutliveClose())
            ADD_FAILURE() << "a close kept the plug-in: a thread of it was still running";
        plugin->ReleaseAfterClose();
    }
};
template <class Plugin>
using InProcessPlugin = std::unique_ptr<Plugin, InProcessCloser>;

// A plug-in constructed with InProcessHost (and any further constructor
// arguments), at 48 kHz, blocks of 512, resumed.
template <class Plugin, class... Args>
InProcessPlugin<Plugin> MakeInProcess(Args... args)
{
    InProcessPlugin<Plugin> plugin(new Plugin(InProcessHost, args...));
    plugin->setSampleRate(48000);
    plugin->setBlockSize(512);
    plugin->resume();
    return plugin;
}

// Element `element` of the indicator block, counted in units of T.
template <class T = float>
T ReadIndicator(ObryCorvaneBase& plugin, int element)
{
    T value;
    memcpy(&value, plugin.GetIndicatorBlock() + element * sizeof(T), sizeof value);
    return value;
}

// The names of a value list (GetParameterValueStrings), or {"<error>"} when
// the hook refuses.
inline std::vector<std::string> ValueNames(ObryCorvaneBase& plugin, uint32_t scope, uint32_t index)
{
    CFArray* names = nullptr;
    if (plugin.GetParameterValueStrings(scope, index, &names) != 0)
        return {"<error>"};
    std::vector<std::string> texts;
    for (size_t i = 0; names && i < names->Count(); ++i)
        texts.push_back(static_cast<CFString*>(names->At(i))->CString());
    if (names)
        names->Release();
    return texts;
}

// The text the StringFromValue hook gives for a value, "<none>" when it
// gives none and "<refused>" when the parameter has no texts of its own.
inline std::string TextFor(ObryCorvaneBase& plugin, uint32_t index, float value)
{
    AudioUnitParameterStringFromValue request{index, &value, nullptr};
    if (!plugin.StringFromValue(request))
        return "<refused>";
    return request.outString ? request.outString->CString() : "<none>";
}

// The value text property for a given value (null: the current one): the
// result code and the text, or "<none>".
inline std::pair<int32_t, std::string> TextOf(ObryCorvaneBase& plugin, uint32_t index, const float* value)
{
    AudioUnitParameterStringFromValue request{index, value, nullptr};
    const int32_t result = plugin.GetProperty(kAudioUnitProperty_ParameterStringFromValue, 0, 0, &request);
    std::string text = "<none>";
    if (request.outString) {
        text = request.outString->CString();
        request.outString->Release();
    }
    return {result, text};
}

// A host's event list of short MIDI messages and SysEx dumps, kept alive while
// the object lives: hand Events() to processEvents.
class HostEvents {
public:
    HostEvents& Midi(uint8_t status, uint8_t data1, uint8_t data2 = 0, int32_t delta = 0)
    {
        Entry entry{};
        entry.midi.type = kVstMidiType;
        entry.midi.byteSize = sizeof(VstMidiEvent);
        entry.midi.deltaFrames = delta;
        entry.midi.midiData[0] = static_cast<char>(status);
        entry.midi.midiData[1] = static_cast<char>(data1);
        entry.midi.midiData[2] = static_cast<char>(data2);
        entries.push_back(std::move(entry));
        return *this;
    }
    // `claimedLength` -1: the dump's size; `nullDump` hands a null pointer.
    HostEvents& SysEx(const std::vector<uint8_t>& dump, int32_t claimedLength = -1, bool nullDump = false)
    {
        Entry entry{};
        entry.bytes = dump;
        entry.sysex.type = kVstSysExType;
        entry.sysex.byteSize = sizeof(VstMidiSysexEvent);
        entry.sysex.dumpBytes = claimedLength >= 0 ? claimedLength : static_cast<int32_t>(dump.size());
        entry.nullDump = nullDump;
        entries.push_back(std::move(entry));
        return *this;
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

// A three-byte MIDI event `delta` frames into the block, as a host hands it.
inline VstMidiEvent ShortMidiEvent(int delta, int status, int data1, int data2)
{
    VstMidiEvent e{};
    e.type = kVstMidiType;
    e.byteSize = sizeof e;
    e.deltaFrames = delta;
    e.midiData[0] = static_cast<char>(status);
    e.midiData[1] = static_cast<char>(data1);
    e.midiData[2] = static_cast<char>(data2);
    return e;
}

// Hands `events` to `plugin` as a host's effProcessEvents does (the list
// lives for the call), then empties them; nothing when there are none.
template <class Plugin>
void SendEvents(Plugin& plugin, std::vector<VstMidiEvent>& events)
{
    if (events.empty())
        return;
    std::vector<intptr_t> list(2 + events.size(), 0);
    auto* header = reinterpret_cast<VstEvents*>(list.data());
    header->numEvents = static_cast<int32_t>(events.size());
    for (size_t i = 0; i < events.size(); ++i)
        list[2 + i] = reinterpret_cast<intptr_t>(&events[i]);
    plugin.processEvents(header);
    events.clear();
}

} // namespace corvane::test
