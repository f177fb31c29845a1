// Filter design and the direct-form run. Expected values come from the
// closed forms of the designs (pole positions, Butterworth and Chebyshev
// magnitudes, the bilinear map); tolerances from the precision involved.
#include "plugins/common/IIRFilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <complex>
#include <limits>
#include <numbers>
#include <random>
#include <type_traits>
#include <vector>

namespace {

using Complex = std::complex<double>;
constexpr double kPi = std::numbers::pi;
constexpr double kFloatU = 0x1p-24;  // unit roundoff, single precision
constexpr double kDoubleU = 0x1p-53; // unit roundoff, double precision

// H(e^{jw}) of a designed record of order n, and the rounding scale of its
// evaluation (sum of |terms| of numerator and denominator over |denominator|).
template <typename C>
Complex Response(const BasicIIRFilterCoefficients<C>& c, int n, double w, double* scale = nullptr)
{
    Complex num = 0, den = std::polar(1.0, n * w);
    double numAbs = 0, denAbs = 1;
    for (int j = 0; j <= n; ++j) {
        num += static_cast<double>(c.b[j]) * std::polar(1.0, j * w);
        numAbs += std::fabs(static_cast<double>(c.b[j]));
    }
    for (int j = 0; j < n; ++j) {
        den -= static_cast<double>(c.a[j]) * std::polar(1.0, j * w);
        denAbs += std::fabs(static_cast<double>(c.a[j]));
    }
    if (scale)
        *scale = (numAbs + denAbs * std::abs(num / den)) / std::abs(den);
    return num / den;
}

TEST(DesignIIRFilter, PolesLieWhereThePrototypeAndBilinearMapPutThem)
{
    // Even order: theta = (k + 0.5) pi / n for k = n/2 .. 3n/2 - 1; odd order:
    // theta = k pi / n for k = (n+1)/2 .. (3n-1)/2. Prewarp, then z = (2+p)/(2-p).
    // Each must be a root of D(z) = z^n - sum a[j] z^j.
    for (int n : {10, 5, 4, 1}) {
        for (float ripple : {0.0f, -1.0f}) {
            const float cutoff = 0.117f;
            IIRFilterCoefficientsD c;
            ASSERT_TRUE(DesignIIRFilter(n, ripple, cutoff, &c));
            double sh = 1, ch = 1;
            if (ripple < 0) {
                const double v = 1 / std::sqrt(std::pow(10.0, -0.1 * ripple) - 1);
                sh = std::sinh(std::asinh(v) / n);
                ch = std::cosh(std::asinh(v) / n);
            }
            const double w = 2 * std::tan(kPi * cutoff);
            const int first = n % 2 == 0 ? n / 2 : (n + 1) / 2;
            for (int k = first; k < first + n; ++k) {
                const double theta = n % 2 == 0 ? (k + 0.5) * kPi / n : k * kPi / n;
                const Complex p = Complex(std::cos(theta) * sh, std::sin(theta) * ch) * w;
                const Complex z = (2.0 + p) / (2.0 - p);
                Complex d = std::pow(z, n);
                double terms = std::abs(d);
                for (int j = 0; j < n; ++j) {
                    d -= c.a[j] * std::pow(z, j);
                    terms += std::fabs(c.a[j]) * std::pow(std::abs(z), j);
                }
                EXPECT_LE(std::abs(d), 8 * n * n * kDoubleU * terms)
                    << "order " << n << " ripple " << ripple << " k " << k;
            }
        }
    }
}

TEST(DesignIIRFilter, ButterworthMagnitudeResponse)
{
    // |H|^2 = 1 / (1 + (tan(w/2) / tan(pi fc))^(2n)) after NormalizeIIRGain.
    for (int n : {1, 2, 5, 10}) {
        for (float cutoff : {0.05f, 0.117f, 0.3f}) {
            IIRFilterCoefficientsD c;
            ASSERT_TRUE(DesignIIRFilter(n, 0.0f, cutoff, &c));
            ASSERT_TRUE(NormalizeIIRGain(&c));
            for (double f : {0.0, 0.5 * cutoff, 1.0 * cutoff, 1.5 * cutoff, 0.49}) {
                double scale;
                const double magnitude = std::abs(Response(c, n, 2 * kPi * f, &scale));
                const double ratio = std::tan(kPi * f) / std::tan(kPi * cutoff);
                const double expected = 1 / std::sqrt(1 + std::pow(ratio, 2 * n));
                EXPECT_NEAR(magnitude, expected, 16 * n * kDoubleU * scale + 1e-15)
                    << "order " << n << " cutoff " << cutoff << " f " << f;
            }
        }
    }
}

TEST(DesignIIRFilter, ChebyshevRippleOfOddOrder)
{
    // Odd order: unity at 0 Hz, ripple between 1 and 10^(-r/20) in the pass
    // band, exactly 10^(-r/20) at the cutoff. The combiner's filter is order 5.
    for (float ripple : {-1.0f, -0.5f, -3.0f}) {
        const int n = 5;
        const float cutoff = 0.04464286f;
        IIRFilterCoefficientsD c;
        ASSERT_TRUE(DesignIIRFilter(n, ripple, cutoff, &c));
        ASSERT_TRUE(NormalizeIIRGain(&c));
        const double floor = std::pow(10.0, ripple / 20.0);
        double scale;
        const double atCutoff = std::abs(Response(c, n, 2 * kPi * cutoff, &scale));
        EXPECT_NEAR(atCutoff, floor, 16 * n * kDoubleU * scale);
        for (int i = 0; i < 64; ++i) {
            const double f = cutoff * i / 64.0;
            const double magnitude = std::abs(Response(c, n, 2 * kPi * f, &scale));
            const double tolerance = 16 * n * kDoubleU * scale;
            EXPECT_LE(magnitude, 1 + tolerance) << "ripple " << ripple << " f " << f;
            EXPECT_GE(magnitude, floor - tolerance) << "ripple " << ripple << " f " << f;
        }
        EXPECT_LT(std::abs(Response(c, n, 2 * kPi * 0.25)), floor / 100) << "stop band, ripple " << ripple;
    }
}

TEST(DesignIIRFilter, RefusesOrdersAndCutoffsOutsideItsRange)
{
    struct Case {
        int order;
        float cutoff;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const Case cases[] = {{0, 0.1f},  {-1, 0.1f}, {11, 0.1f}, {10, 0.0f},  {10, -0.1f},
                          {10, 0.5f}, {10, 0.7f}, {10, 1.0f}, {10, nan},   {10, inf},
                          {10, -inf}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "order " << c.order << " cutoff " << c.cutoff);
        float b[kIIRMaxOrder + 1], a[kIIRMaxOrder], gain = 7;
        std::fill(std::begin(b), std::end(b), 7.0f);
        std::fill(std::begin(a), std::end(a), 7.0f);
        EXPECT_FALSE(DesignIIRFilter(c.order, 0.0f, c.cutoff, b, a, &gain));
        for (float v : b)
            EXPECT_EQ(v, 7.0f);
        for (float v : a)
            EXPECT_EQ(v, 7.0f);
        EXPECT_EQ(gain, 7.0f);

        // The record form becomes a filter that passes its input unchanged.
        IIRFilterCoefficients record;
        record.a[3] = 0.5f;
        EXPECT_FALSE(DesignIIRFilter(c.order, 0.0f, c.cutoff, &record));
        EXPECT_EQ(record.gain, 1.0f);
        IIRFilterState state;
        state.coefficients = &record;
        for (float x : {1.0f, -2.0f, 0.25f, 0.0f, 3.0f})
            EXPECT_EQ(RunIIRFilter(&state, x), x);
    }
    // An order-5 record becomes the order-5 identity.
    IIRFilterCoefficients five;
    EXPECT_FALSE(DesignIIRFilter(5, 0.0f, 0.6f, &five));
    BasicIIRFilterState<float, float, 5> fiveState;
    fiveState.coefficients = &five;
    for (float x : {1.0f, -2.0f, 0.25f})
        EXPECT_EQ(RunIIRFilter(&fiveState, x), x);

    // Just inside the range is a design.
    IIRFilterCoefficients record;
    EXPECT_TRUE(DesignIIRFilter(10, 0.0f, std::nextafter(0.5f, 0.0f), &record));
    EXPECT_TRUE(DesignIIRFilter(1, 0.0f, 1e-6f, &record));
}

TEST(NormalizeIIRGain, DividesTheNumeratorOrRefusesABrokenGain)
{
    IIRFilterCoefficients c;
    for (int j = 0; j <= kIIRMaxOrder; ++j)
        c.b[j] = static_cast<float>(j + 1);
    c.a[0] = 0.25f;
    c.gain = 4.0f;
    ASSERT_TRUE(NormalizeIIRGain(&c));
    for (int j = 0; j <= kIIRMaxOrder; ++j)
        EXPECT_EQ(c.b[j], (j + 1) / 4.0f);
    EXPECT_EQ(c.a[0], 0.25f);
    EXPECT_EQ(c.gain, 1.0f);

    for (float broken : {0.0f, -2.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        IIRFilterCoefficients d = c;
        d.gain = broken;
        EXPECT_FALSE(NormalizeIIRGain(&d)) << broken;
        for (int j = 0; j <= kIIRMaxOrder; ++j)
            EXPECT_EQ(d.b[j], c.b[j]);
    }
}

TEST(RunIIRFilter, CoefficientsMeetTheHistoriesTheyAreMeantFor)
{
    // Order 2 by hand: y[t] = 1 x[t-2] + 2 x[t-1] + 3 x[t] + 0.5 y[t-2] + 0.25 y[t-1].
    BasicIIRFilterCoefficients<double> c2;
    c2.b[0] = 1, c2.b[1] = 2, c2.b[2] = 3;
    c2.a[0] = 0.5, c2.a[1] = 0.25;
    BasicIIRFilterState<double, double, 2> s2;
    s2.coefficients = &c2;
    const double impulse2[] = {3, 2.75, 3.1875, 2.171875};
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(RunIIRFilter(&s2, t == 0 ? 1.0 : 0.0), impulse2[t]) << "t = " << t;

    // Order 10: b[0] meets the oldest input, a[0] the output ten samples back,
    // a[9] the previous one.
    const struct {
        const char* name;
        int bIndex;
        int aIndex; // -1: none
        float aValue;
        std::vector<std::pair<int, float>> impulse; // nonzero samples of the first 32
    } cases[] = {
        {"b[10] alone passes x[t]", 10, -1, 0, {{0, 1.0f}}},
        {"b[0] alone delays by ten", 0, -1, 0, {{10, 1.0f}}},
        {"b[7] delays by three", 7, -1, 0, {{3, 1.0f}}},
        {"a[9] feeds back y[t-1]", 10, 9, 0.5f, {{0, 1.0f}, {1, 0.5f}, {2, 0.25f}, {3, 0.125f}, {4, 0.0625f},
                                                 {5, 0.03125f}, {6, 0.015625f}, {7, 0.0078125f}, {8, 0.00390625f},
                                                 {9, 0.001953125f}, {10, 0.0009765625f}}},
        {"a[0] feeds back y[t-10]", 10, 0, -0.5f, {{0, 1.0f}, {10, -0.5f}, {20, 0.25f}, {30, -0.125f}}},
    };
    for (const auto& c : cases) {
        IIRFilterCoefficients coefficients;
        coefficients.b[c.bIndex] = 1.0f;
        if (c.aIndex >= 0)
            coefficients.a[c.aIndex] = c.aValue;
        IIRFilterState state;
        state.coefficients = &coefficients;
        for (int t = 0; t < 32; ++t) {
            float expected = 0;
            for (const auto& [at, value] : c.impulse)
                if (at == t)
                    expected = value;
            const float y = RunIIRFilter(&state, t == 0 ? 1.0f : 0.0f);
            if (t <= 10 || c.aIndex != 9) {
                EXPECT_EQ(y, expected) << c.name << ", t = " << t;
            }
        }
    }
}

TEST(RunIIRFilter, DocumentedRangesSettleWithinOnePartPerThousand)
{
    const auto settled = [](auto& state) {
        double worst = 0;
        for (int t = 0; t < 100000; ++t) {
            const double y = RunIIRFilter(&state, 1.0f);
            if (t >= 99000)
                worst = std::max(worst, std::fabs(y - 1));
        }
        return worst;
    };
    for (int i = 0; i <= 8; ++i) {
        const auto at = [i](IIRCutoffRange r) { return static_cast<float>(r.min + (r.max - r.min) * i / 8); };
        IIRFilterCoefficients c;
        IIRFilterCoefficientsD d;

        const float f1 = at(kIIRSettledRangeFloat);
        ASSERT_TRUE(DesignIIRFilter(10, 0.0f, f1, &c) && NormalizeIIRGain(&c));
        IIRFilterState s1;
        s1.coefficients = &c;
        EXPECT_LE(settled(s1), 1e-3) << "single precision, cutoff " << f1;

        const float f2 = at(kIIRSettledRangeMixed);
        ASSERT_TRUE(DesignIIRFilter(10, 0.0f, f2, &c) && NormalizeIIRGain(&c));
        IIRFilterStateD s2;
        s2.coefficients = &c;
        EXPECT_LE(settled(s2), 1e-3) << "mixed precision, cutoff " << f2;

        const float f3 = at(kIIRSettledRangeDouble);
        ASSERT_TRUE(DesignIIRFilter(10, 0.0f, f3, &d) && NormalizeIIRGain(&d));
        IIRFilterStateDD s3;
        s3.coefficients = &d;
        EXPECT_LE(settled(s3), 1e-3) << "double precision, cutoff " << f3;
    }
    // The combiner's order 5, stored and run in single precision.
    IIRFilterCoefficients five;
    ASSERT_TRUE(DesignIIRFilter(5, 0.0f, 0.04464286f, &five) && NormalizeIIRGain(&five));
    BasicIIRFilterState<float, float, 5> s5;
    s5.coefficients = &five;
    EXPECT_LE(settled(s5), 1e-3);
}

TEST(RunIIRFilter, NonFiniteInputOrRunawayRestartsTheFilter)
{
    IIRFilterCoefficients c;
    ASSERT_TRUE(DesignIIRFilter(10, 0.0f, 0.2f, &c) && NormalizeIIRGain(&c));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float bad : {nan, inf, -inf}) {
        IIRFilterState state, fresh;
        state.coefficients = fresh.coefficients = &c;
        for (int t = 0; t < 50; ++t)
            RunIIRFilter(&state, 0.5f);
        EXPECT_EQ(RunIIRFilter(&state, bad), 0.0f) << bad;
        for (int i = 0; i <= 10; ++i) {
            EXPECT_EQ(state.x[i], 0.0f);
            EXPECT_EQ(state.y[i], 0.0f);
        }
        // From here on it behaves as a filter started afresh.
        for (int t = 0; t < 100; ++t) {
            const float x = 0.25f * static_cast<float>(t % 7) - 0.5f;
            EXPECT_EQ(RunIIRFilter(&state, x), RunIIRFilter(&fresh, x)) << bad << ", t = " << t;
        }
    }

    // Past its range the single-precision design runs away; the output stays
    // finite and below the runaway limit instead of turning into NaN for good.
    ASSERT_TRUE(DesignIIRFilter(10, 0.0f, 0.47f, &c) && NormalizeIIRGain(&c));
    IIRFilterState state;
    state.coefficients = &c;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    int restarts = 0;
    for (int t = 0; t < 100000; ++t) {
        const float y = RunIIRFilter(&state, noise(random));
        ASSERT_TRUE(std::fabs(y) < kIIRRunawayLimit) << "t = " << t;
        restarts += state.y[10] == 0.0f;
    }
    EXPECT_GT(restarts, 0);
    // The double-precision design at the same cutoff stays put.
    IIRFilterCoefficientsD d;
    ASSERT_TRUE(DesignIIRFilter(10, 0.0f, 0.47f, &d) && NormalizeIIRGain(&d));
    IIRFilterStateDD stateDD;
    stateDD.coefficients = &d;
    random.seed(7);
    for (int t = 0; t < 100000; ++t)
        ASSERT_LT(std::fabs(RunIIRFilter(&stateDD, static_cast<double>(noise(random)))), 10.0) << "t = " << t;
}

// The block runner gives, bit for bit, what the per-sample call gives, for
// every kind of state, through a runaway and a non-finite input, with the
// state carried across blocks of any length.
template <typename State>
void ExpectBlockMatchesSamples(int order, float ripple, float cutoff, const std::vector<double>& input)
{
    BasicIIRFilterCoefficients<std::remove_cv_t<std::remove_reference_t<decltype(State::coefficients->gain)>>> c;
    ASSERT_TRUE(DesignIIRFilter(order, ripple, cutoff, &c));
    NormalizeIIRGain(&c);
    State one, block;
    one.coefficients = block.coefficients = &c;
    std::vector<double> expected, got;
    for (double x : input)
        expected.push_back(RunIIRFilter(&one, static_cast<std::remove_reference_t<decltype(one.x[0])>>(x)));
    const int32_t sizes[] = {1, 7, 64, 3, 1000};
    size_t at = 0;
    for (int32_t k = 0; at < input.size(); ++k) {
        const int32_t n = std::min<int32_t>(sizes[k % 5], static_cast<int32_t>(input.size() - at));
        RunIIRFilterBlock(
            &block, n, [&](int32_t i) { return static_cast<std::remove_reference_t<decltype(block.x[0])>>(input[at + i]); },
            [&](int32_t, auto y) { got.push_back(y); });
        at += n;
    }
    ASSERT_EQ(expected.size(), got.size());
    for (size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(std::memcmp(&expected[i], &got[i], sizeof(double)), 0) << "sample " << i;
    for (int j = 0; j <= State::kOrder; ++j) {
        EXPECT_EQ(one.x[j], block.x[j]);
        EXPECT_EQ(one.y[j], block.y[j]);
    }
}

TEST(RunIIRFilterBlock, SameBitsAsTheSampleBySampleRun)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    std::vector<double> input;
    for (int i = 0; i < 3000; ++i)
        input.push_back(i == 1200 ? std::numeric_limits<double>::quiet_NaN()
                                  : (i == 2000 ? 1e300 : noise(random) + (i / 500 % 2)));
    ExpectBlockMatchesSamples<BasicIIRFilterState<double, double, 5>>(5, -1.0f, 0.04464286f, input);
    ExpectBlockMatchesSamples<IIRFilterStateDD>(10, 0.0f, 0.117f, input);
    ExpectBlockMatchesSamples<IIRFilterStateD>(10, 0.0f, 0.2f, input);
    ExpectBlockMatchesSamples<IIRFilterState>(10, 0.0f, 0.2f, input);
    // Unstable in single precision: runs away and restarts, again and again.
    ExpectBlockMatchesSamples<IIRFilterState>(10, 0.0f, 0.03f, input);
}

// Four filters side by side give, lane by lane, the bits each gives alone,
// when one lane, two or all four run away or meet a NaN or an infinity.
TEST(RunIIRFilterQuadBlock, EachLaneHasItsOwnFiltersBits)
{
    IIRFilterCoefficientsD c;
    ASSERT_TRUE(DesignIIRFilter(5, -1.0f, 0.04464286f, &c));
    NormalizeIIRGain(&c);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        int bad[4]; // per lane, the sample index given a bad value (-1 none)
        double value;
    };
    const Case cases[] = {
        {"clean", {-1, -1, -1, -1}, 0},
        {"NaN in the first", {300, -1, -1, -1}, nan},
        {"NaN in the last", {-1, -1, -1, 301}, nan},
        {"infinity in two", {-1, 400, 400, -1}, -inf},
        {"runaway in one", {-1, -1, 700, -1}, 1e300},
        {"runaway in all", {500, 500, 500, 500}, 1e300},
    };
    typedef IIRQuad<double> Quad;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        std::mt19937 random(13);
        std::uniform_real_distribution<double> noise(-2.0, 2.0);
        std::vector<double> in[4];
        for (int i = 0; i < 1000; ++i)
            for (int lane = 0; lane < 4; ++lane)
                in[lane].push_back(i == k.bad[lane] ? k.value : noise(random) / (lane + 1));
        BasicIIRFilterState<double, double, 5> one[4], quad[4];
        BasicIIRFilterState<double, double, 5>* lanes[4];
        std::vector<double> expected[4], got[4];
        for (int lane = 0; lane < 4; ++lane) {
            one[lane].coefficients = quad[lane].coefficients = &c;
            lanes[lane] = &quad[lane];
            for (double x : in[lane])
                expected[lane].push_back(RunIIRFilter(&one[lane], x));
        }
        for (size_t at = 0; at < in[0].size(); at += 64) {
            const int32_t n = static_cast<int32_t>(std::min<size_t>(64, in[0].size() - at));
            RunIIRFilterQuadBlock(
                lanes, n,
                [&](int32_t i, Quad& x) { x = Quad{in[0][at + i], in[1][at + i], in[2][at + i], in[3][at + i]}; },
                [&](int32_t, const Quad& y) {
                    for (int lane = 0; lane < 4; ++lane)
                        got[lane].push_back(y[lane]);
                });
        }
        for (int lane = 0; lane < 4; ++lane) {
            ASSERT_EQ(got[lane].size(), expected[lane].size());
            for (size_t i = 0; i < got[lane].size(); ++i)
                ASSERT_EQ(std::memcmp(&expected[lane][i], &got[lane][i], sizeof(double)), 0)
                    << "lane " << lane << ", sample " << i;
            for (int j = 0; j <= 5; ++j) {
                EXPECT_EQ(std::memcmp(&one[lane].x[j], &quad[lane].x[j], sizeof(double)), 0) << "lane " << lane;
                EXPECT_EQ(std::memcmp(&one[lane].y[j], &quad[lane].y[j], sizeof(double)), 0) << "lane " << lane;
            }
        }
    }
}

