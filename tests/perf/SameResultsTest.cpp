// The faster paths of the transforms, the minimum-phase treatment and the
// nearest search give exactly what the plain ones gave.

#include "convert/ConvertSofaFile.h"
#include "convert/TargetGrid.h"
#include "convert/Treatment.h"
#include "dsp/fft.h"
#include "dsp/minphase.h"
#include "fixtures/CapturingSink.h"
#include "fixtures/SofaFixture.h"
#include "fixtures/TempDir.h"
#include "hrtf/HrtfSet.h"
#include "SameResultsSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace
{

using perf::Values;

bool sameBits(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

TEST(SameResults, CombinedEstimateGivesTheSeparateCallsResults)
{
    struct Case
    {
        std::size_t lengthA, lengthB;
        float fs;
    };
    // Transform sizes below, at and above the smallest, lengths that are no
    // power of two, a band beyond the spectrum, and unequal lengths.
    const Case cases[] = { { 1, 1, 48000.0f }, { 2, 2, 44100.0f }, { 3, 3, 48000.0f }, { 4, 4, 8000.0f },
                           { 5, 5, 48000.0f }, { 200, 200, 44100.0f }, { 256, 256, 48000.0f },
                           { 512, 512, 44100.0f }, { 256, 256, 3000.0f }, { 100, 300, 48000.0f } };
    Values values(7);
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.lengthA << " and " << c.lengthB << " samples at " << c.fs);
        std::vector<float> a(c.lengthA), b(c.lengthB);
        for (std::size_t i = 0; i < a.size(); ++i)
            a[i] = static_cast<float>(values.next() / (1.0 + static_cast<double>(i)));
        for (std::size_t i = 0; i < b.size(); ++i)
            b[i] = i < 3 ? 0.0f : static_cast<float>(values.next() / (1.0 + static_cast<double>(i)));

        std::vector<float> minimumA, minimumB;
        const float combined = estimateItdAndMinimumPhase(a, b, c.fs, kItdBandLowHz, kItdBandHighHz, minimumA,
                                                          minimumB);
        const float separate = estimateItd(a, b, c.fs, kItdBandLowHz, kItdBandHighHz);
        EXPECT_EQ(std::memcmp(&combined, &separate, sizeof combined), 0) << combined << " vs " << separate;
        EXPECT_TRUE(sameBits(minimumA, minimumPhase(a)));
        EXPECT_TRUE(sameBits(minimumB, minimumPhase(b)));
    }
}

// The search as first written: every distance rooted, strictly smaller wins.
std::vector<std::int32_t> plainNearest(const TargetMap& map, const std::vector<UnitVector>& measured)
{
    std::vector<std::int32_t> result;
    for (const Position& target : map.targets)
    {
        const UnitVector t = unitVector(target.elevation, target.azimuth, 1.0);
        double best = 2.0;
        std::int32_t bestIndex = 0;
        for (std::size_t j = 0; j < measured.size(); ++j)
        {
            const double dx = t.x - measured[j].x;
            const double dy = t.y - measured[j].y;
            const double dz = t.z - measured[j].z;
            const double distance = std::sqrt(dy * dy + dx * dx + dz * dz);
            if (distance < best)
            {
                best = distance;
                bestIndex = static_cast<std::int32_t>(j);
            }
        }
        result.push_back(bestIndex);
    }
    return result;
}

