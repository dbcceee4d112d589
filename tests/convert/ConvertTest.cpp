#include "convert/ConvertSofaFile.h"
#include "convert/Treatment.h"
#include "fixtures/CapturingSink.h"
#include "fixtures/Files.h"
#include "fixtures/SofaFixture.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

namespace
{
using fixture::exists;
using fixture::readFile;

std::vector<std::string> headerLines(const std::string& path)
{
    const std::string text = readFile(path + ".txt");
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "every line ends in CR LF";
    return lines;
}

std::vector<float> readData(const std::string& path)
{
    const std::string bytes = readFile(path);
    std::vector<float> values(bytes.size() / 4);
    for (std::size_t i = 0; i < values.size(); ++i)
    {
        std::uint32_t word = 0;
        for (int b = 0; b < 4; ++b)
            word = (word << 8) | static_cast<unsigned char>(bytes[i * 4 + static_cast<std::size_t>(b)]);
        std::memcpy(&values[i], &word, 4);
    }
    return values;
}

// Four measurements on the horizontal ring, each with its own impulse response.
fixture::SofaFixture ringFixture(int N)
{
    fixture::SofaFixture f;
    f.M = 4;
    f.N = N;
    f.sourcePositions = { { 0, 0, 1.5 }, { 90, 0, 1.5 }, { 180, 0, 1.5 }, { 270, 0, 1.5 } };
    f.ir.resize(static_cast<std::size_t>(4 * 2 * N));
    for (int m = 0; m < 4; ++m)
        for (int r = 0; r < 2; ++r)
            for (int n = 0; n < N; ++n)
                f.ir[static_cast<std::size_t>((m * 2 + r) * N + n)] = std::sin(0.3 * n + m + 0.5 * r) / (1 + n);
    return f;
}

constexpr int kNone = toProcOption(Treatment::none);
constexpr int kCrop = toProcOption(Treatment::crop);
constexpr int kMinPhase = toProcOption(Treatment::minimumPhase);
constexpr int kThreshold = kDefaultCropThresholdDb;

struct Converted
{
    bool result = false;
    std::string messages;
    std::string outPath;
};

Converted convert(const fixture::TempDir& dir, const fixture::SofaFixture& f, int procOption, int cropThresh = kThreshold,
                  const std::string& name = "set")
{
    const std::string sofaPath = dir.file(name + ".sofa");
    fixture::writeSofa(sofaPath, f);
    fixture::CapturingSink sink;
    Converted c;
    c.outPath = dir.file(name);
    c.result = convertSofaFile(sink, sofaPath, c.outPath, procOption, cropThresh);
    c.messages = sink.text;
    return c;
}
} // namespace

TEST(ConvertSofaFile, ReportsEveryStepAndWritesTheSet)
{
    fixture::TempDir dir;
    const Converted c = convert(dir, ringFixture(8), kNone);
    ASSERT_TRUE(c.result) << c.messages;
    const std::string head = "==========\nSOFA filename: " + dir.file("set.sofa") + "\n"
                             "sampling rate: 48000\n"
                             "number of measurements: 4\n"
                             "number of receivers: 2\n"
                             "number of samples per measurement: 8\n"
                             "average angular spacing: 0 degrees\n"
                             "choosing target spacing: 5 degrees\n"
                             "1 target elevs: 0 to 0\n"
                             "largest error 0.765367 (43.9 deg) at targetIndex 63\n"
                             "TN (el 0 az 315) <=> SOFA (el 0 az 270)\n"
                             "average error 0.387617 (22.2 deg)\n";
    EXPECT_EQ(c.messages.substr(0, head.size()), head);
    const std::string tail = "sucessfully wrote TN file: " + c.outPath + "\n";
    ASSERT_GE(c.messages.size(), tail.size());
    EXPECT_EQ(c.messages.substr(c.messages.size() - tail.size()), tail);

    const auto lines = headerLines(c.outPath);
    const std::vector<std::string> expected = { "% fs n_elevs n_hrtfs flags num_b_coeff num_a_coeff",
                                                "% flags:",
                                                "48000 1 72 0 8 0",
                                                "% elevs(1,:)",
                                                "0",
                                                "% elevs(2,:)",
                                                "72" };
    EXPECT_EQ(lines, expected);

    // Targets at 0, 90, 180 and 270 degrees hold measurements 0 to 3, as 32-bit floats.
    const fixture::SofaFixture f = ringFixture(8);
    const std::vector<float> data = readData(c.outPath);
    ASSERT_EQ(data.size(), 72u * 16u);
    for (int m = 0; m < 4; ++m)
    {
        const std::size_t target = static_cast<std::size_t>(m) * 18;
        for (int r = 0; r < 2; ++r)
            for (int n = 0; n < 8; ++n)
                EXPECT_EQ(data[target * 16 + static_cast<std::size_t>(r * 8 + n)],
                          static_cast<float>(f.ir[static_cast<std::size_t>((m * 2 + r) * 8 + n)]));
    }
}

