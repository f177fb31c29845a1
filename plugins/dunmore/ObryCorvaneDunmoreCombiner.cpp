#include "plugins/dunmore/ObryCorvaneDunmoreCombiner.h"
#include "plugins/common/ParameterUnits.h"

#include <cmath>
#include <cstring>

#include "framework/IndicatorBlock.h"
#include "plugins/common/ExpanderControl.h"
#include "plugins/common/ParameterValues.h"
#include "plugins/common/ValueNames.h"

namespace ObryCorvaneDunmoreCombiner {

namespace {

using namespace ParameterUnit;

const ParameterInfo kParameters[ObryCorvane::kNumParams] = {
    {"Target Hardware", kIndexed, 0, 1, 0},
    {"Target Channel", kIndexed, 0, 5, 0},
    {"Offset 1", kGeneric, -5.34f, 5.34f, 0},
    {"Offset 2", kGeneric, -5.34f, 5.34f, 0},
    {"Offset 3", kGeneric, -5.34f, 5.34f, 0},
    {"Offset 4", kGeneric, -5.34f, 5.34f, 0},
    {"OSC Port Offset", kIndexed, 0, 100, 0},
    {"Test Signal", kIndexed, 0, 3, 0},
    {"Input Thru", kIndexed, 0, 3, 1},
    {"Input 1", kIndexed, 0, 6, 3},
    {"Input 2", kIndexed, 0, 6, 4},
    {"Input 3", kIndexed, 0, 6, 5},
    {"Input 4", kIndexed, 0, 6, 6},
    {"Filter 1", kBoolean, 0, 1, 0},
    {"Filter 2", kBoolean, 0, 1, 0},
    {"Filter 3", kBoolean, 0, 1, 0},
    {"Filter 4", kBoolean, 0, 1, 0},
};

FactoryPresetTable gPresets{{"Defaults", {}}};

const char* const kHardwareNames[] = {"Brink", "Carro"};
const char* const kChannelNames[] = {"1", "2", "3", "4", "5", "6"};
const char* const kThruNames[] = {"Off", "1/2", "3/4", "5/6"};
const char* const kInputNames[] = {"Off", "1", "2", "3", "4", "5", "6"};

SharedValueNames gHardwareList(kHardwareNames);
SharedValueNames gChannelList(kChannelNames);
SharedValueNames gThruList(kThruNames);
SharedValueNames gInputList(kInputNames);

bool ShowsOffAtZero(int32_t index)
{
    return index == ObryCorvane::kOSCPortOffset || index == ObryCorvane::kTestSignal;
}

} // namespace

ObryCorvane::ObryCorvane(audioMasterCallback audioMaster)
    : ObryCorvaneBase(audioMaster, kNumInputs, kNumOutputs, false, vst::FourCC("QZsi"), kOSCPortOffset, 1,
                      &gPresets, kNumParams, kParameters, ObryProgramBasic<kNumParams>::Create)
{
    Initialize();
}

bool ObryCorvane::getInputProperties(int32_t index, VstPinProperties* properties)
{
    return ExpanderPinProperties(index, kNumInputs, properties);
}

bool ObryCorvane::getOutputProperties(int32_t index, VstPinProperties* properties)
{
    return ExpanderPinProperties(index, kNumOutputs, properties);
}

int32_t ObryCorvane::GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray)
{
    if (!outArray)
        return 0;
    if (scope != 0 || index >= static_cast<uint32_t>(kNumParams))
        return kAudioUnitErr_InvalidParameter;
    const auto i = static_cast<int32_t>(index);
    SharedValueNames* names = nullptr;
    if (i == kTargetHardware)
        names = &gHardwareList;
    else if (i == kTargetChannel)
        names = &gChannelList;
    else if (i == kInputThru)
        names = &gThruList;
    else if (i >= kInput1 && i < kInput1 + kChannels)
        names = &gInputList;
    if (!names)
        return kAudioUnitErr_InvalidParameter;
    *outArray = names->Acquire();
    return 0;
}

