// What the clocked oscillators (LFO, Step LFO) share around their own
// waveform: a channel's clock (phase, rate, swing) and output stage (phase
// warp, input mode, smoothing), the per-sample phase step and warp, how the
// oscillator's level combines with the audio input, and the value names of
// the settings both offer. The timing rules themselves are in TempoClock.h.
//
// Audio thread: everything but the value-name lists is arithmetic on the
// caller's data; no allocation, no lock. The lists are built on first use
// (see ValueNames.h) and asked for on the host's UI thread.
#pragma once

#include <cmath>
#include <cstdint>

#include "plugins/common/OutputSmoothing.h"
#include "plugins/common/SampleLoops.h"
#include "plugins/common/TempoClock.h"
#include "plugins/common/ValueNames.h"

// How an oscillator's level combines with its channel's audio input.
enum InputMode : int32_t { kInputAdd = 0, kInputMultiply = 1, kInputCombine = 2 };

inline float CombineWithInput(int32_t mode, float level, float input)
{
    switch (mode) {
    case kInputMultiply: return level * input;
    case kInputCombine: return (level + 1.0f) * input; // multiplied around 1
    default: return level + input;
    }
}

// The whole part of an indexed setting, or `fallback` when it is outside
// 0..count-1 (values from a restored state are not range-checked).
inline int32_t IndexedChoice(float value, int32_t count, int32_t fallback)
{
    return value >= 0.0f && value < static_cast<float>(count) ? static_cast<int32_t>(value) : fallback;
}

// The host's sample rate when it is one to compute with, else 0.
inline double UsableSampleRate(double sampleRate)
{
    return std::isfinite(sampleRate) && sampleRate > 0.0 ? sampleRate : 0.0;
}

// Asymmetry: a piecewise linear warp of the phase (0..1) whose result
// reaches the middle of the cycle (0.5) at p = midpoint. A midpoint at 0 or 1
// leaves that side flat.
class PhaseWarp {
public:
    explicit PhaseWarp(float midpoint)
        : midpoint(midpoint), rise(midpoint <= 0.0f ? 0.0f : 0.5f / midpoint),
          fall(midpoint >= 1.0f ? 0.0f : 0.5f / (1.0f - midpoint))
    {
    }
    float operator()(float p) const { return p >= midpoint ? p * fall + (1.0f - fall) : p * rise; }
    // The same for each lane of a GCC vector of phases: w = warp(p) lane by
    // lane, with the same bits.
    template <class Lanes>
    [[gnu::always_inline]] void Each(const Lanes& p, Lanes& w) const
    {
        w = p >= midpoint ? p * fall + (1.0f - fall) : p * rise;
    }

private:
    float midpoint, rise, fall;
};

// Moves a phase (cycles, 0..1) on by one sample; true when it wrapped.
inline bool AdvancePhase(double& phase, double increment)
{
    phase += increment;
    if (phase - 1.0 < 0.0)
        return false;
    phase -= 1.0;
    // Rates above the sample rate (a tiny cycle at a fast tempo) would
    // otherwise walk the phase out of 0..1 for good.
    if (phase >= 1.0)
        phase -= std::floor(phase);
    return true;
}

// A clock run `frames` samples on in stretches of at most kStretch: for each
// sample of a stretch, its phase is recorded (record[i], when given) and
// kept as a float in phaseAt[j] (j counted in the stretch), the phase
// advanced and sample(j, wrapped) called; then stretch(first, n) makes the
// stretch's output. The phases go one after another (a chain from sample to
// sample); what is made from them can go in groups.
template <int32_t kStretch, class Sample, class Stretch>
inline void RunClockStretches(double& phase, double increment, int32_t frames, double* record, float* phaseAt,
                              Sample&& sample, Stretch&& stretch)
{
    for (int32_t first = 0; first < frames; first += kStretch) {
        const int32_t n = frames - first < kStretch ? frames - first : kStretch;
        for (int32_t j = 0; j < n; ++j) {
            if (record)
                record[first + j] = phase;
            phaseAt[j] = static_cast<float>(phase);
            sample(j, AdvancePhase(phase, increment));
        }
        stretch(first, n);
    }
}