TEST(ConvertSofaFile, TreatmentDecidesLengthAndFlags)
{
    struct Case
    {
        int N, procOption;
        const char* row;
        bool itds;
    };
    const Case cases[] = {
        { 200, kNone, "48000 1 72 0 200 0", false },    { 200, kCrop, "48000 1 72 2 200 0", true },
        { 200, kMinPhase, "48000 1 72 2 256 0", true }, { 256, kMinPhase, "48000 1 72 2 256 0", true },
        { 1, kMinPhase, "48000 1 72 2 1 0", true },     { 2, kMinPhase, "48000 1 72 2 2 0", true },
        { 3, kMinPhase, "48000 1 72 2 4 0", true },     { 200, 3, "48000 1 72 0 200 0", false },
        { 200, -1, "48000 1 72 0 200 0", false },
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "N " << c.N << " option " << c.procOption);
        fixture::TempDir dir;
        const Converted out = convert(dir, ringFixture(c.N), c.procOption);
        ASSERT_TRUE(out.result) << out.messages;
        const auto lines = headerLines(out.outPath);
        ASSERT_GE(lines.size(), 7u);
        EXPECT_EQ(lines[2], c.row);
        EXPECT_EQ(lines[1], c.itds ? "% flags: ITD_extracted" : "% flags:");
        EXPECT_EQ(lines.size(), c.itds ? 7u + 1u + 72u : 7u);
        for (std::size_t i = 8; i < lines.size(); ++i)
            EXPECT_TRUE(std::isfinite(std::stod(lines[i]))) << lines[i];
        const int length = std::stoi(lines[2].substr(lines[2].rfind(' ', lines[2].size() - 3) + 1));
        EXPECT_EQ(readFile(out.outPath).size(), 4u * 72u * 2u * static_cast<std::size_t>(length));
    }
}

TEST(ConvertSofaFile, UnknownOptionAndThresholdSignChangeNothing)
{
    fixture::TempDir dir;
    const fixture::SofaFixture f = ringFixture(64);
    const Converted none = convert(dir, f, kNone, kThreshold, "none");
    const Converted three = convert(dir, f, 3, kThreshold, "three");
    EXPECT_TRUE(readFile(none.outPath) == readFile(three.outPath));
    EXPECT_EQ(readFile(none.outPath + ".txt"), readFile(three.outPath + ".txt"));

    // Give every response a leading delay so that cropping changes something.
    fixture::SofaFixture delayed = f;
    for (std::size_t i = 0; i < delayed.ir.size(); ++i)
        delayed.ir[i] = i % 64 < 10 ? 0.0 : f.ir[i - 10];
    const Converted plus = convert(dir, delayed, kCrop, kThreshold, "plus");
    const Converted minus = convert(dir, delayed, kCrop, -kThreshold, "minus");
    EXPECT_TRUE(readFile(plus.outPath) == readFile(minus.outPath));
    EXPECT_EQ(readFile(plus.outPath + ".txt"), readFile(minus.outPath + ".txt"));
    const Converted uncropped = convert(dir, delayed, kNone, kThreshold, "uncropped");
    EXPECT_FALSE(readFile(plus.outPath) == readFile(uncropped.outPath));
}

