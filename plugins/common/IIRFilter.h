// Low-pass IIR filters designed by pole placement and the bilinear transform,
// the order-10 direct-form filter that runs them, and the first-order
// high-pass used by the phase-locked loop of the CV Input decoder.
//
// Threads: the design functions are pure and may run on any thread; they use
// fixed-size stack arrays and never allocate, so a plug-in may redesign on
// the audio thread when its inputs change (callers compare against the last
// values first). RunIIRFilter runs per sample on the audio thread.
//
// Layout of a designed filter of order n (n <= kIIRMaxOrder):
//   y[t] = sum_{j=0..n} b[j] * x[t-n+j] + sum_{j=0..n-1} a[j] * y[t-n+j]
// so b[n] and a[n-1] meet the newest values; the feedback signs are folded
// into `a` (a[j] = -D[j] of the monic denominator D(z)).
//
// Numerical range (order 10, Butterworth). Direct form puts all poles into
// one polynomial, so an order-10 design is sensitive to rounding. Rounding the
// coefficients to single precision moves the poles: below a cutoff of about
// 0.054 and above about 0.447 some land outside the unit circle and the output
// grows without bound whatever precision the run uses, and towards both ends
// of the stable span the gain at 0 Hz strays (0.987 at 0.068) and the
// single-precision run's rounding noise swells. A constant input settles
// within 1e-3 of itself over these cutoffs (fractions of the sample rate):
//   IIRFilterState   (f32 coefficients, f32 run)  kIIRSettledRangeFloat
//   IIRFilterStateD  (f32 coefficients, f64 run)  kIIRSettledRangeMixed
//   IIRFilterStateDD (f64 coefficients, f64 run)  kIIRSettledRangeDouble
// Low cutoffs suffer at lower orders too: the order-5, 1 dB Chebyshev at
// 0.0446 is stable in single precision but settles 0.2 to 0.6 % high (0.34 %
// of it the rounded coefficients' gain at 0 Hz); in double it is exact.
// Cutoffs at or past Nyquist (0.5) or at or below 0 are not a low-pass at all
// and are refused by DesignIIRFilter.
#pragma once

#include <cmath>
#include <complex>
#include <cstdint>
#include <type_traits>
#include <utility>

constexpr int kIIRMaxOrder = 10;

// Span of cutoffs (fraction of the sample rate) over which an order-10
// Butterworth low-pass settles a constant input within 1e-3 of itself.
struct IIRCutoffRange {
    double min;
    double max;
};
constexpr IIRCutoffRange kIIRSettledRangeFloat{0.12, 0.36};
constexpr IIRCutoffRange kIIRSettledRangeMixed{0.11, 0.44};
constexpr IIRCutoffRange kIIRSettledRangeDouble{0.015, 0.48};

// An output this large is a filter running away, not a signal.
constexpr double kIIRRunawayLimit = 1e30;

// Filled by DesignIIRFilter. Entries beyond the designed order are zero when
// the record form of DesignIIRFilter filled it.
template <typename Coefficient>
struct BasicIIRFilterCoefficients {
    Coefficient b[kIIRMaxOrder + 1] = {}; // b[j] multiplies x[t-n+j]
    Coefficient a[kIIRMaxOrder] = {};     // a[j] multiplies y[t-n+j]
    Coefficient gain = 1;                 // magnitude at 0 Hz before NormalizeIIRGain
};
using IIRFilterCoefficients = BasicIIRFilterCoefficients<float>;
using IIRFilterCoefficientsD = BasicIIRFilterCoefficients<double>;

