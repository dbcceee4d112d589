// Reads of the SOFA layer, text values of attributes and the vocabularies.

#include "SofaTestSupport.h"

#include "fixtures/SofaFixture.h"
#include "fixtures/TempDir.h"
#include "sofa/sofafile.h"
#include "sofa/sofasimplefreefieldhrir.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace
{

using fixture::SofaFixture;
using fixture::ValueType;

constexpr double kSentinel = -12345.0;

// Exposes the protected attribute inquiries.
class AttributeProbe : public sofa::File
{
public:
    using sofa::File::File;
    using sofa::File::GetAttributeText;
    using sofa::File::HasAttribute;
};

class SofaRead : public testing::Test
{
protected:
    std::string write(const SofaFixture& f)
    {
        const std::string path = dir.file("read" + std::to_string(++count) + ".sofa");
        fixture::writeSofa(path, f);
        return path;
    }

    fixture::TempDir dir;
    int count = 0;
};

TEST_F(SofaRead, DimensionsAndCounts)
{
    SofaFixture f;
    f.M = 5;
    f.R = 3;
    f.N = 7;
    f.E = 2;
    sofa::File file(write(f));
    EXPECT_EQ(file.GetDimension("M"), 5u);
    EXPECT_EQ(file.GetDimension("I"), 1u);
    EXPECT_EQ(file.GetDimension("C"), 3u);
    EXPECT_EQ(file.GetNumMeasurements(), 5u);
    EXPECT_EQ(file.GetNumReceivers(), 3u);
    EXPECT_EQ(file.GetNumEmitters(), 2u);
    EXPECT_EQ(file.GetNumDataSamples(), 7u);
    // Names are exact: no such dimension reads as 0.
    EXPECT_EQ(file.GetDimension("m"), 0u);
    EXPECT_EQ(file.GetDimension("Q"), 0u);
    EXPECT_EQ(file.GetDimension(""), 0u);
}

TEST_F(SofaRead, HugeDimensionKeepsItsLengthAndCountsKeepTheLow32Bits)
{
    SofaFixture f;
    f.setDimension("M", (std::uint64_t(1) << 32) + 5);
    sofa::File file(write(f));
    EXPECT_EQ(file.GetDimension("M"), (std::size_t(1) << 32) + 5);
    EXPECT_EQ(file.GetNumMeasurements(), 5u);
}

TEST_F(SofaRead, SamplingRateScalar)
{
    SofaFixture f;
    f.samplingRate = 44100.5;
    sofa::SimpleFreeFieldHRIR file(write(f));
    double rate = 0.0;
    EXPECT_TRUE(file.GetSamplingRate(rate));
    EXPECT_EQ(rate, 44100.5);
}

TEST_F(SofaRead, SamplingRateThatIsNotAScalarRaises)
{
    const std::vector<std::pair<const char*, std::function<void(SofaFixture&)>>> cases = {
        {"per measurement", [](SofaFixture& f) { f.samplingRatePerMeasurement = true; }},
        {"float", [](SofaFixture& f) { f.setType("Data.SamplingRate", ValueType::Float); }},
        {"absent", [](SofaFixture& f) { f.dropVariable("Data.SamplingRate"); }},
        {"two dimensions", [](SofaFixture& f) { f.setShape("Data.SamplingRate", {"I", "I"}); }},
        {"no dimension", [](SofaFixture& f) { f.setShape("Data.SamplingRate", {}); }},
    };
    for (const auto& [name, edit] : cases)
    {
        SCOPED_TRACE(name);
        SofaFixture f;
        edit(f);
        sofa::File file(write(f));
        double rate = kSentinel;
        EXPECT_EQ(sofatest::Outcome([&] { return file.GetSamplingRate(rate); }),
                  "'Data.SamplingRate' is not a scalar");
        EXPECT_EQ(rate, kSentinel);
    }
}

TEST_F(SofaRead, PerMeasurementRatePassesTheChecksButIsNoScalar)
{
    SofaFixture f;
    f.M = 100;
    f.samplingRatePerMeasurement = true;
    const std::string path = write(f);
    sofa::File general(path);
    sofa::SimpleFreeFieldHRIR hrir(path);
    EXPECT_EQ(sofatest::Outcome([&] { return general.IsValid(); }), "valid");
    EXPECT_EQ(sofatest::Outcome([&] { return hrir.IsValid(); }), "valid");
    double rate = 0.0;
    EXPECT_EQ(sofatest::Outcome([&] { return hrir.GetSamplingRate(rate); }), "'Data.SamplingRate' is not a scalar");
}

TEST_F(SofaRead, DataIRInTheFileLayout)
{
    SofaFixture f;
    f.M = 3;
    f.R = 2;
    f.N = 4;
    for (int m = 0; m < 3; ++m)
        for (int r = 0; r < 2; ++r)
            for (int n = 0; n < 4; ++n)
                f.ir.push_back(100.0 * m + 10.0 * r + n + 0.25);
    sofa::SimpleFreeFieldHRIR file(write(f));
    std::vector<double> values(24, kSentinel);
    ASSERT_TRUE(file.GetDataIR(values.data(), 3, 2, 4));
    for (unsigned m = 0; m < 3; ++m)
        for (unsigned r = 0; r < 2; ++r)
            for (unsigned n = 0; n < 4; ++n)
                EXPECT_EQ(values[(m * 2 + r) * 4 + n], 100.0 * m + 10.0 * r + n + 0.25);
}

TEST_F(SofaRead, DataIROfAnotherShapeWritesNothing)
{
    // Every buffer is larger than the variable, so a wrong read would show.
    const std::string plain = write(SofaFixture());  // (4, 2, 8)
    struct Request
    {
        unsigned d1, d2, d3;
    };
    for (const Request& q : {Request{4, 2, 7}, Request{4, 8, 2}, Request{2, 4, 8}, Request{5, 2, 8},
                             Request{4, 2, 9}, Request{64, 1, 1}})
    {
        SCOPED_TRACE(std::to_string(q.d1) + "x" + std::to_string(q.d2) + "x" + std::to_string(q.d3));
        sofa::File file(plain);
        std::vector<double> values(128, kSentinel);
        EXPECT_FALSE(file.GetDataIR(values.data(), q.d1, q.d2, q.d3));
        EXPECT_EQ(values, std::vector<double>(128, kSentinel));
    }

    const std::vector<std::pair<const char*, std::function<void(SofaFixture&)>>> variants = {
        {"float", [](SofaFixture& f) { f.setType("Data.IR", ValueType::Float); }},
        {"absent", [](SofaFixture& f) { f.dropVariable("Data.IR"); }},
        {"FIRE layout", [](SofaFixture& f) { f.dataType = "FIRE"; }},
    };
    for (const auto& [name, edit] : variants)
    {
        SCOPED_TRACE(name);
        SofaFixture f;
        edit(f);
        sofa::File file(write(f));
        std::vector<double> values(128, kSentinel);
        EXPECT_FALSE(file.GetDataIR(values.data(), 4, 2, 8));
        EXPECT_EQ(values, std::vector<double>(128, kSentinel));
    }

    sofa::File file(plain);
    EXPECT_FALSE(file.GetDataIR(nullptr, 4, 2, 8));
}

TEST_F(SofaRead, DataDelayOfEitherShape)
{
    SofaFixture perMeasurement;
    perMeasurement.M = 3;
    perMeasurement.delays = { 1.5, -2, 0, 7, 240, 267.25 };
    perMeasurement.setShape("Data.Delay", { "M", "R" });
    sofa::SimpleFreeFieldHRIR rows(write(perMeasurement));
    std::vector<double> values(6, kSentinel);
    ASSERT_TRUE(rows.GetDataDelay(values.data(), 3, 2));
    EXPECT_EQ(values, perMeasurement.delays);
    std::vector<double> untouched(6, kSentinel);
    EXPECT_FALSE(rows.GetDataDelay(untouched.data(), 1, 2));
    EXPECT_FALSE(rows.GetDataDelay(untouched.data(), 2, 3));
    EXPECT_FALSE(rows.GetDataDelay(nullptr, 3, 2));
    EXPECT_EQ(untouched, std::vector<double>(6, kSentinel));

    SofaFixture single;
    single.delays = { 12.5, 3 };
    sofa::File one(write(single));
    std::vector<double> pair(2, kSentinel);
    EXPECT_FALSE(one.GetDataDelay(pair.data(), 4, 2));
    ASSERT_TRUE(one.GetDataDelay(pair.data(), 1, 2));
    EXPECT_EQ(pair, single.delays);

    SofaFixture asFloat;
    asFloat.setType("Data.Delay", ValueType::Float);
    sofa::File floats(write(asFloat));
    EXPECT_FALSE(floats.GetDataDelay(pair.data(), 1, 2));
}

TEST_F(SofaRead, SourcePositionTypeAndUnits)
{
    {
        sofa::File file(write(SofaFixture()));
        sofa::CoordinateType type = sofa::UnknownCoordinates;
        sofa::UnitsType units = sofa::UnknownUnits;
        EXPECT_TRUE(file.GetSourcePosition(type, units));
        EXPECT_EQ(type, sofa::Spherical);
        EXPECT_EQ(units, sofa::SphericalUnits);
    }
    {
        SofaFixture f;
        f.cartesianSources();
        f.sourceUnits = "Meters";
        sofa::File file(write(f));
        sofa::CoordinateType type = sofa::UnknownCoordinates;
        sofa::UnitsType units = sofa::UnknownUnits;
        EXPECT_TRUE(file.GetSourcePosition(type, units));
        EXPECT_EQ(type, sofa::Cartesian);
        EXPECT_EQ(units, sofa::Metre);
    }
    for (const char* badType : {"Cartesian", "spherical "})
    {
        SCOPED_TRACE(badType);
        SofaFixture f;
        f.sourceType = badType;
        sofa::File file(write(f));
        sofa::CoordinateType type = sofa::UnknownCoordinates;
        sofa::UnitsType units = sofa::Kelvin;
        EXPECT_FALSE(file.GetSourcePosition(type, units));
        EXPECT_EQ(type, sofa::UnknownCoordinates);
        EXPECT_EQ(units, sofa::Kelvin);
    }
}

TEST_F(SofaRead, SourcePositionValues)
{
    SofaFixture f;
    f.M = 3;
    f.sourcePositions = {{10, 20, 1.5}, {30, -40, 2.0}, {350, 90, 1.0}};
    sofa::File file(write(f));
    std::vector<std::size_t> dims = {99};
    file.GetVariableDimensions(dims, "SourcePosition");
    EXPECT_EQ(dims, (std::vector<std::size_t>{3, 3}));
    std::vector<double> values(9, kSentinel);
    ASSERT_TRUE(file.GetSourcePosition(values.data(), 3, 3));
    EXPECT_EQ(values, (std::vector<double>{10, 20, 1.5, 30, -40, 2.0, 350, 90, 1.0}));

    std::vector<double> untouched(32, kSentinel);
    EXPECT_FALSE(file.GetSourcePosition(untouched.data(), 1, 3));
    EXPECT_FALSE(file.GetSourcePosition(untouched.data(), 3, 4));
    EXPECT_FALSE(file.GetSourcePosition(untouched.data(), 9, 1));
    EXPECT_FALSE(file.GetSourcePosition(nullptr, 3, 3));
    EXPECT_EQ(untouched, std::vector<double>(32, kSentinel));
}

TEST_F(SofaRead, SourcePositionSingleRowAndThreeDimensions)
{
    {
        SofaFixture f;
        f.singleSourcePosition();
        f.sourcePositions = {{90, 0, 1}};
        sofa::File file(write(f));
        std::vector<std::size_t> dims;
        file.GetVariableDimensions(dims, "SourcePosition");
        EXPECT_EQ(dims, (std::vector<std::size_t>{1, 3}));
        std::vector<double> values(3, kSentinel);
        ASSERT_TRUE(file.GetSourcePosition(values.data(), 1, 3));
        EXPECT_EQ(values, (std::vector<double>{90, 0, 1}));
    }
    {
        SofaFixture f;
        f.setShape("SourcePosition", {"M", "C", "I"});
        sofa::File file(write(f));
        std::vector<double> values(12, kSentinel);
        EXPECT_FALSE(file.GetSourcePosition(values.data(), 4, 3));
        EXPECT_EQ(values, std::vector<double>(12, kSentinel));
    }
}

TEST_F(SofaRead, VariableDimensions)
{
    sofa::File file(write(SofaFixture()));
    std::vector<std::size_t> dims;
    file.GetVariableDimensions(dims, "Data.IR");
    EXPECT_EQ(dims, (std::vector<std::size_t>{4, 2, 8}));
    file.GetVariableDimensions(dims, "ReceiverPosition");
    EXPECT_EQ(dims, (std::vector<std::size_t>{2, 3, 1}));
    file.GetVariableDimensions(dims, "data.ir");
    EXPECT_TRUE(dims.empty());
}

TEST_F(SofaRead, TextValuesAreTheStoredCharacters)
{
    SofaFixture f;
    f.setText("Comment", std::string("a\0b\0", 4));
    f.setString("History", "kept elsewhere");
    f.setNumber("Origin", 2.0);
    f.setText("References", "");
    AttributeProbe file(write(f));
    EXPECT_EQ(file.GetAttributeText("Comment"), std::string("a\0b\0", 4));
    EXPECT_EQ(file.GetAttributeText("Conventions"), "SOFA");
    EXPECT_EQ(file.GetAttributeText("History"), "");
    EXPECT_EQ(file.GetAttributeText("Origin"), "");
    EXPECT_EQ(file.GetAttributeText("References"), "");
    EXPECT_EQ(file.GetAttributeText("conventions"), "");
    EXPECT_EQ(file.GetAttributeText("Absent"), "");
    EXPECT_TRUE(file.HasAttribute(sofa::kHistory));
    EXPECT_TRUE(file.HasAttribute(sofa::kOrigin));
    EXPECT_FALSE(file.HasAttribute(sofa::kRoomLocation));
}

TEST_F(SofaRead, OpenFailuresRaiseTheNetCDFException)
{
    EXPECT_THROW(sofa::File(dir.file("absent.sofa")), netCDF::exceptions::NcException);
    const std::string text = dir.file("text.sofa");
    std::ofstream(text) << "not a netCDF file\n";
    EXPECT_THROW(sofa::SimpleFreeFieldHRIR{text}, netCDF::exceptions::NcException);
}

TEST(SofaVocabulary, AttributeNames)
{
    EXPECT_EQ(sofa::AttributeName(sofa::kConventions), "Conventions");
    EXPECT_EQ(sofa::AttributeName(sofa::kSOFAConventionsVersion), "SOFAConventionsVersion");
    EXPECT_EQ(sofa::AttributeName(sofa::kLicense), "License");
    EXPECT_EQ(sofa::AttributeName(sofa::kApplicationName), "ApplicationName");
    EXPECT_EQ(sofa::AttributeName(sofa::kListenerShortName), "ListenerShortName");
    EXPECT_EQ(sofa::AttributeName(sofa::kEmitterDescription), "EmitterDescription");
    EXPECT_EQ(sofa::AttributeName(sofa::kNumAttributeTypes), "");
}

TEST(SofaVocabulary, Units)
{
    const std::vector<std::pair<std::string, sofa::UnitsType>> table = {
        {"metre", sofa::Metre},
        {"METRES", sofa::Metre},
        {"Meter", sofa::Metre},
        {"meters", sofa::Metre},
        {"cubic metres", sofa::CubicMetre},
        {"Cubic Meter", sofa::CubicMetre},
        {"hertz", sofa::Hertz},
        {"HeRtZ", sofa::Hertz},
        {"samples", sofa::Samples},
        {"kelvin", sofa::Kelvin},
        {"Degrees Kelvin", sofa::Kelvin},
        {"degree kelvin", sofa::Kelvin},
        {"", sofa::UnknownUnits},
        {"Hz", sofa::UnknownUnits},
        {"m", sofa::UnknownUnits},
        {"metre ", sofa::UnknownUnits},
        {std::string("hertz\0", 6), sofa::UnknownUnits},
        {"degree, degrees, metre", sofa::UnknownUnits},
        {"degree; degree; metre", sofa::UnknownUnits},
        {"degree , degree , metre", sofa::UnknownUnits},
        {"degree, degree", sofa::UnknownUnits},
        {"degree,degree, metre", sofa::UnknownUnits},
    };
    for (const auto& [text, units] : table)
        EXPECT_EQ(sofa::ParseUnits(text), units) << '"' << text << '"';

    for (const char* degree : {"degree", "degrees", "DEGREES"})
        for (const char* separator : {", ", ",", " "})
            for (const char* metre : {"meter", "metre", "metres", "Meters"})
            {
                const std::string text = std::string(degree) + separator + degree + separator + metre;
                EXPECT_EQ(sofa::ParseUnits(text), sofa::SphericalUnits) << text;
            }
}

TEST(SofaVocabulary, CoordinateTypes)
{
    EXPECT_EQ(sofa::ParseCoordinateType("cartesian"), sofa::Cartesian);
    EXPECT_EQ(sofa::ParseCoordinateType("spherical"), sofa::Spherical);
    EXPECT_EQ(sofa::ParseCoordinateType("Cartesian"), sofa::UnknownCoordinates);
    EXPECT_EQ(sofa::ParseCoordinateType("SPHERICAL"), sofa::UnknownCoordinates);
    EXPECT_EQ(sofa::ParseCoordinateType(std::string("cartesian\0", 10)), sofa::UnknownCoordinates);
    EXPECT_EQ(sofa::ParseCoordinateType(""), sofa::UnknownCoordinates);
}

} // namespace
