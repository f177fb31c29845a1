// The common ground of the expander controllers (Brink, Carro): a plug-in
// with eight inputs and two outputs whose output pair carries one expander
// frame per sample. What they share lives here: groups of eight MIDI-note
// gates, eight gate inputs, the serial MIDI output on one gate bit with MIDI
// clock from the host's transport, the "Send" bytes, the merge of an incoming
// stream ("Input Thru"), the test frames, the all-sound-off property and the
// block loop that cuts a block only where a clock, a MIDI event or the end
// of a trigger falls. Each controller passes the indices of its parameters
// and adds what is its own (the Brink's voice channels and CV inputs) through
// the hooks below.
//
// Threads: BeginBlock, BeginSubBlock, ProcessBlockWithEvents,
// HandleQueuedMessage, the MIDI handling and the hooks they call run on the
// audio thread and allocate nothing (the MIDI-out ring is made by
// Initialize). SetProperty (all sound off) comes from the host or the editor
// and only queues a command for the audio thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "framework/IndicatorBlock.h"
#include "plugins/base/ObryCorvaneBase.h"
#include "plugins/common/ExpanderControl.h"
#include "plugins/common/ExpanderDataWords.h"
#include "plugins/common/ExpanderFrameEncoder.h"

class SharedValueNames;

// Where a controller keeps the parameters the shared machinery reads.
struct ExpanderControllerLayout {
    int32_t frameBytes; // kBrinkFrameBytes or kCarroFrameBytes
    int32_t output1;    // "Output 1" .. "Output <frameBytes>" in a row
    int32_t testSignal;
    ExpanderGateLayout gates;
    int32_t byte1; // "Byte 1" .. "Byte 3" in a row
    int32_t bytes;
    int32_t send;
    int32_t midiOutMidiChannel;
    int32_t midiOutOutput; // gate bit of the serial line
    int32_t midiOutClock;
    int32_t midiClockSwing;
    int32_t midiClockSwingType;
    int32_t midiClockOffset;
    int32_t midiOutChannelise;
    int32_t inputThru;
    int32_t inputToGate1; // "Input 1 To Gate" .. "Input 8 To Gate" in a row
};

// The layout of a controller class whose parameter enum names the shared
// parameters alike (kTestSignal, kGateGroups, kByte1 ...).
template <class Controller>
constexpr ExpanderControllerLayout MakeExpanderControllerLayout(int32_t frameBytes)
{
    return ExpanderControllerLayout{
        frameBytes,
        Controller::kOutput1,
        Controller::kTestSignal,
        {Controller::kGateGroups, Controller::kGatesMidiChannel, Controller::kTriggerLength, Controller::kAccent},
        Controller::kByte1,
        Controller::kBytes,
        Controller::kSend,
        Controller::kMidiOutMidiChannel,
        Controller::kMidiOutOutput,
        Controller::kMidiOutClock,
        Controller::kMidiClockSwing,
        Controller::kMidiClockSwingType,
        Controller::kMidiClockOffset,
        Controller::kMidiOutChannelise,
        Controller::kInputThru,
        Controller::kInputToGate1,
    };
}

class ObryExpanderController : public ObryCorvaneBase {
public:
    static constexpr int32_t kNumInputs = 8;
    static constexpr int32_t kNumOutputs = 2;
    static constexpr int32_t kGateInputs = 8;
    // Where the last frame's bytes are shown in the indicator block.
    static constexpr int32_t kIndicatorFrameBytes = 40;

    // `parameters` (numParams entries) is the controller class's static
    // table; it must outlive every instance.
    ObryExpanderController(audioMasterCallback audioMaster, bool isSynth, int32_t uniqueId, int32_t portOffsetIndex,
                           FactoryPresetTable* presets, int32_t numParams, const ParameterInfo* parameters,
                           ObryProgramFactory factory, const ExpanderControllerLayout& layout);