TEST(ConvertSofaFile, FractionalSamplingRateIsTruncated)
{
    fixture::TempDir dir;
    fixture::SofaFixture f = ringFixture(16);
    f.samplingRate = 48000.7;
    const Converted c = convert(dir, f, kMinPhase);
    ASSERT_TRUE(c.result);
    EXPECT_NE(c.messages.find("sampling rate: 48000.7\n"), std::string::npos);
    EXPECT_EQ(headerLines(c.outPath)[2], "48000 1 72 2 16 0");
}

TEST(ConvertSofaFile, CropCarriesTheOnsetDifferenceAsItd)
{
    fixture::TempDir dir;
    fixture::SofaFixture f = ringFixture(32);
    std::fill(f.ir.begin(), f.ir.end(), 0.0);
    for (int m = 0; m < 4; ++m)
    {
        f.ir[static_cast<std::size_t>((m * 2 + 0) * 32 + 8)] = 1.0; // left ear 3 samples later
        f.ir[static_cast<std::size_t>((m * 2 + 1) * 32 + 5)] = -0.5;
    }
    const Converted c = convert(dir, f, kCrop);
    ASSERT_TRUE(c.result);
    const auto lines = headerLines(c.outPath);
    ASSERT_EQ(lines.size(), 80u);
    EXPECT_EQ(lines[7], "%  ITDs(1...n_hrtf)");
    for (std::size_t i = 8; i < lines.size(); ++i)
        EXPECT_EQ(lines[i], "3.000000");
    const std::vector<float> data = readData(c.outPath);
    // One sample before the onset stays: the impulse lands at sample 1 in both ears.
    EXPECT_EQ(data[1], 1.0f);
    EXPECT_EQ(data[32 + 1], -0.5f);
}

TEST(ConvertSofaFile, SingleSourcePositionServesEveryMeasurement)
{
    fixture::TempDir dir;
    fixture::SofaFixture f = ringFixture(8);
    f.singleSourcePosition();
    f.sourcePositions = { { 90, 0, 1 } };
    const Converted c = convert(dir, f, kNone);
    ASSERT_TRUE(c.result) << c.messages;
    EXPECT_NE(c.messages.find("TN (el 0 az 270) <=> SOFA (el 0 az 90)\n"), std::string::npos) << c.messages;
    // Every target takes measurement 0 (all equally near): its left response.
    const std::vector<float> data = readData(c.outPath);
    EXPECT_EQ(data[0], static_cast<float>(f.ir[0]));
    EXPECT_EQ(data[71 * 16], static_cast<float>(f.ir[0]));
}