uint32_t ObryCorvane::GetParameterFlags(int32_t index)
{
    return ShowsOffAtZero(index) ? kAudioUnitParameterFlag_ValuesHaveStrings : 0;
}

bool ObryCorvane::StringFromValue(AudioUnitParameterStringFromValue& request)
{
    const auto index = static_cast<int32_t>(request.inParamID);
    if (!ShowsOffAtZero(index))
        return false;
    const float value = request.inValue ? *request.inValue : GetParameterReal(index);
    if (value == 0.0f)
        request.outString = CFStringMakeConstant("Off");
    return true;
}

int32_t ObryCorvane::Initialize()
{
    // The design does not depend on the sample rate (its cutoff is a
    // fraction of it): once per instance. The numerator is scaled for unity
    // gain at 0 Hz.
    DesignIIRFilter(kFilterOrder, kFilterRipple, kFilterCutoff, &filterCoefficients);
    NormalizeIIRGain(&filterCoefficients);
    for (int32_t k = 0; k < kChannels; ++k) {
        filters[k] = FilterState{};
        filters[k].coefficients = &filterCoefficients;
        filterOn[k] = false;
        source[k] = -1;
    }
    packets = DunmorePacketWriter{};
    testCounter = 0;
    targetHardware = 0;
    targetPosition = 0;
    thruPair = -1;
    testSignal = 0;
    return ObryCorvaneBase::Initialize();
}

// ---------------------------------------------------------------------------
// audio thread: no allocation, no blocking lock

float ObryCorvane::Param(int32_t index)
{
    // Values reach the program from the host, the editor, Lua, OSC and
    // saved projects; these are used as indices and offsets.
    return HeldToRange(kParameters[index], CurrentProgram()->GetParameter(index));
}

int32_t ObryCorvane::CodeOf(double x, int32_t offsetCode)
{
    if (x != x)
        x = 0.0;
    // Held well inside the integers before the conversion; the code is
    // held to 0..4095 anyway.
    x = x < -4.0 ? -4.0 : (x > 4.0 ? 4.0 : x);
    const int32_t code = static_cast<int32_t>(x * 2047.0 + 2048.5) + offsetCode;
    return code < 0 ? 0 : (code > 4095 ? 4095 : code);
}

uint32_t ObryCorvane::TestCounterMask(int32_t signal)
{
    return signal == 1 ? 0x7FFF : 0x7FF;
}

uint32_t ObryCorvane::TestValue(int32_t signal, uint32_t t)
{
    const uint32_t channel = (t >> 1) & 3;
    switch (signal) {
    case 1: return (t >> 3) & 0xFFF;            // a ramp over 0..4095, a step per 8 samples
    case 2: return (2 * t) & ~15u & 0xFFF;      // 0..4080 in steps of 16
    case 3: return (((2 * t) & ~15u) + channel * 1024) & 0xFFF; // the same, a quarter apart per channel
    default: return 0;
    }
}

bool ObryCorvane::BeginBlock(int32_t frames)
{
    if (!ObryCorvaneBase::BeginBlock(frames))
        return false;
    thruPair = IntParam(kInputThru) - 1;
    for (int32_t k = 0; k < kChannels; ++k) {
        source[k] = IntParam(kInput1 + k) - 1;
        const bool on = Param(kFilter1 + k) != 0.0f;
        // A filter switched on starts from rest, not from whatever it held
        // when it was switched off.
        if (on && !filterOn[k])
            ResetIIRFilter(&filters[k]);
        filterOn[k] = on;
    }
    targetHardware = IntParam(kTargetHardware);
    targetPosition = IntParam(kTargetChannel);
    return true;
}

void ObryCorvane::WriteFrame(uint8_t byte, ExpanderWordPair merge, float* left, float* right, uint8_t* frame) const
{
    const int32_t frameBytes = targetHardware == 1 ? kCarroFrameBytes : kBrinkFrameBytes;
    memset(frame, 0, kMaxExpanderFrameBytes);
    // A Brink frame has no sixth byte: that position sends nothing.
    if (targetPosition >= 0 && targetPosition < frameBytes)
        frame[targetPosition] = byte;
    if (targetHardware == 1)
        WriteCarroFrame(frame, merge, left, right);
    else
        WriteBrinkFrame(frame, merge, left, right);
}

