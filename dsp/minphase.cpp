#include "dsp/minphase.h"

#include "dsp/fft.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace
{

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 2.0 * kPi;
// The transforms need at least 4 points; shorter responses are padded to it.
constexpr std::int32_t kSmallestTransform = 4;

std::int32_t sizeRuleFor(std::size_t length)
{
    const std::size_t limit = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
    return nextPowerOfTwo(static_cast<std::int32_t>(std::min(length, limit)));
}

std::vector<float> zeroPadded(const std::vector<float>& ir, std::int32_t n)
{
    std::vector<float> x(static_cast<std::size_t>(n), 0.0f);
    std::copy_n(ir.begin(), std::min(ir.size(), x.size()), x.begin());
    return x;
}

float logMagnitude(float magnitude)
{
    // Zero magnitude is floored rather than sent to -inf.
    const double m = magnitude > 0.0f ? static_cast<double>(magnitude) : 1e-12;
    return static_cast<float>(std::log(m));
}

// x.size() is a power of two of at least 4.
void toMinimumPhase(std::vector<float>& x)
{
    const std::int32_t n = static_cast<std::int32_t>(x.size());
    const std::size_t half = x.size() / 2;
    auto plan = fft_create(n);
    float* v = x.data();

    fft_forward(*plan, v);
    v[0] = std::fabs(v[0]);
    v[1] = std::fabs(v[1]);
    for (std::size_t k = 1; k < half; ++k)
    {
        const float re = v[2 * k], im = v[2 * k + 1];
        const float squares = re * re + im * im;
        v[2 * k] = static_cast<float>(std::sqrt(static_cast<double>(squares)));
        v[2 * k + 1] = 0.0f;
    }
    v[0] = logMagnitude(v[0]);
    v[1] = logMagnitude(v[1]);
    for (std::size_t k = 1; k < half; ++k)
        v[2 * k] = logMagnitude(v[2 * k]);

    fft_inverse(*plan, v);  // real cepstrum
    for (std::size_t k = 1; k < half; ++k)
        v[k] = 2.0f * v[k];
    for (std::size_t k = half + 1; k < x.size(); ++k)
        v[k] = 0.0f;

    fft_forward(*plan, v);  // complex log spectrum of the minimum-phase response
    v[0] = std::exp(v[0]);
    v[1] = std::exp(v[1]);
    for (std::size_t k = 1; k < half; ++k)
    {
        const float m = static_cast<float>(std::exp(static_cast<double>(v[2 * k])));
        const double phi = v[2 * k + 1];
        v[2 * k] = static_cast<float>(m * std::cos(phi));
        v[2 * k + 1] = static_cast<float>(m * std::sin(phi));
    }
    fft_inverse(*plan, v);
    fft_destroy(plan);
}

// Rounds half away from zero, then clips to the bins 0 .. lastBin.
std::size_t clippedBin(float position, std::size_t lastBin)
{
    const float rounded = std::round(position);
    if (!(rounded > 0.0f))
        return 0;
    if (rounded >= static_cast<float>(lastBin))
        return lastBin;
    return static_cast<std::size_t>(rounded);
}

}  // namespace

std::vector<float> minimumPhase(const std::vector<float>& ir)
{
    const std::int32_t length = sizeRuleFor(ir.size());
    std::vector<float> x = zeroPadded(ir, std::max(length, kSmallestTransform));
    toMinimumPhase(x);
    x.resize(static_cast<std::size_t>(length));
    return x;
}

std::vector<float> spectrumPhase(const std::vector<float>& packed)
{
    const std::size_t bins = packed.size() / 2;
    std::vector<float> phase(bins, 0.0f);
    for (std::size_t k = 1; k < bins; ++k)
        phase[k] = static_cast<float>(std::atan2(static_cast<double>(packed[2 * k + 1]),
                                                 static_cast<double>(packed[2 * k])));
    return phase;
}