// The part of an oscillator channel that both oscillators keep: set up per
// block by BeginBlock, run by Process. A value-initialised channel is a
// fresh one (phase 0, no rate, smoothing state 0).
struct ClockedChannel {
    // The clock.
    SwingClock swing;
    double rate;      // Hz of the last block (quadrature on L reads R's)
    double increment; // cycles per sample of this block
    double phase;     // cycles, 0..1, kept across blocks
    // The output stage.
    float asymmetry;   // the warped phase's midpoint, 0..1
    int32_t inputMode; // InputMode
    float slewStep, lowpassCoef;
    float smoothState; // kept across blocks

    // What the rates below were derived from, kept while the tempo, the cycle
    // and the sample rate stay (by their bits). A value-initialised channel's
    // zeros are those TempoRate and SetRate give for zeros.
    double keptTempo, keptBeats, keptTempoRate;
    double keptRate, keptSampleRate, keptIncrement;
    // The song position's cycle, for a phase locked to it.
    CyclePlace cyclePlace;

    // TempoRate(tempo, beatsPerCycle), derived again only after a change.
    double TempoRateOf(double tempo, double beatsPerCycle)
    {
        if (!SameBits(tempo, keptTempo) || !SameBits(beatsPerCycle, keptBeats)) {
            keptTempo = tempo;
            keptBeats = beatsPerCycle;
            keptTempoRate = TempoRate(tempo, beatsPerCycle);
        }
        return keptTempoRate;
    }

    // The block's rate in Hz; one that is negative or not finite counts as 0.
    void SetRate(double hz, double sampleRate)
    {
        rate = hz >= 0.0 && std::isfinite(hz) ? hz : 0.0;
        if (!SameBits(rate, keptRate) || !SameBits(sampleRate, keptSampleRate)) {
            keptRate = rate;
            keptSampleRate = sampleRate;
            keptIncrement = sampleRate > 0.0 ? rate / sampleRate : 0.0;
        }
        increment = keptIncrement;
    }

    // Quadrature: the phase follows `other` by `phaseOffset` cycles; returns
    // the rate to run at, the other's. R follows L's rate of this block; L
    // runs before R, so on L this is R's rate from the previous block (0
    // before R's first block).
    double FollowInQuadrature(const ClockedChannel& other, double phaseOffset)
    {
        phase = WrapPhase(other.phase + phaseOffset);
        return other.rate;
    }

    // The output stage from the channel's Asymmetry (percent), Input Mode and
    // Smoothing (ms) settings.
    void SetupOutput(float asymmetryPercent, float inputModeSetting, float smoothingMs, double sampleRate)
    {
        asymmetry = asymmetryPercent * 0.005f + 0.5f;
        inputMode = IndexedChoice(inputModeSetting, 3, kInputAdd);
        SetupOutputSmoothing(smoothingMs, static_cast<float>(sampleRate), &slewStep, &lowpassCoef);
    }

    // Runs `frames` samples into `out`: generate(first, count, increment)
    // for each run the swing cuts (first counted from the start of `out`),
    // then the output smoothed in place and the phase kept inside 0..1.
    template <class Generate>
    void Run(float* out, int32_t frames, Generate&& generate)
    {
        Clock(frames, generate);
        Smooth(out, frames);
    }
    // Run in two halves: the samples generated (and the phase kept inside
    // 0..1), then smoothed.
    template <class Generate>
    void Clock(int32_t frames, Generate&& generate)
    {
        const double blockIncrement = increment;
        swing.Run(frames, [&](int32_t first, int32_t count, double scale) {
            generate(first, count, blockIncrement * scale);
        });
        phase = WrapPhase(phase);
    }
    void Smooth(float* out, int32_t frames) { ApplyOutputSmoothing(out, frames, slewStep, lowpassCoef, &smoothState); }
};

// Both channels, each generated from its input into its output
// (generate(c, first, count, increment) for each run of channel c), then
// smoothed. When the left channel's output holds no sample of the right
// channel's buffers, the order of the steps changes nothing and the two
// smooth in one loop; otherwise each channel runs whole, left first.
// Whether the left output holds no sample of the right channel's buffers.
inline bool BothTogether(float** inputs, float** outputs, int32_t frames)
{
    return SampleLoops::Apart(outputs[0], inputs[1], frames) && SampleLoops::Apart(outputs[0], outputs[1], frames);
}

