// Host event lists through effProcessEvents and the next block: MIDI and
// SysEx events with any bytes, delta frames and sizes, for the plug-in
// classes that play notes or map controllers (the first byte picks one).
#include <cstdint>
#include <vector>

#include "framework/vst/VstAbi.h"
#include "fuzz/FuzzHost.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using corvane::fuzz::Reader;
    Reader in(data, size);
    ObryCorvaneBase* plugin = corvane::fuzz::Plugin(corvane::fuzz::kPluginIds[in.Byte() % corvane::fuzz::kPluginCount]);
    if (!plugin)
        return 0;
    const int count = in.Byte() % 64;
    std::vector<VstMidiEvent> midi(static_cast<size_t>(count));
    std::vector<VstMidiSysexEvent> sysex(static_cast<size_t>(count));
    std::vector<VstEvent*> list(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const uint8_t kind = in.Byte();
        const int32_t delta = static_cast<int32_t>(in.U32() % 256) - 64; // some before, some past the block
        if (kind & 1) {
            VstMidiSysexEvent& event = sysex[static_cast<size_t>(i)];
            event = {};
            event.type = kVstSysExType;
            event.byteSize = sizeof event;
            event.deltaFrames = delta;
            size_t taken = 0;
            event.sysexDump = const_cast<char*>(reinterpret_cast<const char*>(in.Bytes(in.Byte(), &taken)));
            event.dumpBytes = static_cast<int32_t>(taken);
            list[static_cast<size_t>(i)] = reinterpret_cast<VstEvent*>(&event);
        } else {
            VstMidiEvent& event = midi[static_cast<size_t>(i)];
            event = {};
            event.type = kind & 2 ? kVstMidiType : static_cast<int32_t>(kind >> 2);
            event.byteSize = sizeof event;
            event.deltaFrames = delta;
            for (char& byte : event.midiData)
                byte = static_cast<char>(in.Byte());
            list[static_cast<size_t>(i)] = reinterpret_cast<VstEvent*>(&event);
        }
    }
    // VstEvents ends in a two-pointer array; the host's list is longer.
    std::vector<uint8_t> block(sizeof(VstEvents) + sizeof(VstEvent*) * static_cast<size_t>(count));
    auto* events = reinterpret_cast<VstEvents*>(block.data());
    events->numEvents = count;
    VstEvent** slots = events->events;
    for (int i = 0; i < count; ++i)
        slots[i] = list[static_cast<size_t>(i)];
    AEffect* effect = plugin->getAeffect();
    effect->dispatcher(effect, effProcessEvents, 0, 0, events, 0.0f);
    corvane::fuzz::ProcessBlock(plugin);
    return 0;
}