TEST(ConvertSofaFile, FailuresEndTheFileWithOneReason)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case
    {
        const char* name;
        std::function<void(fixture::SofaFixture&)> edit;
        const char* lastMessage;
    };
    const Case cases[] = {
        { "one receiver", [](fixture::SofaFixture& f) { f.R = 1; f.ir.clear(); }, "number of samples per measurement: 8\nexpected two receivers\n" },
        { "three receivers", [](fixture::SofaFixture& f) { f.R = 3; f.ir.clear(); }, "number of samples per measurement: 8\nexpected two receivers\n" },
        { "NaN rate", [nan](fixture::SofaFixture& f) { f.samplingRate = nan; }, "invalid sampling rate: nan\n" },
        { "zero rate", [](fixture::SofaFixture& f) { f.samplingRate = 0; }, "invalid sampling rate: 0\n" },
        { "negative rate", [](fixture::SofaFixture& f) { f.samplingRate = -44100; }, "invalid sampling rate: -44100\n" },
        { "huge rate", [](fixture::SofaFixture& f) { f.samplingRate = 1e12; }, "invalid sampling rate: 1e+12\n" },
        { "NaN sample", [nan](fixture::SofaFixture& f) { f.ir[5] = nan; }, "invalid values in Data.IR\n" },
        { "infinite sample", [inf](fixture::SofaFixture& f) { f.ir[17] = -inf; }, "invalid values in Data.IR\n" },
        { "sample beyond float", [](fixture::SofaFixture& f) { f.ir[3] = 1e300; }, "invalid values in Data.IR\n" },
        { "NaN azimuth", [nan](fixture::SofaFixture& f) { f.sourcePositions[2][0] = nan; }, "invalid values in SourcePosition\n" },
        { "NaN elevation", [nan](fixture::SofaFixture& f) { f.sourcePositions[2][1] = nan; },
          "invalid values in SourcePosition: elevation nan at measurement 2\n" },
        { "elevation past the pole", [](fixture::SofaFixture& f) { f.sourcePositions[1][1] = 90.5; },
          "invalid values in SourcePosition: elevation 90.5 at measurement 1\n" },
        { "huge elevation", [](fixture::SofaFixture& f) { f.sourcePositions[3][1] = -1e30; },
          "invalid values in SourcePosition: elevation -1e+30 at measurement 3\n" },
        { "NaN delay", [nan](fixture::SofaFixture& f) { f.delays = { 0, 0, 3, 0, 0, nan, 0, 0 }; f.setShape("Data.Delay", { "M", "R" }); },
          "number of samples per measurement: 8\ninvalid values in Data.Delay: nan at measurement 2\n" },
        { "infinite delay", [inf](fixture::SofaFixture& f) { f.delays = { 0, -inf }; },
          "invalid values in Data.Delay: -inf at measurement 0\n" },
        { "netCDF fill value as delay", [](fixture::SofaFixture& f) { f.delays = { 0, 0, 9.969209968386869e36 }; f.setShape("Data.Delay", { "M", "R" }); },
          "invalid values in Data.Delay: 9.96921e+36 at measurement 1\n" },
        { "delay beyond one second", [](fixture::SofaFixture& f) { f.delays = { 12, 48000.5 }; },
          "invalid values in Data.Delay: 48000.5 at measurement 0\n" },
        { "rule violation", [](fixture::SofaFixture& f) { f.setText("RoomType", "free-field"); }, "Exception occurred: invalid 'RoomType'\n" },
        { "per-measurement rate", [](fixture::SofaFixture& f) { f.samplingRatePerMeasurement = true; },
          "Exception occurred: 'Data.SamplingRate' is not a scalar\n" },
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        fixture::TempDir dir;
        fixture::SofaFixture f = ringFixture(8);
        c.edit(f);
        testing::internal::CaptureStderr();
        const Converted out = convert(dir, f, kMinPhase);
        testing::internal::GetCapturedStderr();
        EXPECT_FALSE(out.result);
        const std::string last = c.lastMessage;
        ASSERT_GE(out.messages.size(), last.size()) << out.messages;
        EXPECT_EQ(out.messages.substr(out.messages.size() - last.size()), last) << out.messages;
        EXPECT_FALSE(exists(out.outPath));
        EXPECT_FALSE(exists(out.outPath + ".txt"));
    }
}

TEST(ConvertSofaFile, NotANetcdfFileIsAnException)
{
    fixture::TempDir dir;
    const std::string path = dir.file("text.sofa");
    std::ofstream(path) << "this is not netCDF\n";
    fixture::CapturingSink sink;
    EXPECT_FALSE(convertSofaFile(sink, path, dir.file("text"), kMinPhase, kThreshold));
    const std::string head = "==========\nSOFA filename: " + path + "\nException occurred: ";
    EXPECT_EQ(sink.text.substr(0, head.size()), head);
    EXPECT_EQ(sink.text.back(), '\n');
}