template <class Channel, class Generate>
void RunBoth(Channel* channels, float** inputs, float** outputs, int32_t frames, Generate&& generate)
{
    const bool together = BothTogether(inputs, outputs, frames);
    for (int32_t c = 0; c < 2; ++c) {
        channels[c].Clock(frames, [&](int32_t first, int32_t count, double increment) {
            generate(c, first, count, increment);
        });
        if (!together)
            channels[c].Smooth(outputs[c], frames);
    }
    if (together) {
        const float slewStep[2] = {channels[0].slewStep, channels[1].slewStep};
        const float lowpassCoef[2] = {channels[0].lowpassCoef, channels[1].lowpassCoef};
        ApplyOutputSmoothingPair(outputs[0], outputs[1], frames, slewStep, lowpassCoef, &channels[0].smoothState,
                                 &channels[1].smoothState);
    }
}

// Both channels' buffers of a block, and whether each channel's input and
// output are the same buffer or apart (its output can then be made in
// groups).
struct ChannelBuffers {
    ChannelBuffers(float** inputs, float** outputs, int32_t frames)
        : in0(inputs[0]), in1(inputs[1]), out0(outputs[0]), out1(outputs[1]),
          grouped0(SampleLoops::SameOrApart(in0, out0, frames)), grouped1(SampleLoops::SameOrApart(in1, out1, frames))
    {
    }
    const float* in0;
    const float* in1;
    float* out0;
    float* out1;
    bool grouped0, grouped1;
};

// A channel's runs of one block as its swing cuts them (Clock's runs): run r
// ends before sample end[r] and steps the phase by increment[r].
struct ClockRuns {
    static constexpr int32_t kMost = 8;
    int32_t count;
    int32_t end[kMost];
    double increment[kMost];

    // The runs of `frames` samples of `ch`, its swing moved on as Clock
    // moves it; false when there are more than kMost (the swing then stands
    // somewhere: the caller puts back its place in the pair and runs Clock).
    bool Collect(ClockedChannel& ch, int32_t frames)
    {
        count = 0;
        const double blockIncrement = ch.increment;
        if (!ch.swing.Active()) {
            if (frames > 0) {
                end[0] = frames;
                increment[0] = blockIncrement * 1.0;
                count = 1;
            }
            return true;
        }
        bool fits = true;
        ch.swing.Run(frames, [&](int32_t first, int32_t n, double scale) {
            if (count == kMost) {
                fits = false;
                return;
            }
            end[count] = first + n;
            increment[count] = blockIncrement * scale;
            ++count;
        });
        return fits;
    }
};

// A channel in quadrature with a leader, at every sample: the leader
// (channels[1 - follower]) runs a stretch of at most `run` samples, with
// generate(leader, in, out, count, increment, phases) leaving the phase each
// sample was computed at in `phases`; then follow(follower channel, in, out,
// count, phases, the leader's phase after the stretch). `phases` holds `run`
// values.
template <class Channel, class Generate, class Follow>
void RunInQuadrature(Channel* channels, int32_t follower, float** inputs, float** outputs, int32_t frames,
                     double* phases, int32_t run, Generate&& generate, Follow&& follow)
{
    const int32_t leader = 1 - follower;
    Channel& lead = channels[leader];
    for (int32_t first = 0; first < frames; first += run) {
        const int32_t n = frames - first < run ? frames - first : run;
        const float* in = inputs[leader] + first;
        float* out = outputs[leader] + first;
        lead.Run(out, n, [&](int32_t at, int32_t count, double increment) {
            generate(lead, in + at, out + at, count, increment, phases + at);
        });
        follow(channels[follower], inputs[follower] + first, outputs[follower] + first, n, phases, lead.phase);
    }
}

// The value names of the settings both oscillators offer, one list each per
// process: "Speed Multiplier", "Input Mode", "Swing Type".
SharedValueNames& SpeedMultiplierNames();
SharedValueNames& InputModeNames();
SharedValueNames& SwingTypeNames();
