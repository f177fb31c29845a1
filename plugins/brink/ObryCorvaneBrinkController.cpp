#include "plugins/brink/ObryCorvaneBrinkController.h"
#include "plugins/common/ParameterUnits.h"

#include <cmath>

#include "plugins/common/ValueNames.h"

namespace ObryCorvaneBrinkController {

namespace {

using namespace ParameterUnit;

#define BRINK_VOICE(N, CHANNEL, GATE)                                                                                \
    {"Ch " N " MIDI Channel", kIndexed, 0, 16, CHANNEL}, {"Ch " N " Range Min", kNote, 0, 127, 48},                  \
        {"Ch " N " Range Max", kNote, 0, 127, 108}, {"Ch " N " Gate Output", kIndexed, 0, 45, GATE},                 \
        {"Ch " N " Vel Output", kIndexed, 0, 5, 0}, {"Ch " N " Note Priority", kIndexed, 0, 2, 0},                   \
        {"Ch " N " Retrigger Mode", kIndexed, 0, 1, 0}
#define BRINK_GATES(K) {"Gates " K " MIDI Channel", kIndexed, 0, 16, 0}, {"Gates " K " Base Note", kNote, 0, 127, 48}
#define BRINK_TRIGGER(K, J) {"Trigger " K "/" J " Length", kMilliseconds, 0, 100, 0}
#define BRINK_TRIGGERS(K)                                                                                            \
    BRINK_TRIGGER(K, "1"), BRINK_TRIGGER(K, "2"), BRINK_TRIGGER(K, "3"), BRINK_TRIGGER(K, "4"),                      \
        BRINK_TRIGGER(K, "5"), BRINK_TRIGGER(K, "6"), BRINK_TRIGGER(K, "7"), BRINK_TRIGGER(K, "8")
#define BRINK_ACCENTS(K)                                                                                             \
    {"Accent " K "/2", kBoolean, 0, 1, 0}, {"Accent " K "/4", kBoolean, 0, 1, 0},                                   \
        {"Accent " K "/6", kBoolean, 0, 1, 0}, {"Accent " K "/8", kBoolean, 0, 1, 0}
#define BRINK_INPUT_TO_GATE(N) {"Input " N " To Gate", kIndexed, 0, 40, 0}

const ParameterInfo kParameters[ObryCorvane::kNumParams] = {
    {"Output 1", kIndexed, 0, 255, 0},
    {"Output 2", kIndexed, 0, 255, 0},
    {"Output 3", kIndexed, 0, 255, 0},
    {"Output 4", kIndexed, 0, 255, 0},
    {"Output 5", kIndexed, 0, 255, 0},
    {"OSC Port Offset", kIndexed, 0, 100, 0},
    {"Test Signal", kIndexed, 0, 5, 0},
    BRINK_VOICE("1", 1, 3),
    BRINK_VOICE("2", 0, 4),
    BRINK_GATES("1"),
    BRINK_GATES("2"),
    BRINK_GATES("3"),
    BRINK_GATES("4"),
    BRINK_GATES("5"),
    {"Byte 1", kIndexed, 0, 255, 248},
    {"Byte 2", kIndexed, 0, 127, 0},
    {"Byte 3", kIndexed, 0, 127, 0},
    {"Bytes", kIndexed, 1, 3, 1},
    {"Send", kBoolean, 0, 1, 0},
    {"MIDI Out MIDI Channel", kIndexed, 0, 17, 0},
    {"MIDI Out Output", kIndexed, 0, 39, 0},
    {"MIDI Out Clock", kBoolean, 0, 1, 0},
    {"MIDI Clock Swing", kPercent, 0, 100, 50},
    {"MIDI Clock Swing Type", kIndexed, 0, 1, 0},
    {"Unused0", kIndexed, 0, 3, 0},
    {"Unused1", kIndexed, 0, 39, 0},
    {"Unused2", kPercent, 0, 100, 50},
    {"Unused3", kIndexed, 0, 1, 0},
    {"Input Thru", kIndexed, 0, 4, 1},
    {"Input 1", kIndexed, 0, 8, 0},
    {"Input 2", kIndexed, 0, 8, 0},
    {"Input 3", kIndexed, 0, 8, 0},
    {"Input 4", kIndexed, 0, 8, 0},
    {"Input 5", kIndexed, 0, 8, 0},
    {"Input Mode 1", kIndexed, 0, 1, 0},
    {"Input Mode 2", kIndexed, 0, 1, 0},
    {"Input Mode 3", kIndexed, 0, 1, 0},
    {"Input Mode 4", kIndexed, 0, 1, 0},
    {"Input Mode 5", kIndexed, 0, 1, 0},
    {"MIDI Clock Offset", kMilliseconds, -100, 100, 0},
    {"Unused4", kMilliseconds, -100, 100, 0},
    BRINK_TRIGGERS("1"),
    BRINK_TRIGGERS("2"),
    BRINK_TRIGGERS("3"),
    BRINK_TRIGGERS("4"),
    BRINK_TRIGGERS("5"),
    {"MIDI Out Channelise", kIndexed, 0, 16, 0},
    BRINK_ACCENTS("1"),
    BRINK_ACCENTS("2"),
    BRINK_ACCENTS("3"),
    BRINK_ACCENTS("4"),
    BRINK_ACCENTS("5"),
    BRINK_INPUT_TO_GATE("1"),
    BRINK_INPUT_TO_GATE("2"),
    BRINK_INPUT_TO_GATE("3"),
    BRINK_INPUT_TO_GATE("4"),
    BRINK_INPUT_TO_GATE("5"),
    BRINK_INPUT_TO_GATE("6"),
    BRINK_INPUT_TO_GATE("7"),
    BRINK_INPUT_TO_GATE("8"),
};

#undef BRINK_VOICE
#undef BRINK_GATES
#undef BRINK_TRIGGER
#undef BRINK_TRIGGERS
#undef BRINK_ACCENTS
#undef BRINK_INPUT_TO_GATE

static_assert(ObryCorvane::kTriggerLength + 8 * ObryCorvane::kGateGroups == ObryCorvane::kMidiOutChannelise);
static_assert(ObryCorvane::kAccent + 4 * ObryCorvane::kGateGroups == ObryCorvane::kInputToGate1);

FactoryPresetTable gPresets{{"Defaults", {}}};

constexpr ExpanderControllerLayout kLayout = MakeExpanderControllerLayout<ObryCorvane>(kBrinkFrameBytes);

// The value-name lists, built once per process and shared by all instances.
#define BRINK_GATE_ROW(K)                                                                                            \
    "Gates " K "/1", "Gates " K "/2", "Gates " K "/3", "Gates " K "/4", "Gates " K "/5", "Gates " K "/6",            \
        "Gates " K "/7", "Gates " K "/8"
#define BRINK_ALL_GATES                                                                                                \
    BRINK_GATE_ROW("1"), BRINK_GATE_ROW("2"), BRINK_GATE_ROW("3"), BRINK_GATE_ROW("4"), BRINK_GATE_ROW("5")

const char* const kGateOutputNames[] = {"Off", "Output 1", "Output 2", "Output 3", "Output 4", "Output 5",
                                        BRINK_ALL_GATES};
const char* const kVelOutputNames[] = {"Off", "Output 1", "Output 2", "Output 3", "Output 4", "Output 5"};
const char* const kPriorityNames[] = {"Newest", "Lowest", "Highest"};
const char* const kRetriggerNames[] = {"Retrig On", "Retrig Off"};
const char* const kInputNames[] = {"Off", "1", "2", "3", "4", "5", "6", "7", "8"};
const char* const kInputModeNames[] = {"Unipolar", "Bipolar"};

#undef BRINK_GATE_ROW
#undef BRINK_ALL_GATES

static_assert(sizeof kGateOutputNames / sizeof kGateOutputNames[0] == 46);

SharedValueNames gGateOutputList(kGateOutputNames);
SharedValueNames gVelOutputList(kVelOutputNames);
SharedValueNames gPriorityList(kPriorityNames);
SharedValueNames gRetriggerList(kRetriggerNames);
SharedValueNames gInputList(kInputNames);
SharedValueNames gInputModeList(kInputModeNames);

} // namespace

ObryCorvane::ObryCorvane(audioMasterCallback audioMaster, bool isSynth)
    : ObryExpanderController(audioMaster, isSynth, vst::FourCC("QZsd") - (isSynth ? 1 : 0), kOSCPortOffset,
                             &gPresets, kNumParams, kParameters, ObryProgramBasic<kNumParams>::Create, kLayout)
{
    Initialize();
}

SharedValueNames* ObryCorvane::OwnValueNames(int32_t i)
{
    const int32_t voiceIndex = i >= kChMidiChannel && i < kChMidiChannel + 2 * kVoiceGroupSize
                                   ? kChMidiChannel + (i - kChMidiChannel) % kVoiceGroupSize
                                   : -1;
    if (voiceIndex == kChGateOutput)
        return &gGateOutputList;
    if (voiceIndex == kChVelOutput)
        return &gVelOutputList;
    if (voiceIndex == kChNotePriority)
        return &gPriorityList;
    if (voiceIndex == kChRetriggerMode)
        return &gRetriggerList;
    if (i >= kInput1 && i < kInput1 + kCvInputs)
        return &gInputList;
    if (i >= kInputMode1 && i < kInputMode1 + kCvInputs)
        return &gInputModeList;
    return nullptr;
}

bool ObryCorvane::OwnShowsOffAtZero(int32_t index) const
{
    // The voice channels' MIDI channels.
    return index == kChMidiChannel || index == kChMidiChannel + kVoiceGroupSize;
}

int32_t ObryCorvane::Initialize()
{
    for (VoiceSettings& settings : voiceSettings)
        settings = VoiceSettings{};
    for (Voice& voice : voices)
        voice = Voice{};
    return ObryExpanderController::Initialize();
}

// ---------------------------------------------------------------------------
// audio thread: no allocation, no blocking lock

void ObryCorvane::RefreshSettings()
{
    for (int32_t v = 0; v < kVoiceChannels; ++v) {
        VoiceSettings& s = voiceSettings[v];
        const int32_t base = kChMidiChannel + kVoiceGroupSize * v;
        s.priority = IntParam(base + (kChNotePriority - kChMidiChannel));
        s.retriggerMode = IntParam(base + (kChRetriggerMode - kChMidiChannel));
        const int32_t channel = IntParam(base);
        if (channel != s.channel) {
            VoiceAllNotesOff(v);
            s.channel = channel;
        }
        if (s.channel > 0) {
            s.rangeMin = Param(base + (kChRangeMin - kChMidiChannel));
            s.rangeMax = Param(base + (kChRangeMax - kChMidiChannel));
        }
        s.gateOutput = IntParam(base + (kChGateOutput - kChMidiChannel));
        s.velOutput = IntParam(base + (kChVelOutput - kChMidiChannel));
    }
    // The routed CV inputs: a byte level from the sample added to the piece
    // byte. An unrouted one keeps its piece byte.
    for (int32_t k = 0; k < kCvInputs; ++k) {
        const bool bipolar = IntParam(kInputMode1 + k) == 1;
        levelInput[k] = IntParam(kInput1 + k) - 1;
        levelScale[k] = bipolar ? 127.0f : 255.0f;
        levelOffset[k] = bipolar ? 128.5f : 0.5f;
    }
    ObryExpanderController::RefreshSettings();
}

void ObryCorvane::VoiceNoteOn(int32_t v, int32_t note, float velocity)
{
    Voice& voice = voices[v];
    const VoiceSettings& s = voiceSettings[v];
    voice.note = static_cast<float>(voice.notes.Press(note, s.priority));
    voice.velocity = velocity;
    if (!voice.gate) {
        voice.gate = true;
        voice.retrigger = 10;
    } else if (s.retriggerMode == 0) {
        voice.retrigger = 10;
    }
}

void ObryCorvane::VoiceNoteOff(int32_t v, int32_t note)
{
    Voice& voice = voices[v];
    if (!voice.notes.Release(note))
        return;
    const int32_t next = voice.notes.Fallback(voiceSettings[v].priority);
    if (next < 0)
        voice.gate = false;
    else if (next != static_cast<int32_t>(voice.note))
        VoiceNoteOn(v, next, voice.velocity);
}

// Releases the held notes lowest first, each through the priority rule, so
// the pitch keeps the note picked last.
void ObryCorvane::VoiceAllNotesOff(int32_t v)
{
    Voice& voice = voices[v];
    for (int32_t note = 0; note < MonoNoteStack::kNotes && voice.notes.HeldCount() > 0; ++note)
        if (voice.notes.IsHeld(note))
            VoiceNoteOff(v, note);
    voice.gate = false;
}

// Voices only: serial forwarding and the gate groups are the shared handling's.
void ObryCorvane::HandleChannelMessage(int32_t status, int32_t channel, int32_t data1, int32_t data2)
{
    if (status == 0x90 && data2 > 0) {
        const float velocity = static_cast<float>(data2) * 0.007874016f;
        for (int32_t v = 0; v < kVoiceChannels; ++v) {
            const VoiceSettings& s = voiceSettings[v];
            if (s.channel == channel + 1 && s.rangeMin <= static_cast<float>(data1) &&
                static_cast<float>(data1) <= s.rangeMax)
                VoiceNoteOn(v, data1, velocity);
        }
    } else if (status == 0x80 || status == 0x90) {
        for (int32_t v = 0; v < kVoiceChannels; ++v)
            if (voiceSettings[v].channel == channel + 1)
                VoiceNoteOff(v, data1);
    } else if (status == 0xB0 && (data1 == 120 || data1 == 123)) {
        for (int32_t v = 0; v < kVoiceChannels; ++v) {
            if (voiceSettings[v].channel != channel + 1)
                continue;
            if (data1 == 123) {
                VoiceAllNotesOff(v);
                continue;
            }
            Voice& voice = voices[v];
            voice.gate = false;
            voice.notes.Clear();
            voice.note = 0.0f;
        }
    }
}

void ObryCorvane::MakePieceBytes(uint8_t* bytes)
{
    int32_t sums[kBrinkFrameBytes];
    for (int32_t k = 0; k < kBrinkFrameBytes; ++k)
        sums[k] = outputLevel[k];
    int64_t gates = 0; // 40 gate bits of voice gate outputs
    for (int32_t v = 0; v < kVoiceChannels; ++v) {
        const VoiceSettings& s = voiceSettings[v];
        const Voice& voice = voices[v];
        // The pitch part counts notes above the range's bottom and wraps
        // every 64 notes: bits 2..7 of the voice's own byte.
        if (s.channel > 0)
            sums[v] += (static_cast<int32_t>(voice.note - s.rangeMin) & 63) * 4;
        if (voice.gate) {
            if (s.gateOutput >= 1 && s.gateOutput <= 5)
                sums[s.gateOutput - 1] += 255;
            else if (s.gateOutput >= 6 && s.gateOutput <= 45)
                gates |= int64_t{1} << (s.gateOutput - 6);
        }
        if (s.velOutput >= 1 && s.velOutput <= 5)
            sums[s.velOutput - 1] += static_cast<int32_t>(voice.velocity * 255.0f);
    }
    for (int32_t k = 0; k < kBrinkFrameBytes; ++k) {
        int32_t value = sums[k] | static_cast<int32_t>((gates >> (8 * k)) & 0xFF) | gateGroups.Bits(k);
        bytes[k] = static_cast<uint8_t>(value <= 0 ? 0 : (value > 255 ? 255 : value));
    }
}

} // namespace ObryCorvaneBrinkController