// One filtered signal: the last Order + 1 inputs x[t-Order..t] and outputs
// y[t-Order..t], oldest first, and the (not owned) coefficients. The owner
// points `coefficients` at a designed record before the first sample and
// zeroes the histories (ResetIIRFilter) whenever the signal starts afresh.
template <typename Coefficient, typename Sample, int Order>
struct BasicIIRFilterState {
    static_assert(Order >= 1 && Order <= kIIRMaxOrder, "unsupported filter order");
    static constexpr int kOrder = Order;
    const BasicIIRFilterCoefficients<Coefficient>* coefficients = nullptr;
    Sample x[Order + 1] = {};
    Sample y[Order + 1] = {};
};
// Single-precision coefficients and arithmetic (the CV Input's order-10 filter).
using IIRFilterState = BasicIIRFilterState<float, float, kIIRMaxOrder>;
// Single-precision coefficients, double-precision histories and sums.
using IIRFilterStateD = BasicIIRFilterState<float, double, kIIRMaxOrder>;
// Double-precision coefficients and arithmetic.
using IIRFilterStateDD = BasicIIRFilterState<double, double, kIIRMaxOrder>;

// Settings of the CV Input's phase-locked loop (filled by SetupTwoPoleFilter).
struct PLLSettings {
    float sampleRate = 0; // Hz
    float centre = 0;     // carrier centre frequency, Hz
    float tau1 = 0;       // first loop time constant, s
    float tau2 = 0;       // second loop time constant, s
    double omega = 0;     // 2*pi*centre, rad/s: the loop's starting frequency
    double dt = 0;        // 1/sampleRate, s
    double loopGain = 0;  // (tau2/tau1) / hpGain, tau2/tau1 divided in f32
    double hpCoef = 0;    // feedback coefficient of the first-order section
};

// ---- design (any thread, no allocation) ------------------------------------

// Coefficients c[0..n] of the product of (z - r_k) over the n roots; c[j] is
// the coefficient of z^j and c[n] = 1. `coeffs` holds n + 1 entries.
void ExpandComplexPolynomial(const std::complex<double>* roots, int32_t n, std::complex<double>* coeffs);

// c[0] + ... + c[n]: the polynomial's value at z = 1.
std::complex<double> EvaluateComplexPolynomial(const std::complex<double>* coeffs, int32_t n);

// Low-pass of order 1 .. kIIRMaxOrder at `cutoff` (a fraction of the sample
// rate, strictly between 0 and 0.5). ripple < 0 selects a Chebyshev design
// with |ripple| dB of pass-band ripple, anything else Butterworth. Writes
// b[0..order], a[0..order-1] and the magnitude at 0 Hz into *gain; the
// numerator is the binomial row of (z + 1)^order, so callers normally follow
// with NormalizeIIRGain for unity gain at 0 Hz.
// Returns false and writes nothing when the order or cutoff is outside those
// ranges (NaN included): a cutoff at or past Nyquist would place poles on or
// outside the unit circle.
bool DesignIIRFilter(int32_t order, float ripple, float cutoff, float* b, float* a, float* gain);
// The same design without rounding the results to single precision.
bool DesignIIRFilter(int32_t order, float ripple, float cutoff, double* b, double* a, double* gain);
// Record forms: also zero the entries beyond `order`. On failure the record
// becomes the identity filter (b[order] = 1, the rest 0, gain 1).
bool DesignIIRFilter(int32_t order, float ripple, float cutoff, IIRFilterCoefficients* c);
bool DesignIIRFilter(int32_t order, float ripple, float cutoff, IIRFilterCoefficientsD* c);

// Divides b[0..kIIRMaxOrder] by `gain` and sets `gain` to 1. A gain that is
// not finite and positive leaves the record unchanged and returns false.
bool NormalizeIIRGain(IIRFilterCoefficients* c);
bool NormalizeIIRGain(IIRFilterCoefficientsD* c);

// First-order high-pass at normalised frequency f (cutoff / sample rate):
// *coef = the feedback coefficient -q of the section (z - 1)/(z - q), rounded
// to single precision; *gain = its magnitude at Nyquist. For f outside
// [0, 0.5) (NaN included) returns false with *coef = 0 and *gain = 1.
bool BilinearPolePair(double f, double* coef, double* gain);

