// FastSine: sin(2*pi*x) for a phase x given in cycles, from an odd
// polynomial of degree 9 after folding the phase onto a quarter period.
//
// Any thread (the audio thread and the editor's waveform display): pure,
// inline, no calls and no branches, single precision.
//
// Valid for 0 <= x <= 1; callers keep their phase there (a phase outside
// folds onto |t| > 0.25, where the polynomial is no longer a sine). Exact 0
// at x = 0, 0.5 and 1, and FastSine(0.5 + d) = -FastSine(d) exactly. Over
// every float in [0, 1] the error is at most 2.52e-7, of which 4.3e-8 is the
// polynomial itself and the rest single-precision rounding.
#pragma once

#include <algorithm>

inline float FastSine(float x)
{
    // t in [-0.25, 0.25] with sin(2*pi*x) = -sin(2*pi*t).
    const float t = std::max(-x, std::min(x - 0.5f, 1.0f - x));
    const float t2 = t * t;
    const float t3 = t2 * t;
    const float t5 = t3 * t2;
    const float t7 = t5 * t2;
    const float t9 = t7 * t2;
    // -sin(2*pi*t), term by term from the lowest power.
    return t * -6.2831855f + t3 * 41.34168f - t5 * 81.602234f + t7 * 76.574974f - t9 * 39.710674f;
}
