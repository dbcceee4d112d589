#include "dsp/crop.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace
{

std::vector<float> withSamples(std::size_t length, std::initializer_list<std::pair<std::size_t, float>> samples,
                               float floor = 0.0f)
{
    std::vector<float> x(length, floor);
    for (const auto& [index, value] : samples)
        x[index] = value;
    return x;
}

}  // namespace

TEST(FindOnset, Examples)
{
    const struct
    {
        const char* name;
        std::vector<float> x;
        float thresholdDb;
        std::int32_t expected;
    } cases[] = {
        { "peak first", withSamples(32, { { 0, 1.0f }, { 5, 0.5f } }), 20.0f, 0 },
        { "first qualifying is sample 1", withSamples(32, { { 1, 0.2f }, { 4, 1.0f } }), 20.0f, 0 },
        { "20 dB", withSamples(64, { { 11, 0.05f }, { 12, 1.0f } }), 20.0f, 11 },
        { "-20 dB counts as 20", withSamples(64, { { 11, 0.05f }, { 12, 1.0f } }), -20.0f, 11 },
        { "0 dB: one before the peak", withSamples(64, { { 3, 0.9f }, { 9, 1.0f } }), 0.0f, 8 },
        { "all zero", std::vector<float>(16, 0.0f), 20.0f, 0 },
        { "negative peak counts by magnitude", withSamples(64, { { 20, 0.09f }, { 25, 0.2f }, { 30, -1.0f } }, 0.01f),
          20.0f, 24 },
        { "empty", {}, 20.0f, 0 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(findOnset(c.x.data(), static_cast<std::int32_t>(c.x.size()), c.thresholdDb), c.expected) << c.name;
}

TEST(DropLeading, ShiftsAndZeroFillsTheTail)
{
    std::vector<float> x = withSamples(64, { { 11, 0.05f }, { 12, 1.0f }, { 63, 0.25f } });
    const std::int32_t onset = findOnset(x.data(), 64, 20.0f);
    dropLeading(x.data(), 64, onset);
    EXPECT_EQ(x[0], 0.05f);
    EXPECT_EQ(x[1], 1.0f);
    EXPECT_EQ(x[52], 0.25f);
    for (std::size_t i = 53; i < 64; ++i)
        EXPECT_EQ(x[i], 0.0f) << i;

    const std::vector<float> ramp = { 1, 2, 3, 4, 5 };
    const struct
    {
        std::int32_t k;
        std::vector<float> expected;
    } cases[] = {
        { 0, { 1, 2, 3, 4, 5 } },
        { -3, { 1, 2, 3, 4, 5 } },
        { 2, { 3, 4, 5, 0, 0 } },
        { 5, { 0, 0, 0, 0, 0 } },
        { 9, { 0, 0, 0, 0, 0 } },
    };
    for (const auto& c : cases)
    {
        std::vector<float> y = ramp;
        dropLeading(y.data(), 5, c.k);
        EXPECT_EQ(y, c.expected) << "k = " << c.k;
    }
}

TEST(Crop, PairLateOnTheLeftGivesPositiveItd)
{
    std::vector<float> right = withSamples(128, { { 20, 0.3f }, { 21, 1.0f }, { 22, -0.5f } }, 0.001f);
    std::vector<float> left = withSamples(128, { { 30, 0.3f }, { 31, 1.0f }, { 32, -0.5f } }, 0.001f);
    const std::int32_t onsetLeft = findOnset(left.data(), 128, 20.0f);
    dropLeading(left.data(), 128, onsetLeft);
    const std::int32_t onsetRight = findOnset(right.data(), 128, 20.0f);
    dropLeading(right.data(), 128, onsetRight);
    EXPECT_EQ(onsetLeft - onsetRight, 10);
    EXPECT_EQ(std::vector<float>(left.begin(), left.begin() + 4), std::vector<float>(right.begin(), right.begin() + 4));
    EXPECT_EQ(left[1], 0.3f);
}
