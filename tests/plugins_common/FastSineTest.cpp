// FastSine against the library sine. Tolerances come from the arithmetic:
// the polynomial's own error (found here in long double) plus the rounding
// of its single-precision evaluation.
#include "plugins/common/FastSine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

constexpr long double kTwoPi = 2 * std::numbers::pi_v<long double>;
constexpr float kCoefficients[5] = {-6.2831855f, 41.34168f, -81.602234f, 76.574974f, -39.710674f};

// The polynomial of FastSine, with its single-precision coefficients, in
// long double: what FastSine would return without rounding.
long double ExactPolynomial(long double t)
{
    long double sum = 0, power = t;
    for (float c : kCoefficients) {
        sum += c * power;
        power *= t * t;
    }
    return sum;
}

// Largest |polynomial(t) + sin(2 pi t)| over the folded range [-0.25, 0.25].
long double PolynomialError()
{
    long double worst = 0;
    constexpr int kSteps = 1 << 16;
    for (int i = 0; i <= kSteps; ++i) {
        const long double t = -0.25L + 0.5L * i / kSteps;
        worst = std::max(worst, std::fabs(ExactPolynomial(t) + std::sin(kTwoPi * t)));
    }
    return worst;
}

// Rounding of the single-precision evaluation. The fold is exact (Sterbenz),
// so t is exact; the term in t^m takes (m + 1) / 2 + 1 roundings (the powers
// and the coefficient, m = 1: just the coefficient), each at most u of the
// term, and each of the four additions at most u of its partial sum.
double RoundingBound(float x)
{
    const double t = std::max(-x, std::min(x - 0.5f, 1.0f - x));
    const int roundings[5] = {1, 3, 4, 5, 6};
    double bound = 0, power = t, partial = 0;
    for (int m = 0; m < 5; ++m) {
        const double term = kCoefficients[m] * power;
        bound += roundings[m] * std::fabs(term);
        partial += term;
        if (m > 0)
            bound += std::fabs(partial);
        power *= t * t;
    }
    return std::ldexp(1.0, -24) * bound;
}

// Largest error over every float in [0, 1], measured once exhaustively (it
// takes about a minute); the grid below must not find worse.
constexpr double kMeasuredWorstError = 2.52e-7;

TEST(FastSine, WithinItsErrorBoundOverTheWholePeriod)
{
    const double polynomialError = static_cast<double>(PolynomialError());
    // The bound found by measurement is tiny; make sure the derivation did
    // not go astray and hand out a loose one.
    ASSERT_LT(polynomialError, 1e-7);

    double worst = 0;
    constexpr int kSteps = 1 << 20; // every 2^-20 is exact in single precision
    for (int i = 0; i <= kSteps; ++i) {
        const float x = static_cast<float>(i) / kSteps;
        const double error = std::fabs(FastSine(x) - std::sin(kTwoPi * x));
        worst = std::max(worst, error);
        ASSERT_LE(error, polynomialError + RoundingBound(x)) << "x = " << x;
    }
    EXPECT_LE(worst, kMeasuredWorstError);
}

TEST(FastSine, SpecialPhases)
{
    struct Case {
        float x;
        float expected;
        bool exact;
    };
    const Case cases[] = {
        {0.0f, 0.0f, true},  {0.5f, 0.0f, true},  {1.0f, 0.0f, true},
        {0.25f, 1.0f, false}, {0.75f, -1.0f, false},
    };
    for (const Case& c : cases) {
        if (c.exact) {
            EXPECT_EQ(FastSine(c.x), c.expected) << "x = " << c.x;
        } else {
            EXPECT_NEAR(FastSine(c.x), c.expected, 1e-4) << "x = " << c.x;
        }
    }
}

TEST(FastSine, FoldKeepsTheSineSymmetries)
{
    // For d in [0, 0.25] the folds give sin(2 pi (0.5 + d)) = -sin(2 pi d),
    // sin(2 pi (0.5 - d)) = sin(2 pi d) and sin(2 pi (1 - d)) = -sin(2 pi d),
    // bit for bit, since the fold is exact and the polynomial odd.
    constexpr int kSteps = 1 << 12;
    for (int i = 0; i <= kSteps; ++i) {
        const float d = 0.25f * static_cast<float>(i) / kSteps;
        const float s = FastSine(d);
        EXPECT_EQ(FastSine(0.5f + d), -s) << "d = " << d;
        EXPECT_EQ(FastSine(0.5f - d), s) << "d = " << d;
        EXPECT_EQ(FastSine(1.0f - d), -s) << "d = " << d;
    }
}

} // namespace
