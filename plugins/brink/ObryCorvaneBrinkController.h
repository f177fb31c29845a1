// The Brink Controller ('QZsd' as an effect, 'QZsc' as an instrument) drives
// a Brink expander through one stereo output pair: every sample frame
// carries five bytes in two 20-bit data words. The bytes come from fixed
// levels, two monophonic MIDI voice channels (pitch, gate, velocity), five
// groups of eight MIDI-note gates with trigger lengths and accents, up to
// five CV inputs and eight gate inputs; one gate bit can carry a serial MIDI
// output with MIDI clock from the host's tempo and transport. The data
// stream on one input pair can be merged in ("Input Thru").
//
// Threads: BeginBlock, BeginSubBlock, ProcessBlockWithEvents,
// HandleQueuedMessage and the MIDI handling run on the audio thread and
// allocate nothing (the MIDI-out ring is made by Initialize). SetProperty
// (all sound off) comes from the host or the editor and only queues a
// command for the audio thread. The value-name lists are built once per
// process on first request.
#pragma once

#include <atomic>
#include <cstdint>

#include "framework/ObryCorvaneBase.h"
#include "plugins/common/ExpanderControl.h"
#include "plugins/common/ExpanderDataWords.h"
#include "plugins/common/MonoNoteStack.h"

// Plug-in property: all sound off (any data; the work is done on the audio thread).
constexpr uint32_t kObryProperty_AllSoundOff = 64094;

namespace ObryCorvaneBrinkController {

class ObryCorvane : public ObryCorvaneBase {
public:
    static constexpr int32_t kNumParams = 127;
    static constexpr int32_t kNumInputs = 8;
    static constexpr int32_t kNumOutputs = 2;
    static constexpr int32_t kVoiceChannels = 2;
    static constexpr int32_t kGateGroups = 5;
    static constexpr int32_t kCvInputs = 5;
    static constexpr int32_t kGateInputs = 8;
    // Where the last frame's bytes B1..B5 are shown in the indicator block.
    static constexpr int32_t kIndicatorFrameBytes = 40;

    enum Parameter : int32_t {
        kOutput1 = 0, // .. kOutput1 + 4
        kOSCPortOffset = 5,
        kTestSignal = 6,
        kChMidiChannel = 7, // voice channel group; channel 2 = + kVoiceGroupSize
        kChRangeMin,
        kChRangeMax,
        kChGateOutput,
        kChVelOutput,
        kChNotePriority,
        kChRetriggerMode,
        kGatesMidiChannel = 21, // group k: + 2k; its base note right after
        kGatesBaseNote = 22,
        kByte1 = 31,
        kByte2,
        kByte3,
        kBytes,
        kSend,
        kMidiOutMidiChannel = 36,
        kMidiOutOutput,
        kMidiOutClock,
        kMidiClockSwing,
        kMidiClockSwingType,
        kUnused0 = 41,
        kInputThru = 45,
        kInput1 = 46,     // .. 50
        kInputMode1 = 51, // .. 55
        kMidiClockOffset = 56,
        kUnused4 = 57,
        kTriggerLength = 58, // group k gate j: + 8k + j
        kMidiOutChannelise = 98,
        kAccent = 99,         // group k accent m: + 4k + m
        kInputToGate1 = 119,  // .. 126
    };
    static constexpr int32_t kVoiceGroupSize = 7;

    ObryCorvane(audioMasterCallback audioMaster, bool isSynth);

    bool getInputProperties(int32_t index, VstPinProperties* properties) override;
    bool getOutputProperties(int32_t index, VstPinProperties* properties) override;
    int32_t GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray) override;
    int32_t GetPropertyInfo(uint32_t id, uint32_t scope, uint32_t element, uint32_t* size,
                            uint8_t* writable) override;
    int32_t SetProperty(uint32_t id, uint32_t scope, uint32_t element, const void* data, uint32_t size) override;
    int32_t Initialize() override;
    bool BeginBlock(int32_t frames) override;
    void BeginSubBlock(int32_t frames) override;
    void ProcessBlockWithEvents(float** inputs, float** outputs, int32_t frames) override;
    void HandleQueuedMessage(QZ::MessageQueueItem* item) override;
    uint32_t GetParameterFlags(int32_t index) override;
    bool StringFromValue(AudioUnitParameterStringFromValue& request) override;
    const char* GetPluginName() override { return "Corvane Brink Controller"; }
    const char* GetGUIScriptName() override { return "gui_brinkcontroller.lua"; }

    // For tests and the editor (audio thread state; read it only while no
    // block runs).
    const SerialMidiLine& MidiOut() const { return midiOut; }
    const ExpanderMidiClock& Clock() const { return clock; }

private:
    struct VoiceSettings {
        int32_t channel = 0; // 0 = off, 1..16
        float rangeMin = 0.0f;
        float rangeMax = 0.0f;
        int32_t gateOutput = 0; // 0 off, 1..5 outputs, 6..45 gates 1/1 .. 5/8
        int32_t velOutput = 0;  // 0 off, 1..5 outputs
        int32_t priority = 0;
        int32_t retriggerMode = 0; // 0 "Retrig On", 1 "Retrig Off"
    };
    struct Voice {
        float note = 0.0f;
        float velocity = 0.0f; // 0..1
        bool gate = false;
        int32_t retrigger = 0; // set to 10 by a (re)triggering note on; read by nothing yet
        MonoNoteStack notes;
    };

    // A program value held to its parameter's range (its default when NaN).
    float Param(int32_t index);
    int32_t IntParam(int32_t index) { return static_cast<int32_t>(Param(index)); }

    // Reads the voice, gate-group and MIDI-out settings (before every MIDI
    // message and at block start).
    void RefreshSettings();
    // One queue-A message: serial forwarding, voices, gate groups.
    void HandleMidi(const QZ::MessageQueueItem& item);
    void VoiceNoteOn(int32_t v, int32_t note, float velocity);
    void VoiceNoteOff(int32_t v, int32_t note);
    void VoiceAllNotesOff(int32_t v);
    void DeliverEvent(QZ::MessageQueueItem* item);
    void ReadRateAndClockSettings();

    // The bytes every sample of a piece starts from.
    void MakePieceBytes(uint8_t* bytes);
    // Encodes `frames` samples from `first` on.
    void EncodePiece(float** inputs, float** outputs, int32_t first, int32_t frames);

    VoiceSettings voiceSettings[kVoiceChannels];
    Voice voices[kVoiceChannels];
    ExpanderGateGroups gateGroups;
    SerialMidiLine midiOut;
    ExpanderMidiClock clock;
    int32_t midiOutChannel = 0;
    int32_t channelise = 0;

    // Per piece (BeginSubBlock).
    double rate = 0.0; // the host sample rate, 0 when unusable
    int32_t rateClass = 0;
    int32_t testSignal = 0;
    int32_t midiOutBit = 0; // gate 0..39 that carries the serial line
    ExpanderMidiClock::Settings clockSettings;
    int32_t thruPair = -1;          // -1 none; pair p = inputs 2p, 2p+1
    int32_t cvInput[kCvInputs] = {}; // input channel 0..7, or -1
    bool cvBipolar[kCvInputs] = {};
    int32_t gateInputBit[kGateInputs] = {}; // gate 0..39, or -1

    uint32_t testCounter = 0;
    bool sendWasOn = false;
    // An all-sound-off request waits in the command queue (any thread sets
    // it, the audio thread clears it).
    std::atomic<bool> allSoundOffPending{false};
};

} // namespace ObryCorvaneBrinkController
