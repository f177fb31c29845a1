#include "plugins/lfo/ObryCorvaneLFO.h"

#include "plugins/common/ValueNames.h"

#include <cmath>
#include <cstring>

#include "plugins/common/FastSine.h"
#include "plugins/common/OutputSmoothing.h"

namespace ObryCorvaneLFO {

namespace {

constexpr uint32_t kGeneric = kAudioUnitParameterUnit_Generic;
constexpr uint32_t kIndexed = kAudioUnitParameterUnit_Indexed;
constexpr uint32_t kBoolean = kAudioUnitParameterUnit_Boolean;
constexpr uint32_t kPercent = kAudioUnitParameterUnit_Percent;
constexpr uint32_t kHertz = kAudioUnitParameterUnit_Hertz;
constexpr uint32_t kBeatsUnit = kAudioUnitParameterUnit_Beats;
constexpr uint32_t kMilliseconds = kAudioUnitParameterUnit_Milliseconds;

#define LFO_GROUP(S)                                                                                                 \
    {"Speed " S, kHertz, 0.05f, 20, 5}, {"Speed Multiplier " S, kIndexed, 0, 3, 1}, {"Sync " S, kIndexed, 0, 5, 0},   \
        {"Beat Divisor " S, kIndexed, 0, 7, 2}, {"Beats " S, kBeatsUnit, 0, 128, 4},                                 \
        {"Triplet " S, kBoolean, 0, 1, 0}, {"Phase " S, kGeneric, 0, 360, 0}, {"Offset " S, kGeneric, -1, 1, 0},      \
        {"Sine " S, kGeneric, -1, 1, 0}, {"Triangle " S, kGeneric, -1, 1, 0}, {"Square " S, kGeneric, -1, 1, 0},      \
        {"Saw " S, kGeneric, -1, 1, 0}, {"Random " S, kGeneric, 0, 1, 0}, {"Noise " S, kGeneric, 0, 1, 0},            \
        {"Pulse Width " S, kPercent, 0, 100, 50}, {"Asymmetry " S, kPercent, -100, 100, 0},                          \
        {"Input Mode " S, kIndexed, 0, 2, 0}

const ParameterInfo kParameters[ObryCorvane::kNumParams] = {
    {"OSC Port Offset", kIndexed, 0, 100, 0},
    LFO_GROUP("L"),
    LFO_GROUP("R"),
    {"Smoothing L", kMilliseconds, -500, 500, 0},
    {"Smoothing R", kMilliseconds, -500, 500, 0},
    {"Swing L", kPercent, 0, 100, 50},
    {"Swing Type L", kIndexed, 0, 1, 0},
    {"Swing R", kPercent, 0, 100, 50},
    {"Swing Type R", kIndexed, 0, 1, 0},
    {"Reset By Note L", kBoolean, 0, 1, 0},
    {"Reset By Note R", kBoolean, 0, 1, 0},
};

#undef LFO_GROUP

// "DIN sync (24)": L a 0/1 square at 24 cycles per quarter note locked to the
// song position (Transport, 1/64 triplet, one beat); R a 0/1 run level
// (Start/Stop). Reset By Note L and R take their defaults.
FactoryPresetTable gPresets{
    {"Defaults", {}},
    {"DIN sync (24)",
     {0,                                                      // OSC Port Offset
      5, 1, 2, 6, 1, 1, 0, 0.5f, 0, 0, 0.5f, 0, 0, 0, 50, 0, 0, // L group
      5, 1, 4, 2, 1, 0, 0, 0.5f, 0, 0, 0.5f, 0, 0, 0, 50, 0, 0, // R group
      0, 0, 50, 0, 50, 0}},                                   // smoothing, swing
};

// The value-name lists, built once per process and shared by all instances.
const char* const kMultiplierNames[] = {"0.1", "1", "10", "100"};
const char* const kSyncModeNames[] = {"Free", "Tempo", "Transport", "Quadrature", "Start/Stop", "Transport2"};
const char* const kDivisorNames[] = {"1/1", "1/2", "1/4", "1/8", "1/16", "1/32", "1/64", "1/128"};
const char* const kInputModeTexts[] = {"Add", "Multiply", "Combine"};
const char* const kSwingTypeTexts[] = {"16", "8"};
SharedValueNames gMultiplierList(kMultiplierNames);
SharedValueNames gSyncList(kSyncModeNames);
SharedValueNames gDivisorList(kDivisorNames);
SharedValueNames gInputModeList(kInputModeTexts);
SharedValueNames gSwingTypeList(kSwingTypeTexts);

} // namespace

ObryCorvane::ObryCorvane(audioMasterCallback audioMaster)
    : ObryCorvaneBase(audioMaster, 2, 2, false, vst::FourCC("QZs2"), kOSCPortOffset, kNumPrograms, &gPresets,
                      kNumParams, kParameters, ObryProgramBasic<kNumParams>::Create)
{
    Initialize();
}

int32_t ObryCorvane::GetParameterValueStrings(uint32_t scope, uint32_t index, CFArray** outArray)
{
    if (!outArray)
        return 0;
    if (scope != 0 || index >= static_cast<uint32_t>(kNumParams))
        return kAudioUnitErr_InvalidParameter;
    SharedValueNames* names;
    const int32_t i = static_cast<int32_t>(index);
    const int32_t groupIndex = i >= 1 && i <= 2 * kGroupSize ? (i - 1) % kGroupSize + 1 : -1;
    if (groupIndex == kSpeedMultiplier)
        names = &gMultiplierList;
    else if (groupIndex == kSync)
        names = &gSyncList;
    else if (groupIndex == kBeatDivisor)
        names = &gDivisorList;
    else if (groupIndex == kInputMode)
        names = &gInputModeList;
    else if (i == kSwingTypeL || i == kSwingTypeL + 2)
        names = &gSwingTypeList;
    else
        return kAudioUnitErr_InvalidParameter;
    *outArray = names->Acquire();
    return 0;
}

int32_t ObryCorvane::Initialize()
{
    for (Channel& ch : channels)
        ch = Channel{};
    return ObryCorvaneBase::Initialize();
}

uint32_t ObryCorvane::GetParameterFlags(int32_t index)
{
    return index == kOSCPortOffset || index == kSmoothingL || index == kSmoothingL + 1
               ? kAudioUnitParameterFlag_ValuesHaveStrings
               : 0;
}

bool ObryCorvane::StringFromValue(AudioUnitParameterStringFromValue& request)
{
    const int32_t index = static_cast<int32_t>(request.inParamID);
    if (index != kOSCPortOffset && index != kSmoothingL && index != kSmoothingL + 1)
        return false;
    const float value = request.inValue ? *request.inValue : GetParameterReal(index);
    const bool off = index == kOSCPortOffset ? value == 0.0f : SmoothingShowsOff(value);
    if (off)
        request.outString = CFStringMakeConstant("Off");
    return true;
}

float ObryCorvane::Param(int32_t index)
{
    const float value = CurrentProgram()->GetParameter(index);
    return std::isfinite(value) ? value : kParameters[index].def;
}

// audio thread: no allocation, no blocking lock
bool ObryCorvane::BeginBlock(int32_t frames)
{
    if (!ObryCorvaneBase::BeginBlock(frames))
        return false;
    const double sampleRate = std::isfinite(this->sampleRate) && this->sampleRate > 0 ? this->sampleRate : 0.0;
    const HostTime time = ReadHostTime(*this);
    for (int32_t c = 0; c < 2; ++c)
        SetupChannel(c, time, sampleRate);
    return true;
}

// audio thread
void ObryCorvane::SetupChannel(int32_t c, const HostTime& time, double sampleRate)
{
    Channel& ch = channels[c];
    Channel& other = channels[1 - c];

    ch.swing.Setup(time, Param(kSwingL + 2 * c), Param(kSwingTypeL + 2 * c), sampleRate);

    const float phaseParam = ChannelParam(c, kPhase) / 360.0f;
    const float sync = ChannelParam(c, kSync);
    const int32_t mode = sync >= 0.0f && sync < 6.0f ? static_cast<int32_t>(sync) : kSyncFree;
    double phaseOffsetIndicator = -1.0;
    double rate = 0.0;
    switch (mode) {
    case kSyncTempo:
    case kSyncTransport:
    case kSyncTransport2: {
        const double beats =
            BeatsPerCycle(ChannelParam(c, kBeats), ChannelParam(c, kBeatDivisor), ChannelParam(c, kTriplet) != 0.0f);
        rate = TempoRate(time.tempo, beats);
        if (mode == kSyncTempo)
            break;
        phaseOffsetIndicator = phaseParam;
        // A cycle of no length (Beats 0) locks to nothing: the phase stays
        // where it is and the oscillator stands still.
        if (!CanLockToPosition(beats)) {
            rate = 0.0;
            break;
        }
        const double target = LockedPhase(ch.swing.Unswing(time.ppq), beats, phaseParam);
        if (time.playing || mode == kSyncTransport2)
            ch.phase = target;
        if (!time.playing && mode == kSyncTransport2)
            rate = 0.0; // stands at the song position
        break;
    }
    case kSyncQuadrature:
        ch.phase = WrapPhase(other.phase + phaseParam);
        phaseOffsetIndicator = phaseParam;
        // R follows L's rate of this block. L runs before R, so on L this is
        // R's rate from the previous block (0 before R's first block).
        rate = other.rate;
        break;
    case kSyncStartStop:
        rate = 0.0;
        ch.phase = time.playing ? 0.0 : 0.999999;
        break;
    default:
        rate = ChannelParam(c, kSpeed) * SpeedMultiplier(ChannelParam(c, kSpeedMultiplier));
        break;
    }
    if (!(rate >= 0.0) || !std::isfinite(rate))
        rate = 0.0;
    ch.rate = rate;
    ch.increment = sampleRate > 0.0 ? rate / sampleRate : 0.0;
    WriteIndicatorF64(kIndicatorPhaseOffsetF64 + c, phaseOffsetIndicator);
    WriteIndicatorF64(kIndicatorRateF64 + c, rate);

    ch.pulseWidth = ChannelParam(c, kPulseWidth) * 0.01f;
    ch.sine = ChannelParam(c, kSine);
    ch.triangle = ChannelParam(c, kTriangle);
    ch.square = ChannelParam(c, kSquare);
    ch.saw = ChannelParam(c, kSaw);
    ch.random = ChannelParam(c, kRandom);
    ch.noise = ChannelParam(c, kNoise);
    ch.offset = ChannelParam(c, kOffset);
    ch.asymmetry = ChannelParam(c, kAsymmetry) * 0.005f + 0.5f;
    const float inputMode = ChannelParam(c, kInputMode);
    ch.inputMode = inputMode >= 0.0f && inputMode < 3.0f ? static_cast<int32_t>(inputMode) : 0;
    SetupOutputSmoothing(Param(kSmoothingL + c), static_cast<float>(sampleRate), &ch.slewStep, &ch.lowpassCoef);
}

// audio thread: no allocation, no blocking lock
void ObryCorvane::Process(float** inputs, float** outputs, int32_t frames)
{
    for (int32_t c = 0; c < 2; ++c) {
        Channel& ch = channels[c];
        const float* in = inputs[c];
        float* out = outputs[c];
        const double increment = ch.increment;
        ch.swing.Run(frames, [&](int32_t first, int32_t count, double scale) {
            Generate(ch, in + first, out + first, count, increment * scale);
        });
        ApplyOutputSmoothing(out, frames, ch.slewStep, ch.lowpassCoef, &ch.smoothState);
        ch.phase = WrapPhase(ch.phase);
        WriteIndicatorF32(kIndicatorPhaseF32 + c, static_cast<float>(ch.phase));
        WriteIndicatorF32(kIndicatorOutputF32 + c, ch.smoothState);
    }
}

// audio thread: per sample, no calls beyond FastSine
void ObryCorvane::Generate(Channel& ch, const float* in, float* out, int32_t frames, double increment)
{
    const float a = ch.asymmetry;
    const float k1 = a <= 0.0f ? 0.0f : 0.5f / a;
    const float k2 = a >= 1.0f ? 0.0f : 0.5f / (1.0f - a);
    double phase = ch.phase;
    uint32_t seed = ch.noiseSeed;
    float held = ch.heldRandom;
    for (int32_t i = 0; i < frames; ++i) {
        const float p = static_cast<float>(phase);
        // Asymmetry: the warped phase reaches 0.5 at p = a.
        const float w = p >= a ? p * k2 + (1.0f - k2) : p * k1;
        const float sine = FastSine(w);
        const float triangle = std::fmin(4.0f * w - 1.0f, 3.0f - 4.0f * w);
        const float square = w > ch.pulseWidth ? -1.0f : 1.0f;
        const float saw = 2.0f * w - 1.0f;

        phase += increment;
        bool wrapped = false;
        if (phase - 1.0 >= 0.0) {
            phase -= 1.0;
            wrapped = true;
            // Rates above the sample rate (a tiny cycle at a fast tempo)
            // would otherwise walk the phase out of 0..1 for good.
            if (phase >= 1.0)
                phase -= std::floor(phase);
        }

        seed = seed * 49979693u + 15485867u;
        const float noise = (static_cast<float>(static_cast<int32_t>(seed & 0xFFFFF) - 0x80000)) * 1.9073486e-6f;
        if (wrapped)
            held = noise;

        const float sum = triangle * ch.triangle + sine * ch.sine + square * ch.square + saw * ch.saw +
                          held * ch.random + noise * ch.noise;
        const float x = in[i];
        switch (ch.inputMode) {
        case 1: out[i] = (sum + ch.offset) * x; break;
        case 2: out[i] = (sum + ch.offset + 1.0f) * x; break;
        default: out[i] = sum + ch.offset + x; break;
        }
    }
    ch.phase = phase;
    ch.noiseSeed = seed;
    ch.heldRandom = held;
}

// audio thread, between the pieces of a block
void ObryCorvane::NoteOn(int, int, int)
{
    for (int32_t c = 0; c < 2; ++c)
        if (Param(kResetByNoteL + c) != 0.0f)
            channels[c].phase = std::fmin(std::fmax(ChannelParam(c, kPhase) / 360.0, 0.0), 1.0);
}

// The editor reads these without a lock while the audio thread writes them.
void ObryCorvane::WriteIndicatorF32(int element, float value)
{
    memcpy(indicatorBlock + element * sizeof(float), &value, sizeof value);
}

void ObryCorvane::WriteIndicatorF64(int element, double value)
{
    memcpy(indicatorBlock + element * sizeof(double), &value, sizeof value);
}

} // namespace ObryCorvaneLFO