TEST(BilinearPolePair, FirstOrderHighPass)
{
    // p = -2 tan(pi f) maps to q = (1 - T) / (1 + T) with T = tan(pi f), so
    // coef = -q and the Nyquist gain 2 / (1 + q) = 1 + T.
    for (double f : {0.0, 1e-5, 3.6e-5, 0.01, 0.1, 0.3, 0.49}) {
        double coef = 99, gain = 99;
        ASSERT_TRUE(BilinearPolePair(f, &coef, &gain)) << f;
        const double tangent = std::tan(kPi * f);
        const double q = (1 - tangent) / (1 + tangent);
        EXPECT_EQ(coef, static_cast<double>(static_cast<float>(coef))) << "rounded to single precision, f " << f;
        EXPECT_NEAR(coef, -q, std::fabs(q) * kFloatU + 8 * kDoubleU) << f;
        EXPECT_NEAR(gain, 1 + tangent, 8 * kDoubleU * (1 + tangent) * (1 + std::fabs(q / (1 + q)))) << f;
        if (f > 0) {
            // Half power at f relative to the pass band.
            const Complex z = std::polar(1.0, 2 * kPi * f);
            EXPECT_NEAR(std::abs((z - 1.0) / (z - q)) / gain, std::sqrt(0.5), 1e-9) << f;
        }
    }
    for (double f : {-0.1, 0.5, 0.7, std::numeric_limits<double>::quiet_NaN()}) {
        double coef = 99, gain = 99;
        EXPECT_FALSE(BilinearPolePair(f, &coef, &gain)) << f;
        EXPECT_EQ(coef, 0.0);
        EXPECT_EQ(gain, 1.0);
    }
}