TEST(SameResults, NearestSearchMatchesThePlainSearchOnTies)
{
    struct Case
    {
        const char* name;
        std::vector<Position> positions;
    };
    std::vector<Case> cases;
    Values values(99);

    // On the 5-degree grid itself (distance 0), every position twice, odd count.
    Case onGrid{ "on the grid, twice each", {} };
    for (int el = -40; el <= 90; el += 5)
        for (int az = 0; az < 360; az += 5)
            for (int copy = 0; copy < 2; ++copy)
                onGrid.positions.push_back({ static_cast<double>(el), static_cast<double>(az), 1.0 });
    onGrid.positions.push_back({ 90.0, 0.0, 1.0 });
    cases.push_back(onGrid);

    // Halfway between grid azimuths and elevations: equal distances on both sides.
    Case halfway{ "halfway between targets", {} };
    for (double el = -42.5; el <= 90.0; el += 5.0)
        for (double az = 2.5; az < 360.0; az += 5.0)
            halfway.positions.push_back({ el, az, 1.0 });
    cases.push_back(halfway);

    // Coarse random positions (many repeats and near-ties), and mirrored pairs.
    Case coarse{ "coarse random with mirrored pairs", {} };
    for (int i = 0; i < 2001; ++i)
    {
        const double el = std::round(values.next() * 36.0) * 2.5;
        const double az = std::round((values.next() + 1.0) * 72.0) * 2.5;
        coarse.positions.push_back({ el, az, 1.0 });
        if (i % 3 == 0)
            coarse.positions.push_back({ el, -az, 1.0 });
    }
    cases.push_back(coarse);

    // One and two measurements, the second one opposite the first: distances of
    // about 2 that must not beat the starting diameter.
    cases.push_back({ "one", { { 10.0, 20.0, 1.0 } } });
    cases.push_back({ "an opposite pair", { { 0.0, 0.0, 1.0 }, { 0.0, 180.0, 1.0 } } });
    cases.push_back({ "three at the pole", { { 90.0, 0.0, 1.0 }, { 90.0, 90.0, 1.0 }, { 90.0, 180.0, 1.0 } } });

    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const std::vector<UnitVector> measured = unitVectors(c.positions);
        fixture::CapturingSink sink;
        const TargetGrid grid = chooseTargetGrid(sink, c.positions);
        TargetMap map;
        ASSERT_TRUE(mapTargets(sink, grid, c.positions, measured, map));
        EXPECT_EQ(map.measurement, plainNearest(map, measured));
    }
}

TEST(SameResults, UnusableSampleIsFoundAnywhereInTheBlock)
{
    // The samples are checked two at a time in stretches: a bad one in either
    // lane, in a later stretch or last of all is still found.
    fixture::TempDir dir;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<std::size_t, double> cases[] = { { 0, nan }, { 1, -inf }, { 1024, 1e39 }, { 1025, -3.5e38 },
                                                     { 2047, nan }, { 4039, inf } };
    for (const auto& [index, value] : cases)
    {
        SCOPED_TRACE(testing::Message() << value << " at " << index);
        fixture::SofaFixture f;
        f.M = 20;
        f.N = 101;
        f.ir.assign(static_cast<std::size_t>(f.M * 2 * f.N), 0.25);
        f.ir[index] = value;
        const std::string path = dir.file("bad.sofa");
        fixture::writeSofa(path, f);
        fixture::CapturingSink sink;
        EXPECT_FALSE(convertSofaFile(sink, path, dir.file("bad"), toProcOption(Treatment::none), kDefaultCropThresholdDb));
        EXPECT_NE(sink.text.find("invalid values in Data.IR\n"), std::string::npos) << sink.text;
    }
    // The largest float itself is usable.
    fixture::SofaFixture f;
    f.M = 20;
    f.N = 101;
    f.ir.assign(static_cast<std::size_t>(f.M * 2 * f.N), -static_cast<double>(std::numeric_limits<float>::max()));
    fixture::writeSofa(dir.file("edge.sofa"), f);
    fixture::CapturingSink sink;
    EXPECT_TRUE(convertSofaFile(sink, dir.file("edge.sofa"), dir.file("edge"), toProcOption(Treatment::none), kDefaultCropThresholdDb)) << sink.text;
}

TEST(SameResults, DataFileWrittenInPiecesKeepsOneKeyStream)
{
    // Enough words for several pieces of the writer, with a partial last one;
    // plain and scrambled, the file must be the whole set in one stream.
    for (const std::int32_t flags : { 0, static_cast<std::int32_t>(encrypted) })
    {
        SCOPED_TRACE(flags);
        HrtfSetInfo info(2);
        info.flags = flags;
        info.sampRate = 48000;
        info.numBCoeff = 6001;
        info.elevs = { 0, 10 };
        info.numAz = { 5, 3 };
        HrtfSet set(info);
        Values values(3);
        for (float& v : set.data)
            v = static_cast<float>(values.next());
        const std::vector<float> before = set.data;

        fixture::TempDir dir;
        ASSERT_TRUE(set.write(dir.file("Pieces"))) << set.errorMsg;
        EXPECT_TRUE(sameBits(set.data, before));

        std::ifstream in(dir.file("Pieces"), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_EQ(bytes.size(), before.size() * 4);
        std::vector<std::uint32_t> words(before.size());
        std::memcpy(words.data(), bytes.data(), bytes.size());
        if (flags & encrypted)
            scrambleWords(words.data(), words.size());  // stored byte order on this little-endian host
        std::vector<float> decoded(words.size());
        for (std::size_t i = 0; i < words.size(); ++i)
        {
            const std::uint32_t word = __builtin_bswap32(words[i]);
            std::memcpy(&decoded[i], &word, sizeof word);
        }
        EXPECT_TRUE(sameBits(decoded, before));
    }
}

} // namespace