    bool getInputProperties(int32_t index, VstPinProperties* properties) override;
    bool getOutputProperties(int32_t index, VstPinProperties* properties) override;
    int32_t GetPropertyInfo(uint32_t id, uint32_t scope, uint32_t element, uint32_t* size,
                            uint8_t* writable) override;
    int32_t SetProperty(uint32_t id, uint32_t scope, uint32_t element, const void* data, uint32_t size) override;
    // Value names and "Off" texts of the shared parameters; a controller
    // adds its own through OwnValueNames and OwnShowsOffAtZero.
    int32_t GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray) override;
    uint32_t GetParameterFlags(int32_t index) override;
    bool StringFromValue(AudioUnitParameterStringFromValue& request) override;
    int32_t Initialize() override;
    bool BeginBlock(int32_t frames) override;
    void BeginSubBlock(int32_t frames) override;
    void ProcessBlockWithEvents(float** inputs, float** outputs, int32_t frames) override;
    void HandleQueuedMessage(QZ::MessageQueueItem* item) override;

    // For tests and the editor (audio thread state; read it only while no
    // block runs).
    const SerialMidiLine& MidiOut() const { return midiOut; }
    const ExpanderMidiClock& Clock() const { return clock; }

protected:
    // A program value held to its parameter's range (its default when NaN;
    // note numbers rounded to whole notes). Values reach the program from
    // the host, the editor, Lua, OSC and saved projects; every one read here
    // is used as an index or a count.
    float Param(int32_t index);
    int32_t IntParam(int32_t index) { return static_cast<int32_t>(Param(index)); }

    // The value-name list of one of the controller's own parameters, or
    // nullptr (any thread; the lists are shared by every instance).
    virtual SharedValueNames* OwnValueNames(int32_t) { return nullptr; }
    // Whether one of the controller's own parameters reads "Off" at 0.
    virtual bool OwnShowsOffAtZero(int32_t) const { return false; }

    // ---- hooks (audio thread) ----
    // Derives the settings from the program. Runs only when a parameter, the
    // program or the sample rate changed since it last ran, checked at block
    // start, before every MIDI message and before every piece, so an
    // unchanged block reads no parameter. The sample rate (and its class)
    // is already read when it runs. Overrides derive their own first, then
    // call this.
    virtual void RefreshSettings();
    // A short channel message (status nibble, channel 0..15, data bytes),
    // after serial forwarding and before the gate groups see it.
    virtual void HandleChannelMessage(int32_t, int32_t, int32_t, int32_t) {}
    // The bytes every frame of a piece starts from (the frame's bytes,
    // 0..255), from the controller's settings, voices and gate groups. Made
    // again only after a parameter, a MIDI message or the end of a trigger:
    // what the bytes follow may change only there.
    virtual void MakePieceBytes(uint8_t* bytes) = 0;

    // Byte k of every frame follows input levelInput[k] (0..7; -1: none)
    // instead, by the rule of ExpanderFrameSources::level with levelScale[k]
    // and levelOffset[k]. Set by a controller's RefreshSettings.
    int32_t levelInput[kMaxExpanderFrameBytes] = {-1, -1, -1, -1, -1, -1};
    float levelScale[kMaxExpanderFrameBytes] = {};
    float levelOffset[kMaxExpanderFrameBytes] = {};

    ExpanderGateGroups gateGroups;
    SerialMidiLine midiOut;
    int32_t testSignal = 0;
    int32_t outputLevel[kMaxExpanderFrameBytes] = {}; // "Output k", truncated

