#include "scripting/LuaMIDIHelper.h"

#include "framework/InstanceRegistry.h"
#include "framework/ObryCorvaneBase.h"

namespace QZ {

LuaMIDIHelper::LuaMIDIHelper(ObryCorvaneBase* owner, MessageQueue* midiQueue, OSCHelper* oscHelper)
    : owner(owner), midiQueue(midiQueue), oscHelper(oscHelper)
{
}

LuaMIDIHelper::~LuaMIDIHelper() = default;

void LuaMIDIHelper::NoteOn(int, int, int) {}
void LuaMIDIHelper::NoteOff(int, int, int) {}
void LuaMIDIHelper::ControlChange(int, int, int) {}
void LuaMIDIHelper::PitchWheel(int, int, int) {}

bool LuaMIDIHelper::isParameterUsed(int32_t)
{
    return true;
}

int32_t LuaMIDIHelper::processEvents(const VstEvents* events)
{
    if (!events || events->numEvents <= 0)
        return 1;
    for (int32_t i = 0; i < events->numEvents; ++i) {
        const VstEvent* event = events->events[i];
        if (!event)
            continue;
        if (event->type == kVstMidiType) {
            const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
            const int32_t delta = midi->deltaFrames > 0 ? midi->deltaFrames : 0;
            midiQueue->WriteMIDI(static_cast<uint8_t>(midi->midiData[0]), static_cast<uint8_t>(midi->midiData[1]),
                                 static_cast<uint8_t>(midi->midiData[2]), static_cast<uint32_t>(delta));
        } else if (event->type == kVstSysExType) {
            const auto* sysex = reinterpret_cast<const VstMidiSysexEvent*>(event);
            // An empty dump, or one that does not start with 0xF0, is dropped:
            // its length minus the status byte would be meaningless.
            if (sysex->dumpBytes < 1 || !sysex->sysexDump || static_cast<uint8_t>(sysex->sysexDump[0]) != 0xF0)
                continue;
            midiQueue->WriteSysEx(reinterpret_cast<const uint8_t*>(sysex->sysexDump) + 1,
                                  static_cast<uint32_t>(sysex->dumpBytes - 1));
        }
    }
    return 1;
}

// audio thread: no allocation, no blocking lock
void LuaMIDIHelper::ProcessMidiEvent(MessageQueueItem* item)
{
    if (!item || item->type != MessageQueueItem::kShortMIDI)
        return;
    const int status = item->data[0];
    const int channel = item->data[1];
    const int data1 = item->data[2];
    const int data2 = item->data[3];
    switch (status) {
    case 0x90:
        if (data2 == 0)
            NoteOff(channel, data1, 0);
        else
            NoteOn(channel, data1, data2);
        break;
    case 0x80:
        NoteOff(channel, data1, data2);
        break;
    case 0xB0:
        ControlChange(channel, data1, data2);
        break;
    case 0xE0:
        PitchWheel(channel, data1, data2);
        break;
    default:
        break;
    }
    InstanceRegistry::HandleMIDIMessage(item, owner);
}

} // namespace QZ
