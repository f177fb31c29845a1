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
        // in and out may be the same buffer: each sample is read before it
        // is written.
        switch (channel.function) {
        case kLogarithm:
            for (int32_t i = 0; i < frames; ++i) {
                const float u = in[i] * inScale + inOffset;
                const float f = u > kLogFloor ? std::log2(u) + 1.0f : 0.0f;
                out[i] = f * outScale + outOffset;
            }
            break;
        case kExponential:
            for (int32_t i = 0; i < frames; ++i) {
                const float u = in[i] * inScale + inOffset;
                out[i] = std::exp2(u - 1.0f) * outScale + outOffset;
            }
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
