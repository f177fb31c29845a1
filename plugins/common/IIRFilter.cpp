#include "plugins/common/IIRFilter.h"

#include <numbers>

namespace {

using Complex = std::complex<double>;
constexpr double kPi = std::numbers::pi;

// The design in double precision; Out decides how the results are stored.
template <typename Out>
bool DesignIIRFilterAs(int32_t order, float ripple, float cutoff, Out* b, Out* a, Out* gain)
{
    if (order < 1 || order > kIIRMaxOrder)
        return false;
    if (!(cutoff > 0.0f && cutoff < 0.5f))
        return false;
    const int n = order;

    // Analog prototype poles on the left half of the unit circle, in
    // increasing k; an odd order has a real pole at theta = pi.
    Complex poles[kIIRMaxOrder];
    int count = 0;
    for (int k = 0; k < 2 * n && count < n; ++k) {
        const double theta = (n % 2 == 0) ? (k + 0.5) * kPi / n : k * kPi / n;
        const double re = std::cos(theta);
        if (re < 0)
            poles[count++] = Complex(re, std::sin(theta));
    }

    if (ripple < 0) {
        // Chebyshev: squeeze the circle into an ellipse. A ripple too small
        // to show in double precision (e == 1) stays Butterworth.
        const double e = std::pow(10.0, -0.1 * ripple);
        if (e > 1.0) {
            const double v = 1.0 / std::sqrt(e - 1.0);
            const double mu = std::log(std::sqrt(v * v + 1.0) + v) / n;
            const double sh = std::sinh(mu);
            const double ch = std::cosh(mu);
            for (int k = 0; k < n; ++k)
                poles[k] = Complex(poles[k].real() * sh, poles[k].imag() * ch);
        }
    }

    // Prewarp so that the analog cutoff lands on `cutoff` after the
    // bilinear transform: w = 2 tan(pi * cutoff).
    const double w = std::tan(kPi * cutoff) / kPi * 2 * kPi;
    Complex zeros[kIIRMaxOrder];
    for (int k = 0; k < n; ++k) {
        const Complex p = poles[k] * w;
        poles[k] = (2.0 + p) / (2.0 - p);
        zeros[k] = Complex(-1.0, 0.0);
    }

    Complex num[kIIRMaxOrder + 1];
    Complex den[kIIRMaxOrder + 1];
    ExpandComplexPolynomial(zeros, n, num);
    ExpandComplexPolynomial(poles, n, den);

    *gain = static_cast<Out>(std::abs(EvaluateComplexPolynomial(num, n) / EvaluateComplexPolynomial(den, n)));
    const double scale = 1.0 / den[n].real();
    for (int j = 0; j <= n; ++j)
        b[j] = static_cast<Out>(num[j].real() * scale);
    for (int j = 0; j < n; ++j)
        a[j] = static_cast<Out>(-den[j].real() * scale);
    return true;
}

template <typename Out>
bool DesignIIRFilterRecord(int32_t order, float ripple, float cutoff, BasicIIRFilterCoefficients<Out>* c)
{
    BasicIIRFilterCoefficients<Out> designed;
    const bool ok = DesignIIRFilterAs<Out>(order, ripple, cutoff, designed.b, designed.a, &designed.gain);
    if (!ok) {
        designed = BasicIIRFilterCoefficients<Out>();
        designed.b[(order >= 1 && order <= kIIRMaxOrder) ? order : kIIRMaxOrder] = 1;
    }
    *c = designed;
    return ok;
}

template <typename Out>
bool NormalizeIIRGainAs(BasicIIRFilterCoefficients<Out>* c)
{
    if (!(std::isfinite(c->gain) && c->gain > 0))
        return false;
    for (int j = 0; j <= kIIRMaxOrder; ++j)
        c->b[j] = c->b[j] / c->gain;
    c->gain = 1;
    return true;
}

} // namespace

