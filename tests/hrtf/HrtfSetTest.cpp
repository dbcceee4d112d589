#include "hrtf/HrtfSet.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <vector>

namespace
{

HrtfSetInfo describe(std::int32_t flags, std::vector<std::int32_t> elevs, std::vector<std::int32_t> numAz,
                     std::int32_t numBCoeff, std::int32_t numACoeff = 0)
{
    HrtfSetInfo info(static_cast<std::int32_t>(elevs.size()));
    info.flags = flags;
    info.sampRate = 44100;
    info.numBCoeff = numBCoeff;
    info.numACoeff = numACoeff;
    info.elevs = std::move(elevs);
    info.numAz = std::move(numAz);
    return info;
}

std::vector<float> slot(const HrtfSet& set, std::int32_t hrtf, std::int32_t ear)
{
    const std::size_t start = static_cast<std::size_t>(hrtf) * static_cast<std::size_t>(set.hrtfSize)
                              + static_cast<std::size_t>(ear) * static_cast<std::size_t>(set.numBCoeff + set.numACoeff);
    return std::vector<float>(set.data.begin() + static_cast<std::ptrdiff_t>(start),
                              set.data.begin() + static_cast<std::ptrdiff_t>(start + static_cast<std::size_t>(set.numBCoeff)));
}

}  // namespace

TEST(HrtfSetInfo, RingCountSizesTheLists)
{
    HrtfSetInfo info(3);
    EXPECT_EQ(info.numElev, 3);
    EXPECT_EQ(info.elevs, std::vector<std::int32_t>(3, 0));
    EXPECT_EQ(info.numAz, std::vector<std::int32_t>(3, 0));
    EXPECT_EQ(info.flags | info.sampRate | info.numACoeff | info.numBCoeff, 0);
    info.setNumElev(5);
    EXPECT_EQ(info.elevs.size(), 5u);
    EXPECT_EQ(info.numAz.size(), 5u);
    EXPECT_THROW(HrtfSetInfo(-1), std::length_error);
}

TEST(HrtfSet, ConstructionSizes)
{
    const HrtfSet plain(describe(0, { -30, 0, 30 }, { 4, 6, 4 }, 256));
    EXPECT_EQ(plain.numStored, (std::vector<std::int32_t> { 4, 6, 4 }));
    EXPECT_EQ(plain.numHrtf, 14);
    EXPECT_EQ(plain.hrtfSize, 512);
    EXPECT_EQ(plain.data, std::vector<float>(14 * 512, 0.0f));
    EXPECT_TRUE(plain.itds.empty());
    EXPECT_TRUE(plain.path.empty() && plain.errorMsg.empty() && plain.displayName.empty());

    const HrtfSet mirrored(describe(symmetric | ITD_extracted, { 0, 10 }, { 8, 5 }, 4, 2));
    EXPECT_EQ(mirrored.numStored, (std::vector<std::int32_t> { 5, 3 }));
    EXPECT_EQ(mirrored.numHrtf, 8);
    EXPECT_EQ(mirrored.hrtfSize, 12);
    EXPECT_EQ(mirrored.itds, std::vector<float>(8, 0.0f));
}

TEST(HrtfSet, ImpossibleDescriptionsThrow)
{
    const std::int32_t big = std::numeric_limits<std::int32_t>::max();
    // hrtfSize would overflow 32 bits.
    EXPECT_THROW(HrtfSet(describe(0, { 0 }, { 1 }, big)), std::length_error);
    EXPECT_THROW(HrtfSet(describe(0, { 0 }, { 1 }, big / 2, 1)), std::length_error);
    // numHrtf would overflow 32 bits.
    EXPECT_THROW(HrtfSet(describe(0, { 0, 10 }, { big, 1 }, 1)), std::length_error);
    // numHrtf x hrtfSize beyond what a vector can address.
    EXPECT_THROW(HrtfSet(describe(0, { 0 }, { big }, (1 << 30) - 1)), std::length_error);
    // Self-contradicting descriptions.
    EXPECT_THROW(HrtfSet(describe(0, { 0 }, { -1 }, 4)), std::invalid_argument);
    EXPECT_THROW(HrtfSet(describe(0, { 0 }, { 4 }, -4)), std::invalid_argument);
    HrtfSetInfo mismatched = describe(0, { 0, 10 }, { 4, 4 }, 4);
    mismatched.numAz.pop_back();
    EXPECT_THROW(HrtfSet { mismatched }, std::invalid_argument);
    mismatched.numElev = 3;
    EXPECT_THROW(HrtfSet { mismatched }, std::invalid_argument);
}

TEST(HrtfCursor, SymmetricRingOfEightMirrorsTheLeftHalf)
{
    HrtfSet set(describe(symmetric | ITD_extracted, { 0 }, { 8 }, 4));
    HrtfCursor cursor(set);
    EXPECT_EQ(cursor.hrtfIndex(), 0);
    EXPECT_FALSE(cursor.mirrored());

    EXPECT_TRUE(cursor.setPosition(0.0f, 225.0f));
    EXPECT_EQ(cursor.azIndex(), 3);
    EXPECT_EQ(cursor.hrtfIndex(), 3);
    EXPECT_TRUE(cursor.mirrored());

    const float left[] = { 1, 2, 3, 4 };
    const float right[] = { 5, 6, 7, 8 };
    cursor.setHrirs(left, right, 4);
    cursor.setItd(2.5f);
    EXPECT_EQ(slot(set, 3, 0), (std::vector<float> { 5, 6, 7, 8 }));
    EXPECT_EQ(slot(set, 3, 1), (std::vector<float> { 1, 2, 3, 4 }));
    EXPECT_EQ(set.itds[3], -2.5f);

    EXPECT_TRUE(cursor.setPosition(0.0f, 135.0f)) << "same HRTF, mirroring changed";
    EXPECT_FALSE(cursor.mirrored());
    EXPECT_FALSE(cursor.setPosition(0.0f, 135.0f));
}

