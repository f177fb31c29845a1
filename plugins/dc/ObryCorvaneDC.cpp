#include "plugins/dc/ObryCorvaneDC.h"

#include <cstring>

#include "plugins/common/OffValueTexts.h"
#include "plugins/common/OutputSmoothing.h"
#include "plugins/common/SampleLoops.h"

namespace ObryCorvaneDC {

namespace {

const ParameterInfo kParameters[ObryCorvane::kNumParams] = {
    {"Output Positive L", kAudioUnitParameterUnit_Generic, 0, 1, 0},
    {"Output Symmetric L", kAudioUnitParameterUnit_Generic, -1, 1, 0},
    {"Multiplier L", kAudioUnitParameterUnit_Generic, -2, 2, 1},
    {"Input Add L", kAudioUnitParameterUnit_Generic, 0, 1, 0},
    {"Input Multiply L", kAudioUnitParameterUnit_Generic, 0, 1, 0},
    {"Output Positive R", kAudioUnitParameterUnit_Generic, 0, 1, 0},
    {"Output Symmetric R", kAudioUnitParameterUnit_Generic, -1, 1, 0},
    {"Multiplier R", kAudioUnitParameterUnit_Generic, -2, 2, 1},
    {"Input Add R", kAudioUnitParameterUnit_Generic, 0, 1, 0},
    {"Input Multiply R", kAudioUnitParameterUnit_Generic, 0, 1, 0},
    {"OSC Port Offset", kAudioUnitParameterUnit_Indexed, 0, 100, 0},
    {"Smoothing L", kAudioUnitParameterUnit_Milliseconds, -500, 500, 0},
    {"Smoothing R", kAudioUnitParameterUnit_Milliseconds, -500, 500, 0},
};

FactoryPresetTable gPresets{{"Defaults", {}}};

// Channel c's shaping of one sample (before smoothing).
struct Shape {
    float level, add, multiply, rest;
    bool steady; // the input plays no part

