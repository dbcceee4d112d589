#include "convert/TargetGrid.h"
#include "dsp/pi.h"
#include "fixtures/CapturingSink.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

namespace
{
// count positions whose elevations run evenly from lo to hi.
std::vector<Position> spread(int count, double lo, double hi)
{
    std::vector<Position> positions(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
    {
        const double f = count > 1 ? static_cast<double>(i) / (count - 1) : 0.0;
        positions[static_cast<std::size_t>(i)] = Position { lo + f * (hi - lo), i * 37.0, 1.0 };
    }
    return positions;
}

struct FullSphereCase
{
    int measurements;
    float spacing;
    std::vector<int> lowerHalfCounts; // from -90 up to 0
    int targets;
};
} // namespace

TEST(TargetGrid, FullSphereGrids)
{
    const FullSphereCase cases[] = {
        { 100, 30, { 1, 6, 10, 12 }, 46 },
        { 286, 15, { 1, 6, 12, 17, 21, 23, 24 }, 184 },
        { 842, 10, { 1, 6, 12, 18, 23, 28, 31, 34, 35, 36 }, 412 },
        { 2578, 5, { 1, 6, 13, 19, 25, 30, 36, 41, 46, 51, 55, 59, 62, 65, 68, 70, 71, 72, 72 }, 1652 },
    };
    for (const FullSphereCase& c : cases)
    {
        SCOPED_TRACE(c.measurements);
        fixture::CapturingSink sink;
        const TargetGrid grid = chooseTargetGrid(sink, spread(c.measurements, -90, 90));
        EXPECT_EQ(grid.spacing, c.spacing);
        ASSERT_EQ(grid.elevs.size(), c.lowerHalfCounts.size() * 2 - 1);
        EXPECT_EQ(grid.elevs.front(), -90);
        EXPECT_EQ(grid.elevs.back(), 90);
        for (std::size_t i = 0; i < c.lowerHalfCounts.size(); ++i)
        {
            EXPECT_EQ(grid.numAz[i], c.lowerHalfCounts[i]) << "ring " << i;
            EXPECT_EQ(grid.numAz[grid.numAz.size() - 1 - i], c.lowerHalfCounts[i]) << "mirrored ring " << i;
            EXPECT_EQ(grid.elevs[i], -90 + static_cast<int>(i) * static_cast<int>(c.spacing));
        }
        EXPECT_EQ(grid.numTargets(), static_cast<std::size_t>(c.targets));
    }
}

TEST(TargetGrid, SpacingExamplesAndMessages)
{
    struct Case
    {
        int measurements;
        double lo, hi;
        const char* messages;
    };
    const Case cases[] = {
        { 1250, -40, 90,
          "average angular spacing: 5.20653 degrees\n"
          "choosing target spacing: 10 degrees\n"
          "14 target elevs: -40 to 90\n" },
        { 2000, -40, 90,
          "average angular spacing: 4.11612 degrees\n"
          "choosing target spacing: 5 degrees\n"
          "27 target elevs: -40 to 90\n" },
        { 1000, -45, 90,
          "average angular spacing: 5.93394 degrees\n"
          "choosing target spacing: 10 degrees\n"
          "15 target elevs: -50 to 90\n" },
        { 1, 0, 0,
          "average angular spacing: 0 degrees\n"
          "choosing target spacing: 5 degrees\n"
          "1 target elevs: 0 to 0\n" },
        { 12, 12, 12,
          "average angular spacing: 0 degrees\n"
          "choosing target spacing: 5 degrees\n"
          "1 target elevs: 10 to 10\n" },
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.measurements);
        fixture::CapturingSink sink;
        const TargetGrid grid = chooseTargetGrid(sink, spread(c.measurements, c.lo, c.hi));
        EXPECT_EQ(sink.text, c.messages);
    }