void ExpandComplexPolynomial(const Complex* roots, int32_t n, Complex* coeffs)
{
    if (n < 0)
        return;
    coeffs[0] = 1.0;
    for (int j = 1; j <= n; ++j)
        coeffs[j] = 0.0;
    for (int k = 0; k < n; ++k) {
        const Complex minusRoot = -roots[k];
        for (int j = n; j >= 1; --j)
            coeffs[j] = coeffs[j] * minusRoot + coeffs[j - 1];
        coeffs[0] = coeffs[0] * minusRoot;
    }
}

Complex EvaluateComplexPolynomial(const Complex* coeffs, int32_t n)
{
    Complex sum = 0.0;
    for (int j = 0; j <= n; ++j)
        sum += coeffs[j];
    return sum;
}

bool DesignIIRFilter(int32_t order, float ripple, float cutoff, float* b, float* a, float* gain)
{
    return DesignIIRFilterAs<float>(order, ripple, cutoff, b, a, gain);
}

bool DesignIIRFilter(int32_t order, float ripple, float cutoff, double* b, double* a, double* gain)
{
    return DesignIIRFilterAs<double>(order, ripple, cutoff, b, a, gain);
}

bool DesignIIRFilter(int32_t order, float ripple, float cutoff, IIRFilterCoefficients* c)
{
    return DesignIIRFilterRecord<float>(order, ripple, cutoff, c);
}

bool DesignIIRFilter(int32_t order, float ripple, float cutoff, IIRFilterCoefficientsD* c)
{
    return DesignIIRFilterRecord<double>(order, ripple, cutoff, c);
}

bool NormalizeIIRGain(IIRFilterCoefficients* c)
{
    return NormalizeIIRGainAs<float>(c);
}

bool NormalizeIIRGain(IIRFilterCoefficientsD* c)
{
    return NormalizeIIRGainAs<double>(c);
}

bool BilinearPolePair(double f, double* coef, double* gain)
{
    if (!(f >= 0.0 && f < 0.5)) {
        *coef = 0.0;
        *gain = 1.0;
        return false;
    }
    // Analog zero at s = 0, pole at s = p; both through z = (2 + s)/(2 - s).
    const double p = std::tan(kPi * f) / kPi * (-2 * kPi);
    const Complex zero(1.0, 0.0);
    const Complex pole = (2.0 + p) / (2.0 - p);
    Complex num[2];
    Complex den[2];
    ExpandComplexPolynomial(&zero, 1, num);
    ExpandComplexPolynomial(&pole, 1, den);
    // Both polynomials at z = -1.
    const Complex numAtNyquist = num[0] - num[1];
    const Complex denAtNyquist = den[0] - den[1];
    *gain = std::abs(numAtNyquist / denAtNyquist);
    *coef = static_cast<float>((den[0] / den[1]).real());
    return true;
}

bool SetupTwoPoleFilter(PLLSettings* s, float sampleRate, float centre, float tau1, float tau2)
{
    s->sampleRate = sampleRate;
    s->centre = centre;
    s->tau1 = tau1;
    s->tau2 = tau2;

    const auto positive = [](float v) { return std::isfinite(v) && v > 0.0f; };
    double coef = 0.0;
    double hpGain = 1.0;
    const bool usable = positive(sampleRate) && std::isfinite(centre) && positive(tau1) && positive(tau2)
                        && BilinearPolePair(1.0 / (sampleRate * 2 * kPi * tau2), &coef, &hpGain)
                        && std::isfinite(hpGain) && hpGain > 0.0 && std::isfinite(tau2 / tau1);
    if (!usable) {
        s->omega = std::isfinite(centre) ? centre * 2 * kPi : 0.0;
        s->dt = 0.0;
        s->loopGain = 0.0;
        s->hpCoef = 0.0;
        return false;
    }
    s->omega = centre * 2 * kPi;
    s->dt = 1.0 / sampleRate;
    s->loopGain = static_cast<float>(tau2 / tau1) / hpGain;
    s->hpCoef = coef;
    return true;
}