TEST(ConvertSofaFile, FailedWriteIsReportedButNotAFailure)
{
    fixture::TempDir dir;
    const std::string sofaPath = dir.file("set.sofa");
    fixture::writeSofa(sofaPath, ringFixture(8));
    fixture::CapturingSink sink;
    const std::string outPath = dir.file("missing/set");
    bool written = true;
    EXPECT_TRUE(convertSofaFile(sink, sofaPath, outPath, kNone, kThreshold, {}, &written));
    EXPECT_FALSE(written);
    const std::string tail = "error writing HRTF file: Can't create HRTF data file " + outPath + "\n\n";
    ASSERT_GE(sink.text.size(), tail.size());
    EXPECT_EQ(sink.text.substr(sink.text.size() - tail.size()), tail);
}

TEST(ConvertSofaFile, AbandonedConversionWritesNothing)
{
    fixture::TempDir dir;
    const std::string sofaPath = dir.file("set.sofa");
    fixture::writeSofa(sofaPath, ringFixture(8));
    for (int allowedChecks : { 0, 1, 2, 5, 40 })
    {
        fixture::CapturingSink sink;
        int checks = 0;
        const std::string outPath = dir.file("out" + std::to_string(allowedChecks));
        EXPECT_FALSE(convertSofaFile(sink, sofaPath, outPath, kMinPhase, kThreshold, [&] { return checks++ >= allowedChecks; }));
        EXPECT_FALSE(exists(outPath));
        EXPECT_FALSE(exists(outPath + ".txt"));
        EXPECT_EQ(sink.text.find("sucessfully"), std::string::npos);
    }
}

TEST(ConvertSofaFile, LowSamplingRateGivesFiniteItds)
{
    fixture::TempDir dir;
    for (double rate : { 4000.0, 2000.0, 1.0 })
    {
        fixture::SofaFixture f = ringFixture(16);
        f.samplingRate = rate;
        const Converted c = convert(dir, f, kMinPhase, kThreshold, "low" + std::to_string(static_cast<int>(rate)));
        ASSERT_TRUE(c.result) << c.messages;
        const auto lines = headerLines(c.outPath);
        ASSERT_EQ(lines.size(), 80u);
        for (std::size_t i = 8; i < lines.size(); ++i)
            EXPECT_TRUE(std::isfinite(std::stod(lines[i]))) << rate << ": " << lines[i];
    }
}

namespace
{
// Four measurements on the horizontal ring (azimuth 0, 90, 180, 270); each ear
// has its own short response from a known onset. From azimuth 90 (the left)
// the sound reaches the left ear 27 samples before the right one.
constexpr int kOnsetSamples = 256;
constexpr int kOnsets[4][2] = { { 20, 20 }, { 10, 37 }, { 21, 19 }, { 37, 10 } };
constexpr std::size_t kTargetLeft = 18;   // azimuth 90 on the 72-azimuth ring
constexpr std::size_t kTargetRight = 54;  // azimuth 270

fixture::SofaFixture onsetFixture()
{
    fixture::SofaFixture f = ringFixture(kOnsetSamples);
    std::fill(f.ir.begin(), f.ir.end(), 0.0);
    const double shapes[2][5] = { { 0.3, 1.0, -0.6, 0.25, -0.1 }, { 0.2, 0.5, 0.4, -0.2, 0.05 } };
    for (int m = 0; m < 4; ++m)
        for (int r = 0; r < 2; ++r)
            for (int j = 0; j < 5; ++j)
                f.ir[static_cast<std::size_t>((m * 2 + r) * kOnsetSamples + kOnsets[m][r] + j)] =
                    shapes[r][j] * (1.0 + 0.1 * m);
    return f;
}

// The ITD lines of a set's header, one per HRTF.
std::vector<std::string> itdLines(const std::string& outPath)
{
    const auto lines = headerLines(outPath);
    EXPECT_EQ(lines.size(), 8u + 72u);
    return lines.size() < 8 ? std::vector<std::string>() : std::vector<std::string>(lines.begin() + 8, lines.end());
}

std::vector<double> itdValues(const std::string& outPath)
{
    std::vector<double> values;
    for (const std::string& line : itdLines(outPath))
        values.push_back(std::stod(line));
    return values;
}

// The message right after the mapping report (its "average error" line).
std::string lineAfterMapping(const std::string& messages)
{
    const std::size_t report = messages.find("average error ");
    const std::size_t start = report == std::string::npos ? std::string::npos : messages.find('\n', report);
    if (start == std::string::npos)
        return std::string();
    const std::size_t end = messages.find('\n', start + 1);
    return end == std::string::npos ? std::string() : messages.substr(start + 1, end - start);
}

// The quality checks' warning lines.
std::string warnings(const std::string& messages)
{
    std::string lines;
    for (std::size_t start = 0; (start = messages.find("warning: ", start)) != std::string::npos;)
    {
        const std::size_t end = messages.find('\n', start);
        lines += messages.substr(start, end - start + 1);
        start = end;
    }
    return lines;
}
} // namespace

