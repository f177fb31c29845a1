// The steps a Step LFO channel plays, from its "Start Step", "Length Mode",
// "Length In Steps" and "End Step" settings. The plug-in plays this range
// and its step editor shows it, so both must agree.
//
// Any thread: pure arithmetic. Settings from a restored state are not
// range-checked: every value, even one that is not a number, gives a range
// inside the table.
#pragma once

#include <cmath>
#include <cstdint>

struct StepSequenceRange {
    int32_t first; // 0-based first step
    int32_t count; // 1 .. stepCount - first
};

// startStep, length and endStep are 1-based step numbers as set; byEnd is
// "Start/End" length mode (else "Start/Length").
inline StepSequenceRange StepSequenceRangeOf(float startStep, bool byEnd, float length, float endStep,
                                             int32_t stepCount)
{
    // In double, so that no sum of huge settings can overflow.
    const double lastIndex = static_cast<double>(stepCount - 1);
    double start = std::trunc(static_cast<double>(startStep)) - 1.0;
    if (!(start >= 0.0))
        start = 0.0;
    if (start > lastIndex)
        start = lastIndex;
    double end = byEnd ? std::trunc(static_cast<double>(endStep)) - 1.0
                       : start + std::trunc(static_cast<double>(length)) - 1.0;
    if (!(end > start))
        end = start;
    if (end > lastIndex)
        end = lastIndex;
    const auto first = static_cast<int32_t>(start);
    return {first, static_cast<int32_t>(end) - first + 1};
}
