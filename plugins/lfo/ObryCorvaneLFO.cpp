#include "plugins/lfo/ObryCorvaneLFO.h"

#include <cmath>

#include "framework/IndicatorBlock.h"
#include "plugins/common/OffValueTexts.h"
#include "plugins/common/ParameterUnits.h"
#include "plugins/common/SampleLoops.h"
#include "plugins/lfo/LfoWaveforms.h"

namespace ObryCorvaneLFO {

namespace {

using namespace ParameterUnit;

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

// The value-name lists of the LFO's own settings, built once per process and
// shared by all instances (the others are in ClockedOscillator.h).
const char* const kSyncModeNames[] = {"Free", "Tempo", "Transport", "Quadrature", "Start/Stop", "Transport2"};
const char* const kDivisorNames[] = {"1/1", "1/2", "1/4", "1/8", "1/16", "1/32", "1/64", "1/128"};
SharedValueNames gSyncList(kSyncModeNames);
SharedValueNames gDivisorList(kDivisorNames);

constexpr OffValueTexts kOffTexts{ObryCorvane::kOSCPortOffset, ObryCorvane::kSmoothingL, ObryCorvane::kSmoothingL + 1};

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
        names = &SpeedMultiplierNames();
    else if (groupIndex == kSync)
        names = &gSyncList;
    else if (groupIndex == kBeatDivisor)
        names = &gDivisorList;
    else if (groupIndex == kInputMode)
        names = &InputModeNames();
    else if (i == kSwingTypeL || i == kSwingTypeL + 2)
        names = &SwingTypeNames();
    else
        return kAudioUnitErr_InvalidParameter;
    *outArray = names->Acquire();
    return 0;
}

int32_t ObryCorvane::Initialize()
{
    for (Channel& ch : channels)
        ch = Channel{};
    ForgetSettings();
    return ObryCorvaneBase::Initialize();
}

uint32_t ObryCorvane::GetParameterFlags(int32_t index)
{
    return kOffTexts.Flags(index);
}

bool ObryCorvane::StringFromValue(AudioUnitParameterStringFromValue& request)
{
    return kOffTexts.StringFromValue(*this, request);
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
    const double sampleRate = UsableSampleRate(this->sampleRate);
    if (SettingsChanged())
        for (int32_t c = 0; c < 2; ++c)
            DeriveSettings(c, sampleRate);
    const HostTime time = ReadHostTime(*this);
    for (int32_t c = 0; c < 2; ++c)
        SetupChannel(c, time, sampleRate);
    return true;
}

// audio thread
void ObryCorvane::DeriveSettings(int32_t c, double sampleRate)
{
    Channel& ch = channels[c];
    ch.swingAmount = Param(kSwingL + 2 * c);
    ch.swingType = Param(kSwingTypeL + 2 * c);
    ch.phaseOffset = ChannelParam(c, kPhase) / 360.0f;
    ch.syncMode = IndexedChoice(ChannelParam(c, kSync), 6, kSyncFree);
    ch.beats = BeatsPerCycle(ChannelParam(c, kBeats), ChannelParam(c, kBeatDivisor), ChannelParam(c, kTriplet) != 0.0f);
    ch.freeRate = ChannelParam(c, kSpeed) * SpeedMultiplier(ChannelParam(c, kSpeedMultiplier));
    // With both in quadrature neither leads: each takes the other's phase
    // at the block's start only.
    ch.follows = ch.syncMode == kSyncQuadrature &&
                 IndexedChoice(ChannelParam(1 - c, kSync), 6, kSyncFree) != kSyncQuadrature;
    ch.followOffset = ch.phaseOffset;

    ch.pulseWidth = ChannelParam(c, kPulseWidth) * 0.01f;
    ch.sine = ChannelParam(c, kSine);
    ch.triangle = ChannelParam(c, kTriangle);
    ch.square = ChannelParam(c, kSquare);
    ch.saw = ChannelParam(c, kSaw);
    ch.random = ChannelParam(c, kRandom);
    ch.noise = ChannelParam(c, kNoise);
    ch.offset = ChannelParam(c, kOffset);
    ch.SetupOutput(ChannelParam(c, kAsymmetry), ChannelParam(c, kInputMode), Param(kSmoothingL + c), sampleRate);
}

// audio thread
void ObryCorvane::SetupChannel(int32_t c, const HostTime& time, double sampleRate)
{
    Channel& ch = channels[c];
    Channel& other = channels[1 - c];

    ch.swing.Setup(time, ch.swingAmount, ch.swingType, sampleRate);

    const double phaseParam = ch.phaseOffset;
    const int32_t mode = ch.syncMode;
    double phaseOffsetIndicator = -1.0;
    double rate = 0.0;
    switch (mode) {
    case kSyncTempo:
    case kSyncTransport:
    case kSyncTransport2: {
        const double beats = ch.beats;
        rate = ch.TempoRateOf(time.tempo, beats);
        if (mode == kSyncTempo)
            break;
        phaseOffsetIndicator = phaseParam;
        // A cycle of no length (Beats 0) locks to nothing: the phase stays
        // where it is and the oscillator stands still.
        if (!CanLockToPosition(beats)) {
            rate = 0.0;
            break;
        }
        const double target = ch.cyclePlace.Phase(ch.swing.Unswing(time.ppq), beats, phaseParam);
        if (time.playing || mode == kSyncTransport2)
            ch.phase = target;
        if (!time.playing && mode == kSyncTransport2)
            rate = 0.0; // stands at the song position
        break;
    }
    case kSyncQuadrature:
        rate = ch.FollowInQuadrature(other, phaseParam);
        phaseOffsetIndicator = phaseParam;
        break;
    case kSyncStartStop:
        rate = 0.0;
        ch.phase = time.playing ? 0.0 : 0.999999;
        break;
    default:
        rate = ch.freeRate;
        break;
    }
    ch.SetRate(rate, sampleRate);
    WriteIndicator<double>(indicatorBlock, kIndicatorPhaseOffsetF64 + c, phaseOffsetIndicator);
    WriteIndicator<double>(indicatorBlock, kIndicatorRateF64 + c, ch.rate);
}

// audio thread: no allocation, no blocking lock
void ObryCorvane::Process(float** inputs, float** outputs, int32_t frames)
{
    for (int32_t c = 0; c < 2; ++c)
        if (channels[c].follows) {
            ProcessInQuadrature(inputs, outputs, frames, c);
            return;
        }
    // Stretch by stretch, the right output is written before the left input
    // is read whole: the two must be apart too.
    if (!channels[0].swing.Active() && !channels[1].swing.Active() && BothTogether(inputs, outputs, frames) &&
        SampleLoops::Apart(outputs[1], inputs[0], frames))
        GenerateBoth(inputs, outputs, frames);
    else
        RunBoth(channels, inputs, outputs, frames, [&](int32_t c, int32_t first, int32_t count, double increment) {
            Generate(channels[c], inputs[c] + first, outputs[c] + first, count, increment);
        });
    for (int32_t c = 0; c < 2; ++c) {
        WriteIndicator<float>(indicatorBlock, kIndicatorPhaseF32 + c, static_cast<float>(channels[c].phase));
        WriteIndicator<float>(indicatorBlock, kIndicatorOutputF32 + c, channels[c].smoothState);
    }
}

// The leader runs first, a stretch at a time, and leaves the phase of each of
// its samples for the follower: a phase the leader takes from a note or its
// swing reaches the follower at the same sample, whatever the host's blocks.
void ObryCorvane::ProcessInQuadrature(float** inputs, float** outputs, int32_t frames, int32_t follower)
{
    RunInQuadrature(channels, follower, inputs, outputs, frames, leaderPhases, kFollowRun, Generate, Follow);
    for (int32_t c = 0; c < 2; ++c) {
        WriteIndicator<float>(indicatorBlock, kIndicatorPhaseF32 + c, static_cast<float>(channels[c].phase));
        WriteIndicator<float>(indicatorBlock, kIndicatorOutputF32 + c, channels[c].smoothState);
    }
}

namespace {

template <class Channel>
inline Mix MixOf(const Channel& ch)
{
    return Mix{ch.pulseWidth, ch.sine,  ch.triangle, ch.square, ch.saw,
               ch.random,     ch.noise, ch.offset,   ch.inputMode};
}

// The generator's next state.
inline uint32_t NextSeed(uint32_t seed)
{
    return seed * 49979693u + 15485867u;
}

// The next noise value of the generator's sequence.
inline float NextNoise(uint32_t& seed)
{
    seed = NextSeed(seed);
    return NoiseOf(seed);
}

// One output sample at warped phase `w`; `wrapped`: the phase wrapped on its
// way to the next sample (the held random value takes this sample's noise).
inline float Voice(const Mix& ch, float w, bool wrapped, uint32_t& seed, float& held, float input)
{
    const float noise = NextNoise(seed);
    if (wrapped)
        held = noise;
    return CombineWithInput(ch.inputMode, Level(ch, w, held, noise), input);
}

// Samples generated at once: the clock and the noise generator run first,
// one sample after another, then the output of the whole stretch
// (MixStretch).
constexpr int32_t kStretch = 64;

// MixStretch built for the base instruction set, AVX2 and AVX-512 (the same
// bits on each).
CORVANE_SAMPLE_CLONES void MixStretchClones(const Mix& mix, const PhaseWarp& warp, const float* phase,
                                            const uint32_t* seeds, const float* held, const float* in, float* out,
                                            int32_t frames)
{
    MixStretch(mix, warp, phase, seeds, held, in, out, frames);
}

// Both channels' stretches in one call (the constants set up once, the two
// loops' chains side by side), each as MixStretchClones makes it.
CORVANE_SAMPLE_CLONES void MixStretchPairClones(const Mix* mix, const PhaseWarp* warp, const float* const* phase,
                                                const uint32_t* const* seeds, const float* const* held,
                                                const float* const* in, float* const* out, int32_t frames)
{
    MixStretch(mix[0], warp[0], phase[0], seeds[0], held[0], in[0], out[0], frames);
    MixStretch(mix[1], warp[1], phase[1], seeds[1], held[1], in[1], out[1], frames);
}

// A stretch's output from its clock values; `grouped`: in and out are the
// same buffer or apart (else sample by sample, for a broken host's buffers
// that overlap other than exactly).
inline void MixOut(const Mix& mix, const PhaseWarp& warp, bool grouped, const float* phaseAt, const uint32_t* seedAt,
                   const float* heldAt, const float* in, float* out, int32_t n)
{
    if (grouped) {
        MixStretchClones(mix, warp, phaseAt, seedAt, heldAt, in, out, n);
        return;
    }
    for (int32_t i = 0; i < n; ++i) {
        const float level = Level(mix, warp(phaseAt[i]), heldAt[i], NoiseOf(seedAt[i]));
        out[i] = CombineWithInput(mix.inputMode, level, in[i]);
    }
}

// One sample of a channel's clock: its phase kept as a float, the phase
// advanced, the noise generator stepped and the held random value taken
// when the phase wrapped.
[[gnu::always_inline]] inline void ClockSample(double& phase, double increment, uint32_t& seed, float& held,
                                               float& phaseAt, uint32_t& seedAt, float& heldAt)
{
    phaseAt = static_cast<float>(phase);
    const bool wrapped = AdvancePhase(phase, increment);
    seed = NextSeed(seed);
    seedAt = seed;
    if (wrapped)
        held = NoiseOf(seed);
    heldAt = held;
}

} // namespace

// audio thread: no calls beyond FastSine
void ObryCorvane::Generate(Channel& ch, const float* in, float* out, int32_t frames, double increment,
                           double* phases)
{
    const PhaseWarp warp(ch.asymmetry);
    const Mix mix = MixOf(ch);
    double phase = ch.phase;
    uint32_t seed = ch.noiseSeed;
    float held = ch.heldRandom;
    // A stretch's output is made in groups whose inputs are read before
    // their outputs are written: sample by sample for buffers that overlap
    // other than exactly (a broken host).
    const bool grouped = SampleLoops::SameOrApart(in, out, frames);
    float phaseAt[kStretch], heldAt[kStretch];
    uint32_t seedAt[kStretch];
    RunClockStretches<kStretch>(
        phase, increment, frames, phases, phaseAt,
        [&](int32_t i, bool wrapped) {
            seed = NextSeed(seed);
            seedAt[i] = seed;
            if (wrapped)
                held = NoiseOf(seed);
            heldAt[i] = held;
        },
        [&](int32_t first, int32_t n) {
            MixOut(mix, warp, grouped, phaseAt, seedAt, heldAt, in + first, out + first, n);
        });
    ch.phase = phase;
    ch.noiseSeed = seed;
    ch.heldRandom = held;
}

// Both channels as RunBoth runs them, for channels without swing whose
// left output holds none of the right channel's buffers and the right output
// none of the left input: the two clocks step
// side by side (two chains that do not wait on each other), then each
// stretch's output is made, left then right, and both are smoothed. Each
// channel does the same operations in the same order as alone: the clocks
// touch no buffer, and the buffers are read and written in the same order.
void ObryCorvane::GenerateBoth(float** inputs, float** outputs, int32_t frames)
{
    Channel& left = channels[0];
    Channel& right = channels[1];
    const PhaseWarp warp0(left.asymmetry), warp1(right.asymmetry);
    const Mix mix0 = MixOf(left), mix1 = MixOf(right);
    const double increment0 = left.increment, increment1 = right.increment;
    double phase0 = left.phase, phase1 = right.phase;
    uint32_t seed0 = left.noiseSeed, seed1 = right.noiseSeed;
    float held0 = left.heldRandom, held1 = right.heldRandom;
    const ChannelBuffers buffers(inputs, outputs, frames);
    float phaseAt0[kStretch], heldAt0[kStretch], phaseAt1[kStretch], heldAt1[kStretch];
    uint32_t seedAt0[kStretch], seedAt1[kStretch];
    for (int32_t first = 0; first < frames; first += kStretch) {
        const int32_t n = frames - first < kStretch ? frames - first : kStretch;
        for (int32_t j = 0; j < n; ++j) {
            ClockSample(phase0, increment0, seed0, held0, phaseAt0[j], seedAt0[j], heldAt0[j]);
            ClockSample(phase1, increment1, seed1, held1, phaseAt1[j], seedAt1[j], heldAt1[j]);
        }
        if (buffers.grouped0 && buffers.grouped1) {
            const Mix mixes[2] = {mix0, mix1};
            const PhaseWarp warps[2] = {warp0, warp1};
            const float* const phases[2] = {phaseAt0, phaseAt1};
            const uint32_t* const seeds[2] = {seedAt0, seedAt1};
            const float* const helds[2] = {heldAt0, heldAt1};
            const float* const ins[2] = {buffers.in0 + first, buffers.in1 + first};
            float* const outs[2] = {buffers.out0 + first, buffers.out1 + first};
            MixStretchPairClones(mixes, warps, phases, seeds, helds, ins, outs, n);
            continue;
        }
        MixOut(mix0, warp0, buffers.grouped0, phaseAt0, seedAt0, heldAt0, buffers.in0 + first, buffers.out0 + first, n);
        MixOut(mix1, warp1, buffers.grouped1, phaseAt1, seedAt1, heldAt1, buffers.in1 + first, buffers.out1 + first, n);
    }
    left.phase = WrapPhase(phase0);
    left.noiseSeed = seed0;
    left.heldRandom = held0;
    right.phase = WrapPhase(phase1);
    right.noiseSeed = seed1;
    right.heldRandom = held1;
    const float slewStep[2] = {left.slewStep, right.slewStep};
    const float lowpassCoef[2] = {left.lowpassCoef, right.lowpassCoef};
    ApplyOutputSmoothingPair(buffers.out0, buffers.out1, frames, slewStep, lowpassCoef, &left.smoothState,
                             &right.smoothState);
}

// audio thread: per sample, as Generate
void ObryCorvane::Follow(Channel& ch, const float* in, float* out, int32_t frames, const double* leaderPhases,
                         double leaderEnd)
{
    const PhaseWarp warp(ch.asymmetry);
    const Mix mix = MixOf(ch);
    const double followOffset = ch.followOffset;
    uint32_t seed = ch.noiseSeed;
    float held = ch.heldRandom;
    double phase = WrapPhase(leaderPhases[0] + followOffset);
    for (int32_t i = 0; i < frames; ++i) {
        const double next = WrapPhase((i + 1 < frames ? leaderPhases[i + 1] : leaderEnd) + followOffset);
        out[i] = Voice(mix, warp(static_cast<float>(phase)), next < phase, seed, held, in[i]);
        phase = next;
    }
    ch.phase = phase;
    ch.noiseSeed = seed;
    ch.heldRandom = held;
    ApplyOutputSmoothing(out, frames, ch.slewStep, ch.lowpassCoef, &ch.smoothState);
}

// audio thread, between the pieces of a block
void ObryCorvane::NoteOn(int, int, int)
{
    for (int32_t c = 0; c < 2; ++c)
        if (Param(kResetByNoteL + c) != 0.0f)
            channels[c].phase = std::fmin(std::fmax(ChannelParam(c, kPhase) / 360.0, 0.0), 1.0);
}

} // namespace ObryCorvaneLFO