TEST(ConvertSofaFile, DelayFreeTwinGivesTheSameSet)
{
    fixture::TempDir dir;
    const fixture::SofaFixture plain = onsetFixture();
    const fixture::SofaFixture twin = fixture::delayFreeTwin(plain);
    ASSERT_EQ(twin.delays, (std::vector<double>{ 20, 20, 10, 37, 21, 19, 37, 10 }));

    // Crop: the onsets found plus the delays stored give the same ITDs exactly.
    const Converted plainCrop = convert(dir, plain, 1, 20, "plain-crop");
    const Converted twinCrop = convert(dir, twin, 1, 20, "twin-crop");
    ASSERT_TRUE(plainCrop.result && twinCrop.result) << twinCrop.messages;
    EXPECT_EQ(plainCrop.messages.find("Data.Delay"), std::string::npos);
    EXPECT_EQ(lineAfterMapping(twinCrop.messages), "Data.Delay applied: 10 to 37 samples, added to the ITDs\n");
    EXPECT_EQ(itdLines(twinCrop.outPath), itdLines(plainCrop.outPath));
    EXPECT_EQ(warnings(twinCrop.messages), warnings(plainCrop.messages));  // the checks see the same ITDs
    EXPECT_EQ(itdLines(twinCrop.outPath)[kTargetLeft], "-27.000000");
    EXPECT_EQ(itdLines(twinCrop.outPath)[kTargetRight], "27.000000");

    // Minimum phase: the responses have the same magnitudes, so the same
    // minimum-phase versions; the estimate sees the onsets only in the plain
    // set. They agree to the transforms' rounding: within 1e-4 samples for the
    // ITDs (2e-5 seen), 1e-6 for the responses (7.5e-8 seen).
    const Converted plainMin = convert(dir, plain, 2, 20, "plain-min");
    const Converted twinMin = convert(dir, twin, 2, 20, "twin-min");
    ASSERT_TRUE(plainMin.result && twinMin.result) << twinMin.messages;
    EXPECT_EQ(lineAfterMapping(twinMin.messages), "Data.Delay applied: 10 to 37 samples, added to the ITDs\n");
    const std::vector<double> plainItds = itdValues(plainMin.outPath);
    const std::vector<double> twinItds = itdValues(twinMin.outPath);
    ASSERT_EQ(twinItds.size(), plainItds.size());
    for (std::size_t k = 0; k < plainItds.size(); ++k)
        EXPECT_NEAR(twinItds[k], plainItds[k], 1e-4) << "HRTF " << k;
    EXPECT_NEAR(twinItds[kTargetLeft], -27.0, 0.05);
    EXPECT_NEAR(twinItds[kTargetRight], 27.0, 0.05);
    const std::vector<float> plainMinData = readData(plainMin.outPath);
    const std::vector<float> twinMinData = readData(twinMin.outPath);
    ASSERT_EQ(twinMinData.size(), plainMinData.size());
    for (std::size_t i = 0; i < plainMinData.size(); ++i)
        ASSERT_NEAR(twinMinData[i], plainMinData[i], 1e-6) << "value " << i;

    // None: the responses carry the delays, less the smallest (10 samples),
    // and are lengthened by the largest shift (27).
    const Converted plainNone = convert(dir, plain, 0, 20, "plain-none");
    const Converted twinNone = convert(dir, twin, 0, 20, "twin-none");
    ASSERT_TRUE(plainNone.result && twinNone.result) << twinNone.messages;
    EXPECT_EQ(lineAfterMapping(twinNone.messages),
              "Data.Delay applied: 10 to 37 samples, responses shifted by up to 27 samples\n");
    EXPECT_EQ(headerLines(plainNone.outPath)[2], "48000 1 72 0 256 0");
    EXPECT_EQ(headerLines(twinNone.outPath)[2], "48000 1 72 0 283 0");
    const std::vector<float> plainData = readData(plainNone.outPath);
    const std::vector<float> twinData = readData(twinNone.outPath);
    const std::size_t common = 10, plainLength = kOnsetSamples, twinLength = kOnsetSamples + 27;
    ASSERT_EQ(twinData.size(), 72u * 2u * twinLength);
    for (std::size_t response = 0; response < 72u * 2u; ++response)
        for (std::size_t t = 0; t < twinLength; ++t)
        {
            const float expected = t + common < plainLength ? plainData[response * plainLength + t + common] : 0.0f;
            ASSERT_EQ(twinData[response * twinLength + t], expected) << "response " << response << ", sample " << t;
        }
}

