#include "plugins/common/OutputSmoothing.h"

#include <cmath>
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

namespace {

// The input a smoothing state restarts from. Out of line, so the compiler
// keeps the rare restart a branch instead of a select on every sample.
[[gnu::noinline]] float RestartFrom(float x)
{
    return x;
}

} // namespace

// audio thread: no allocation, no lock
void ApplyOutputSmoothing(float* samples, int32_t frames, float slewStep, float lowpassCoef, float* smoothState)
{
    float y = *smoothState;
    if (slewStep > 0.0f) {
        for (int32_t i = 0; i < frames; ++i) {
            const float x = samples[i];
            const float d = x - y;
            // A state that is NaN or infinite (from an earlier unsmoothed
            // block) restarts from the input. Only a step can leave one: the
            // middle case is reached with finite d and y alone, so x is
            // finite there. Each test is a branch that is almost never taken,
            // off the chain from one sample's state to the next.
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
            samples[i] = y;
        }
        *smoothState = y;
    } else if (lowpassCoef > 0.0f) {
        for (int32_t i = 0; i < frames; ++i) {
            const float x = samples[i];
            // SettleTowards(c, x), then x for a result that is not finite:
            // one test, and a branch (nearly always taken the same way)
            // keeps it off the chain from one sample's state to the next.
            const float c = (y - x) * lowpassCoef + x;
            const bool settles = !(std::fabs(c - x) >= 1e-30f);
            const bool broken = !(std::fabs(c) <= std::numeric_limits<float>::max());
            if (settles | broken) [[unlikely]]
                y = x;
            else
                y = c;
            samples[i] = y;
        }
        *smoothState = y;
    } else if (frames > 0) {
        *smoothState = samples[frames - 1];
    }
}

bool SmoothingShowsOff(float milliseconds)
{
    return milliseconds >= -0.5f && milliseconds <= 0.5f;
}
