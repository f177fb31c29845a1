// The LFO's waveform mix: sine, triangle, square and saw of the warped phase,
// the held random and the noise value, each with its weight, plus the offset.
// Level gives one sample; MixStretch a stretch of output eight at a time in
// vector registers, every lane with the same single-precision operations in
// the same order as Level, so both give the same bits.
//
// Audio thread (and tests): pure arithmetic, no allocation, no lock.
#pragma once

#include <cstdint>

#include "framework/FastSine.h"
#include "plugins/common/ClockedOscillator.h"

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
    return ((a < b) | (b != b)) ? a : b;
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

// The noise value of the generator's state `seed` (the state the step to
// this sample left).
inline float NoiseOf(uint32_t seed)
{
    return (static_cast<float>(static_cast<int32_t>(seed & 0xFFFFF) - 0x80000)) * 1.9073486e-6f;
}

// A stretch of output from the clock's values of each sample: its phase,
// its noise generator's state and its held random value:
//   out[i] = CombineWithInput(mix.inputMode,
//                             Level(mix, warp(phase[i]), held[i], NoiseOf(seeds[i])), in[i])
// eight samples at a time in vector registers, every lane with the same
// single-precision operations in the same order as one sample alone, so both
// give the same bits. A group's inputs are read before its outputs are
// written: `in` and `out` must be the same buffer or apart.
[[gnu::always_inline]] inline void MixStretch(const Mix& mix, const PhaseWarp& warp, const float* phase,
                                              const uint32_t* seeds, const float* held, const float* in, float* out,
                                              int32_t frames)
{
    typedef float Lanes __attribute__((vector_size(32)));
    typedef int32_t LaneInts __attribute__((vector_size(32)));
    typedef uint32_t LaneWords __attribute__((vector_size(32)));
    auto load = [](const float* p, Lanes& v) { __builtin_memcpy(&v, p, sizeof v); };
    const Lanes zero = {0, 0, 0, 0, 0, 0, 0, 0};
    const Lanes one = zero + 1.0f;
    const Lanes minusOne = zero - 1.0f;
    int32_t i = 0;
    for (; i + 8 <= frames; i += 8) {
        Lanes p, w, heldLanes, input;
        load(phase + i, p);
        load(held + i, heldLanes);
        load(in + i, input);
        warp.Each(p, w);
        LaneWords seed;
        __builtin_memcpy(&seed, seeds + i, sizeof seed);
        const Lanes noise =
            __builtin_convertvector((LaneInts)(seed & 0xFFFFF) - 0x80000, Lanes) * 1.9073486e-6f;
        // FastSine, with std::min(a, b) as b < a ? b : a and std::max(a, b)
        // as a < b ? b : a.
        const Lanes high = w - 0.5f;
        const Lanes low = 1.0f - w;
        const Lanes nearer = low < high ? low : high;
        const Lanes negative = -w;
        const Lanes t = negative < nearer ? nearer : negative;
        const Lanes t2 = t * t;
        const Lanes t3 = t2 * t;
        const Lanes t5 = t3 * t2;
        const Lanes t7 = t5 * t2;
        const Lanes t9 = t7 * t2;
        const Lanes sine = t * -6.2831855f + t3 * 41.34168f - t5 * 81.602234f + t7 * 76.574974f - t9 * 39.710674f;
        const Lanes rising = 4.0f * w - 1.0f;
        const Lanes falling = 3.0f - 4.0f * w;
        const LaneInts takeRising = (rising < falling) | (falling != falling);
        const Lanes triangle = takeRising ? rising : falling;
        const Lanes square = w > mix.pulseWidth ? minusOne : one;
        const Lanes saw = 2.0f * w - 1.0f;
        const Lanes sum = triangle * mix.triangle + sine * mix.sine + square * mix.square + saw * mix.saw +
                          heldLanes * mix.random + noise * mix.noise;
        const Lanes level = sum + mix.offset;
        Lanes result;
        switch (mix.inputMode) {
        case kInputMultiply: result = level * input; break;
        case kInputCombine: result = (level + 1.0f) * input; break;
        default: result = level + input; break;
        }
        __builtin_memcpy(out + i, &result, sizeof result);
    }
    for (; i < frames; ++i)
        out[i] = CombineWithInput(mix.inputMode, Level(mix, warp(phase[i]), held[i], NoiseOf(seeds[i])), in[i]);
}

} // namespace ObryCorvaneLFO
