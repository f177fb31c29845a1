// The Quantizer's even steps: out = (floor((x - offset) x k) + transpose) / k
// + offset for each input sample x held to a usable range. Steps runs them
// eight at a time in vector registers, each lane with the single-precision
// operations of Step in the same order (floor made exactly from a
// truncation), so both give the same bits.
//
// Audio thread (and tests): pure arithmetic, no allocation, no lock.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace ObryCorvaneQuantizer {

// Inputs beyond this are treated as this (the arithmetic stays finite).
constexpr float kInputLimit = 1.0e6f;

// A NaN input counts as 0, an infinite one as the limit.
inline float UsableInput(float x)
{
    if (std::isnan(x))
        return 0.0f;
    return std::clamp(x, -kInputLimit, kInputLimit);
}

struct EvenSteps {
    float k;         // steps per unit, halved
    float q;         // 1 / k
    float offset;
    float transpose; // in steps
};

inline float Step(const EvenSteps& s, float x)
{
    const float t = (UsableInput(x) - s.offset) * s.k;
    return (std::floor(t) + s.transpose) * s.q + s.offset;
}

// out[i] = Step(s, in[i]) for `frames` samples; in and out may be the same
// buffer (buffers that overlap otherwise go one sample after another).
// Always inlined, so that a caller built for several instruction sets gets
// each one's vectors (eight lanes: one AVX register, or two SSE ones).
[[gnu::always_inline]] inline void Steps(const EvenSteps& s, const float* in, float* out, int32_t frames)
{
    typedef float Quad __attribute__((vector_size(32)));
    typedef int32_t QuadInt __attribute__((vector_size(32)));
    const auto from = reinterpret_cast<uintptr_t>(in);
    const auto to = reinterpret_cast<uintptr_t>(out);
    const uintptr_t bytes = sizeof(float) * static_cast<uintptr_t>(frames > 0 ? frames : 0);
    const bool apart = to - from >= bytes && from - to >= bytes;
    int32_t i = 0;
    if (in == out || apart) {
        const Quad zero = {};
        const Quad low = zero - kInputLimit;
        const Quad high = zero + kInputLimit;
        const Quad exact = zero + 8388608.0f; // 2^23: from here on every float is whole
        const QuadInt sign = QuadInt{} + INT32_MIN;
        for (; i + 8 <= frames; i += 8) {
            Quad x;
            memcpy(&x, in + i, sizeof x);
            x = x == x ? x : zero;
            x = x < low ? low : x;
            x = high < x ? high : x;
            const Quad t = (x - s.offset) * s.k;
            // floor: the truncation, one lower where it lies above, with
            // t's sign (floor(-0) is -0); t itself when already whole.
            Quad whole = __builtin_convertvector(__builtin_convertvector(t, QuadInt), Quad);
            whole = whole > t ? whole - 1.0f : whole;
            whole = (Quad)((QuadInt)whole | ((QuadInt)t & sign));
            const QuadInt magnitude = (QuadInt)t & ~sign;
            const Quad floored = magnitude < (QuadInt)exact ? whole : t;
            const Quad y = (floored + s.transpose) * s.q + s.offset;
            memcpy(out + i, &y, sizeof y);
        }
    }
    for (; i < frames; ++i)
        out[i] = Step(s, in[i]);
}

} // namespace ObryCorvaneQuantizer
