#include "dsp/minphase.h"

#include "dsp/fft.h"
#include "dsp/pi.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace
{

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

// v holds the forward transform (packed) of a response of n samples, n a power
// of two of at least 4; afterwards v is its minimum-phase version.
void spectrumToMinimumPhase(const fft_plan& plan, float* v, std::size_t n)
{
    const std::size_t half = n / 2;
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

    fft_inverse(plan, v);  // real cepstrum
    for (std::size_t k = 1; k < half; ++k)
        v[k] = 2.0f * v[k];
    for (std::size_t k = half + 1; k < n; ++k)
        v[k] = 0.0f;

    fft_forward(plan, v);  // complex log spectrum of the minimum-phase response
    v[0] = std::exp(v[0]);
    v[1] = std::exp(v[1]);
    for (std::size_t k = 1; k < half; ++k)
    {
        const float m = static_cast<float>(std::exp(static_cast<double>(v[2 * k])));
        const double phi = v[2 * k + 1];
        v[2 * k] = static_cast<float>(m * std::cos(phi));
        v[2 * k + 1] = static_cast<float>(m * std::sin(phi));
    }
    fft_inverse(plan, v);
}

// x.size() is a power of two of at least 4.
void toMinimumPhase(std::vector<float>& x)
{
    auto plan = fft_create(static_cast<std::int32_t>(x.size()));
    fft_forward(*plan, x.data());
    spectrumToMinimumPhase(*plan, x.data(), x.size());
    fft_destroy(plan);
}

// Phase of bins 0 .. bins-1 of a packed spectrum (bin 0 is 0).
void phaseOfBins(const float* packed, std::size_t bins, float* phase)
{
    if (bins > 0)
        phase[0] = 0.0f;
    for (std::size_t k = 1; k < bins; ++k)
        phase[k] = static_cast<float>(std::atan2(static_cast<double>(packed[2 * k + 1]),
                                                 static_cast<double>(packed[2 * k])));
}

// What excessPhase computes, kept for the caller: the unwrapped excess phase of
// bins 0 .. bins-1 (the unwrapping runs from bin 0 up, so a prefix of the bins is
// the prefix of the whole result) and the minimum-phase response of n samples.
struct ExcessPhaseParts
{
    std::vector<float> excess;
    std::vector<float> minimum;
};

// ir zero-padded to n (a power of two of at least 4). The input's spectrum is
// transformed once and serves both its phase and its minimum-phase version.
ExcessPhaseParts excessPhaseParts(const std::vector<float>& ir, std::int32_t n, std::size_t bins)
{
    const std::size_t size = static_cast<std::size_t>(n);
    auto plan = fft_create(n);
    ExcessPhaseParts parts;
    std::vector<float> spectrum(size, 0.0f);
    std::copy_n(ir.begin(), std::min(ir.size(), size), spectrum.begin());
    fft_forward(*plan, spectrum.data());

    parts.minimum = spectrum;
    spectrumToMinimumPhase(*plan, parts.minimum.data(), size);
    std::vector<float> minimumSpectrum = parts.minimum;
    fft_forward(*plan, minimumSpectrum.data());

    bins = std::min(bins, size / 2);
    std::vector<float> q(bins);
    parts.excess.resize(bins);
    phaseOfBins(spectrum.data(), bins, parts.excess.data());
    phaseOfBins(minimumSpectrum.data(), bins, q.data());
    for (std::size_t k = 0; k < bins; ++k)
        parts.excess[k] -= q[k];
    unwrapPhase(parts.excess);
    fft_destroy(plan);
    return parts;
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
    std::vector<float> phase(packed.size() / 2, 0.0f);
    phaseOfBins(packed.data(), phase.size(), phase.data());
    return phase;
}

std::vector<float> excessPhase(const std::vector<float>& ir)
{
    const std::int32_t n = std::max(sizeRuleFor(ir.size()), kSmallestTransform);
    return excessPhaseParts(ir, n, static_cast<std::size_t>(n) / 2).excess;
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

namespace
{

// The fit's band as bins of the transform of n points: false when it holds
// fewer than two bins (or the positions are not finite).
bool itdBand(std::int32_t n, float fs, float fLow, float fHigh, std::size_t& kLow, std::size_t& kHigh)
{
    const std::size_t bins = static_cast<std::size_t>(n) / 2;
    const float size = 2.0f * static_cast<float>(bins);
    const float lowPosition = size * fLow / fs;
    const float highPosition = size * fHigh / fs;
    if (bins < 2 || !std::isfinite(lowPosition) || !std::isfinite(highPosition))
        return false;
    kLow = clippedBin(lowPosition, bins - 1);
    kHigh = clippedBin(highPosition, bins - 1);
    return kHigh > kLow;
}

// The delay from the two excess phases, each holding at least bins 0 .. kHigh.
float itdFromExcessPhases(const std::vector<float>& ea, const std::vector<float>& eb, std::int32_t n,
                          std::size_t kLow, std::size_t kHigh)
{
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

    const float cycles = 2.0f * static_cast<float>(static_cast<std::size_t>(n) / 2) * slope;
    const float itd = static_cast<float>(-static_cast<double>(cycles) / kTwoPi);
    return std::isfinite(itd) ? itd : 0.0f;
}

// The estimate for responses of equal length; when wanted, also the two
// minimum-phase responses that the excess phases are made from.
float estimateItdEqualLengths(const std::vector<float>& a, const std::vector<float>& b, float fs, float fLow,
                              float fHigh, std::vector<float>* minimumA, std::vector<float>* minimumB)
{
    const std::int32_t n = std::max(sizeRuleFor(a.size()), kSmallestTransform);
    std::size_t kLow = 0, kHigh = 0;
    const bool banded = itdBand(n, fs, fLow, fHigh, kLow, kHigh);
    // Only bins up to kHigh enter the fit; the unwrapping runs from bin 0 up, so
    // those are all the bins needed.
    const std::size_t bins = banded ? kHigh + 1 : 0;
    ExcessPhaseParts partsA = excessPhaseParts(a, n, bins);
    ExcessPhaseParts partsB = excessPhaseParts(b, n, bins);
    const std::size_t length = static_cast<std::size_t>(sizeRuleFor(a.size()));
    if (minimumA != nullptr)
    {
        *minimumA = std::move(partsA.minimum);
        minimumA->resize(length);
    }
    if (minimumB != nullptr)
    {
        *minimumB = std::move(partsB.minimum);
        minimumB->resize(length);
    }
    return banded ? itdFromExcessPhases(partsA.excess, partsB.excess, n, kLow, kHigh) : 0.0f;
}

} // namespace

float estimateItd(const std::vector<float>& a, const std::vector<float>& b, float fs, float fLow, float fHigh)
{
    if (a.size() == b.size())
        return estimateItdEqualLengths(a, b, fs, fLow, fHigh, nullptr, nullptr);
    // Responses of different lengths are compared on the grid of the longer one.
    const std::size_t length = std::max(a.size(), b.size());
    std::vector<float> paddedA(a), paddedB(b);
    paddedA.resize(length, 0.0f);
    paddedB.resize(length, 0.0f);
    return estimateItdEqualLengths(paddedA, paddedB, fs, fLow, fHigh, nullptr, nullptr);
}

float estimateItdAndMinimumPhase(const std::vector<float>& a, const std::vector<float>& b, float fs, float fLow,
                                 float fHigh, std::vector<float>& minimumA, std::vector<float>& minimumB)
{
    if (a.size() != b.size())
    {
        const float itd = estimateItd(a, b, fs, fLow, fHigh);
        minimumA = minimumPhase(a);
        minimumB = minimumPhase(b);
        return itd;
    }
    return estimateItdEqualLengths(a, b, fs, fLow, fHigh, &minimumA, &minimumB);
}
