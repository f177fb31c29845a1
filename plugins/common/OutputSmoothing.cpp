#include "plugins/common/OutputSmoothing.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

double SmoothingTimeInSamples(float milliseconds, float sampleRate)
{
    return milliseconds * 0.001 * sampleRate;
}

void SetupOutputSmoothingSamples(double samples, float* slewStep, float* lowpassCoef)
{
    *slewStep = 0.0f;
    *lowpassCoef = 0.0f;
    if (!std::isfinite(samples))
        return;
    if (samples > 0.5) {
        *slewStep = static_cast<float>(2.0 / samples);
    } else if (samples < -0.5) {
        // Very long times round to 1 in single precision, which would hold
        // the output where it is for good.
        const float coef = static_cast<float>(std::exp(5.2 / samples));
        *lowpassCoef = coef < 1.0f ? coef : std::nextafter(1.0f, 0.0f);
    }
}

void SetupOutputSmoothing(float milliseconds, float sampleRate, float* slewStep, float* lowpassCoef)
{
    SetupOutputSmoothingSamples(SmoothingTimeInSamples(milliseconds, sampleRate), slewStep, lowpassCoef);
}

namespace OutputSmoothingDetail {

// Out of line, so the compiler keeps the rare restart a branch instead of a
// select on every sample.
[[gnu::noinline]] float RestartFrom(float x)
{
    return x;
}

} // namespace OutputSmoothingDetail

namespace {

using OutputSmoothingDetail::LowpassSample;
using OutputSmoothingDetail::SlewSample;

template <bool kSlew>
[[gnu::always_inline]] inline float SmoothSample(float y, float x, float setting)
{
    return kSlew ? SlewSample(y, x, setting) : LowpassSample(y, x, setting);
}

// Two channels, each slewed or low-passed, in one loop: their chains from
// sample to sample run side by side. Channel a's sample is written before
// channel b's is read, as when a is smoothed first and b after.
template <bool kSlewA, bool kSlewB>
void SmoothTogether(float* a, float* b, int32_t frames, float settingA, float settingB, float* stateA,
                    float* stateB)
{
    float ya = *stateA;
    float yb = *stateB;
    for (int32_t i = 0; i < frames; ++i) {
        ya = SmoothSample<kSlewA>(ya, a[i], settingA);
        a[i] = ya;
        yb = SmoothSample<kSlewB>(yb, b[i], settingB);
        b[i] = yb;
    }
    *stateA = ya;
    *stateB = yb;
}

// Whether every sample has the bits of the state. Smoothing (slew or
// low-pass) then leaves each sample and the state as they are: a state
// equal to its input stays there (the slew limiter's middle case and the
// low-pass's settle test give the input, and so does the restart of a
// state that is not finite), so a settled output on a steady input need
// not run its chain. Groups of a fixed size, which the compiler vectorises.
bool HoldsState(const float* samples, int32_t frames, float state)
{
    uint32_t bits;
    memcpy(&bits, &state, sizeof bits);
    uint32_t first;
    if (frames <= 0)
        return true;
    memcpy(&first, samples, sizeof first);
    if (first != bits)
        return false; // the usual answer for a moving signal, at once
    constexpr int32_t kGroup = 16;
    uint32_t differ = 0;
    int32_t i = 0;
    for (; i + kGroup <= frames; i += kGroup) {
        uint32_t group[kGroup];
        memcpy(group, samples + i, sizeof group);
        for (int32_t k = 0; k < kGroup; ++k)
            differ |= group[k] ^ bits;
        if (differ != 0)
            return false;
    }
    for (; i < frames; ++i) {
        uint32_t one;
        memcpy(&one, samples + i, sizeof one);
        differ |= one ^ bits;
    }
    return differ == 0;
}

} // namespace

// audio thread: no allocation, no lock
void ApplyOutputSmoothing(float* samples, int32_t frames, float slewStep, float lowpassCoef, float* smoothState)
{
    float y = *smoothState;
    if ((slewStep > 0.0f || lowpassCoef > 0.0f) && HoldsState(samples, frames, y))
        return;
    if (slewStep > 0.0f) {
        for (int32_t i = 0; i < frames; ++i) {
            y = SlewSample(y, samples[i], slewStep);
            samples[i] = y;
        }
        *smoothState = y;
    } else if (lowpassCoef > 0.0f) {
        for (int32_t i = 0; i < frames; ++i) {
            y = LowpassSample(y, samples[i], lowpassCoef);
            samples[i] = y;
        }
        *smoothState = y;
    } else if (frames > 0) {
        *smoothState = samples[frames - 1];
    }
}

// audio thread: no allocation, no lock
void ApplyOutputSmoothingPair(float* a, float* b, int32_t frames, const float* slewStep, const float* lowpassCoef,
                              float* stateA, float* stateB)
{
    const bool slewA = slewStep[0] > 0.0f;
    const bool slewB = slewStep[1] > 0.0f;
    const bool smoothsA = slewA || lowpassCoef[0] > 0.0f;
    const bool smoothsB = slewB || lowpassCoef[1] > 0.0f;
    // Buffers that overlap other than exactly (a broken host) go one after
    // the other, where b sees all of a's smoothed samples.
    const auto from = reinterpret_cast<uintptr_t>(a);
    const auto to = reinterpret_cast<uintptr_t>(b);
    const uintptr_t bytes = sizeof(float) * static_cast<uintptr_t>(frames > 0 ? frames : 0);
    const bool apart = a == b || (to - from >= bytes && from - to >= bytes);
    // A settled channel on a steady input stays as it is: then one after
    // the other, where ApplyOutputSmoothing leaves that channel alone.
    if (!smoothsA || !smoothsB || !apart || HoldsState(a, frames, *stateA) || HoldsState(b, frames, *stateB)) {
        ApplyOutputSmoothing(a, frames, slewStep[0], lowpassCoef[0], stateA);
        ApplyOutputSmoothing(b, frames, slewStep[1], lowpassCoef[1], stateB);
        return;
    }
    const float settingA = slewA ? slewStep[0] : lowpassCoef[0];
    const float settingB = slewB ? slewStep[1] : lowpassCoef[1];
    if (slewA && slewB)
        SmoothTogether<true, true>(a, b, frames, settingA, settingB, stateA, stateB);
    else if (slewA)
        SmoothTogether<true, false>(a, b, frames, settingA, settingB, stateA, stateB);
    else if (slewB)
        SmoothTogether<false, true>(a, b, frames, settingA, settingB, stateA, stateB);
    else
        SmoothTogether<false, false>(a, b, frames, settingA, settingB, stateA, stateB);
}

bool SmoothingShowsOff(float milliseconds)
{
    return milliseconds >= -0.5f && milliseconds <= 0.5f;
}
