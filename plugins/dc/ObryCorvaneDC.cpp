#include "plugins/dc/ObryCorvaneDC.h"

#include <algorithm>
#include <cstring>

#include "plugins/common/OffValueTexts.h"
#include "plugins/common/OutputSmoothing.h"

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
    for (int32_t c = 0; c < count; ++c) {
        Channel& channel = channels[c];
        const float* in = inputs[c];
        float* out = outputs[c];
        const float level = channel.level;
        if (channel.inputAdd == 0.0f && channel.inputMultiply == 0.0f) {
            // The input plays no part: a NaN or infinite sample must not
            // turn the steady level into NaN.
            std::fill_n(out, frames, level);
        } else {
            const float add = channel.inputAdd;
            const float multiply = channel.inputMultiply;
            const float rest = 1.0f - multiply;
            auto shape = [=](float x) { return (x * multiply + rest) * level + x * add; };
            // in and out may be the same buffer: groups of eight samples are
            // read before any of them is written, and the compiler
            // vectorises the groups.
            constexpr int32_t kGroup = 8;
            int32_t i = 0;
            for (; i + kGroup <= frames; i += kGroup) {
                float y[kGroup];
                for (int32_t k = 0; k < kGroup; ++k)
                    y[k] = shape(in[i + k]);
                for (int32_t k = 0; k < kGroup; ++k)
                    out[i + k] = y[k];
            }
            for (; i < frames; ++i)
                out[i] = shape(in[i]);
        }
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
