#include "plugins/common/Swing.h"

#include <cmath>

namespace {

// Splits t into the start of its period and the fraction 0 <= f < 1 within.
// The remainder is floored: the C library's fmod keeps the sign of t, which
// would warp positions before 0 backwards.
bool SplitPeriod(double t, double p, double* start, double* fraction)
{
    if (!(p > 0.0) || !std::isfinite(p) || !std::isfinite(t))
        return false;
    double r = std::fmod(t, p);
    if (r < 0.0)
        r += p;
    // r + p can round up to p itself for a tiny negative remainder.
    if (r >= p)
        r = 0.0;
    *start = t - r;
    *fraction = r / p;
    return true;
}

} // namespace

double SwingWarp(double t, double p, double s)
{
    double start = 0.0, f = 0.0;
    if (!SplitPeriod(t, p, &start, &f))
        return t;
    const double g = f < 0.5 ? 2.0 * s * f : 1.0 - (1.0 - s) * 2.0 * (1.0 - f);
    return g * p + start;
}

double SwingUnwarp(double t, double p, double s)
{
    double start = 0.0, f = 0.0;
    if (!SplitPeriod(t, p, &start, &f) || !(s > 0.0 && s < 1.0))
        return t;
    const double g = f < s ? (0.5 / s) * f : 1.0 - (0.5 / (1.0 - s)) * (1.0 - f);
    return g * p + start;
}
