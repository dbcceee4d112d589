#include "dsp/minphase.h"

#include "dsp/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace
{

std::vector<float> magnitudes(std::vector<float> x)
{
    auto plan = fft_create(static_cast<std::int32_t>(x.size()));
    fft_forward(*plan, x.data());
    std::vector<float> m(x.size() / 2 + 1);
    m[0] = std::fabs(x[0]);
    m[x.size() / 2] = std::fabs(x[1]);
    for (std::size_t k = 1; k < x.size() / 2; ++k)
        m[k] = std::hypot(x[2 * k], x[2 * k + 1]);
    return m;
}

// A decaying, ringing response that is not minimum phase (it starts late and
// has a pre-echo).
std::vector<float> testResponse(std::size_t length, std::size_t start)
{
    std::vector<float> x(length, 0.0f);
    for (std::size_t i = start; i < length; ++i)
    {
        const double t = static_cast<double>(i - start);
        x[i] = static_cast<float>(std::exp(-t / 12.0) * std::cos(0.7 * t) + (i == start + 20 ? 0.6 : 0.0));
    }
    x[start > 0 ? start - 1 : 0] -= 0.3f;
    return x;
}

std::vector<float> delayed(const std::vector<float>& x, std::size_t samples)
{
    std::vector<float> y(x.size(), 0.0f);
    for (std::size_t i = samples; i < x.size(); ++i)
        y[i] = x[i - samples];
    return y;
}

bool allFinite(const std::vector<float>& v)
{
    for (float value : v)
        if (!std::isfinite(value))
            return false;
    return true;
}

}  // namespace

TEST(MinimumPhase, KeepsTheMagnitudeOfTheZeroPaddedResponse)
{
    const std::vector<float> ir = testResponse(200, 30);
    const std::vector<float> minimum = minimumPhase(ir);
    ASSERT_EQ(minimum.size(), 256u);

    std::vector<float> padded = ir;
    padded.resize(256, 0.0f);
    const std::vector<float> expected = magnitudes(padded);
    const std::vector<float> actual = magnitudes(minimum);
    for (std::size_t k = 0; k < expected.size(); ++k)
        EXPECT_NEAR(actual[k], expected[k], 2e-4 * (1.0 + expected[k])) << "bin " << k;

    // The energy moves to the start: the first 30 samples were silent before.
    double early = 0.0;
    for (std::size_t i = 0; i < 30; ++i)
        early += minimum[i] * minimum[i];
    EXPECT_GT(early, 1.0);
}

TEST(MinimumPhase, ImpulseMovesToSampleZero)
{
    for (std::size_t position : { 0u, 5u })
    {
        std::vector<float> impulse(64, 0.0f);
        impulse[position] = 1.0f;
        const std::vector<float> result = minimumPhase(impulse);
        ASSERT_EQ(result.size(), 64u);
        EXPECT_NEAR(result[0], 1.0f, 1e-5) << "impulse at " << position;
        for (std::size_t i = 1; i < result.size(); ++i)
            EXPECT_NEAR(result[i], 0.0f, 1e-5) << "impulse at " << position << ", sample " << i;
    }
}

TEST(MinimumPhase, ShortResponsesAreTransformedAtFourPointsAndCut)
{
    // Lengths below 3 are outside the transform's range; they are padded to
    // 4 points and cut to nextPowerOfTwo(length).
    // Two-sample responses only approximate their minimum phase at 4 points
    // (the cepstrum aliases), hence the wider tolerance there.
    const struct
    {
        std::vector<float> ir;
        std::vector<float> expected;
        float tolerance;
    } cases[] = {
        { {}, { 1e-12f }, 1e-5f },
        { { 0.5f }, { 0.5f }, 1e-5f },
        { { -0.5f }, { 0.5f }, 1e-5f },
        { { 1.0f, 0.5f }, { 1.0f, 0.5f }, 0.05f },
        { { 0.5f, 1.0f }, { 1.0f, 0.5f }, 0.05f },  // maximum phase becomes minimum phase
        { { 0.0f, 0.0f, 2.0f }, { 2.0f, 0.0f, 0.0f, 0.0f }, 1e-5f },
    };
    for (const auto& c : cases)
    {
        const std::vector<float> result = minimumPhase(c.ir);
        ASSERT_EQ(result.size(), c.expected.size()) << "length " << c.ir.size();
        for (std::size_t i = 0; i < result.size(); ++i)
            EXPECT_NEAR(result[i], c.expected[i], c.tolerance) << "length " << c.ir.size() << ", sample " << i;
    }
}

TEST(ExcessPhase, ZeroForMinimumPhaseAndALineForADelay)
{
    const std::vector<float> minimum = minimumPhase(testResponse(128, 0));
    const std::vector<float> flat = excessPhase(minimum);
    ASSERT_EQ(flat.size(), 64u);
    for (std::size_t k = 0; k < flat.size(); ++k)
        EXPECT_NEAR(flat[k], 0.0f, 1e-3) << "bin " << k;

    // A minimum-phase filter delayed by d samples: -2 pi k d / N.
    const std::vector<float> line = excessPhase(delayed(minimum, 4));
    for (std::size_t k = 0; k < 20; ++k)
        EXPECT_NEAR(line[k], -2.0 * 3.141592653589793 * static_cast<double>(k) * 4.0 / 128.0, 2e-2)
            << "bin " << k;

    for (std::size_t length : { 0u, 1u, 2u, 3u })
    {
        const std::vector<float> e = excessPhase(std::vector<float>(length, 1.0f));
        EXPECT_EQ(e.size(), 2u) << "length " << length;
        EXPECT_TRUE(allFinite(e));
    }
}

