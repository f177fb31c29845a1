#include "plugins/common/Swing.h"

#include <cmath>

namespace {

// Splits t into the start of its period and the fraction 0 <= f < 1 within.
// The remainder is floored: the C library's fmod keeps the sign of t, which
// would warp positions before 0 backwards.
bool SplitPeriod(double t, double p, double* start, double* fraction, double* remainder = nullptr)
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
    if (remainder)
        *remainder = r;
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

namespace {

// The unwarped place from the split of t.
inline double UnwarpSplit(double start, double f, double p, double s)
{
    const double g = f < s ? (0.5 / s) * f : 1.0 - (0.5 / (1.0 - s)) * (1.0 - f);
    return g * p + start;
}

} // namespace

double SwingUnwarp(double t, double p, double s)
{
    double start = 0.0, f = 0.0;
    if (!SplitPeriod(t, p, &start, &f) || !(s > 0.0 && s < 1.0))
        return t;
    return UnwarpSplit(start, f, p, s);
}

double SwingUnwarper::Unwarp(double t, double p, double s)
{
    if (!(s > 0.0 && s < 1.0))
        return t;
    // Within the kept period: start < t (NaN fails; t on the start itself
    // goes the long way, for fmod's sign of a zero remainder), t - start
    // exact (start 0, or t at most twice the start), and below one period:
    // then t - start is fmod's remainder.
    if (p == period && t > start && (start == 0.0 || t <= 2.0 * start)) {
        const double r = t - start;
        if (r < p)
            return UnwarpSplit(t - r, r / p, p, s);
    }
    double kept = 0.0, f = 0.0, r = 0.0;
    if (!SplitPeriod(t, p, &kept, &f, &r))
        return t;
    // Kept for the calls to come only when it is exactly t less fmod's
    // remainder r (a whole number of periods): for t >= 0 SplitPeriod takes
    // fmod's remainder as it is, and t - kept is exact here (kept 0, or
    // kept <= t <= twice kept), so comparing it with the remainder tells.
    start = std::numeric_limits<double>::quiet_NaN();
    if (t >= 0.0 && (kept == 0.0 || t <= 2.0 * kept) && t - kept == r) {
        start = kept;
        period = p;
    }
    return UnwarpSplit(kept, f, p, s);
}
