// The Step LFO's output from its phase: the warped phase's step (or the
// glide to the next), held to the floor, scaled and combined with the input.
// StepSample gives one sample; StepStretch a stretch of them eight at a time
// in vector registers with the same bits.
//
// Audio thread (and tests): pure arithmetic, no allocation, no lock.
#pragma once

#include <cstdint>

#include "plugins/common/ClockedOscillator.h"

namespace ObryCorvaneStepLFO {

// A channel's step shape for a run of samples, copied to the stack: read
// through the channel, every output store would reload it.
struct StepShape {
    PhaseWarp warp;
    const float* steps; // from the cycle's first step
    int32_t count;
    float countF;
    float minimum, multiplier, offset;
    bool linear;
    int32_t inputMode;
};

// The level of one sample at `phase` (before the multiplier and offset);
// `pos` and `index`: its position in the cycle and its step.
inline float StepLevel(const StepShape& shape, float phase, float& pos, int32_t& index)
{
    float w = shape.warp(phase);
    if (w >= 1.0f)
        w -= 1.0f;
    pos = w * shape.countF;
    // The step index must stay inside the range whatever the phase: a value
    // that is not a number, or rounding up to the cycle's end, must never
    // reach the table as an index.
    if (!(pos >= 0.0f))
        pos = 0.0f;
    index = pos < shape.countF ? static_cast<int32_t>(pos) : shape.count - 1;
    float v = shape.steps[index];
    if (shape.linear) {
        const int32_t next = index + 1 < shape.count ? index + 1 : 0; // the last step glides into the first
        v += (shape.steps[next] - v) * (pos - static_cast<float>(index));
    }
    if (v < shape.minimum)
        v = shape.minimum;
    return v;
}

inline float StepSample(const StepShape& shape, float phase, float input)
{
    float pos;
    int32_t index;
    const float v = StepLevel(shape, phase, pos, index);
    return CombineWithInput(shape.inputMode, v * shape.multiplier + shape.offset, input);
}

// out[i] = StepSample(shape, phase[i], in[i]) eight samples at a time in
// vector registers, every lane with the operations of one sample alone, so
// the same bits. A group's inputs are read before its outputs are written:
// `in` and `out` must be the same buffer or apart.
[[gnu::always_inline]] inline void StepStretch(const StepShape& shape, const float* phase, const float* in, float* out,
                                              int32_t frames)
{
    typedef float Lanes __attribute__((vector_size(32)));
    // Locals: the output stores could alias the shape, and every group
    // would reload it.
    const PhaseWarp warp = shape.warp;
    const float* const steps = shape.steps;
    const int32_t count = shape.count;
    const float countF = shape.countF, minimum = shape.minimum, multiplier = shape.multiplier;
    const float offset = shape.offset;
    const bool linear = shape.linear;
    const int32_t inputMode = shape.inputMode;
    typedef int32_t LaneInts __attribute__((vector_size(32)));
    const Lanes zero = {0, 0, 0, 0, 0, 0, 0, 0};
    const LaneInts noIndex = {0, 0, 0, 0, 0, 0, 0, 0};
    int32_t i = 0;
    for (; i + 8 <= frames; i += 8) {
        Lanes p, w, input;
        __builtin_memcpy(&p, phase + i, sizeof p);
        __builtin_memcpy(&input, in + i, sizeof input);
        warp.Each(p, w);
        w = w >= 1.0f ? w - 1.0f : w;
        Lanes pos = w * countF;
        pos = pos >= 0.0f ? pos : zero;
        const auto inside = pos < countF;
        // Only lanes inside the range are converted (the others take the
        // last step).
        const LaneInts last = noIndex + (count - 1);
        const LaneInts index = inside ? __builtin_convertvector(inside ? pos : zero, LaneInts) : last;
        const LaneInts following = index + 1 < count ? index + 1 : noIndex;
        // A step lasts many samples: most groups lie within one, and their
        // step values are loaded once for all lanes.
        LaneInts other = index ^ index[0];
        other |= __builtin_shufflevector(other, other, 4, 5, 6, 7, 0, 1, 2, 3);
        other |= __builtin_shufflevector(other, other, 2, 3, 0, 1, 6, 7, 4, 5);
        other |= __builtin_shufflevector(other, other, 1, 0, 3, 2, 5, 4, 7, 6);
        Lanes v, nextV;
        if (other[0] == 0) {
            v = zero + steps[index[0]];
            nextV = zero + steps[following[0]];
        } else {
            int32_t at[8], next[8];
            __builtin_memcpy(at, &index, sizeof at);
            __builtin_memcpy(next, &following, sizeof next);
            v = Lanes{steps[at[0]], steps[at[1]], steps[at[2]], steps[at[3]],
                      steps[at[4]], steps[at[5]], steps[at[6]], steps[at[7]]};
            nextV = Lanes{steps[next[0]], steps[next[1]], steps[next[2]], steps[next[3]],
                          steps[next[4]], steps[next[5]], steps[next[6]], steps[next[7]]};
        }
        if (linear)
            v += (nextV - v) * (pos - __builtin_convertvector(index, Lanes));
        v = v < minimum ? zero + minimum : v;
        const Lanes level = v * multiplier + offset;
        Lanes result;
        switch (inputMode) {
        case kInputMultiply: result = level * input; break;
        case kInputCombine: result = (level + 1.0f) * input; break;
        default: result = level + input; break;
        }
        __builtin_memcpy(out + i, &result, sizeof result);
    }
    for (; i < frames; ++i)
        out[i] = StepSample(shape, phase[i], in[i]);
}

} // namespace ObryCorvaneStepLFO