// Fills `s` for the given sample rate (Hz), centre (Hz) and time constants
// (s). The four inputs are always stored, so callers can compare against
// them; when any is unusable (not finite, or a rate or time constant that is
// not positive) the loop is made inert (dt, loopGain and hpCoef 0, omega from
// a finite centre or 0) and the result is false.
bool SetupTwoPoleFilter(PLLSettings* s, float sampleRate, float centre, float tau1, float tau2);

// ---- run (audio thread: no allocation, no lock) ------------------------------

// Zeroes both histories.
template <typename Coefficient, typename Sample, int Order>
inline void ResetIIRFilter(BasicIIRFilterState<Coefficient, Sample, Order>* s)
{
    for (int i = 0; i <= Order; ++i) {
        s->x[i] = 0;
        s->y[i] = 0;
    }
}

// One sample through the filter. `s->coefficients` must be set. Should the
// output be NaN or reach kIIRRunawayLimit (a NaN or infinite input, or a
// design outside its stable range), both histories are zeroed and 0 is
// returned for that sample, so one bad value cannot poison the filter for good.
template <typename Coefficient, typename Sample, int Order>
inline Sample RunIIRFilter(BasicIIRFilterState<Coefficient, Sample, Order>* s, std::type_identity_t<Sample> x)
{
    const BasicIIRFilterCoefficients<Coefficient>& c = *s->coefficients;
    for (int i = 0; i < Order; ++i)
        s->x[i] = s->x[i + 1];
    s->x[Order] = x;

    // y = (sum of b x) + (sum of a y), each summed from the oldest term.
    Sample feedForward = 0;
    for (int j = 0; j <= Order; ++j)
        feedForward += static_cast<Sample>(c.b[j]) * s->x[j];
    // s->y still holds y[t-Order-1 .. t-1]: a[j] meets y[t-Order+j] = s->y[j + 1].
    Sample feedBack = 0;
    for (int j = 0; j < Order; ++j)
        feedBack += static_cast<Sample>(c.a[j]) * s->y[j + 1];
    const Sample y = feedForward + feedBack;

    if (!(std::abs(y) < static_cast<Sample>(kIIRRunawayLimit))) [[unlikely]] {
        ResetIIRFilter(s);
        return 0;
    }
    for (int i = 0; i < Order; ++i)
        s->y[i] = s->y[i + 1];
    s->y[Order] = y;
    return y;
}

// Four samples of the same type in one vector value, a lane each: what the
// four-filter runner (RunIIRFilterQuadBlock) takes and gives.
template <typename Sample>
struct IIRQuadOf {
    typedef Sample Type __attribute__((vector_size(4 * sizeof(Sample))));
};
template <typename Sample>
using IIRQuad = typename IIRQuadOf<Sample>::Type;

// The histories of four filters kept side by side, lane k for filter k, as
// the four-filter runner holds them: a plug-in that runs the same four
// filters together block after block keeps them so (no gathering into lanes
// and scattering back at each call). The coefficients are the caller's.
template <typename Sample, int Order>
struct IIRQuadState {
    IIRQuad<Sample> x[Order + 1] = {};
    IIRQuad<Sample> y[Order + 1] = {};

    // Filter `lane`'s histories, out of and into a single filter's state.
    template <typename Coefficient>
    void Get(int lane, BasicIIRFilterState<Coefficient, Sample, Order>* s) const
    {
        for (int j = 0; j <= Order; ++j) {
            s->x[j] = x[j][lane];
            s->y[j] = y[j][lane];
        }
    }
    template <typename Coefficient>
    void Set(int lane, const BasicIIRFilterState<Coefficient, Sample, Order>& s)
    {
        for (int j = 0; j <= Order; ++j) {
            x[j][lane] = s.x[j];
            y[j][lane] = s.y[j];
        }
    }
    // Filter `lane` at rest, as ResetIIRFilter leaves a filter.
    void Reset(int lane)
    {
        for (int j = 0; j <= Order; ++j) {
            x[j][lane] = 0;
            y[j][lane] = 0;
        }
    }
};

