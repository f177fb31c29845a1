// FastSine against the library sine over the whole period, its exact phases
// and the symmetries of its fold.
#include "framework/FastSine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

constexpr long double kTwoPi = 2 * std::numbers::pi_v<long double>;

TEST(FastSine, WithinItsErrorBoundOverTheWholePeriod)
{
    // The largest error over every float in [0, 1], measured once
    // exhaustively; a fine grid must not find worse.
    constexpr double kMeasuredWorstError = 2.52e-7;
    constexpr int kSteps = 1 << 20; // every 2^-20 is exact in single precision
    for (int i = 0; i <= kSteps; ++i) {
        const float x = static_cast<float>(i) / kSteps;
        ASSERT_LE(std::fabs(FastSine(x) - std::sin(kTwoPi * x)), kMeasuredWorstError) << "x = " << x;
    }
}

TEST(FastSine, SpecialPhases)
{
    for (float x : {0.0f, 0.5f, 1.0f})
        EXPECT_EQ(FastSine(x), 0.0f) << "x = " << x;
    EXPECT_NEAR(FastSine(0.25f), 1.0f, 1e-4);
    EXPECT_NEAR(FastSine(0.75f), -1.0f, 1e-4);
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
