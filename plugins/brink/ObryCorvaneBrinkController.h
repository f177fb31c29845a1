// The Brink Controller ('QZsd' as an effect, 'QZsc' as an instrument) drives
// a Brink expander through one stereo output pair: every sample frame
// carries five bytes in two 20-bit data words. The bytes come from fixed
// levels, two monophonic MIDI voice channels (pitch, gate, velocity), five
// groups of eight MIDI-note gates with trigger lengths and accents, up to
// five CV inputs and eight gate inputs; one gate bit can carry a serial MIDI
// output with MIDI clock from the host's tempo and transport. The data
// stream on one input pair can be merged in ("Input Thru").
//
// The machinery it shares with the Carro Controller (gate groups, gate
// inputs, serial MIDI output and clock, "Send", "Input Thru", test frames,
// all sound off, the block loop) is ObryExpanderController's.
//
// Threads: as ObryExpanderController; the voice channels and CV inputs are
// audio thread state, their settings derived only when a parameter changed. The value-name lists are built once per process on
// first request.
#pragma once

#include <cstdint>

#include "plugins/common/ExpanderController.h"
#include "plugins/common/MonoNoteStack.h"

namespace ObryCorvaneBrinkController {

class ObryCorvane : public ObryExpanderController {
public:
    static constexpr int32_t kNumParams = 127;
    static constexpr int32_t kVoiceChannels = 2;
    static constexpr int32_t kGateGroups = 5;
    static constexpr int32_t kCvInputs = 5;

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

    int32_t Initialize() override;
    const char* GetPluginName() override { return "Corvane Brink Controller"; }
    const char* GetGUIScriptName() override { return "gui_brinkcontroller.lua"; }

protected:
    SharedValueNames* OwnValueNames(int32_t index) override;
    bool OwnShowsOffAtZero(int32_t index) const override;
    void RefreshSettings() override;
    void HandleChannelMessage(int32_t status, int32_t channel, int32_t data1, int32_t data2) override;
    // The bytes before the CV inputs: levels, voice channels, gate groups.
    void MakePieceBytes(uint8_t* bytes) override;

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

    void VoiceNoteOn(int32_t v, int32_t note, float velocity);
    void VoiceNoteOff(int32_t v, int32_t note);
    void VoiceAllNotesOff(int32_t v);

    VoiceSettings voiceSettings[kVoiceChannels];
    Voice voices[kVoiceChannels];
};

} // namespace ObryCorvaneBrinkController
