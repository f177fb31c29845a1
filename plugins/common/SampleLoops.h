// Sample loops the compiler vectorises: a function of each input sample
// written to the same place of the output, for the simple plug-ins whose
// whole cost is such a loop (DC, the AC encoders).
//
// Written for GCC at -O2, which vectorises a loop only when the vector code
// replaces the scalar code entirely: the samples go in groups of kGroup (one
// AVX vector, two SSE vectors) with a scalar tail, and the group's inner loop
// of fixed length becomes vector instructions. Hosts may process in place,
// so the input and output may be the same buffer: that case runs on one
// pointer, separate buffers run on two that the compiler may take as
// unrelated, and buffers that overlap in any other way (a broken host) run
// one sample after another. No value is carried from sample to sample.
//
// CORVANE_SAMPLE_CLONES on a function that uses these loops builds it three
// times, for the base instruction set, AVX2 and AVX-512, and picks one when
// the module is loaded. All do the same single-precision operations in the
// same order (the project compiles with -ffp-contract=off, so no clone fuses
// a multiply and an add), so the output is the same to the bit on every
// machine.
//
// Audio thread: pure arithmetic, no allocation, no lock.
#pragma once

#include <cstdint>

// Not in the thread sanitizer's build: the choice is made by a resolver the
// dynamic loader runs before that sanitizer's run-time is up, and it crashes
// there.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define CORVANE_SAMPLE_CLONES [[gnu::target_clones("avx512f", "avx2", "default")]]
#else
#define CORVANE_SAMPLE_CLONES
#endif

namespace SampleLoops {

constexpr int32_t kGroup = 8;

// Whether `frames` samples from `a` and from `b` share no byte (compared as
// addresses: the buffers are unrelated objects).
inline bool Apart(const float* a, const float* b, int32_t frames)
{
    const auto from = reinterpret_cast<uintptr_t>(a);
    const auto to = reinterpret_cast<uintptr_t>(b);
    const uintptr_t bytes = sizeof(float) * static_cast<uintptr_t>(frames > 0 ? frames : 0);
    return to - from >= bytes && from - to >= bytes;
}

// Whether two runs of `frames` samples are the same run or share no sample:
// what a loop needs that reads a group of samples before writing its group.
inline bool SameOrApart(const float* a, const float* b, int32_t frames)
{
    return a == b || Apart(a, b, frames);
}

// The groups of Map, on separate buffers: restrict parameters are what lets
// the compiler take them as unrelated (restrict on local pointers is not).
template <int32_t kSize, class Shape>
[[gnu::always_inline]] inline int32_t MapGroupsApart(const float* __restrict in, float* __restrict out,
                                                     int32_t frames, Shape shape)
{
    int32_t i = 0;
    for (; i + kSize <= frames; i += kSize)
        for (int32_t k = 0; k < kSize; ++k)
            out[i + k] = shape(in[i + k], k);
    return i;
}

// The groups of Map, in place.
template <int32_t kSize, class Shape>
[[gnu::always_inline]] inline int32_t MapGroupsInPlace(float* samples, int32_t frames, Shape shape)
{
    int32_t i = 0;
    for (; i + kSize <= frames; i += kSize)
        for (int32_t k = 0; k < kSize; ++k)
            samples[i + k] = shape(samples[i + k], k);
    return i;
}

// out[n] = shape(in[n], n) for n in 0 .. frames-1. The index handed to
// `shape` has the parity of n (its only use: alternating patterns); within a
// group it is the position in the group. kSize: samples per group, an even
// number; two vectors' worth suits a shape of plain arithmetic, one
// vector's worth a shape the compiler must blend.
template <int32_t kSize = kGroup, class Shape>
[[gnu::always_inline]] inline void Map(const float* in, float* out, int32_t frames, Shape shape)
{
    static_assert(kSize > 0 && kSize % 2 == 0);
    int32_t i = 0;
    if (in == out)
        i = MapGroupsInPlace<kSize>(out, frames, shape);
    else if (Apart(in, out, frames))
        i = MapGroupsApart<kSize>(in, out, frames, shape);
    for (; i < frames; ++i)
        out[i] = shape(in[i], i);
}

// out[n] = value for n in 0 .. frames-1.
[[gnu::always_inline]] inline void Fill(float* out, int32_t frames, float value)
{
    int32_t i = 0;
    for (; i + kGroup <= frames; i += kGroup)
        for (int32_t k = 0; k < kGroup; ++k)
            out[i + k] = value;
    for (; i < frames; ++i)
        out[i] = value;
}

} // namespace SampleLoops