TEST(SpectrumPhase, BinZeroIsZeroOthersAreAtan2)
{
    const std::vector<float> packed = { -5.0f, 7.0f, 0.0f, 1.0f, -1.0f, 0.0f, 1.0f, -1.0f };
    const std::vector<float> phase = spectrumPhase(packed);
    ASSERT_EQ(phase.size(), 4u);
    EXPECT_EQ(phase[0], 0.0f);
    EXPECT_FLOAT_EQ(phase[1], 3.141592653589793f / 2.0f);
    EXPECT_FLOAT_EQ(phase[2], 3.141592653589793f);
    EXPECT_FLOAT_EQ(phase[3], -3.141592653589793f / 4.0f);
}

TEST(UnwrapPhase, CorrectsEachStepOnce)
{
    const struct
    {
        std::vector<float> in, expected;
    } cases[] = {
        { { 3.0f, -3.0f }, { 3.0f, 3.2831853f } },
        { { 0.0f, 4.0f }, { 0.0f, -2.2831853f } },
        { { 0.0f, 10.0f }, { 0.0f, 3.7168147f } },  // beyond 3 pi: only partly corrected
        { { 1.0f, 2.0f, 3.0f }, { 1.0f, 2.0f, 3.0f } },
        { { 3.0f, -3.0f, 3.0f, -3.0f }, { 3.0f, 3.2831853f, 3.0f, 3.2831853f } },
        { { 0.5f }, { 0.5f } },
        { {}, {} },
    };
    for (const auto& c : cases)
    {
        std::vector<float> v = c.in;
        unwrapPhase(v);
        ASSERT_EQ(v.size(), c.expected.size());
        for (std::size_t i = 0; i < v.size(); ++i)
            EXPECT_NEAR(v[i], c.expected[i], 1e-6) << "case starting " << c.in[0] << ", index " << i;
    }
}

TEST(FitLine, LeastSquaresAndDegenerateInput)
{
    float slope = -1.0f, intercept = -1.0f;
    fitLine({ 1.0f, 2.0f, 3.0f }, { 3.0f, 5.0f, 7.0f }, slope, intercept);
    EXPECT_FLOAT_EQ(slope, 2.0f);
    EXPECT_FLOAT_EQ(intercept, 1.0f);

    // One point, or points stacked on one x, have no slope: 0, never inf/NaN.
    fitLine({ 4.0f }, { 9.0f }, slope, intercept);
    EXPECT_EQ(slope, 0.0f);
    EXPECT_EQ(intercept, 9.0f);
    fitLine({ 2.0f, 2.0f }, { 1.0f, 3.0f }, slope, intercept);
    EXPECT_EQ(slope, 0.0f);
    EXPECT_EQ(intercept, 2.0f);
    fitLine({}, {}, slope, intercept);
    EXPECT_EQ(slope, 0.0f);
    EXPECT_EQ(intercept, 0.0f);
}

TEST(EstimateItd, WholeSampleDelays)
{
    const std::vector<float> a = testResponse(256, 40);
    const std::vector<float> b = delayed(a, 3);
    EXPECT_NEAR(estimateItd(a, b, 44100.0f, 500.0f, 2000.0f), 3.0f, 0.05f);
    EXPECT_NEAR(estimateItd(b, a, 44100.0f, 500.0f, 2000.0f), -3.0f, 0.05f);
    EXPECT_EQ(estimateItd(a, a, 44100.0f, 500.0f, 2000.0f), 0.0f);

    const std::vector<float> longA = testResponse(512, 60);
    EXPECT_NEAR(estimateItd(longA, delayed(longA, 7), 48000.0f, 500.0f, 2000.0f), 7.0f, 0.05f);
}

TEST(EstimateItd, BandOutsideTheSpectrumGivesAFiniteResult)
{
    const std::vector<float> a = testResponse(256, 40);
    const std::vector<float> b = delayed(a, 3);
    const struct
    {
        std::size_t length;
        float fs, fLow, fHigh;
    } cases[] = {
        { 256, 4000.0f, 500.0f, 2000.0f },   // kHigh reaches N/2: clipped
        { 256, 1000.0f, 500.0f, 2000.0f },   // whole band above Nyquist
        { 8, 44100.0f, 500.0f, 2000.0f },    // a single bin
        { 2, 44100.0f, 500.0f, 2000.0f },
        { 0, 44100.0f, 500.0f, 2000.0f },
        { 256, 0.0f, 500.0f, 2000.0f },
        { 256, -44100.0f, 500.0f, 2000.0f },
        { 256, 44100.0f, 2000.0f, 500.0f },  // empty band
        { 256, std::nanf(""), 500.0f, 2000.0f },
    };
    for (const auto& c : cases)
    {
        std::vector<float> shortA(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(c.length));
        std::vector<float> shortB(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(c.length));
        const float itd = estimateItd(shortA, shortB, c.fs, c.fLow, c.fHigh);
        EXPECT_TRUE(std::isfinite(itd)) << "length " << c.length << ", fs " << c.fs;
    }
    EXPECT_NEAR(estimateItd(a, b, 4000.0f, 500.0f, 2000.0f), 3.0f, 0.2f) << "clipped band still fits the slope";
    EXPECT_EQ(estimateItd(a, b, 1000.0f, 500.0f, 2000.0f), 0.0f);
    EXPECT_EQ(estimateItd(a, b, 44100.0f, 2000.0f, 500.0f), 0.0f);
}
