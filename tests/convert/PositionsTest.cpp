#include "convert/SourcePositions.h"
#include "fixtures/SofaFixture.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{
std::vector<Position> readBack(fixture::SofaFixture& f, const fixture::TempDir& dir, int& result)
{
    const std::string path = dir.file("positions.sofa");
    fixture::writeSofa(path, f);
    sofa::File file(path);
    std::vector<Position> positions;
    result = readSourcePositions(file, positions);
    return positions;
}
} // namespace

TEST(SourcePositions, SphericalRowsSwapAzimuthAndElevation)
{
    fixture::TempDir dir;
    fixture::SofaFixture f;
    f.M = 2;
    f.sourcePositions = { { 30, 10, 1.2 }, { -400, 95, 0 } };
    int result = -1;
    const auto positions = readBack(f, dir, result);
    ASSERT_EQ(result, 0);
    ASSERT_EQ(positions.size(), 2u);
    EXPECT_EQ(positions[0].elevation, 10);
    EXPECT_EQ(positions[0].azimuth, 30);
    EXPECT_EQ(positions[0].distance, 1.2);
    // No wrapping or range check.
    EXPECT_EQ(positions[1].elevation, 95);
    EXPECT_EQ(positions[1].azimuth, -400);
}

TEST(SourcePositions, CartesianRowsBecomeDegrees)
{
    fixture::TempDir dir;
    fixture::SofaFixture f;
    f.M = 4;
    f.cartesianSources();
    f.sourcePositions = { { 1, 0, 0 }, { 0, 1, 0 }, { -1, -1, 0 }, { 0, 0, 2 } };
    int result = -1;
    const auto p = readBack(f, dir, result);
    ASSERT_EQ(result, 0);
    ASSERT_EQ(p.size(), 4u);
    const double expected[4][3] = { { 0, 0, 1 }, { 0, 90, 1 }, { 0, -135, std::sqrt(2.0) }, { 90, 0, 2 } };
    for (int i = 0; i < 4; ++i)
    {
        EXPECT_DOUBLE_EQ(p[i].elevation, expected[i][0]) << i;
        EXPECT_DOUBLE_EQ(p[i].azimuth, expected[i][1]) << i;
        EXPECT_DOUBLE_EQ(p[i].distance, expected[i][2]) << i;
    }
}

TEST(SourcePositions, SingleRowGivesOneRecord)
{
    fixture::TempDir dir;
    fixture::SofaFixture f;
    f.M = 5;
    f.singleSourcePosition();
    int result = -1;
    const auto positions = readBack(f, dir, result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(positions.size(), 1u);
}

TEST(SourcePositions, WrongShapesFailOnStandardOutput)
{
    const std::vector<std::vector<std::string>> shapes = { { "M", "C", "I" }, { "C", "M" } };
    for (const auto& shape : shapes)
    {
        fixture::TempDir dir;
        fixture::SofaFixture f;
        f.M = 5;
        f.setShape("SourcePosition", shape);
        const std::string path = dir.file("bad.sofa");
        fixture::writeSofa(path, f);
        sofa::File file(path);
        std::vector<Position> positions;
        testing::internal::CaptureStdout();
        const int result = readSourcePositions(file, positions);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(result, -1);
        EXPECT_EQ(out, "expected Mx3 dimensions for SourcePosition\n");
    }
}

TEST(SourcePositions, UnusableTypeOrUnits)
{
    fixture::TempDir dir;
    fixture::SofaFixture f;
    f.setText("SourcePosition:Units", "metre"); // spherical in metres
    const std::string path = dir.file("units.sofa");
    fixture::writeSofa(path, f);
    sofa::File file(path);
    std::vector<Position> positions;
    testing::internal::CaptureStdout();
    EXPECT_EQ(readSourcePositions(file, positions), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "can't get source position\n");
}