TEST(ConvertSofaFile, OneDelayRowFractionalAndNegative)
{
    // One row for every measurement: the left ear 2.5 samples early, the right
    // 4.25 samples late, so every ITD moves by -6.75.
    fixture::TempDir dir;
    const fixture::SofaFixture plain = onsetFixture();
    fixture::SofaFixture shifted = plain;
    shifted.delays = { -2.5, 4.25 };

    for (int procOption : { 1, 2 })
    {
        SCOPED_TRACE(procOption);
        const Converted before = convert(dir, plain, procOption, 20, "before" + std::to_string(procOption));
        const Converted after = convert(dir, shifted, procOption, 20, "after" + std::to_string(procOption));
        ASSERT_TRUE(after.result) << after.messages;
        EXPECT_EQ(lineAfterMapping(after.messages), "Data.Delay applied: -2.5 to 4.25 samples, added to the ITDs\n");
        const std::vector<double> itdsBefore = itdValues(before.outPath);
        const std::vector<double> itdsAfter = itdValues(after.outPath);
        ASSERT_EQ(itdsAfter.size(), itdsBefore.size());
        for (std::size_t k = 0; k < itdsBefore.size(); ++k)
            EXPECT_NEAR(itdsAfter[k], itdsBefore[k] - 6.75, 1e-5) << "HRTF " << k;
        EXPECT_TRUE(readFile(after.outPath) == readFile(before.outPath));  // the responses are untouched
    }

    // None: the right ear starts round(4.25 + 2.5) = 7 samples later.
    const Converted none = convert(dir, shifted, 0, 20, "none");
    ASSERT_TRUE(none.result) << none.messages;
    EXPECT_EQ(lineAfterMapping(none.messages),
              "Data.Delay applied: -2.5 to 4.25 samples, responses shifted by up to 7 samples\n");
    EXPECT_EQ(headerLines(none.outPath)[2], "48000 1 72 0 263 0");
    const std::vector<float> data = readData(none.outPath);
    const std::size_t length = kOnsetSamples + 7;
    ASSERT_EQ(data.size(), 72u * 2u * length);
    for (std::size_t m = 0; m < 4; ++m)
    {
        const std::size_t target = m * 18;
        for (std::size_t n = 0; n < length; ++n)
        {
            const auto source = [&](std::size_t r, std::size_t shift) {
                return n >= shift && n - shift < kOnsetSamples
                           ? static_cast<float>(plain.ir[(m * 2 + r) * kOnsetSamples + n - shift])
                           : 0.0f;
            };
            ASSERT_EQ(data[(target * 2 + 0) * length + n], source(0, 0)) << "measurement " << m << ", sample " << n;
            ASSERT_EQ(data[(target * 2 + 1) * length + n], source(1, 7)) << "measurement " << m << ", sample " << n;
        }
    }
}