const ObryCorvane::ByteWords& ObryCorvane::WordsOfByte()
{
    if (byteWordsHardware == targetHardware && byteWordsPosition == targetPosition)
        return byteWords;
    // A frame's words are the OR of what each bit of each byte gives, so a
    // byte's words are those of its low nibble ORed with its high one's.
    uint8_t frame[kMaxExpanderFrameBytes];
    for (uint32_t nibble = 0; nibble < 16; ++nibble) {
        float left, right;
        WriteFrame(static_cast<uint8_t>(nibble), {0, 0}, &left, &right, frame);
        const ExpanderWordPair low = targetHardware == 1 ? CarroFrameWords(frame) : BrinkFrameWords(frame);
        WriteFrame(static_cast<uint8_t>(nibble << 4), {0, 0}, &left, &right, frame);
        const ExpanderWordPair high = targetHardware == 1 ? CarroFrameWords(frame) : BrinkFrameWords(frame);
        byteWords.lowLeft[nibble] = low.left;
        byteWords.lowRight[nibble] = low.right;
        byteWords.highLeft[nibble] = high.left;
        byteWords.highRight[nibble] = high.right;
    }
    byteWordsHardware = targetHardware;
    byteWordsPosition = targetPosition;
    return byteWords;
}

// Test signals send the combiner's own byte alone: no merge, no display.
void ObryCorvane::ProcessTestSignal(float** outputs, int32_t frames)
{
    const uint32_t mask = TestCounterMask(testSignal);
    uint8_t frame[kMaxExpanderFrameBytes];
    for (int32_t i = 0; i < frames; ++i) {
        // A counter left by another signal's longer ramp is brought into
        // this one's range first, so the value keeps to 12 bits and never
        // spills into the channel bits of the high byte.
        const uint32_t t = testCounter & mask;
        const uint32_t value = TestValue(testSignal, t);
        const uint32_t channel = (t >> 1) & 3;
        const uint8_t byte =
            (t & 1) == 0 ? static_cast<uint8_t>(value & 0x7F) : static_cast<uint8_t>(0x80 | channel << 5 | value >> 7);
        WriteFrame(byte, {0, 0}, &outputs[0][i], &outputs[1][i], frame);
        testCounter = (t + 1) & mask;
    }
}

namespace {

// What a filter sees of sample i of its source (none: 0): only finite input,
// a NaN as 0 and infinities as the ends of the code range's reach.
inline double FilterInput(const float* in, int32_t i)
{
    const double x = in ? in[i] : 0.0f;
    return x != x ? 0.0 : (x < -4.0 ? -4.0 : (x > 4.0 ? 4.0 : x));
}

} // namespace

void ObryCorvane::ChannelCodes(int32_t k, const float* in, int32_t offsetCode, int32_t* codes, int32_t frames)
{
    if (!filterOn[k]) {
        for (int32_t i = 0; i < frames; ++i)
            codes[i] = CodeOf(in ? in[i] : 0.0f, offsetCode);
        return;
    }
    RunIIRFilterBlock(
        &filters[k], frames, [in](int32_t i) { return FilterInput(in, i); },
        [codes, offsetCode](int32_t i, double y) { codes[i] = CodeOf(y, offsetCode); });
}

void ObryCorvane::FilteredPairCodes(int32_t k0, int32_t k1, const float* in0, const float* in1,
                                    const int32_t* offsetCode, int32_t (*codes)[kPiece], int32_t frames)
{
    const int32_t offset0 = offsetCode[k0];
    const int32_t offset1 = offsetCode[k1];
    int32_t* codes0 = codes[k0];
    int32_t* codes1 = codes[k1];
    RunIIRFilterPairBlock(
        &filters[k0], &filters[k1], frames,
        [in0, in1](int32_t i, double& x0, double& x1) {
            x0 = FilterInput(in0, i);
            x1 = FilterInput(in1, i);
        },
        [codes0, codes1, offset0, offset1](int32_t i, double y0, double y1) {
            codes0[i] = CodeOf(y0, offset0);
            codes1[i] = CodeOf(y1, offset1);
        });
}