TEST(SetupTwoPoleFilter, UnusableInputsLeaveAnInertLoop)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float rate, centre, tau1, tau2;
        double omega;
    } cases[] = {
        {0.0f, 17000.0f, 1e-5f, 0.1f, 2 * kPi * 17000}, {-44100.0f, 17000.0f, 1e-5f, 0.1f, 2 * kPi * 17000},
        {nan, 17000.0f, 1e-5f, 0.1f, 2 * kPi * 17000},  {inf, 17000.0f, 1e-5f, 0.1f, 2 * kPi * 17000},
        {44100.0f, nan, 1e-5f, 0.1f, 0.0},              {44100.0f, 17000.0f, 0.0f, 0.1f, 2 * kPi * 17000},
        {44100.0f, 17000.0f, 1e-5f, 0.0f, 2 * kPi * 17000}, {44100.0f, 17000.0f, 1e-5f, -inf, 2 * kPi * 17000},
        {44100.0f, 17000.0f, 1e-5f, 1e-7f, 2 * kPi * 17000}, // high-pass past Nyquist
        {44100.0f, 17000.0f, 1e-40f, 1.0f, 2 * kPi * 17000}, // tau2 / tau1 overflows
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.rate << " " << c.centre << " " << c.tau1 << " " << c.tau2);
        PLLSettings s;
        s.loopGain = s.hpCoef = s.dt = 5;
        EXPECT_FALSE(SetupTwoPoleFilter(&s, c.rate, c.centre, c.tau1, c.tau2));
        // The inputs are kept so that callers comparing against them see them.
        EXPECT_EQ(std::isnan(s.sampleRate), std::isnan(c.rate));
        EXPECT_EQ(std::isnan(s.centre), std::isnan(c.centre));
        if (!std::isnan(c.rate)) {
            EXPECT_EQ(s.sampleRate, c.rate);
        }
        EXPECT_EQ(s.tau1, c.tau1);
        EXPECT_EQ(s.tau2, c.tau2);
        EXPECT_EQ(s.dt, 0.0);
        EXPECT_EQ(s.loopGain, 0.0);
        EXPECT_EQ(s.hpCoef, 0.0);
        EXPECT_DOUBLE_EQ(s.omega, c.omega);
    }
}

} // namespace
