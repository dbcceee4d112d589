// The converter's warnings and report files, on fixtures built to show each
// fault and on the real measured sets.

#include "SwapReceivers.h"

#include "convert/ConvertSofaFile.h"
#include "convert/Treatment.h"
#include "fixtures/CapturingSink.h"
#include "fixtures/Files.h"
#include "fixtures/SofaFixture.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

namespace
{
using fixture::exists;
using fixture::readFile;

struct Outcome
{
    bool ok = false;
    bool written = false;
    std::string messages;
};

Outcome convert(const std::string& sofa, const std::string& out, Treatment treatment, bool report = false)
{
    fixture::CapturingSink sink;
    ConversionOptions options;
    options.writeReport = report;
    Outcome run;
    run.ok = convertSofaFile(sink, sofa, out, toProcOption(treatment), kDefaultCropThresholdDb, options, {},
                             &run.written);
    run.messages = sink.text;
    return run;
}

std::vector<std::string> warningLines(const std::string& messages)
{
    std::vector<std::string> lines;
    for (std::size_t at = 0; (at = messages.find("warning: ", at)) != std::string::npos;)
    {
        const std::size_t end = messages.find('\n', at);
        lines.push_back(messages.substr(at, end - at));
        at = end;
    }
    return lines;
}

// Warnings sit between the mapping report and the success line, whole lines.
void expectWarningsPlaced(const std::string& messages)
{
    const std::size_t first = messages.find("warning: ");
    if (first == std::string::npos)
        return;
    EXPECT_EQ(messages[first - 1], '\n');
    EXPECT_LT(messages.find("average error "), first);
    EXPECT_GT(messages.find("sucessfully wrote TN file: "), messages.rfind("warning: "));
}

std::string sharedSet(const std::string& name)
{
    return std::string(QUILLON_SHARED_SOFA_DIR) + "/" + name + ".sofa";
}

TEST(ReportConvert, SharedSetsCleanAndTheirSwappedCopiesCaught)
{
    struct Case
    {
        const char* set;
        Treatment treatment;
        std::vector<std::string> codes;  // warnings of the set as measured
    };
    const Case cases[] = {
        { "MIT_KEMAR_normal_pinna", Treatment::none, {} },
        { "MIT_KEMAR_normal_pinna", Treatment::crop, {} },
        { "MIT_KEMAR_normal_pinna", Treatment::minimumPhase, {} },
        { "LISTEN_1002_IRC_1002_C_HRIR", Treatment::none, {} },
        // Its far ear carries noise 15 dB below its peak ahead of the arrival,
        // where cropping at 20 dB finds the onset: ITDs that jump by a millisecond.
        { "LISTEN_1002_IRC_1002_C_HRIR", Treatment::crop, { "itd-implausible" } },
        { "LISTEN_1002_IRC_1002_C_HRIR", Treatment::minimumPhase, {} },
    };
    fixture::TempDir dir;
    for (const Case& c : cases)
    {
        const std::string label = std::string(c.set) + " " + treatmentName(c.treatment);
        const std::string swapped = dir.file(std::string(c.set) + ".swapped.sofa");
        if (!exists(swapped))
            fixture::writeWithReceiversSwapped(sharedSet(c.set), swapped);

        const Outcome measured = convert(sharedSet(c.set), dir.file("measured"), c.treatment);
        ASSERT_TRUE(measured.ok && measured.written) << label << "\n" << measured.messages;
        std::vector<std::string> codes;
        for (const std::string& line : warningLines(measured.messages))
            codes.push_back(line.substr(9, line.find(':', 9) - 9));
        EXPECT_EQ(codes, c.codes) << label << "\n" << measured.messages;
        expectWarningsPlaced(measured.messages);

        const Outcome exchanged = convert(swapped, dir.file("swapped"), c.treatment);
        ASSERT_TRUE(exchanged.ok && exchanged.written) << label << "\n" << exchanged.messages;
        const std::vector<std::string> lines = warningLines(exchanged.messages);
        ASSERT_FALSE(lines.empty()) << label;
        EXPECT_EQ(lines[0].rfind("warning: receivers-swapped: the far ear hears first: ", 0), 0u) << lines[0];
        EXPECT_NE(lines[0].find(c.treatment == Treatment::none ? "onset difference" : "ITD sign"), std::string::npos)
            << lines[0];
        expectWarningsPlaced(exchanged.messages);
    }
}

TEST(ReportConvert, ReportOffChangesNothingAndOnAddsOneLine)
{
    fixture::TempDir dir;
    const std::string sofa = sharedSet("MIT_KEMAR_normal_pinna");
    for (Treatment treatment : kAllTreatments)
    {
        fixture::CapturingSink plainSink;
        bool plainWritten = false;
        ASSERT_TRUE(convertSofaFile(plainSink, sofa, dir.file("plain"), toProcOption(treatment),
                                    kDefaultCropThresholdDb, {}, &plainWritten));
        const Outcome off = convert(sofa, dir.file("off"), treatment, false);
        const Outcome on = convert(sofa, dir.file("on"), treatment, true);
        ASSERT_TRUE(off.ok && on.ok && on.written);

        const auto renamed = [](std::string text, const std::string& from, const std::string& to) {
            for (std::size_t at; (at = text.find(from)) != std::string::npos;)
                text.replace(at, from.size(), to);
            return text;
        };
        EXPECT_EQ(renamed(off.messages, dir.file("off"), dir.file("plain")), plainSink.text);
        EXPECT_EQ(renamed(on.messages, dir.file("on"), dir.file("off")),
                  off.messages + "wrote report: " + dir.file("off") + ".report.html\n");
        for (const char* suffix : { "", ".txt" })
        {
            EXPECT_EQ(readFile(dir.file("off") + suffix), readFile(dir.file("plain") + suffix));
            EXPECT_EQ(readFile(dir.file("on") + suffix), readFile(dir.file("plain") + suffix));
        }
        EXPECT_FALSE(exists(dir.file("off.report.json")) || exists(dir.file("off.report.html")));
        EXPECT_TRUE(exists(dir.file("on.report.json")) && exists(dir.file("on.report.html")));
        EXPECT_FALSE(exists(dir.file("on.report.json.part")) || exists(dir.file("on.report.html.part")));
    }
}

TEST(ReportConvert, ReportThatCannotBeWrittenIsReportedAndTheResultStaysTrue)
{
    fixture::TempDir dir;
    // A directory where the page should go: it cannot be replaced.
    ASSERT_EQ(::mkdir(dir.file("set.report.html").c_str(), 0755), 0);
    const Outcome run = convert(sharedSet("MIT_KEMAR_normal_pinna"), dir.file("set"), Treatment::minimumPhase, true);
    EXPECT_TRUE(run.ok && run.written);
    EXPECT_NE(run.messages.find("sucessfully wrote TN file: "), std::string::npos);
    EXPECT_NE(run.messages.find("error writing report: can't replace " + dir.file("set.report.html")),
              std::string::npos)
        << run.messages;
    EXPECT_EQ(run.messages.find("wrote report: "), std::string::npos);
}

// 24 measurements on the horizontal ring, 15 degrees apart (its 72 targets
// 5 degrees apart); an impulse in each ear at sample 10 unless changed.
fixture::SofaFixture ringOfImpulses()
{
    fixture::SofaFixture f;
    f.M = 24;
    f.N = 128;
    f.sourcePositions.clear();
    for (int m = 0; m < f.M; ++m)
        f.sourcePositions.push_back({ m * 15.0, 0.0, 1.2 });
    f.ir.assign(static_cast<std::size_t>(f.M * 2 * f.N), 0.0);
    for (int m = 0; m < f.M; ++m)
        for (int r = 0; r < 2; ++r)
            f.ir[static_cast<std::size_t>((m * 2 + r) * f.N + 10)] = 0.5;
    return f;
}

void setImpulse(fixture::SofaFixture& f, int m, int r, int at, double value)
{
    for (int n = 0; n < f.N; ++n)
        f.ir[static_cast<std::size_t>((m * 2 + r) * f.N + n)] = n == at ? value : 0.0;
}

TEST(ReportConvert, EachWarningFiresOnAFixtureThatShowsIt)
{
    struct Case
    {
        const char* name;
        Treatment treatment;
        fixture::SofaFixture sofa;
        std::string expected;  // the warning line starts with it
    };
    std::vector<Case> cases;
    {
        // Poles and one ring at 60 degrees: the rings at -30 and 0 are 60 degrees from any measurement.
        fixture::SofaFixture f;
        f.M = 38;
        f.N = 16;
        f.sourcePositions = { { 0.0, -90.0, 1.2 }, { 0.0, 90.0, 1.2 } };
        for (int a = 0; a < 36; ++a)
            f.sourcePositions.push_back({ a * 10.0, 60.0, 1.2 });
        cases.push_back({ "lower half unmeasured", Treatment::minimumPhase, f,
                          "warning: coverage-gap: 30 of 46 targets lie farther than 30 degrees from any measurement: "
                          "el -30: 10 of 10 up to 60.0 deg, el 0: 12 of 12 up to 60.0 deg, el 30: 8 of 10 up to 30.1 "
                          "deg\n" });
    }
    {
        // The right ear of the source at azimuth 90 (the left) arrives 60 samples late: 1250 us.
        fixture::SofaFixture f = ringOfImpulses();
        setImpulse(f, 6, 1, 70, 0.5);
        cases.push_back({ "one far-off onset", Treatment::crop, f,
                          "warning: itd-implausible: 3 targets have an ITD beyond 1000 us, no head gives that; the "
                          "largest is -1250 us at el 0 az 85" });
    }
    {
        fixture::SofaFixture f = ringOfImpulses();
        setImpulse(f, 3, 1, 0, 0.0);
        cases.push_back({ "a silent right ear", Treatment::none, f,
                          "warning: response-silent: 3 of 72 targets have an ear whose response is all zeros; the "
                          "first is target 8 (right ear, measurement 3)\n" });
    }
    {
        fixture::SofaFixture f = ringOfImpulses();
        setImpulse(f, 12, 0, 10, 30.0);
        cases.push_back({ "a level in pascal", Treatment::crop, f,
                          "warning: level-high: the largest sample is 30 (29.5 dB above full scale, limit 4) at "
                          "target 35 (measurement 12)" });
    }
    fixture::TempDir dir;
    for (const Case& c : cases)
    {
        const std::string sofa = dir.file("fixture.sofa");
        fixture::writeSofa(sofa, c.sofa);
        const Outcome run = convert(sofa, dir.file("set"), c.treatment);
        EXPECT_TRUE(run.ok && run.written) << c.name << "\n" << run.messages;
        const std::vector<std::string> lines = warningLines(run.messages);
        ASSERT_FALSE(lines.empty()) << c.name << "\n" << run.messages;
        EXPECT_EQ((lines[0] + "\n").rfind(c.expected, 0), 0u) << c.name << "\n" << lines[0];
        expectWarningsPlaced(run.messages);
        for (const std::string& line : lines)
        {
            EXPECT_EQ(line.rfind(c.expected.substr(0, c.expected.find(':', 9) + 1), 0), 0u) << line;
            EXPECT_LE(line.size() + 1, 255u);
        }
    }
}
} // namespace