void ObryCorvane::Process(float** inputs, float** outputs, int32_t frames)
{
    if (frames <= 0)
        return;
    testSignal = IntParam(kTestSignal);
    if (testSignal >= 1) {
        ProcessTestSignal(outputs, frames);
        return;
    }

    int32_t offsetCode[kChannels];
    const float* in[kChannels];
    for (int32_t k = 0; k < kChannels; ++k) {
        offsetCode[k] = static_cast<int32_t>(Param(kOffset1 + k) * 384.0f);
        in[k] = source[k] >= 0 && source[k] < kNumInputs ? inputs[source[k]] : nullptr;
    }
    const bool thru = thruPair >= 0 && 2 * thruPair + 1 < kNumInputs;
    const float* thruLeft = thru ? inputs[2 * thruPair] : nullptr;
    const float* thruRight = thru ? inputs[2 * thruPair + 1] : nullptr;
    const bool carro = targetHardware == 1;

    const ByteWords& words = WordsOfByte();
    // A copy for the loop: the compiler reloads members after every output store.
    DunmorePacketWriter writer = packets;
    uint8_t byte = 0;
    int32_t codes[kChannels][kPiece];
    for (int32_t first = 0; first < frames; first += kPiece) {
        const int32_t n = frames - first < kPiece ? frames - first : kPiece;
        // Every input of the stretch is read before its outputs are written:
        // a host may hand the same buffers for both.
        // Filtered channels go in pairs, whose two filters run side by side.
        int32_t waiting = -1;
        for (int32_t k = 0; k < kChannels; ++k) {
            const float* from = in[k] ? in[k] + first : nullptr;
            if (!filterOn[k]) {
                ChannelCodes(k, from, offsetCode[k], codes[k], n);
            } else if (waiting < 0) {
                waiting = k;
            } else {
                FilteredPairCodes(waiting, k, in[waiting] ? in[waiting] + first : nullptr, from, offsetCode, codes, n);
                waiting = -1;
            }
        }
        if (waiting >= 0)
            ChannelCodes(waiting, in[waiting] ? in[waiting] + first : nullptr, offsetCode[waiting], codes[waiting], n);
        for (int32_t i = 0; i < n; ++i) {
            const int32_t at = first + i;
            const int32_t values[kChannels] = {codes[0][i], codes[1][i], codes[2][i], codes[3][i]};
            byte = writer.Next(values);
            const uint32_t left = words.lowLeft[byte & 15] | words.highLeft[byte >> 4];
            const uint32_t right = words.lowRight[byte & 15] | words.highRight[byte >> 4];
            if (carro) {
                const ExpanderWordPair merge = thru ? ExpanderWordPair{CarroSampleWord::FromSample(thruLeft[at]),
                                                                       CarroSampleWord::FromSample(thruRight[at])}
                                                    : ExpanderWordPair{0, 0};
                outputs[0][at] = CarroSampleWord::ToSample(left | merge.left);
                outputs[1][at] = CarroSampleWord::ToSample(right | merge.right);
            } else {
                const ExpanderWordPair merge = thru ? ExpanderWordPair{BrinkSampleWord::FromSample(thruLeft[at]),
                                                                       BrinkSampleWord::FromSample(thruRight[at])}
                                                    : ExpanderWordPair{0, 0};
                outputs[0][at] = BrinkSampleWord::ToSample(left | merge.left);
                outputs[1][at] = BrinkSampleWord::ToSample(right | merge.right);
            }
        }
    }
    packets = writer;
    // The display shows the last frame written.
    uint8_t frame[kMaxExpanderFrameBytes] = {};
    if (targetPosition >= 0 && targetPosition < (carro ? kCarroFrameBytes : kBrinkFrameBytes))
        frame[targetPosition] = byte;
    WriteIndicatorBytes(indicatorBlock, kIndicatorFrameBytes, frame, carro ? kCarroFrameBytes : kBrinkFrameBytes);
}

} // namespace ObryCorvaneDunmoreCombiner
