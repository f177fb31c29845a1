// The LFO's waveform mix: sine, triangle, square and saw of the warped phase,
// the held random and the noise value, each with its weight, plus the offset.
// Level gives one sample; MixLevels a stretch of them four at a time in
// vector registers, every lane with the same single-precision operations in
// the same order as Level, so both give the same bits.
//
// Audio thread (and tests): pure arithmetic, no allocation, no lock.
#pragma once

#include <cstdint>

#include "framework/FastSine.h"

namespace ObryCorvaneLFO {

// A channel's waveform settings, copied to the stack for a run of samples:
// read through the channel, every output store (a float the compiler cannot
// tell apart from the channel's) would reload them.
struct Mix {
    float pulseWidth;
    float sine, triangle, square, saw, random, noise;
    float offset;
    int32_t inputMode;
};

// std::fmin for these operands (never two zeros of opposite sign), without
// the library call.
inline float Smaller(float a, float b)
{
    return (a < b) | (b != b) ? a : b;
}

// The waveform mix of one sample, offset included, before the input: from
// its warped phase `w` and its held random and noise values.
inline float Level(const Mix& ch, float w, float held, float noise)
{
    const float sine = FastSine(w);
    const float triangle = Smaller(4.0f * w - 1.0f, 3.0f - 4.0f * w);
    const float square = w > ch.pulseWidth ? -1.0f : 1.0f;
    const float saw = 2.0f * w - 1.0f;
    const float sum = triangle * ch.triangle + sine * ch.sine + square * ch.square + saw * ch.saw +
                      held * ch.random + noise * ch.noise;
    return sum + ch.offset;
}

// levels[i] = Level(mix, warped[i], held[i], noise[i]) for `frames` samples.
inline void MixLevels(const Mix& mix, const float* warped, const float* held, const float* noise, float* levels,
                      int32_t frames)
{
    typedef float Quad __attribute__((vector_size(16)));
    typedef int32_t QuadMask __attribute__((vector_size(16)));
    auto load = [](const float* p) {
        Quad q;
        __builtin_memcpy(&q, p, sizeof q);
        return q;
    };
    const Quad one = {1, 1, 1, 1};
    const Quad minusOne = -one;
    int32_t i = 0;
    for (; i + 4 <= frames; i += 4) {
        const Quad w = load(warped + i);
        // FastSine, with std::min(a, b) as b < a ? b : a and std::max(a, b)
        // as a < b ? b : a.
        const Quad high = w - 0.5f;
        const Quad low = 1.0f - w;
        const Quad nearer = low < high ? low : high;
        const Quad negative = -w;
        const Quad t = negative < nearer ? nearer : negative;
        const Quad t2 = t * t;
        const Quad t3 = t2 * t;
        const Quad t5 = t3 * t2;
        const Quad t7 = t5 * t2;
        const Quad t9 = t7 * t2;
        const Quad sine = t * -6.2831855f + t3 * 41.34168f - t5 * 81.602234f + t7 * 76.574974f - t9 * 39.710674f;
        const Quad rising = 4.0f * w - 1.0f;
        const Quad falling = 3.0f - 4.0f * w;
        const QuadMask takeRising = (rising < falling) | (falling != falling);
        const Quad triangle = takeRising ? rising : falling;
        const Quad square = w > mix.pulseWidth ? minusOne : one;
        const Quad saw = 2.0f * w - 1.0f;
        const Quad sum = triangle * mix.triangle + sine * mix.sine + square * mix.square + saw * mix.saw +
                         load(held + i) * mix.random + load(noise + i) * mix.noise;
        const Quad level = sum + mix.offset;
        __builtin_memcpy(levels + i, &level, sizeof level);
    }
    for (; i < frames; ++i)
        levels[i] = Level(mix, warped[i], held[i], noise[i]);
}

} // namespace ObryCorvaneLFO
