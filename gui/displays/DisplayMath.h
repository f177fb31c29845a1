// Guards for the numbers displays draw with. Indicator values come from the
// audio thread and settings from a restored state or a script; either may be
// NaN, infinite or out of range after bad input, and no display may draw NaN
// geometry or index a table with such a value.
//
// Any thread: pure.
#pragma once

#include <cmath>

namespace QZ {

// v when it is a finite number, else `fallback`.
inline float Finite(float v, float fallback)
{
    return std::isfinite(v) ? v : fallback;
}

// v limited to lo .. hi; `nan` when v is not a number (infinities limit).
inline float Limit(float v, float lo, float hi, float nan)
{
    if (std::isnan(v))
        return nan;
    return v < lo ? lo : (v > hi ? hi : v);
}

} // namespace QZ
