#include "plugins/function/ObryCorvaneFunction.h"

#include "framework/IndicatorBlock.h"
#include "plugins/common/SampleLoops.h"
#include "plugins/common/ValueNames.h"

#include <atomic>
#include <cmath>
#include <cstring>

namespace ObryCorvaneFunction {

namespace {

const ParameterInfo kParameters[ObryCorvane::kNumParams] = {
    {"OSC Port Offset", kAudioUnitParameterUnit_Indexed, 0, 100, 0},
    {"Enable L", kAudioUnitParameterUnit_Boolean, 0, 1, 0},
    {"Function L", kAudioUnitParameterUnit_Indexed, 0, 3, 0},
    {"Input Scale L", kAudioUnitParameterUnit_Generic, -2, 2, 1},
    {"Input Offset L", kAudioUnitParameterUnit_Generic, -1, 1, 0},
    {"Output Scale L", kAudioUnitParameterUnit_Generic, -2, 2, 1},
    {"Output Offset L", kAudioUnitParameterUnit_Generic, -1, 1, 0},
    {"Enable R", kAudioUnitParameterUnit_Boolean, 0, 1, 0},
    {"Function R", kAudioUnitParameterUnit_Indexed, 0, 3, 0},
    {"Input Scale R", kAudioUnitParameterUnit_Generic, -2, 2, 1},
    {"Input Offset R", kAudioUnitParameterUnit_Generic, -1, 1, 0},
    {"Output Scale R", kAudioUnitParameterUnit_Generic, -2, 2, 1},
    {"Output Offset R", kAudioUnitParameterUnit_Generic, -1, 1, 0},
};

// The value names of both Function parameters, shared by every instance.
const char* const kFunctionNames[] = {"Linear", "Logarithm", "Exponential", "Absolute"};

FactoryPresetTable gPresets{{"Defaults", {}}};
SharedValueNames gFunctionNameList(kFunctionNames);

constexpr int32_t kFunctionIndexL = 2;
constexpr int32_t kFunctionIndexR = 8;

// Smallest argument of the logarithm; at or below it the curve is 0.
constexpr float kLogFloor = 1e-10f;

// A channel's scales and offsets.
struct Scaling {
    float inScale, inOffset, outScale, outOffset;
};

// Samples whose curve values (library calls) are made at once.
constexpr int32_t kCallGroup = 16;

// audio thread: out[i] = curve(in[i] * inScale + inOffset) * outScale +
// outOffset, where curve makes library calls (log2, exp2). A group's
// arguments are made first and its outputs after its calls, both in vector
// registers, so that only the group's place lives across a call (every
// vector register is the caller's to save). The group reads its inputs
// before it writes its outputs: buffers that overlap other than exactly (a
// broken host) go one sample after another.
template <class Curve>
[[gnu::always_inline]] inline void MapCurve(const float* in, float* out, int32_t frames, Scaling s, Curve curve)
{
    int32_t i = 0;
    if (SampleLoops::SameOrApart(in, out, frames)) {
        float u[kCallGroup], f[kCallGroup];
        for (; i + kCallGroup <= frames; i += kCallGroup) {
            for (int32_t k = 0; k < kCallGroup; ++k)
                u[k] = in[i + k] * s.inScale + s.inOffset;
            for (int32_t k = 0; k < kCallGroup; ++k)
                f[k] = curve(u[k]);
            for (int32_t k = 0; k < kCallGroup; ++k)
                out[i + k] = f[k] * s.outScale + s.outOffset;
        }
    }
    for (; i < frames; ++i) {
        const float u = in[i] * s.inScale + s.inOffset;
        out[i] = curve(u) * s.outScale + s.outOffset;
    }
}

} // namespace

const ParameterInfo* ObryCorvane::Parameters()
{
    return kParameters;
}

ObryCorvane::ObryCorvane(audioMasterCallback audioMaster)
    : ObryCorvaneBase(audioMaster, 2, 2, false, vst::FourCC("QZsn"), kPortOffsetIndex, 1, &gPresets, kNumParams,
                      kParameters, ObryProgramBasic<kNumParams>::Create)
{
    Initialize();
}

int32_t ObryCorvane::GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray)
{
    if (!outArray || scope != 0 || (index != kFunctionIndexL && index != kFunctionIndexR))
        return kAudioUnitErr_InvalidParameter;
    *outArray = gFunctionNameList.Acquire();
    return 0;
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
    ObryProgram* program = CurrentProgram();
    for (int32_t c = 0; c < kNumChannels; ++c) {
        const int32_t base = 1 + 6 * c;
        Channel& channel = channels[c];
        channel.enabled = program->GetParameter(base) != 0.0f;
        if (!channel.enabled)
            continue; // keeps the last settings
        const float function = program->GetParameter(base + 1);
        channel.function = std::isfinite(function) && function >= 0.0f && function < 4.0f
                               ? static_cast<int32_t>(function)
                               : kLinear;
        channel.inScale = program->GetParameter(base + 2);
        channel.inOffset = program->GetParameter(base + 3);
        channel.outScale = program->GetParameter(base + 4);
        channel.outOffset = program->GetParameter(base + 5);
    }
    return true;
}

