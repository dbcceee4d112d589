#include "dsp/fft.h"

#include "batch/messages/Log.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <vector>

// The allocation-failure test asks for an impossible block; under
// AddressSanitizer that must come back as nullptr instead of aborting.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}

namespace
{

std::vector<float> randomBlock(std::size_t n, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    std::vector<float> x(n);
    for (float& sample : x)
        sample = value(generator);
    return x;
}

std::vector<float> forwardOf(std::vector<float> x)
{
    auto plan = fft_create(static_cast<std::int32_t>(x.size()));
    fft_forward(*plan, x.data());
    fft_destroy(plan);
    return x;
}

// Direct DFT in double, in the packed layout.
std::vector<double> referencePacked(const std::vector<float>& x)
{
    const std::size_t n = x.size();
    std::vector<double> cosines(n), sines(n);
    for (std::size_t i = 0; i < n; ++i)
    {
        cosines[i] = std::cos(2.0 * 3.141592653589793 * static_cast<double>(i) / static_cast<double>(n));
        sines[i] = std::sin(2.0 * 3.141592653589793 * static_cast<double>(i) / static_cast<double>(n));
    }
    std::vector<double> packed(n);
    for (std::size_t k = 0; k <= n / 2; ++k)
    {
        double re = 0.0, im = 0.0;
        for (std::size_t t = 0; t < n; ++t)
        {
            re += x[t] * cosines[(k * t) % n];
            im -= x[t] * sines[(k * t) % n];
        }
        if (k == 0)
            packed[0] = re;
        else if (k == n / 2)
            packed[1] = re;
        else
        {
            packed[2 * k] = re;
            packed[2 * k + 1] = im;
        }
    }
    return packed;
}

}  // namespace

