#include "plugins/smux/ObryCorvaneSMUX.h"

#include "plugins/common/SampleLoops.h"

#include <algorithm>
#include <iterator>

namespace ObryCorvaneSMUX {

namespace {

const ParameterInfo kParameters[ObryCorvane::kNumParams] = {
    {"Flip L", kAudioUnitParameterUnit_Boolean, 0, 1, 0},
    {"Flip R", kAudioUnitParameterUnit_Boolean, 0, 1, 0},
    {"OSC Port Offset", kAudioUnitParameterUnit_Indexed, 0, 100, 0},
};

FactoryPresetTable gPresets{{"Defaults", {}}};

// The whole groups of a channel whose output shares no byte with any input:
// out[n] = first[n] for even n, second[n] for odd n; answers how many samples
// it wrote. Restrict parameters let the compiler take the buffers as
// unrelated, so a group becomes one AVX-512 vector (two AVX2, four SSE).
CORVANE_SAMPLE_CLONES int32_t InterleaveGroupsApart(const float* __restrict first, const float* __restrict second,
                                                    float* __restrict out, int32_t frames)
{
    constexpr int32_t kGroup = 16;
    int32_t n = 0;
    for (; n + kGroup <= frames; n += kGroup)
        for (int32_t k = 0; k < kGroup; ++k) {
            // Both read: a load made on one branch only is not vectorised.
            const float a = first[n + k];
            const float b = second[n + k];
            out[n + k] = (k & 1) ? b : a;
        }
    return n;
}

} // namespace

const ParameterInfo* ObryCorvane::Parameters()
{
    return kParameters;
}

ObryCorvane::ObryCorvane(audioMasterCallback audioMaster)
    : ObryCorvaneBase(audioMaster, kNumInputs, kNumOutputs, false, vst::FourCC("QZsb"), kOSCPortOffset, 1,
                      &gPresets, kNumParams, kParameters, ObryProgramBasic<kNumParams>::Create),
      flipL(false), flipR(false), parity(0)
{
    Initialize();
}

int32_t ObryCorvane::GetParameterValueStrings(uint32_t, uint32_t, CFArray** outArray)
{
    // No parameter has a list of value names.
    return outArray ? kAudioUnitErr_InvalidParameter : 0;
}

int32_t ObryCorvane::Initialize()
{
    flipL = false;
    flipR = false;
    parity = 0;
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
    // A NaN from a restored state compares unequal to 0: flipped, as any
    // other non-zero value would be.
    flipL = program->GetParameter(kFlipL) != 0.0f;
    flipR = program->GetParameter(kFlipR) != 0.0f;
    return true;
}

// audio thread: no allocation, no blocking lock. Runs once per piece of a
// block; the parity carries over to the next piece, so a block cut by MIDI
// events interleaves exactly as an uncut one.
void ObryCorvane::Process(float** inputs, float** outputs, int32_t frames)
{
    if (frames <= 0)
        return;
    const float* evenL = inputs[flipL ? 1 : 0];
    const float* oddL = inputs[flipL ? 0 : 1];
    const float* evenR = inputs[flipR ? 3 : 2];
    const float* oddR = inputs[flipR ? 2 : 3];
    float* outL = outputs[0];
    float* outR = outputs[1];
    const uint32_t p = parity;
    // Sample n of the block takes the first input of a pair when n + parity
    // is even.
    const float* const firstL[2] = {p ? oddL : evenL, p ? evenL : oddL};
    const float* const firstR[2] = {p ? oddR : evenR, p ? evenR : oddR};
    int32_t n = 0;
    const float* const sources[4] = {evenL, oddL, evenR, oddR};
    const bool apart = std::all_of(std::begin(sources), std::end(sources), [&](const float* source) {
        return SampleLoops::Apart(source, outL, frames) && SampleLoops::Apart(source, outR, frames);
    });
    if (apart) {
        n = InterleaveGroupsApart(firstL[0], firstL[1], outL, frames);
        InterleaveGroupsApart(firstR[0], firstR[1], outR, frames);
    }
    // Hosts that process in place may hand an output buffer that is also an
    // input buffer: then groups of four samples (one vector), every input
    // sample of a group read before any output sample of it is written;
    // nothing runs from sample to sample, so the compiler vectorises them.
    constexpr int32_t kGroup = 4;
    for (; n + kGroup <= frames; n += kGroup) {
        float evenSourceL[kGroup], oddSourceL[kGroup], evenSourceR[kGroup], oddSourceR[kGroup];
        for (int32_t k = 0; k < kGroup; ++k) {
            evenSourceL[k] = firstL[0][n + k];
            oddSourceL[k] = firstL[1][n + k];
            evenSourceR[k] = firstR[0][n + k];
            oddSourceR[k] = firstR[1][n + k];
        }
        for (int32_t k = 0; k < kGroup; ++k)
            outL[n + k] = (k & 1) ? oddSourceL[k] : evenSourceL[k];
        for (int32_t k = 0; k < kGroup; ++k)
            outR[n + k] = (k & 1) ? oddSourceR[k] : evenSourceR[k];
    }
    for (; n < frames; ++n) {
        const float left = firstL[n & 1][n];
        const float right = firstR[n & 1][n];
        outL[n] = left;
        outR[n] = right;
    }
    if (frames & 1)
        parity = 1u - p;
}

uint32_t ObryCorvane::GetParameterFlags(int32_t index)
{
    return index == kOSCPortOffset ? kAudioUnitParameterFlag_ValuesHaveStrings : 0;
}

bool ObryCorvane::StringFromValue(AudioUnitParameterStringFromValue& request)
{
    if (request.inParamID != static_cast<uint32_t>(kOSCPortOffset))
        return false;
    const float value = request.inValue ? *request.inValue : GetParameterReal(kOSCPortOffset);
    if (value == 0.0f)
        request.outString = CFStringMakeConstant("Off");
    return true;
}

} // namespace ObryCorvaneSMUX
