// Guards for values the plug-ins read on the audio thread. Program values
// reach a plug-in from the host, the editor, Lua, OSC and saved projects,
// and the host's sample rate may be anything; what is read here is used as
// an index, a count or a divisor. Pure functions: any thread.
#pragma once

#include <cmath>
#include <cstdint>

#include "framework/ParameterInfo.h"
#include "framework/ObryProgram.h"

// A program value held to its parameter's range; the default when NaN.
inline float HeldToRange(const ParameterInfo& info, float value)
{
    if (value != value)
        return info.def;
    return value < info.min ? info.min : (value > info.max ? info.max : value);
}

// The host's sample rate when usable, else 44100.
inline double UsableSampleRate(double rate)
{
    return std::isfinite(rate) && rate >= 1.0 && rate <= 1.0e8 ? rate : 44100.0;
}

// trunc(value) held to lo..hi; what is no number gives `fallback`.
inline int32_t WholeValue(float value, int32_t lo, int32_t hi, int32_t fallback)
{
    if (std::isnan(value))
        return fallback;
    if (value <= static_cast<float>(lo))
        return lo;
    if (value >= static_cast<float>(hi))
        return hi;
    return static_cast<int32_t>(value);
}

inline float FiniteOr(float value, float fallback)
{
    return std::isfinite(value) ? value : fallback;
}

// A switch value: on when neither 0 nor NaN.
inline bool IsOn(float value)
{
    return value != 0.0f && !std::isnan(value);
}

// Holds every value of `program` (count parameters described by `infos`)
// to its range, NaN to the default. A program's own chunk from a saved
// project bypasses the checks that plain values get. Host thread.
inline void HoldProgramToRanges(ObryProgram& program, const ParameterInfo* infos, int32_t count)
{
    for (int32_t i = 0; i < count; ++i) {
        const ParameterInfo& info = infos[i];
        const float value = program.GetParameter(i);
        float held = std::isnan(value) ? info.def : value;
        held = held < info.min ? info.min : (held > info.max ? info.max : held);
        if (held != value || std::isnan(value))
            program.SetParameter(i, held);
    }
}
