// Output smoothing shared by DC, LFO, Step LFO, CV Input, Quantizer, Follower
// (and the Voice Controller's and Trigger's outputs): each channel has a
// Smoothing time s in milliseconds (-500 .. 500, default 0).
//   s > 0: slew-rate limit; the output crosses the full 0..1 range in s/2 ms.
//   s < 0: one-pole low-pass with time constant |s|/5.2 ms.
//   |s| worth at most half a sample: no smoothing.
//
// Per block (BeginBlock) the time becomes a slew step and a low-pass
// coefficient (at most one of them non-zero); per sample (Process) the
// channel's output is smoothed in place against its state, which the plug-in
// keeps across blocks (initially 0, reset only by Initialize).
//
// Audio thread: everything here is pure arithmetic; no allocation, no lock.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

// A state that decays towards a target takes the target once it is closer
// than 1e-30: far below anything an output can show, and a state left there
// would sink into denormal floats and stay (y = (y - x) * k + x stalls near
// 1e-42 without reaching 0).
inline float SettleTowards(float state, float target)
{
    return std::fabs(state - target) < 1e-30f ? target : state;
}
inline double SettleTowards(double state, double target)
{
    return std::fabs(state - target) < 1e-30 ? target : state;
}

// T = milliseconds * 0.001 * sampleRate: the smoothing time in samples.
double SmoothingTimeInSamples(float milliseconds, float sampleRate);

// The per-block rule for a time of T samples:
//   T > 0.5:          *slewStep = 2/T, *lowpassCoef = 0
//   T < -0.5:         *slewStep = 0,   *lowpassCoef = exp(5.2/T)
//   otherwise:        both 0 (no smoothing)
// A T that is not finite (a broken sample rate or parameter) means no
// smoothing, and the coefficient is kept below 1 so the output never freezes.
void SetupOutputSmoothingSamples(double samples, float* slewStep, float* lowpassCoef);
// The same from a Smoothing parameter in milliseconds.
void SetupOutputSmoothing(float milliseconds, float sampleRate, float* slewStep, float* lowpassCoef);

// Smooths `frames` samples in place with the coefficients of SetupOutputSmoothing.
//   slewStep > 0:    y moves towards each x by at most slewStep
//   lowpassCoef > 0: y = (y - x) * lowpassCoef + x
//   neither:         samples pass unchanged; the state becomes the last sample
//                    (an empty block leaves it alone)
// The output is y. Non-finite values never stick: the slew limiter treats a
// NaN input as far below the state (one step down) and an infinite one as
// far away (one step towards it); in the low-pass a NaN or infinite input
// comes out as such for that sample. Whenever the state is not finite (also
// after an unsmoothed block that ended on such a sample) it restarts from
// the next input.
void ApplyOutputSmoothing(float* samples, int32_t frames, float slewStep, float lowpassCoef, float* smoothState);

// Two channels at once, a with slewStep[0], lowpassCoef[0] and its state,
// b with slewStep[1], lowpassCoef[1] and its state: the same output as
// ApplyOutputSmoothing on a and then on b, in less time.
void ApplyOutputSmoothingPair(float* a, float* b, int32_t frames, const float* slewStep, const float* lowpassCoef,
                              float* stateA, float* stateB);

namespace OutputSmoothingDetail {

// The input a smoothing state restarts from (an out-of-line identity).
float RestartFrom(float x);

// One sample of the slew limiter and of the low-pass, state y, input x.
// A state that is NaN or infinite (from an earlier unsmoothed block)
// restarts from the input; the tests are branches that are almost never
// taken, off the chain from one sample's state to the next.
[[gnu::always_inline]] inline float SlewSample(float y, float x, float slewStep)
{
    // Only a step can leave a state that is not finite: the middle case is
    // reached with finite d and y alone, so x is finite there.
    const float d = x - y;
    if (d >= slewStep) {
        y = y + slewStep;
        if (!(std::fabs(y) <= std::numeric_limits<float>::max())) [[unlikely]]
            y = RestartFrom(x);
    } else if (d > -slewStep) {
        y = x;
    } else {
        y = y - slewStep;
        if (!(std::fabs(y) <= std::numeric_limits<float>::max())) [[unlikely]]
            y = RestartFrom(x);
    }
    return y;
}

[[gnu::always_inline]] inline float LowpassSample(float y, float x, float lowpassCoef)
{
    // SettleTowards(c, x), then x for a result that is not finite.
    const float c = (y - x) * lowpassCoef + x;
    const bool settles = !(std::fabs(c - x) >= 1e-30f);
    const bool broken = !(std::fabs(c) <= std::numeric_limits<float>::max());
    if (settles | broken) [[unlikely]]
        return x;
    return c;
}

} // namespace OutputSmoothingDetail

// ApplyOutputSmoothing one sample at a time, for a loop that makes a
// channel's samples and smooths them in the same pass (its chain from
// sample to sample then runs beside the loop's own): state = step(state, x)
// is the smoothed sample, with the bits ApplyOutputSmoothing gives; without
// smoothing the state becomes x, as there.
class OutputSmoothingStep {
public:
    OutputSmoothingStep(float slewStep, float lowpassCoef)
        : mode(slewStep > 0.0f ? kSlew : (lowpassCoef > 0.0f ? kLowpass : kNone)),
          setting(slewStep > 0.0f ? slewStep : lowpassCoef)
    {
    }
    [[gnu::always_inline]] float operator()(float y, float x) const
    {
        switch (mode) {
        case kSlew: return OutputSmoothingDetail::SlewSample(y, x, setting);
        case kLowpass: return OutputSmoothingDetail::LowpassSample(y, x, setting);
        default: return x;
        }
    }

private:
    enum Mode { kNone, kSlew, kLowpass };
    Mode mode;
    float setting;
};

// Whether a Smoothing parameter shows the "Off" text: within -0.5 .. 0.5 ms.
// (The text rule is in milliseconds; the processing rule above is in samples,
// so values near 0.5 ms show "Off" while smoothing a few samples.)
bool SmoothingShowsOff(float milliseconds);
