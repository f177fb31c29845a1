// CV To MIDI: watches its two input signals and turns them into MIDI messages
// for a MIDI output port of the computer (not the host). Per channel: a
// controller whose value follows the signal, and notes whose pitch follows
// the signal, started continuously or by a gate taken from the other input.
// Audio passes through unchanged.
//
// Threads: BeginBlock and Process run on the audio thread; they only write
// the MIDISender's ring (no allocation, no blocking, no I/O). The sender
// thread sends to the port. Property 64100 (the port's name) is set from the
// host's or editor's thread, which also opens the port.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "plugins/base/ObryCorvaneBase.h"
#include "plugins/cvtomidi/MIDISender.h"
#include "plugins/cvtomidi/ObryProgramQVcmv1.h"

constexpr uint32_t kObryProperty_MIDIOutputDevice = 64100;

namespace ObryCorvaneCVToMIDI {

class ObryCorvane final : public ObryCorvaneBase {
public:
    static constexpr int32_t kNumParams = ObryProgramQVcmv1::kNumParams;
    static constexpr int32_t kChannels = 2;
    static constexpr int32_t kChannelParams = 14;
    // Longest device name, without its NUL (the state keeps 256 bytes).
    static constexpr size_t kMaxDeviceNameLength = ObryProgramQVcmv1::kDeviceNameSize - 1;

    // Channel parameters at 1 + 14 * channel + offset.
    enum ChannelParameter : int32_t {
        kEnable = 0,
        kChannel = 1,
        kEnableCC = 2,
        kSendCC = 3,
        kCCMin = 4,
        kCCMax = 5,
        kEnableNote = 6,
        kNoteOnMode = 7,
        kNoteOffMode = 8,
        kGateCloseMsg = 9,
        kPitchCentre = 10,
        kPitchSlope = 11,
        kGateThreshold = 12,
        kMaxNoteLength = 13,
    };
    static constexpr int32_t ParameterIndex(int32_t channel, ChannelParameter which)
    {
        return 1 + kChannelParams * channel + which;
    }

    enum NoteOnMode : int32_t { kContinuous = 0, kGateOnly = 1, kGated = 2 };
    enum NoteOffMode : int32_t { kNoteOffNone = 0, kNoteOffNormal = 1, kNoteOffLegato = 2 };
    static constexpr uint8_t kNone = 255; // no controller value, note or pitch yet

    explicit ObryCorvane(audioMasterCallback audioMaster);

    int32_t getChunk(void** data, bool isPreset) override;
    int32_t setChunk(void* data, int32_t byteSize, bool isPreset) override;
    void processReplacing(float** inputs, float** outputs, int32_t sampleFrames) override;
    int32_t GetProperty(uint32_t id, uint32_t scope, uint32_t element, void* data) override;
    int32_t GetPropertyInfo(uint32_t id, uint32_t scope, uint32_t element, uint32_t* size,
                            uint8_t* writable) override;
    int32_t SetProperty(uint32_t id, uint32_t scope, uint32_t element, const void* data, uint32_t size) override;

    int32_t Initialize() override;
    void Cleanup() override;
    bool BeginBlock(int32_t frames) override;
    void Process(float** inputs, float** outputs, int32_t frames) override;

    int32_t GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray) override;
    uint32_t GetParameterFlags(int32_t index) override;
    bool StringFromValue(AudioUnitParameterStringFromValue& request) override;
    const char* GetPluginName() override { return "Corvane CV To MIDI"; }
    const char* GetGUIScriptName() override { return "gui_cvtomidi.lua"; }

    // The live device name (what property 64100 gives).
    std::string DeviceName() const;
    MIDISender& Sender() { return sender; }

private:
    struct Channel {
        // Set by BeginBlock.
        bool enable = false;
        uint8_t midiChannel = 0;
        bool ccEnable = false;
        uint8_t controller = 0;
        float ccMin = -1;
        float ccScale = 0;
        bool noteEnable = false;
        int32_t noteOnMode = kContinuous;
        int32_t noteOffMode = kNoteOffNormal;
        bool gateCloseNoteOff = true;
        float pitchCentre = 48;
        float pitchSlope = 48;
        float gateThreshold = 0.01f;
        int32_t maxNoteLength = 0; // samples; 0: no limit
        // Kept across blocks; reset by Initialize.
        uint8_t lastController = kNone;
        uint8_t note = kNone;        // the sounding note
        uint8_t noteChannel = 0;     // the MIDI channel it sounds on
        uint8_t lastPitch = kNone;
        bool gateOpen = false;
        int32_t remaining = 0;       // samples until the note's maximum length
    };

    void ResetChannels();
    void ConvertChannel(Channel& channel, const float* cv, const float* gate, int32_t frames);
    void ChangeNote(Channel& channel, uint8_t pitch, uint64_t time);
    void EndNote(Channel& channel, uint64_t time);
    // Applies `name` (already checked) as the live name and opens its port.
    void ApplyDeviceName(const std::string& name);
    ObryProgramQVcmv1& Program() { return *static_cast<ObryProgramQVcmv1*>(CurrentProgram()); }
    // Brings every value of the current program into its parameter's range.
    void SanitizeProgramValues();

    Channel channels[kChannels];
    uint64_t timeBase = 0; // ns from the start of the processing call to the current piece
    uint64_t timeStep = 0; // ns per sample
    MIDISender sender;

    // Host and editor threads: held while the name changes and its port opens.
    mutable std::mutex deviceNameLock;
    std::string deviceName; // guarded by deviceNameLock; at most kMaxDeviceNameLength
};

} // namespace ObryCorvaneCVToMIDI
