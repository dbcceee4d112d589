// Stopping a batch: the window stays responsive, no set is left half-written,
// and the next Convert starts only once the old batch has really ended.

#include "AppTestSupport.h"

#include "fixtures/SofaFixture.h"

#include <netcdf>

#include <unistd.h>

#include <cmath>
#include <vector>

using namespace apptest;

namespace
{

// Responses of any size: the fixture writer leaves a Data.IR of more than a
// million values out, and it is then added here, one measurement at a time.
void writeSofaWithResponses(const std::string& path, int measurements, int samples)
{
    fixture::SofaFixture f;
    f.M = measurements;
    f.N = samples;
    // Positions over the whole sphere, so that the grid gets every ring.
    for (int i = 0; i < measurements; ++i)
    {
        const double elevation = -80.0 + 170.0 * ((i * 37) % measurements) / measurements;
        const double azimuth = std::fmod(i * 137.508, 360.0);
        f.sourcePositions.push_back({ azimuth, elevation, 1.2 });
    }
    fixture::writeSofa(path, f);

    netCDF::NcFile file(path, netCDF::NcFile::write);
    if (!file.getVar("Data.IR").isNull())
        return;
    const auto var = file.addVar("Data.IR", netCDF::ncDouble,
                                 { file.getDim("M"), file.getDim("R"), file.getDim("N") });
    std::vector<double> response(static_cast<std::size_t>(2 * samples));
    for (int m = 0; m < measurements; ++m)
    {
        for (int r = 0; r < 2; ++r)
            for (int n = 0; n < samples; ++n)
            {
                const int delay = 10 + (m + 3 * r) % 20;
                response[static_cast<std::size_t>(r * samples + n)] =
                    n < delay ? 0.0 : std::exp(-0.01 * (n - delay)) * ((n * 7 + m) % 13 - 6) / 6.0;
            }
        var.putVar({ static_cast<std::size_t>(m), 0, 0 },
                   { 1, 2, static_cast<std::size_t>(samples) }, response.data());
    }
}

// Several seconds of minimum-phase work, well beyond Stop's 2 s wait. At
// 260 MB it is written once into the build tree and kept for later runs.
std::string largeSet()
{
    const std::string path = QUILLON_APP_TEST_DATA_DIR "/large-2000x8192.sofa";
    if (!fileAt(path).existsAsFile())
    {
        fileAt(QUILLON_APP_TEST_DATA_DIR).createDirectory();
        // Tests may run in parallel: each writes its own copy, the rename is atomic.
        const auto part = juce::String::fromUTF8(path.c_str()) + "." + juce::String(getpid()) + ".part";
        writeSofaWithResponses(part.toStdString(), 2000, 8192);
        fileAt(part.toStdString()).moveFileTo(fileAt(path));
    }
    return path;
}

class StopTest : public AppTest
{
protected:
    static void SetUpTestSuite()
    {
        if (!apptest::displayAvailable())
            return;
        files = std::make_unique<fixture::TempDir>();
        large = largeSet();
        // A fraction of a second each.
        ASSERT_TRUE(fileAt(files->file("batch")).createDirectory().wasOk());
        writeSofaWithResponses(files->file("batch/set0.sofa"), 800, 512);
        for (int i = 1; i < 12; ++i)
            ASSERT_TRUE(fileAt(files->file("batch/set0.sofa"))
                            .copyFileTo(fileAt(files->file("batch/set" + std::to_string(i) + ".sofa"))));
        fixture::SofaFixture small;
        small.M = 4;
        small.N = 16;
        fixture::writeSofa(files->file("small.sofa"), small);
    }
    static void TearDownTestSuite() { files.reset(); }

    void setPaths(const std::string& in, const std::string& out)
    {
        child<juce::TextEditor>("inText").setText(juce::String::fromUTF8(in.c_str()));
        child<juce::TextEditor>("outText").setText(juce::String::fromUTF8(out.c_str()));
    }

    // Starts the window converting the large set into outDir, well into its work.
    void startLongConversion(const std::string& outDir)
    {
        startApp();
        setPaths(large, outDir);
        pressConvert();
        ASSERT_EQ(convertButtonText(), "Stop");
        pump(300);
    }

    // After a stop, the large set is either abandoned (nothing on disk) or,
    // when the stop came after its last safe point, written whole.
    void expectNoPartialSet(const std::string& outDir)
    {
        const auto written = fileAt(outDir).findChildFiles(juce::File::findFilesAndDirectories, false, "*");
        const auto data = fileAt(outDir + "/large-2000x8192");
        const bool reported = status().contains("sucessfully wrote TN file: " + data.getFullPathName());
        if (written.isEmpty())
        {
            EXPECT_FALSE(reported);
            return;
        }
        EXPECT_TRUE(reported) << status();
        EXPECT_EQ(written.size(), 2);
        EXPECT_GT(data.getSize(), 0);
        EXPECT_TRUE(data.withFileExtension("txt").loadFileAsString().endsWith("\n"));
    }

