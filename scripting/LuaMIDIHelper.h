// QZ::LuaMIDIHelper: turns the host's MIDI events into items of the owner's
// MIDI queue (queue A) and, when the audio thread takes them out again,
// delivers each one at its frame: to the plug-in's hooks, to the instance
// registry (learned mappings) and to the Lua MIDI scripts.
#pragma once

#include <cstdint>

#include "framework/MessageQueue.h"
#include "framework/ParameterInfo.h"
#include "framework/vst/VstAbi.h"

class ObryCorvaneBase;

namespace QZ {

class OSCHelper;

class LuaMIDIHelper {
public:
    // Keeps only the addresses of the queue and the OSC helper: the owner
    // builds them after this helper.
    LuaMIDIHelper(ObryCorvaneBase* owner, MessageQueue* midiQueue, OSCHelper* oscHelper);
    virtual ~LuaMIDIHelper();
    LuaMIDIHelper(const LuaMIDIHelper&) = delete;
    LuaMIDIHelper& operator=(const LuaMIDIHelper&) = delete;

    // Channel 0-15. Overridden by the plug-in's helper to reach its hooks.
    virtual void NoteOn(int channel, int note, int velocity);
    virtual void NoteOff(int channel, int note, int velocity);
    virtual void ControlChange(int channel, int controller, int value);
    virtual void PitchWheel(int channel, int lsb, int msb);
    // Audio thread: one queue-A item at its frame.
    virtual void ProcessMidiEvent(MessageQueueItem* item);
    virtual bool isParameterUsed(int32_t index);
    virtual void setGUIBoolValue(int index, bool value) = 0;
    virtual bool getGUIBoolValue(int index) = 0;
    virtual void RegisterFunctions() {}

    // Host thread (effProcessEvents): queues the events; answers 1.
    int32_t processEvents(const VstEvents* events);

    // Set by the owner's Initialize before anything else uses the helper.
    void SetParameterTable(int32_t count, const ParameterInfo* table)
    {
        parameterCount = count;
        parameterTable = table;
    }

    ObryCorvaneBase* Owner() const { return owner; }
    OSCHelper* GetOSCHelper() const { return oscHelper; }

protected:
    ObryCorvaneBase* owner;
    MessageQueue* midiQueue;
    OSCHelper* oscHelper;
    int32_t parameterCount = 0;
    const ParameterInfo* parameterTable = nullptr;
};

} // namespace QZ
