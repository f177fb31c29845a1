#include "plugins/carro/ObryCorvaneCarroController.h"
#include "plugins/common/ParameterUnits.h"

namespace ObryCorvaneCarroController {

namespace {

using namespace ParameterUnit;

#define CARRO_GATES(K) {"Gates " K " MIDI Channel", kIndexed, 0, 16, 0}, {"Gates " K " Base Note", kNote, 0, 127, 48}
#define CARRO_TRIGGER(K, J) {"Trigger " K "/" J " Length", kMilliseconds, 0, 100, 0}
#define CARRO_TRIGGERS(K)                                                                                            \
    CARRO_TRIGGER(K, "1"), CARRO_TRIGGER(K, "2"), CARRO_TRIGGER(K, "3"), CARRO_TRIGGER(K, "4"),                      \
        CARRO_TRIGGER(K, "5"), CARRO_TRIGGER(K, "6"), CARRO_TRIGGER(K, "7"), CARRO_TRIGGER(K, "8")
#define CARRO_ACCENTS(K)                                                                                             \
    {"Accent " K "/2", kBoolean, 0, 1, 0}, {"Accent " K "/4", kBoolean, 0, 1, 0},                                   \
        {"Accent " K "/6", kBoolean, 0, 1, 0}, {"Accent " K "/8", kBoolean, 0, 1, 0}
#define CARRO_INPUT_TO_GATE(N) {"Input " N " To Gate", kIndexed, 0, 40, 0}

const ParameterInfo kParameters[ObryCorvane::kNumParams] = {
    {"Output 1", kIndexed, 0, 255, 0},
    {"Output 2", kIndexed, 0, 255, 0},
    {"Output 3", kIndexed, 0, 255, 0},
    {"Output 4", kIndexed, 0, 255, 0},
    {"Output 5", kIndexed, 0, 255, 0},
    {"Output 6", kIndexed, 0, 255, 0},
    {"OSC Port Offset", kIndexed, 0, 100, 0},
    {"Test Signal", kIndexed, 0, 4, 0},
    CARRO_GATES("1"),
    CARRO_GATES("2"),
    CARRO_GATES("3"),
    CARRO_GATES("4"),
    CARRO_GATES("5"),
    CARRO_GATES("6"),
    {"Byte 1", kIndexed, 0, 255, 248},
    {"Byte 2", kIndexed, 0, 127, 0},
    {"Byte 3", kIndexed, 0, 127, 0},
    {"Bytes", kIndexed, 1, 3, 1},
    {"Send", kBoolean, 0, 1, 0},
    {"MIDI Out MIDI Channel", kIndexed, 0, 17, 0},
    {"MIDI Out Output", kIndexed, 0, 47, 0},
    {"MIDI Out Clock", kBoolean, 0, 1, 0},
    {"MIDI Clock Swing", kPercent, 0, 100, 50},
    {"MIDI Clock Swing Type", kIndexed, 0, 1, 0},
    {"Input Thru", kIndexed, 0, 4, 1},
    {"MIDI Clock Offset", kMilliseconds, -100, 100, 0},
    CARRO_TRIGGERS("1"),
    CARRO_TRIGGERS("2"),
    CARRO_TRIGGERS("3"),
    CARRO_TRIGGERS("4"),
    CARRO_TRIGGERS("5"),
    CARRO_TRIGGERS("6"),
    {"MIDI Out Channelise", kIndexed, 0, 16, 0},
    CARRO_ACCENTS("1"),
    CARRO_ACCENTS("2"),
    CARRO_ACCENTS("3"),
    CARRO_ACCENTS("4"),
    CARRO_ACCENTS("5"),
    CARRO_ACCENTS("6"),
    CARRO_INPUT_TO_GATE("1"),
    CARRO_INPUT_TO_GATE("2"),
    CARRO_INPUT_TO_GATE("3"),
    CARRO_INPUT_TO_GATE("4"),
    CARRO_INPUT_TO_GATE("5"),
    CARRO_INPUT_TO_GATE("6"),
    CARRO_INPUT_TO_GATE("7"),
    CARRO_INPUT_TO_GATE("8"),
};

#undef CARRO_GATES
#undef CARRO_TRIGGER
#undef CARRO_TRIGGERS
#undef CARRO_ACCENTS
#undef CARRO_INPUT_TO_GATE

static_assert(ObryCorvane::kGatesMidiChannel + 2 * ObryCorvane::kGateGroups == ObryCorvane::kByte1);
static_assert(ObryCorvane::kTriggerLength + 8 * ObryCorvane::kGateGroups == ObryCorvane::kMidiOutChannelise);
static_assert(ObryCorvane::kAccent + 4 * ObryCorvane::kGateGroups == ObryCorvane::kInputToGate1);
static_assert(ObryCorvane::kInputToGate1 + ObryCorvane::kGateInputs == ObryCorvane::kNumParams);

FactoryPresetTable gPresets{{"Defaults", {}}};

constexpr ExpanderControllerLayout kLayout = MakeExpanderControllerLayout<ObryCorvane>(kCarroFrameBytes);

} // namespace

ObryCorvane::ObryCorvane(audioMasterCallback audioMaster, bool isSynth)
    : ObryExpanderController(audioMaster, isSynth, vst::FourCC("QZsh") - (isSynth ? 1 : 0), kOSCPortOffset,
                             &gPresets, kNumParams, kParameters, ObryProgramBasic<kNumParams>::Create, kLayout)
{
    Initialize();
}

// audio thread: no allocation, no blocking lock
void ObryCorvane::MakePieceBytes(uint8_t* bytes)
{
    // Byte k: its level with the eight gates of group k ORed in.
    for (int32_t k = 0; k < kCarroFrameBytes; ++k) {
        const int32_t value = outputLevel[k] | gateGroups.Bits(k);
        bytes[k] = static_cast<uint8_t>(value <= 0 ? 0 : (value > 255 ? 255 : value));
    }
}

} // namespace ObryCorvaneCarroController
