// The two measured sets shipped beside the project pass both checks and read
// back with the shapes and values they declare.

#include "SofaTestSupport.h"

#include "sofa/sofafile.h"
#include "sofa/sofasimplefreefieldhrir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

namespace
{

struct RealSet
{
    const char* file;
    unsigned M;
    unsigned N;
    double rate;
};

class SofaRealFiles : public testing::TestWithParam<RealSet>
{
};

TEST_P(SofaRealFiles, PassTheChecksAndRead)
{
    const RealSet& set = GetParam();
    const std::string path = std::string(QUILLON_SHARED_SOFA_DIR) + "/" + set.file;
    if (!std::ifstream(path))
        GTEST_SKIP() << "not available: " << path;

    sofa::File general(path);
    EXPECT_EQ(sofatest::Outcome([&] { return general.IsValid(); }), "valid");
    sofa::SimpleFreeFieldHRIR hrir(path);
    EXPECT_EQ(sofatest::Outcome([&] { return hrir.IsValid(); }), "valid");

    double rate = 0.0;
    EXPECT_TRUE(hrir.GetSamplingRate(rate));
    EXPECT_EQ(rate, set.rate);
    EXPECT_EQ(hrir.GetNumMeasurements(), set.M);
    EXPECT_EQ(hrir.GetNumReceivers(), 2u);
    EXPECT_EQ(hrir.GetNumDataSamples(), set.N);
    EXPECT_EQ(hrir.GetNumEmitters(), 1u);

    std::vector<double> ir(static_cast<std::size_t>(set.M) * 2 * set.N);
    ASSERT_TRUE(hrir.GetDataIR(ir.data(), set.M, 2, set.N));
    double energy = 0.0;
    for (double v : ir)
        energy += v * v;
    EXPECT_GT(energy, 0.0);
    EXPECT_TRUE(std::isfinite(energy));

    sofa::CoordinateType type = sofa::UnknownCoordinates;
    sofa::UnitsType units = sofa::UnknownUnits;
    ASSERT_TRUE(general.GetSourcePosition(type, units));
    EXPECT_EQ(type, sofa::Spherical);
    EXPECT_EQ(units, sofa::SphericalUnits);
    std::vector<std::size_t> dims;
    general.GetVariableDimensions(dims, "SourcePosition");
    ASSERT_EQ(dims, (std::vector<std::size_t>{set.M, 3}));
    std::vector<double> positions(static_cast<std::size_t>(set.M) * 3);
    ASSERT_TRUE(general.GetSourcePosition(positions.data(), set.M, 3));
    for (unsigned m = 0; m < set.M; ++m)
    {
        EXPECT_GE(positions[m * 3 + 1], -90.0);
        EXPECT_LE(positions[m * 3 + 1], 90.0);
        EXPECT_GT(positions[m * 3 + 2], 0.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Shared, SofaRealFiles,
                         testing::Values(RealSet{"MIT_KEMAR_normal_pinna.sofa", 710, 512, 44100.0},
                                         RealSet{"LISTEN_1002_IRC_1002_C_HRIR.sofa", 187, 512, 48000.0}));

} // namespace