private:
    // One queue-A message: serial forwarding, the controller's own
    // handling, gate groups.
    void HandleMidi(const QZ::MessageQueueItem& item);
    void DeliverEvent(QZ::MessageQueueItem* item);
    // RefreshSettings and what it needs, when something changed (checked
    // inline: several times a block).
    void UpdateSettings()
    {
        if (SettingsChanged())
            DeriveSettings();
    }
    void DeriveSettings();
    void ReadRateAndClockSettings();
    void EncodeTestFrames(float** outputs, int32_t first, int32_t frames);
    // Encodes `frames` samples of the outputs from `first` on.
    void EncodePiece(float** inputs, float** outputs, int32_t first, int32_t frames);
    // Writes the frames of a piece (Bytes: 5 Brink words, 6 Carro words)
    // from the piece's sources; afterwards the last frame goes to the
    // indicator block.
    template <int Bytes>
    void EncodeFrames(float** inputs, float** outputs, int32_t first, int32_t frames);
    // The longest stretch of frames whose serial line bits are made at once.
    static constexpr int32_t kEncodeStretch = 64;
    // Brings the piece's sources up to date (the bytes after a change, the
    // routes after a settings change, the input pointers every piece) and
    // tells whether a routed input and an output overlap partly over the
    // piece's `frames`.
    bool PreparePiece(float** inputs, float** outputs, int32_t frames);
    void RouteInputs();

    // Parameters whose value 0 reads "Off": the port offset, the test
    // signal, the gate groups' MIDI channels, the trigger lengths and the
    // controller's own.
    bool ShowsOffAtZero(int32_t index) const;

    const ParameterInfo* parameters;
    int32_t parameterCount;
    const int32_t portOffsetIndex;
    const ExpanderControllerLayout layout;

    ExpanderMidiClock clock;
    int32_t midiOutChannel = 0;
    int32_t channelise = 0;

    int32_t framesIntoBlock = 0; // of this block, in earlier pieces

    // Derived settings (UpdateSettings).
    double rate = 0.0; // the host sample rate, 0 when unusable
    int32_t rateClass = 0;
    bool clockOn = false;
    bool send = false;
    int32_t midiOutBit = 0; // gate that carries the serial line
    ExpanderMidiClock::Settings clockSettings;
    int32_t thruPair = -1;                  // -1 none; pair p = inputs 2p, 2p+1
    int32_t gateInputBit[kGateInputs] = {}; // gate 0..39, or -1

    // The sources every piece is encoded from, kept from piece to piece:
    // the bytes (pieceBytesStale: make them again) and what is routed
    // (routesStale: route again). Byte levelByte[n] follows input
    // levelRoute[n] (n < levelCount), gate g input gateRoute[g], the stream
    // inputs thruRoute and thruRoute + 1 (-1: none); bit i of readInputs is
    // set where input i is read.
    ExpanderFrameSources pieceSources;
    bool pieceBytesStale = true;
    bool routesStale = true;
    int32_t levelCount = 0;
    int32_t levelByte[kMaxExpanderFrameBytes] = {};
    int32_t levelRoute[kMaxExpanderFrameBytes] = {};
    int32_t gateRoute[ExpanderFrameSources::kMaxGates] = {};
    int32_t thruRoute = -1;
    uint32_t readInputs = 0;

    uint32_t testCounter = 0;
    bool sendWasOn = false;
    // An all-sound-off request waits in the command queue (any thread sets
    // it, the audio thread clears it).
    std::atomic<bool> allSoundOffPending{false};
};

// ---------------------------------------------------------------------------
// audio thread: no allocation, no blocking lock

// True when two runs of `frames` samples share memory without starting at
// the same sample.
inline bool PartlyOverlap(const float* a, const float* b, int32_t frames)
{
    const auto x = reinterpret_cast<uintptr_t>(a);
    const auto y = reinterpret_cast<uintptr_t>(b);
    const uintptr_t length = static_cast<uintptr_t>(frames) * sizeof(float);
    return x != y && x < y + length && y < x + length;
}

template <int Bytes>
void ObryExpanderController::EncodeFrames(float** inputs, float** outputs, int32_t first, int32_t frames)
{
    // Every input of a group of frames is read before its outputs are
    // written, which gives what sample by sample gives when the host hands
    // the same buffer for an input and an output; buffers that overlap
    // otherwise go one frame at a time.
    const bool oneAtATime = PreparePiece(inputs, outputs, frames);
    const ExpanderFrameSources& sources = pieceSources;
    float* left = outputs[0];
    float* right = outputs[1];

    auto encode = [&](int32_t at, int32_t count, const uint32_t* serial) {
        return Bytes == kBrinkFrameBytes ? EncodeBrinkFrames(sources, at, count, serial, left, right, oneAtATime)
                                         : EncodeCarroFrames(sources, at, count, serial, left, right, oneAtATime);
    };
    ExpanderWordPair last{0, 0};
    if (midiOut.Idle()) {
        // Nothing is appended to the serial line during a piece: one idle at
        // its start stays idle to its end.
        last = encode(first, frames, nullptr);
    } else {
        uint32_t serial[kEncodeStretch];
        for (int32_t begin = 0; begin < frames; begin += kEncodeStretch) {
            const int32_t count = frames - begin < kEncodeStretch ? frames - begin : kEncodeStretch;
            for (int32_t j = 0; j < count; ++j)
                serial[j] = midiOut.Step(rateClass) ? ~0u : 0u;
            last = encode(first + begin, count, serial);
        }
    }
    if (frames > 0) {
        uint8_t frame[kMaxExpanderFrameBytes];
        if (Bytes == kBrinkFrameBytes)
            BrinkFrameBytes(last, frame);
        else
            CarroFrameBytes(last, frame);
        WriteIndicatorBytes(indicatorBlock, kIndicatorFrameBytes, frame, Bytes);
    }
}