    fixture::CapturingSink sink;
    const TargetGrid ring = chooseTargetGrid(sink, spread(1, 0, 0));
    ASSERT_EQ(ring.numAz.size(), 1u);
    EXPECT_EQ(ring.numAz[0], 72);
}

TEST(TargetGrid, ExactSpacingBoundariesGoUp)
{
    // capArea is the area above an elevation: the whole sphere below -90, none above 90.
    EXPECT_NEAR(capArea(1.0f, -90.0f), 4 * kPi, 1e-5);
    EXPECT_NEAR(capArea(1.0f, 90.0f), 0.0, 1e-6);
    EXPECT_NEAR(capArea(1.0f, 0.0f), 2 * kPi, 1e-5);
    EXPECT_NEAR(capArea(2.0f, 30.0f), 2 * kPi * 4 * 0.5, 1e-4);
}

TEST(TargetMapping, CoincidingGridHasNoError)
{
    // Measure exactly on the 30-degree grid: every target finds itself.
    fixture::CapturingSink sink;
    std::vector<Position> measured;
    TargetGrid grid;
    grid.spacing = 30;
    grid.elevs = { -30, 0, 30 };
    grid.numAz = { 10, 12, 10 };
    for (std::size_t ring = 0; ring < grid.elevs.size(); ++ring)
        for (int a = 0; a < grid.numAz[ring]; ++a)
            measured.push_back(Position { static_cast<double>(grid.elevs[ring]), targetAzimuth(a, grid.numAz[ring]), 1.0 });
    // Present them in reverse so the map is not the identity by accident.
    std::reverse(measured.begin(), measured.end());

    TargetMap map;
    ASSERT_TRUE(mapTargets(sink, grid, measured, unitVectors(measured), map));
    EXPECT_EQ(sink.text, "largest error 0 (0 deg) at targetIndex 0\n"
                         "TN (el -30 az 0) <=> SOFA (el -30 az 0)\n"
                         "average error 0 (0 deg)\n");
    ASSERT_EQ(map.measurement.size(), 32u);
    for (std::size_t k = 0; k < 32; ++k)
        EXPECT_EQ(map.measurement[k], static_cast<int>(31 - k));
}

TEST(TargetMapping, TiesGoToLowestIndexAndReportLargestError)
{
    TargetGrid grid;
    grid.spacing = 30;
    grid.elevs = { 0 };
    grid.numAz = { 4 }; // targets at 0, 90, 180, 270
    // Two measurements equally far from target 0 (at +-10 degrees), one far away.
    const std::vector<Position> measured = { { 0, 180, 1 }, { 0, 10, 1 }, { 0, -10, 1 } };
    fixture::CapturingSink sink;
    TargetMap map;
    ASSERT_TRUE(mapTargets(sink, grid, measured, unitVectors(measured), map));
    ASSERT_EQ(map.measurement.size(), 4u);
    EXPECT_EQ(map.measurement[0], 1);
    EXPECT_EQ(map.measurement[1], 1);
    EXPECT_EQ(map.measurement[2], 0);
    EXPECT_EQ(map.measurement[3], 2);
    // Largest error: targets 1 and 3 are 80 degrees away (chord 2 sin 40 = 1.28558,
    // 73.66 "degrees" as the chord read as radians); the first of them wins.
    EXPECT_NE(sink.text.find("largest error 1.28558 (73.7 deg) at targetIndex 1\n"
                             "TN (el 0 az 90) <=> SOFA (el 0 az 10)\n"),
              std::string::npos)
        << sink.text;
}

TEST(TargetMapping, StopsBetweenRingsWhenAsked)
{
    TargetGrid grid;
    grid.elevs = { 0, 30 };
    grid.numAz = { 4, 4 };
    const std::vector<Position> measured = { { 0, 0, 1 } };
    fixture::CapturingSink sink;
    TargetMap map;
    EXPECT_FALSE(mapTargets(sink, grid, measured, unitVectors(measured), map, [] { return true; }));
    EXPECT_EQ(sink.text, "");
}
