#include "plugins/dunmore/ObryCorvaneDunmoreCombiner.h"
#include "plugins/common/ParameterUnits.h"

#include <cmath>
#include <cstring>

#include "framework/IndicatorBlock.h"
#include "plugins/common/ExpanderControl.h"
#include "plugins/common/ParameterValues.h"
#include "plugins/common/SampleLoops.h"
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
    filters = FilterQuad{};
    for (int32_t k = 0; k < kChannels; ++k) {
        filterOn[k] = false;
        source[k] = -1;
    }
    packets = DunmorePacketWriter{};
    testCounter = 0;
    targetHardware = 0;
    targetPosition = 0;
    thruPair = -1;
    testSignal = 0;
    pieceSettingsSeen = 0;
    ForgetSettings();
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
    if (!SettingsChanged())
        return true;
    thruPair = IntParam(kInputThru) - 1;
    for (int32_t k = 0; k < kChannels; ++k) {
        source[k] = IntParam(kInput1 + k) - 1;
        const bool on = Param(kFilter1 + k) != 0.0f;
        // A filter switched on starts from rest, not from whatever it held
        // when it was switched off; one switched off rests in its lane.
        if (on != filterOn[k])
            filters.Reset(k);
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
    ExpanderWordPair low[16], high[16];
    for (uint32_t nibble = 0; nibble < 16; ++nibble) {
        float left, right;
        WriteFrame(static_cast<uint8_t>(nibble), {0, 0}, &left, &right, frame);
        low[nibble] = targetHardware == 1 ? CarroFrameWords(frame) : BrinkFrameWords(frame);
        WriteFrame(static_cast<uint8_t>(nibble << 4), {0, 0}, &left, &right, frame);
        high[nibble] = targetHardware == 1 ? CarroFrameWords(frame) : BrinkFrameWords(frame);
    }
    for (uint32_t byte = 0; byte < 256; ++byte) {
        byteWords.left[byte] = low[byte & 15].left | high[byte >> 4].left;
        byteWords.right[byte] = low[byte & 15].right | high[byte >> 4].right;
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

// The filters side by side in vector registers (AVX where the machine has
// it: the same double operations in the same order, so the same bits):
// values[i][k] = filter k's output, each filter seeing FilterInput of its
// source in[k] (a missing one reads a stretch of zeros). At most kMaxFrames.
constexpr int32_t kMaxFrames = 64;
CORVANE_SAMPLE_CLONES void FilterFour(const IIRFilterCoefficientsD& coefficients, ObryCorvane::FilterQuad* filters,
                                      const float* const* in, double (*values)[ObryCorvane::kChannels],
                                      int32_t frames)
{
    typedef IIRQuad<double> Quad;
    typedef float Floats __attribute__((vector_size(16)));
    typedef float Octet __attribute__((vector_size(32)));
    // FilterInput first, eight samples of a source at a time, off the
    // filters' loop: in single precision, which holds the same values (a
    // float's double is exact, and so are the comparisons with +-4).
    float held[ObryCorvane::kChannels][kMaxFrames];
    for (int32_t k = 0; k < ObryCorvane::kChannels; ++k) {
        int32_t i = 0;
        for (; i + 8 <= frames; i += 8) {
            const Octet zero = {0, 0, 0, 0, 0, 0, 0, 0};
            Octet x;
            memcpy(&x, in[k] + i, sizeof x);
            x = x == x ? x : zero;
            x = x < -4.0f ? zero - 4.0f : x;
            x = x > 4.0f ? zero + 4.0f : x;
            memcpy(&held[k][i], &x, sizeof x);
        }
        for (; i < frames; ++i)
            held[k][i] = static_cast<float>(FilterInput(in[k], i));
    }
    RunIIRFilterQuadBlock(
        coefficients, filters, frames,
        [&held](int32_t i, Quad& x) {
            const Floats samples = {held[0][i], held[1][i], held[2][i], held[3][i]};
            x = __builtin_convertvector(samples, Quad);
        },
        [values](int32_t i, const Quad& y) { memcpy(values[i], &y, sizeof y); });
}

} // namespace

void ObryCorvane::ChannelValues(int32_t k, const float* in, double (*values)[kChannels], int32_t frames)
{
    if (!filterOn[k]) {
        for (int32_t i = 0; i < frames; ++i)
            values[i][k] = in ? in[i] : 0.0f;
        return;
    }
    FilterState filter;
    filter.coefficients = &filterCoefficients;
    filters.Get(k, &filter);
    RunIIRFilterBlock(
        &filter, frames, [in](int32_t i) { return FilterInput(in, i); },
        [values, k](int32_t i, double y) { values[i][k] = y; });
    filters.Set(k, filter);
}

template <class Word>
void ObryCorvane::EncodeStretches(const float* const* in, const int32_t* offsetCode, const float* thruLeft,
                                  const float* thruRight, float** outputs, int32_t frames)
{
    const ByteWords& words = WordsOfByte();
    // A stretch's samples are turned into words, then merged and turned into
    // samples together, which gives what frame by frame gives when the host
    // hands the same buffer for an input and an output; buffers that overlap
    // otherwise go frame by frame.
    bool grouped = SampleLoops::SameOrApart(outputs[0], outputs[1], frames);
    if (thruLeft)
        for (const float* thru : {thruLeft, thruRight})
            for (int32_t o = 0; o < kNumOutputs; ++o)
                grouped = grouped && SampleLoops::SameOrApart(thru, outputs[o], frames);
    // Two or more filters run together, in one vector register: the lane of
    // a channel without its filter rests there, fed silence. A single
    // filter runs alone.
    const int32_t filtered = filterOn[0] + filterOn[1] + filterOn[2] + filterOn[3];

    // A copy for the loop: the compiler reloads members after every output store.
    DunmorePacketWriter writer = packets;
    uint8_t byte = 0;
    int32_t codes[kChannels] = {};
    alignas(32) double values[kPiece][kChannels];
    uint32_t wordsLeft[kPiece], wordsRight[kPiece];
    for (int32_t first = 0; first < frames; first += kPiece) {
        const int32_t n = frames - first < kPiece ? frames - first : kPiece;
        // Every input of the stretch is read before its outputs are written:
        // a host may hand the same buffers for both.
        const float* from[kChannels];
        for (int32_t k = 0; k < kChannels; ++k)
            from[k] = in[k] ? in[k] + first : nullptr;
        if (filtered >= 2) {
            static constexpr float kSilence[kPiece] = {};
            const float* sources[kChannels];
            for (int32_t k = 0; k < kChannels; ++k)
                sources[k] = filterOn[k] && from[k] ? from[k] : kSilence;
            static_assert(kPiece <= kMaxFrames);
            FilterFour(filterCoefficients, &filters, sources, values, n);
        }
        for (int32_t k = 0; k < kChannels; ++k)
            if (!filterOn[k] || filtered == 1)
                ChannelValues(k, from[k], values, n);
        for (int32_t i = 0; i < n; ++i) {
            // A frame sends a code only when it latches one (even frames,
            // channel (frame >> 1) & 3): only that code is made.
            if ((writer.frame & 1) == 0) {
                const uint32_t channel = (writer.frame >> 1) & 3;
                codes[channel] = CodeOf(values[i][channel], offsetCode[channel]);
            }
            byte = writer.Next(codes);
            wordsLeft[i] = words.left[byte];
            wordsRight[i] = words.right[byte];
        }
        float* left = outputs[0] + first;
        float* right = outputs[1] + first;
        const float* mergeLeft = thruLeft ? thruLeft + first : nullptr;
        const float* mergeRight = thruLeft ? thruRight + first : nullptr;
        if (grouped) {
            WordsToSamples<Word>(wordsLeft, wordsRight, mergeLeft, mergeRight, left, right, n);
        } else {
            for (int32_t i = 0; i < n; ++i)
                WordsToSamples<Word>(&wordsLeft[i], &wordsRight[i], mergeLeft ? mergeLeft + i : nullptr,
                                     mergeLeft ? mergeRight + i : nullptr, left + i, right + i, 1);
        }
    }
    packets = writer;
    // The display shows the last frame written.
    uint8_t frame[kMaxExpanderFrameBytes] = {};
    const int32_t frameBytes = targetHardware == 1 ? kCarroFrameBytes : kBrinkFrameBytes;
    if (targetPosition >= 0 && targetPosition < frameBytes)
        frame[targetPosition] = byte;
    WriteIndicatorBytes(indicatorBlock, kIndicatorFrameBytes, frame, frameBytes);
}

void ObryCorvane::Process(float** inputs, float** outputs, int32_t frames)
{
    if (frames <= 0)
        return;
    if (const uint32_t changes = ParameterChanges(); changes != pieceSettingsSeen) {
        pieceSettingsSeen = changes;
        testSignal = IntParam(kTestSignal);
        for (int32_t k = 0; k < kChannels; ++k)
            offsetCodes[k] = static_cast<int32_t>(Param(kOffset1 + k) * 384.0f);
    }
    if (testSignal >= 1) {
        ProcessTestSignal(outputs, frames);
        return;
    }

    const int32_t* offsetCode = offsetCodes;
    const float* in[kChannels];
    for (int32_t k = 0; k < kChannels; ++k)
        in[k] = source[k] >= 0 && source[k] < kNumInputs ? inputs[source[k]] : nullptr;
    const bool thru = thruPair >= 0 && 2 * thruPair + 1 < kNumInputs;
    const float* thruLeft = thru ? inputs[2 * thruPair] : nullptr;
    const float* thruRight = thru ? inputs[2 * thruPair + 1] : nullptr;
    if (targetHardware == 1)
        EncodeStretches<CarroSampleWord>(in, offsetCode, thruLeft, thruRight, outputs, frames);
    else
        EncodeStretches<BrinkSampleWord>(in, offsetCode, thruLeft, thruRight, outputs, frames);
}

} // namespace ObryCorvaneDunmoreCombiner