TEST(ConvertSofaFile, LengthenedResponsesMeetTheSetSizeGuard)
{
    // At 2 MHz a delay of one second lengthens 72 pairs past the set's limit;
    // with an ITD slot nothing is lengthened.
    fixture::TempDir dir;
    fixture::SofaFixture f = ringFixture(8);
    f.samplingRate = 2e6;
    f.delays = { 0, 2e6 };
    const Converted none = convert(dir, f, 0, 20, "none");
    EXPECT_FALSE(none.result);
    const std::string refusal = "1 target elevs: 0 to 0\nHRTF set too large: 72 positions of 2000008 samples\n";
    ASSERT_GE(none.messages.size(), refusal.size()) << none.messages;
    EXPECT_EQ(none.messages.substr(none.messages.size() - refusal.size()), refusal);
    const Converted crop = convert(dir, f, 1, 20, "crop");
    ASSERT_TRUE(crop.result) << crop.messages;
    EXPECT_EQ(headerLines(crop.outPath)[2], "2000000 1 72 2 8 0");
}

TEST(ConvertSofaFile, ZeroDelaysChangeNothing)
{
    // Delays of either shape that are all zero (-0 included) give the set and
    // the messages of the default file, for every treatment.
    fixture::TempDir dir;
    fixture::SofaFixture perMeasurement = ringFixture(64);
    perMeasurement.delays = { 0.0, -0.0 };
    perMeasurement.setShape("Data.Delay", { "M", "R" });
    for (int procOption : { 0, 1, 2 })
    {
        SCOPED_TRACE(procOption);
        const Converted plain = convert(dir, ringFixture(64), procOption, 20, "plain");
        const Converted zeros = convert(dir, perMeasurement, procOption, 20, "zeros");
        ASSERT_TRUE(zeros.result) << zeros.messages;
        EXPECT_EQ(zeros.messages.find("Data.Delay"), std::string::npos);
        EXPECT_TRUE(readFile(zeros.outPath) == readFile(plain.outPath));
        EXPECT_EQ(readFile(zeros.outPath + ".txt"), readFile(plain.outPath + ".txt"));
    }
}

TEST(ConvertSofaFile, ElevationsWithinARoundingOfThePolesKeepTheirGrid)
{
    const auto positions = [](double low, double high) {
        fixture::SofaFixture f = ringFixture(8);
        f.sourcePositions = { { 0, low, 1 }, { 0, high, 1 }, { 0, 0, 1 }, { 180, 0, 1 } };
        return f;
    };
    fixture::TempDir dir;
    const Converted poles = convert(dir, positions(-90, 90), 2, 20, "poles");
    ASSERT_TRUE(poles.result) << poles.messages;
    const std::string grid = "7 target elevs: -90 to 90\n";
    EXPECT_NE(poles.messages.find(grid), std::string::npos) << poles.messages;
    const std::pair<double, double> cases[] = { { -90.0000076, 90.0000076 }, { -90.01, 90.01 } };
    for (const auto& [low, high] : cases)
    {
        SCOPED_TRACE(low);
        const Converted near = convert(dir, positions(low, high), 2, 20, "near");
        ASSERT_TRUE(near.result) << near.messages;
        const auto afterName = [](const std::string& text) { return text.substr(text.find("sampling rate:")); };
        // The grid's lines; the mapping errors differ by the 0.01 degrees.
        const auto gridLines = [](const std::string& text) { return text.substr(0, text.find("largest error")); };
        EXPECT_EQ(gridLines(afterName(near.messages)), gridLines(afterName(poles.messages)));
        EXPECT_TRUE(readFile(near.outPath) == readFile(poles.outPath));
        EXPECT_EQ(readFile(near.outPath + ".txt"), readFile(poles.outPath + ".txt"));
    }
}