std::vector<float> excessPhase(const std::vector<float>& ir)
{
    const std::int32_t n = std::max(sizeRuleFor(ir.size()), kSmallestTransform);
    std::vector<float> x = zeroPadded(ir, n);
    std::vector<float> m = minimumPhase(x);

    auto plan = fft_create(n);
    fft_forward(*plan, x.data());
    fft_forward(*plan, m.data());
    const std::vector<float> p = spectrumPhase(x);
    const std::vector<float> q = spectrumPhase(m);
    std::vector<float> e(p.size());
    for (std::size_t k = 0; k < e.size(); ++k)
        e[k] = p[k] - q[k];
    unwrapPhase(e);
    fft_destroy(plan);
    return e;
}

void unwrapPhase(std::vector<float>& v)
{
    if (v.size() < 2)
        return;
    float previousWrapped = v[0];
    for (std::size_t i = 1; i < v.size(); ++i)
    {
        const float wrapped = v[i];
        float step = wrapped - previousWrapped;
        const double stepD = step;
        if (stepD > kPi)
            step = static_cast<float>(stepD - kTwoPi);
        else if (stepD < -kPi)
            step = static_cast<float>(stepD + kTwoPi);
        v[i] = v[i - 1] + step;
        previousWrapped = wrapped;
    }
}

void fitLine(const std::vector<float>& x, const std::vector<float>& y, float& slope, float& intercept)
{
    const std::size_t count = std::min(x.size(), y.size());
    float sx = 0.0f, sxx = 0.0f, sy = 0.0f, sxy = 0.0f;
    for (std::size_t i = 0; i < count; ++i)
    {
        sx += x[i];
        sxx += x[i] * x[i];
        sy += y[i];
        sxy += x[i] * y[i];
    }
    const float n = static_cast<float>(count);
    slope = 0.0f;
    intercept = 0.0f;
    if (count == 0)
        return;
    const float denominator = sxx - sx * sx / n;
    if (count >= 2 && denominator != 0.0f)
    {
        const float fitted = (sxy - sy * sx / n) / denominator;
        if (std::isfinite(fitted))
            slope = fitted;
    }
    intercept = sy / n - slope * sx / n;
}

float estimateItd(const std::vector<float>& a, const std::vector<float>& b, float fs, float fLow, float fHigh)
{
    // Responses of different lengths are compared on the grid of the longer one.
    const std::size_t length = std::max(a.size(), b.size());
    std::vector<float> ea, eb;
    if (a.size() == b.size())
    {
        ea = excessPhase(a);
        eb = excessPhase(b);
    }
    else
    {
        std::vector<float> paddedA(a), paddedB(b);
        paddedA.resize(length, 0.0f);
        paddedB.resize(length, 0.0f);
        ea = excessPhase(paddedA);
        eb = excessPhase(paddedB);
    }

    const std::size_t bins = ea.size();
    const float n = 2.0f * static_cast<float>(bins);
    const float lowPosition = n * fLow / fs;
    const float highPosition = n * fHigh / fs;
    if (bins < 2 || !std::isfinite(lowPosition) || !std::isfinite(highPosition))
        return 0.0f;
    const std::size_t kLow = clippedBin(lowPosition, bins - 1);
    const std::size_t kHigh = clippedBin(highPosition, bins - 1);
    if (kHigh <= kLow)
        return 0.0f;

    std::vector<float> xs, ys;
    xs.reserve(kHigh - kLow + 1);
    ys.reserve(kHigh - kLow + 1);
    for (std::size_t k = kLow; k <= kHigh; ++k)
    {
        xs.push_back(static_cast<float>(k));
        ys.push_back(eb[k] - ea[k]);
    }
    float slope = 0.0f, intercept = 0.0f;
    fitLine(xs, ys, slope, intercept);

    const float cycles = n * slope;
    const float itd = static_cast<float>(-static_cast<double>(cycles) / kTwoPi);
    return std::isfinite(itd) ? itd : 0.0f;
}