// audio thread: no allocation, no blocking lock
void ObryCorvane::StoreIndicator(int32_t element, float value)
{
    WriteIndicator<float>(indicatorBlock, element, value);
}

// audio thread: no allocation, no blocking lock
void ObryCorvane::Process(float** inputs, float** outputs, int32_t frames)
{
    if (frames <= 0)
        return;
    const int32_t count = numOutputs < kNumChannels ? numOutputs : kNumChannels;
    for (int32_t c = 0; c < count; ++c) {
        const Channel& channel = channels[c];
        const float* in = inputs[c];
        float* out = outputs[c];
        if (!channel.enabled) {
            const float first = in[0];
            if (out != in)
                memmove(out, in, sizeof(float) * static_cast<size_t>(frames));
            StoreIndicator(kIndicatorInput + c, first);
            StoreIndicator(kIndicatorOutput + c, out[0]);
            continue;
        }
        const float inScale = channel.inScale;
        const float inOffset = channel.inOffset;
        const float outScale = channel.outScale;
        const float outOffset = channel.outOffset;
        const float firstInput = in[0] * inScale + inOffset;
        const Scaling scaling{inScale, inOffset, outScale, outOffset};
        switch (channel.function) {
        case kLogarithm:
            MapCurve(in, out, frames, scaling, [](float u) { return u > kLogFloor ? std::log2(u) + 1.0f : 0.0f; });
            break;
        case kExponential:
            MapCurve(in, out, frames, scaling, [](float u) { return std::exp2(u - 1.0f); });
            break;
        case kAbsolute:
            SampleLoops::Map(in, out, frames, [=](float x, int32_t) {
                const float u = x * inScale + inOffset;
                return std::fabs(u) * outScale + outOffset;
            });
            break;
        default:
            SampleLoops::Map(in, out, frames, [=](float x, int32_t) {
                const float u = x * inScale + inOffset;
                return u * outScale + outOffset;
            });
            break;
        }
        StoreIndicator(kIndicatorInput + c, firstInput);
        StoreIndicator(kIndicatorOutput + c, out[0]);
    }
}

uint32_t ObryCorvane::GetParameterFlags(int32_t index)
{
    return index == kPortOffsetIndex ? kAudioUnitParameterFlag_ValuesHaveStrings : 0;
}

bool ObryCorvane::StringFromValue(AudioUnitParameterStringFromValue& request)
{
    if (static_cast<int32_t>(request.inParamID) != kPortOffsetIndex)
        return false;
    const float value = request.inValue ? *request.inValue : GetParameterReal(kPortOffsetIndex);
    if (value == 0.0f)
        request.outString = CFStringMakeConstant("Off");
    return true;
}

} // namespace ObryCorvaneFunction