TEST(NextPowerOfTwo, SmallestPowerNotBelowCappedAt2To30)
{
    const struct
    {
        std::int32_t n, expected;
    } cases[] = {
        { -5, 1 }, { 0, 1 }, { 1, 1 }, { 2, 2 }, { 3, 4 }, { 200, 256 }, { 256, 256 }, { 257, 512 },
        { 1 << 30, 1 << 30 }, { (1 << 30) + 1, 1 << 30 }, { std::numeric_limits<std::int32_t>::max(), 1 << 30 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(nextPowerOfTwo(c.n), c.expected) << "n = " << c.n;
}

class FftSize : public ::testing::TestWithParam<std::int32_t>
{
};

TEST_P(FftSize, InverseOfForwardReturnsTheInput)
{
    const std::int32_t n = GetParam();
    const std::vector<float> input = randomBlock(static_cast<std::size_t>(n), 7u + static_cast<unsigned>(n));
    std::vector<float> x = input;
    auto plan = fft_create(n);
    fft_forward(*plan, x.data());
    fft_inverse(*plan, x.data());
    fft_destroy(plan);
    EXPECT_EQ(plan, nullptr);

    const double tolerance = 4e-7 * std::log2(static_cast<double>(n));
    double worst = 0.0;
    for (std::size_t i = 0; i < input.size(); ++i)
        worst = std::max(worst, static_cast<double>(std::fabs(x[i] - input[i])));
    EXPECT_LT(worst, tolerance);
}

INSTANTIATE_TEST_SUITE_P(PowersOfTwo, FftSize,
                         ::testing::Values(4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096, 8192, 16384, 32768,
                                           65536));

TEST(FftForward, MatchesDirectDftInPackedLayout)
{
    for (std::int32_t n : { 4, 8, 16, 64, 256, 1024, 4096 })
    {
        const std::vector<float> input = randomBlock(static_cast<std::size_t>(n), 99u + static_cast<unsigned>(n));
        const std::vector<float> spectrum = forwardOf(input);
        const std::vector<double> expected = referencePacked(input);
        const double tolerance = 1e-6 * std::sqrt(static_cast<double>(n)) * std::log2(static_cast<double>(n));
        for (std::size_t i = 0; i < spectrum.size(); ++i)
            ASSERT_NEAR(spectrum[i], expected[i], tolerance) << "n " << n << ", float index " << i;
    }
}

TEST(FftForward, PackedSpectraOfSimpleBlocks)
{
    for (std::int32_t n : { 4, 8, 1024 })
    {
        const std::size_t size = static_cast<std::size_t>(n);
        std::vector<float> impulse(size, 0.0f), alternating(size), ones(size, 1.0f);
        impulse[0] = 1.0f;
        for (std::size_t i = 0; i < size; ++i)
            alternating[i] = i % 2 == 0 ? 1.0f : -1.0f;

        const std::vector<float> impulseSpectrum = forwardOf(impulse);
        const std::vector<float> alternatingSpectrum = forwardOf(alternating);
        const std::vector<float> onesSpectrum = forwardOf(ones);
        const float tolerance = 1e-6f * static_cast<float>(n);
        for (std::size_t i = 0; i < size; ++i)
        {
            // Slots 0 and 1 and every even slot are real parts.
            const bool realSlot = i < 2 || i % 2 == 0;
            EXPECT_NEAR(impulseSpectrum[i], realSlot ? 1.0f : 0.0f, tolerance) << "n " << n << " index " << i;
            EXPECT_NEAR(alternatingSpectrum[i], i == 1 ? static_cast<float>(n) : 0.0f, tolerance)
                << "n " << n << " index " << i;
            EXPECT_NEAR(onesSpectrum[i], i == 0 ? static_cast<float>(n) : 0.0f, tolerance)
                << "n " << n << " index " << i;
        }
    }
}

TEST(FftForward, SizesOutsideTheRangeLeaveTheBlockUntouched)
{
    for (std::int32_t n : { 1, 2, 3, 6, 12 })
    {
        std::vector<float> x(static_cast<std::size_t>(n), 0.25f);
        auto plan = fft_create(n);
        fft_forward(*plan, x.data());
        fft_inverse(*plan, x.data());
        for (float value : x)
            EXPECT_EQ(value, 0.25f) << "n " << n;
    }
}

TEST(FftTwiddles, OneCachedTablePerSize)
{
    // A size no other test uses, so its first plan must add a node.
    const std::int32_t freshSize = 1 << 17;
    const std::size_t before = fft_cacheNodeCount();
    auto first = fft_create(freshSize);
    EXPECT_EQ(fft_cacheNodeCount(), before + 1);
    const float* table = fft_twiddles(freshSize);
    auto second = fft_create(freshSize);
    EXPECT_EQ(fft_cacheNodeCount(), before + 1);
    EXPECT_EQ(fft_twiddles(freshSize), table);
    fft_destroy(first);
    fft_destroy(second);
    EXPECT_EQ(fft_twiddles(freshSize), table) << "destroying plans keeps the table";

    ASSERT_NE(table, nullptr);
    // Entry i is (cos(2 pi i / N), -sin(2 pi i / N)).
    EXPECT_EQ(table[0], 1.0f);
    EXPECT_EQ(table[2 * (freshSize / 4)], static_cast<float>(std::cos(3.141592653589793 / 2.0)));
    EXPECT_EQ(table[2 * (freshSize / 4) + 1], -1.0f);
}

TEST(FftAlloc, FailureIsLoggedAndReturnsNothing)
{
    fixture::TempDir dir;
    const std::string logPath = dir.file("fft.log");
    ASSERT_TRUE(setUpLog(3, true, logPath, dir.path()));
    const std::size_t impossible = std::numeric_limits<std::size_t>::max();
    EXPECT_EQ(fft_alloc(impossible), nullptr);
    EXPECT_NE(fft_alloc(16), nullptr);
    closeLog();

    std::ifstream log(logPath);
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_NE(text.str().find("fft.c can't allocate " + std::to_string(impossible) + " bytes\n"),
              std::string::npos)
        << text.str();
}