namespace IIRFilterDetail {

template <typename Coefficient, typename Sample, int Order, typename Input, typename Output, int... J>
inline void RunBlock(BasicIIRFilterState<Coefficient, Sample, Order>* s, int32_t frames, Input& input,
                     Output& output, std::integer_sequence<int, J...>)
{
    // The coefficients and both histories live in locals for the block (the
    // pack expansions below index them by constants only, so they stay in
    // registers): the same sums, term by term and in the same order, as
    // RunIIRFilter, without its per-sample shifting through memory.
    const BasicIIRFilterCoefficients<Coefficient>& c = *s->coefficients;
    const Sample b[Order + 1] = {static_cast<Sample>(c.b[J])...};
    const Sample a[Order + 1] = {static_cast<Sample>(c.a[J < Order ? J : 0])...}; // a[Order] unused
    Sample x[Order + 1] = {s->x[J]...};
    Sample y[Order + 1] = {s->y[J]...};
    for (int32_t i = 0; i < frames; ++i) {
        const Sample in = input(i);
        Sample shifted[Order + 1] = {(J < Order ? x[J < Order ? J + 1 : 0] : in)...};
        Sample feedForward = 0;
        ((feedForward += b[J] * shifted[J]), ...);
        Sample feedBack = 0;
        ((J < Order ? (feedBack += a[J] * y[J < Order ? J + 1 : 0]) : feedBack), ...);
        Sample out = feedForward + feedBack;
        if (!(std::abs(out) < static_cast<Sample>(kIIRRunawayLimit))) [[unlikely]] {
            ((x[J] = 0), ...);
            ((y[J] = 0), ...);
            out = 0;
        } else {
            ((x[J] = shifted[J]), ...);
            Sample next[Order + 1] = {(J < Order ? y[J < Order ? J + 1 : 0] : out)...};
            ((y[J] = next[J]), ...);
        }
        output(i, out);
    }
    ((s->x[J] = x[J]), ...);
    ((s->y[J] = y[J]), ...);
}

template <typename Coefficient, typename Sample, int Order, typename Input, typename Output, int... J>
[[gnu::always_inline]] inline void RunQuadCore(const BasicIIRFilterCoefficients<Coefficient>& c,
                                               IIRQuad<Sample>* xs, IIRQuad<Sample>* ys, int32_t frames,
                                               Input& input, Output& output, std::integer_sequence<int, J...>)
{
    // Lane k is filter k: every vector operation is the scalar operation of
    // RunBlock on each lane, so each lane has its own filter's bits, while
    // four latency chains run side by side.
    typedef IIRQuad<Sample> Quad;
    typedef decltype(Quad{} < Quad{}) Mask;
    const Quad zero = {0, 0, 0, 0};
    const Sample b1[Order + 1] = {static_cast<Sample>(c.b[J])...};
    const Sample a1[Order + 1] = {static_cast<Sample>(c.a[J < Order ? J : 0])...}; // a[Order] unused
    const Quad b[Order + 1] = {Quad{b1[J], b1[J], b1[J], b1[J]}...};
    const Quad a[Order + 1] = {Quad{a1[J], a1[J], a1[J], a1[J]}...};
    Quad x[Order + 1] = {xs[J]...};
    Quad y[Order + 1] = {ys[J]...};
    const Sample limit = static_cast<Sample>(kIIRRunawayLimit);
    for (int32_t i = 0; i < frames; ++i) {
        Quad in;
        input(i, in);
        Quad shifted[Order + 1] = {(J < Order ? x[J < Order ? J + 1 : 0] : in)...};
        Quad feedForward = zero;
        ((feedForward += b[J] * shifted[J]), ...);
        Quad feedBack = zero;
        ((J < Order ? (feedBack += a[J] * y[J < Order ? J + 1 : 0]) : feedBack), ...);
        Quad out = feedForward + feedBack;
        // |out| < limit, lane by lane (false for NaN): all bits set or none.
        const Mask keep = (out < limit) & (out > -limit);
        Quad next[Order + 1] = {(J < Order ? y[J < Order ? J + 1 : 0] : out)...};
        ((x[J] = shifted[J]), ...);
        ((y[J] = next[J]), ...);
        // All four kept: the halves ANDed, then the two lanes left.
        const Mask halves = keep & __builtin_shufflevector(keep, keep, 2, 3, 0, 1);
        if (!(halves[0] & halves[1])) [[unlikely]] {
            // A lane that ran away restarts from rest (+0 in every bit), as
            // RunIIRFilter does; the others keep their bits. Masks, not
            // lane indices, so the histories stay in registers.
            ((x[J] = (Quad)((Mask)x[J] & keep)), ...);
            ((y[J] = (Quad)((Mask)y[J] & keep)), ...);
            out = (Quad)((Mask)out & keep);
        }
        output(i, out);
    }
    ((xs[J] = x[J]), ...);
    ((ys[J] = y[J]), ...);
}


template <typename Coefficient, typename Sample, int Order, typename Input, typename Output, int... J>
[[gnu::always_inline]] inline void RunQuadBlock(BasicIIRFilterState<Coefficient, Sample, Order>* const* s,
                                                int32_t frames, Input& input, Output& output,
                                                std::integer_sequence<int, J...> order)
{
    typedef IIRQuad<Sample> Quad;
    Quad x[Order + 1] = {Quad{s[0]->x[J], s[1]->x[J], s[2]->x[J], s[3]->x[J]}...};
    Quad y[Order + 1] = {Quad{s[0]->y[J], s[1]->y[J], s[2]->y[J], s[3]->y[J]}...};
    RunQuadCore<Coefficient, Sample, Order>(*s[0]->coefficients, x, y, frames, input, output, order);
    for (int lane = 0; lane < 4; ++lane) {
        ((s[lane]->x[J] = x[J][lane]), ...);
        ((s[lane]->y[J] = y[J][lane]), ...);
    }
}

} // namespace IIRFilterDetail