TEST(HrtfCursor, SymmetricRingOfFive)
{
    HrtfSet set(describe(symmetric, { 0 }, { 5 }, 1));
    HrtfCursor cursor(set);
    const struct
    {
        float az;
        std::int32_t index;
        bool mirrored;
    } cases[] = { { 0, 0, false }, { 72, 1, false }, { 144, 2, false }, { 216, 2, true }, { 288, 1, true } };
    for (const auto& c : cases)
    {
        cursor.setPosition(0.0f, c.az);
        EXPECT_EQ(cursor.hrtfIndex(), c.index) << c.az;
        EXPECT_EQ(cursor.mirrored(), c.mirrored) << c.az;
    }
}

TEST(HrtfCursor, AzimuthWrapsAndRounds)
{
    HrtfSet set(describe(0, { 0 }, { 72 }, 1));
    HrtfCursor cursor(set);
    const struct
    {
        float az;
        std::int32_t index;
    } cases[] = {
        { -90.0f, 54 }, { 270.0f, 54 }, { 725.0f, 1 }, { 5.0f, 1 }, { -725.0f, 71 },
        { 359.0f, 0 },  { 2.5f, 1 },    { 2.4f, 0 },   { 360.0f, 0 }, { -1e-9f, 0 },
    };
    for (const auto& c : cases)
    {
        cursor.setPosition(0.0f, c.az);
        EXPECT_EQ(cursor.azIndex(), c.index) << c.az;
    }
}

TEST(HrtfCursor, NearestRingTiesGoUp)
{
    HrtfSet set(describe(0, { -30, 0, 30 }, { 4, 6, 4 }, 1));
    HrtfCursor cursor(set);
    const struct
    {
        float elev;
        std::int32_t ring, firstHrtf;
    } cases[] = {
        { -90.0f, 0, 0 }, { -30.0f, 0, 0 }, { -16.0f, 0, 0 }, { -15.0f, 1, 4 }, { 0.0f, 1, 4 },
        { 14.9f, 1, 4 },  { 15.0f, 2, 10 }, { 30.0f, 2, 10 }, { 90.0f, 2, 10 },
    };
    for (const auto& c : cases)
    {
        cursor.setPosition(c.elev, 0.0f);
        EXPECT_EQ(cursor.elevIndex(), c.ring) << c.elev;
        EXPECT_EQ(cursor.hrtfIndex(), c.firstHrtf) << c.elev;
    }
}

TEST(HrtfCursor, PlainSetIndexesRingByRing)
{
    HrtfSet set(describe(0, { -30, 0, 30 }, { 4, 6, 4 }, 3, 2));
    HrtfCursor cursor(set);
    std::int32_t expected = 0;
    for (std::size_t e = 0; e < set.elevs.size(); ++e)
    {
        for (std::int32_t a = 0; a < set.numAz[e]; ++a)
        {
            const float az = static_cast<float>(a) * (360.0f / static_cast<float>(set.numAz[e]));
            cursor.setPosition(static_cast<float>(set.elevs[e]), az);
            EXPECT_EQ(cursor.hrtfIndex(), expected);
            EXPECT_FALSE(cursor.mirrored());
            const float fill[] = { 9, 9, 9, 9, 9 };
            cursor.setHrirs(fill, fill, 5);  // longer than numBCoeff: the rest is dropped
            cursor.setItd(1.0f);             // no ITD_extracted: nothing stored
            ++expected;
        }
    }
    EXPECT_EQ(expected, set.numHrtf);
    EXPECT_TRUE(set.itds.empty());
    for (std::size_t i = 0; i < set.data.size(); ++i)
        EXPECT_EQ(set.data[i], i % 5 < 3 ? 9.0f : 0.0f) << "a coefficients stay 0, index " << i;

    const float shortPair[] = { 4, 4 };
    cursor.setHrirs(shortPair, shortPair, 2);
    EXPECT_EQ(slot(set, set.numHrtf - 1, 0), (std::vector<float> { 4, 4, 0 }));
    EXPECT_EQ(slot(set, set.numHrtf - 1, 1), (std::vector<float> { 4, 4, 0 }));
}

TEST(HrtfCursor, RingsThatStoreNothingAreHarmless)
{
    HrtfSet empty(describe(0, {}, {}, 4));
    HrtfCursor emptyCursor(empty);
    EXPECT_FALSE(emptyCursor.setPosition(0.0f, 0.0f));
    const float samples[] = { 1, 2, 3, 4 };
    emptyCursor.setHrirs(samples, samples, 4);
    emptyCursor.setItd(1.0f);
    EXPECT_TRUE(empty.data.empty());

    // The middle ring has no azimuths: storing there must not reach the next ring.
    HrtfSet gap(describe(ITD_extracted, { 0, 10, 20 }, { 2, 0, 2 }, 4));
    HrtfCursor cursor(gap);
    EXPECT_TRUE(cursor.setPosition(10.0f, 0.0f));
    EXPECT_EQ(cursor.hrtfIndex(), -1);
    cursor.setHrirs(samples, samples, 4);
    cursor.setItd(1.0f);
    EXPECT_EQ(gap.data, std::vector<float>(gap.data.size(), 0.0f));
    EXPECT_EQ(gap.itds, std::vector<float>(4, 0.0f));
}