    explicit Shape(float level, float add, float multiply)
        : level(level), add(add), multiply(multiply), rest(1.0f - multiply), steady(add == 0.0f && multiply == 0.0f)
    {
    }
    [[gnu::always_inline]] float Moving(float x) const { return (x * multiply + rest) * level + x * add; }
    // A NaN or infinite sample must not turn the steady level into NaN.
    [[gnu::always_inline]] float operator()(float x) const { return steady ? level : Moving(x); }
};

// audio thread: channel c's samples before smoothing.
CORVANE_SAMPLE_CLONES void ShapeSamples(const float* in, float* out, int32_t frames, float level, float add,
                                        float multiply)
{
    const Shape shape(level, add, multiply);
    if (shape.steady) {
        SampleLoops::Fill(out, frames, level);
        return;
    }
    // Plain arithmetic: groups of two vectors keep the loop's own
    // instructions from limiting it.
    SampleLoops::Map<2 * SampleLoops::kGroup>(in, out, frames, [=](float x, int32_t) { return shape.Moving(x); });
}

uint32_t BitsOf(float value)
{
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

// audio thread: both channels shaped and smoothed in one loop, each
// sample's shaping beside the smoothing chains.
void ShapeAndSmoothBoth(const float* inL, const float* inR, float* outL, float* outR, int32_t frames,
                        const Shape& shapeL, const Shape& shapeR, const OutputSmoothingStep& smoothL,
                        const OutputSmoothingStep& smoothR, float* stateL, float* stateR)
{
    const Shape l = shapeL, r = shapeR;
    const OutputSmoothingStep sl = smoothL, sr = smoothR;
    float yL = *stateL, yR = *stateR;
    for (int32_t i = 0; i < frames; ++i) {
        const float xL = l(inL[i]);
        const float xR = r(inR[i]);
        yL = sl(yL, xL);
        outL[i] = yL;
        yR = sr(yR, xR);
        outR[i] = yR;
    }
    *stateL = yL;
    *stateR = yR;
}

constexpr OffValueTexts kOffTexts{ObryCorvane::kPortOffsetIndex, ObryCorvane::kSmoothingIndex,
                                  ObryCorvane::kSmoothingIndex + 1};

} // namespace

const ParameterInfo* ObryCorvane::Parameters()
{
    return kParameters;
}

ObryCorvane::ObryCorvane(audioMasterCallback audioMaster)
    : ObryCorvaneBase(audioMaster, 2, 2, false, vst::FourCC("QZs0"), kPortOffsetIndex, 1, &gPresets, kNumParams,
                      kParameters, ObryProgramBasic<kNumParams>::Create)
{
    Initialize();
}

int32_t ObryCorvane::Initialize()
{
    memset(channels, 0, sizeof channels);
    ForgetSettings();
    return ObryCorvaneBase::Initialize();
}

// audio thread: no allocation, no blocking lock
bool ObryCorvane::BeginBlock(int32_t frames)
{
    if (!ObryCorvaneBase::BeginBlock(frames))
        return false;
    if (!SettingsChanged())
        return true;
    const float sampleRate = getSampleRate();
    ObryProgram* program = CurrentProgram();
    for (int32_t c = 0; c < kNumChannels; ++c) {
        const int32_t base = 5 * c;
        Channel& channel = channels[c];
        channel.level = program->GetParameter(base + 2) *
                        (program->GetParameter(base) + program->GetParameter(base + 1));
        channel.inputAdd = program->GetParameter(base + 3);
        channel.inputMultiply = program->GetParameter(base + 4);
        SetupOutputSmoothing(program->GetParameter(kSmoothingIndex + c), sampleRate, &channel.slewStep,
                             &channel.lowpassCoef);
    }
    return true;
}

// audio thread: no allocation, no blocking lock
void ObryCorvane::Process(float** inputs, float** outputs, int32_t frames)
{
    const int32_t count = numOutputs < kNumChannels ? numOutputs : kNumChannels;
    // Both channels shaped, then smoothed in one loop (their chains side by
    // side), when the left output holds none of the right channel's buffers
    // (then the order changes nothing); otherwise each channel runs whole,
    // left first.
    if (count == 2 && SampleLoops::Apart(outputs[0], inputs[1], frames) &&
        SampleLoops::Apart(outputs[0], outputs[1], frames)) {
        // Shaped and smoothed in one loop, the shaping beside the chains,
        // when each sample is read before any output reaches it (as when
        // shaped whole first): the left input the same buffer as each
        // output or apart from it, the right input and output likewise. A
        // channel whose first shaped sample has the bits of its state may
        // hold it for the whole block: then as below, where smoothing
        // leaves such a block alone without running its chain.
        // Only when both channels smooth: unsmoothed samples are shaped
        // fastest whole, in vector registers.
        const Shape shapeL(channels[0].level, channels[0].inputAdd, channels[0].inputMultiply);
        const Shape shapeR(channels[1].level, channels[1].inputAdd, channels[1].inputMultiply);
        const auto smooths = [](const Channel& channel) {
            return channel.slewStep > 0.0f || channel.lowpassCoef > 0.0f;
        };
        if (frames > 0 && smooths(channels[0]) && smooths(channels[1]) &&
            SampleLoops::SameOrApart(inputs[0], outputs[0], frames) &&
            SampleLoops::SameOrApart(inputs[0], outputs[1], frames) &&
            SampleLoops::SameOrApart(inputs[1], outputs[1], frames) &&
            BitsOf(shapeL(inputs[0][0])) != BitsOf(channels[0].smoothState) &&
            BitsOf(shapeR(inputs[1][0])) != BitsOf(channels[1].smoothState)) {
            ShapeAndSmoothBoth(inputs[0], inputs[1], outputs[0], outputs[1], frames, shapeL, shapeR,
                               OutputSmoothingStep(channels[0].slewStep, channels[0].lowpassCoef),
                               OutputSmoothingStep(channels[1].slewStep, channels[1].lowpassCoef),
                               &channels[0].smoothState, &channels[1].smoothState);
            return;
        }
        for (int32_t c = 0; c < count; ++c)
            ShapeSamples(inputs[c], outputs[c], frames, channels[c].level, channels[c].inputAdd,
                         channels[c].inputMultiply);
        const float slewStep[kNumChannels] = {channels[0].slewStep, channels[1].slewStep};
        const float lowpassCoef[kNumChannels] = {channels[0].lowpassCoef, channels[1].lowpassCoef};
        ApplyOutputSmoothingPair(outputs[0], outputs[1], frames, slewStep, lowpassCoef, &channels[0].smoothState,
                                 &channels[1].smoothState);
        return;
    }
    for (int32_t c = 0; c < count; ++c) {
        Channel& channel = channels[c];
        const float* in = inputs[c];
        float* out = outputs[c];
        ShapeSamples(in, out, frames, channel.level, channel.inputAdd, channel.inputMultiply);
        ApplyOutputSmoothing(out, frames, channel.slewStep, channel.lowpassCoef, &channel.smoothState);
    }
}

uint32_t ObryCorvane::GetParameterFlags(int32_t index)
{
    return kOffTexts.Flags(index);
}

bool ObryCorvane::StringFromValue(AudioUnitParameterStringFromValue& request)
{
    return kOffTexts.StringFromValue(*this, request);
}

} // namespace ObryCorvaneDC