// `frames` samples through the filter: for each i, output(i, RunIIRFilter(s,
// input(i))), with results identical to that per-sample call (the runaway
// rule included) at a fraction of its cost. input(i) is asked once per
// sample, in order, before output(i, y).
template <typename Coefficient, typename Sample, int Order, typename Input, typename Output>
inline void RunIIRFilterBlock(BasicIIRFilterState<Coefficient, Sample, Order>* s, int32_t frames, Input&& input,
                              Output&& output)
{
    IIRFilterDetail::RunBlock(s, frames, input, output, std::make_integer_sequence<int, Order + 1>{});
}

// Four filters of the same coefficients side by side: input(i, x) sets the
// samples of s[0..3] in one IIRQuad<Sample>& x, lane k for s[k], then
// output(i, y) receives their outputs the same way (a const IIRQuad<Sample>&
// y), each lane bit for bit
// what RunIIRFilter gives that filter alone (the runaway rule per lane).
// Every s[k] must point at the same coefficients as s[0].
template <typename Coefficient, typename Sample, int Order, typename Input, typename Output>
[[gnu::always_inline]] inline void RunIIRFilterQuadBlock(BasicIIRFilterState<Coefficient, Sample, Order>* const* s,
                                                         int32_t frames, Input&& input, Output&& output)
{
    IIRFilterDetail::RunQuadBlock(s, frames, input, output, std::make_integer_sequence<int, Order + 1>{});
}

// The same for four filters kept side by side in `s`, all with coefficients c.
template <typename Coefficient, typename Sample, int Order, typename Input, typename Output>
[[gnu::always_inline]] inline void RunIIRFilterQuadBlock(const BasicIIRFilterCoefficients<Coefficient>& c,
                                                         IIRQuadState<Sample, Order>* s, int32_t frames,
                                                         Input&& input, Output&& output)
{
    IIRFilterDetail::RunQuadCore<Coefficient, Sample, Order>(c, s->x, s->y, frames, input, output,
                                                             std::make_integer_sequence<int, Order + 1>{});
}