    static std::unique_ptr<fixture::TempDir> files;
    static std::string large;
};

std::unique_ptr<fixture::TempDir> StopTest::files;
std::string StopTest::large;
} // namespace

TEST_F(StopTest, StopBetweenFilesEndsTheBatchWithEveryWrittenSetWhole)
{
    fixture::TempDir out;
    startApp();
    setPaths(files->file("batch"), out.path());
    pressConvert();
    ASSERT_EQ(convertButtonText(), "Stop");

    // Stop once the first set is on disk, while the batch goes on.
    ASSERT_TRUE(pumpUntil([&] { return fileAt(out.path()).getNumberOfChildFiles(juce::File::findFiles) >= 2; }, 60000));
    pressConvert();
    EXPECT_EQ(convertButtonText(), "Convert");
    pump(200);

    const auto text = status();
    EXPECT_EQ(countOf(text, "Aborted by user\n"), 1) << text;
    EXPECT_FALSE(text.contains("WARNING")) << text;

    // Every set written is whole: all inputs are equal, so all outputs are too.
    const auto sets = fileAt(out.path()).findChildFiles(juce::File::findFiles, false, "*.txt");
    ASSERT_GE(sets.size(), 1);
    EXPECT_LT(sets.size(), 12);
    const auto referenceHeader = sets[0];
    const auto referenceData = sets[0].withFileExtension({});
    EXPECT_GT(referenceData.getSize(), 0);
    for (const auto& header : sets)
    {
        SCOPED_TRACE(header.getFullPathName());
        EXPECT_TRUE(header.hasIdenticalContentTo(referenceHeader));
        EXPECT_TRUE(header.withFileExtension({}).hasIdenticalContentTo(referenceData));
    }
    EXPECT_EQ(fileAt(out.path()).getNumberOfChildFiles(juce::File::findFiles), 2 * sets.size());
    EXPECT_EQ(countOf(text, "sucessfully wrote"), sets.size());

    // The next batch runs to its end.
    fixture::TempDir again;
    setPaths(files->file("small.sofa"), again.path());
    pressConvert();
    EXPECT_EQ(convertButtonText(), "Stop");
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(fileAt(again.file("small.txt")).existsAsFile());
}

TEST_F(StopTest, StopDuringALongFileGivesUpWaitingAndTheNextConvertWaitsForTheEnd)
{
    // However fast the machine, the file outlasts Stop's wait: every target is slowed.
    struct SlowTargets
    {
        SlowTargets() { ConvertThread::setSafePointHook([] { juce::Thread::sleep(20); }); }
        ~SlowTargets() { ConvertThread::setSafePointHook(nullptr); }
    } slowTargets;
    fixture::TempDir out;
    ASSERT_NO_FATAL_FAILURE(startLongConversion(out.path()));

    // Stop waits its 2 s, reports, and leaves the file to be abandoned.
    pressConvert();
    EXPECT_EQ(convertButtonText(), "Convert");
    const auto afterStop = status();
    if (!afterStop.contains("WARNING: conversion thread was forcibly quit\n"))
        GTEST_SKIP() << "the large set converted within Stop's wait on this machine";
    EXPECT_TRUE(afterStop.endsWith("WARNING: conversion thread was forcibly quit\n")) << afterStop;

    // Convert is refused while the old batch still runs; then it starts.
    fixture::TempDir again;
    setPaths(files->file("small.sofa"), again.path());
    const juce::String refusal = "Error, the previous conversion is still ending, try again in a moment\n";
    bool started = false;
    for (int attempt = 0; attempt < 600 && !started; ++attempt)
    {
        const auto before = status();
        pressConvert();
        started = convertButtonText() == "Stop";
        if (!started)
        {
            EXPECT_EQ(status(), before + refusal);
            pump(50);
        }
    }
    ASSERT_TRUE(started);
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(fileAt(again.file("small.txt")).existsAsFile());
    expectNoPartialSet(out.path());
}

TEST_F(StopTest, ClosingTheWindowDuringALongFileEndsCleanly)
{
    fixture::TempDir out;
    ASSERT_NO_FATAL_FAILURE(startLongConversion(out.path()));

    // The thread is asked to end and abandons the file; nothing is killed.
    stopApp();
    EXPECT_EQ(fileAt(out.path()).getNumberOfChildFiles(juce::File::findFilesAndDirectories), 0);

    // The paths of the interrupted run were saved.
    EXPECT_EQ(readSettings().at("inFile"), large);
}
