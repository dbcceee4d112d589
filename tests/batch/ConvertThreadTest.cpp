#include "batch/ConvertThread.h"
#include "fixtures/Files.h"
#include "fixtures/SofaFixture.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

namespace
{
using fixture::exists;

void makeDir(const std::string& path)
{
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path;
}

fixture::SofaFixture smallSet()
{
    fixture::SofaFixture f;
    f.M = 4;
    f.N = 16;
    return f;
}

// Slow enough under minimum phase (long responses) for a stop to land inside it.
fixture::SofaFixture slowSet()
{
    fixture::SofaFixture slow;
    slow.M = 30;
    slow.N = 16384;
    return slow;
}

void startAndWaitForFirstFile(ConvertThread& thread, ConversionSettings& settings)
{
    thread.convert(&settings);
    while (thread.getFilesStarted() < 1 && thread.isThreadRunning())
        juce::Thread::sleep(1);
}

int countOf(const juce::String& text, const juce::String& what)
{
    int count = 0;
    for (int at = text.indexOf(what); at >= 0; at = text.indexOf(at + 1, what))
        ++count;
    return count;
}

// Runs one batch to its end and returns everything it printed.
juce::String runBatch(const std::string& in, const std::string& out, bool recurse,
                      int procOption = toProcOption(Treatment::none))
{
    ConversionSettings settings;
    settings.inFile = juce::String::fromUTF8(in.c_str());
    settings.outDir = juce::String::fromUTF8(out.c_str());
    settings.recurse = recurse;
    settings.procOption = procOption;
    ConvertThread thread;
    thread.convert(&settings);
    EXPECT_TRUE(thread.waitForThreadToExit(60000));
    return thread.takeMessages();
}
} // namespace

TEST(ConvertThread, MirrorsTheTreeWhenRecursing)
{
    fixture::TempDir in;
    fixture::TempDir out;
    fixture::writeSofa(in.file("a.sofa"), smallSet());
    makeDir(in.file("B"));
    makeDir(in.file("B/C"));
    fixture::writeSofa(in.file("B/b.sofa"), smallSet());
    fixture::writeSofa(in.file("B/C/c.SoFa"), smallSet());

    const juce::String messages = runBatch(in.path(), out.path(), true);
    EXPECT_EQ(countOf(messages, "sucessfully wrote TN file: "), 3) << messages;
    for (const char* made : { "a", "a.txt", "B/b", "B/b.txt", "B/C/c", "B/C/c.txt" })
        EXPECT_TRUE(exists(out.file(made))) << made;
    EXPECT_EQ(countOf(messages, "Aborted by user"), 0);
}

TEST(ConvertThread, WithoutRecursionOnlyTheDirectorysOwnSofaFiles)
{
    fixture::TempDir in;
    fixture::TempDir out;
    fixture::writeSofa(in.file("x.SOFA"), smallSet());
    fixture::writeSofa(in.file(".hidden.sofa"), smallSet());
    fixture::writeSofa(in.file("set.final.sofa"), smallSet());
    fixture::writeSofa(in.file("notes.sofa.bak"), smallSet());
    fixture::writeSofa(in.file("hrir.nc"), smallSet());
    makeDir(in.file("sub"));
    fixture::writeSofa(in.file("sub/s.sofa"), smallSet());

    const juce::String messages = runBatch(in.path(), out.path(), false);
    EXPECT_EQ(countOf(messages, "sucessfully wrote TN file: "), 3) << messages;
    for (const char* made : { "x", ".hidden", "set.final" })
        EXPECT_TRUE(exists(out.file(made))) << made;
    for (const char* skipped : { "notes.sofa", "hrir", "sub", "s" })
        EXPECT_FALSE(exists(out.file(skipped))) << skipped;
}

TEST(ConvertThread, SingleFileConvertsWhateverItsName)
{
    struct Case
    {
        const char* input;
        const char* base;
    };
    for (const Case& c : { Case { "hrir.nc", "hrir" }, Case { "x.SOFA", "x" }, Case { "set.final.sofa", "set.final" },
                           Case { ".sofa", ".sofa" }, Case { "plain", "plain" } })
    {
        SCOPED_TRACE(c.input);
        fixture::TempDir in;
        fixture::TempDir out;
        fixture::writeSofa(in.file(c.input), smallSet());
        const juce::String messages = runBatch(in.file(c.input), out.path(), false);
        EXPECT_TRUE(messages.contains("sucessfully wrote TN file: " + juce::String(out.file(c.base)) + "\n")) << messages;
        EXPECT_TRUE(exists(out.file(c.base)));
        EXPECT_TRUE(exists(out.file(std::string(c.base) + ".txt")));
    }
}

TEST(ConvertThread, FirstFailureEndsTheWholeBatch)
{
    fixture::TempDir in;
    fixture::TempDir out;
    fixture::SofaFixture broken = smallSet();
    broken.R = 1;
    // Two sub-trees, each failing on its first file: whichever is listed first
    // ends the batch, so exactly one file is ever tried.
    for (const char* dir : { "one", "two" })
    {
        makeDir(in.file(dir));
        fixture::writeSofa(in.file(std::string(dir) + "/bad.sofa"), broken);
        makeDir(in.file(std::string(dir) + "/deeper"));
        fixture::writeSofa(in.file(std::string(dir) + "/deeper/good.sofa"), smallSet());
    }
    const juce::String messages = runBatch(in.path(), out.path(), true);
    EXPECT_EQ(countOf(messages, "SOFA filename: "), 1) << messages;
    EXPECT_TRUE(messages.endsWith("expected two receivers\n")) << messages;
    EXPECT_FALSE(exists(out.file("one/deeper/good")));
    EXPECT_FALSE(exists(out.file("two/deeper/good")));
}

TEST(ConvertThread, FailedWriteDoesNotEndTheBatch)
{
    fixture::TempDir in;
    fixture::TempDir out;
    fixture::writeSofa(in.file("a.sofa"), smallSet());
    fixture::writeSofa(in.file("b.sofa"), smallSet());
    // A directory where the data file for "a" should go makes that write fail.
    makeDir(out.file("a"));
    ConversionSettings settings;
    settings.inFile = in.path();
    settings.outDir = out.path();
    settings.procOption = toProcOption(Treatment::crop);
    ConvertThread thread;
    thread.convert(&settings);
    ASSERT_TRUE(thread.waitForThreadToExit(60000));
    const juce::String messages = thread.takeMessages();
    EXPECT_EQ(countOf(messages, "error writing HRTF file: "), 1) << messages;
    EXPECT_EQ(countOf(messages, "sucessfully wrote TN file: "), 1) << messages;
    EXPECT_EQ(thread.getFilesFailed(), 1);
    EXPECT_TRUE(exists(out.file("b.txt")));
}

TEST(ConvertThread, OutputSubdirectoryThatCannotBeMadeEndsTheBatch)
{
    fixture::TempDir in;
    fixture::TempDir out;
    makeDir(in.file("B"));
    fixture::writeSofa(in.file("B/b.sofa"), smallSet());
    std::ofstream(out.file("B")) << "a file where the mirrored directory should be";
    const juce::String messages = runBatch(in.path(), out.path(), true);
    EXPECT_EQ(messages, "Error creating output dir '" + juce::String(out.file("B")) + "'\n");
}

TEST(ConvertThread, StopBetweenFilesPrintsOneAbortAndConvertsNothingMore)
{
    fixture::TempDir in;
    fixture::TempDir out;
    for (const char* name : { "1.sofa", "2.sofa", "3.sofa", "4.sofa" })
        fixture::writeSofa(in.file(name), slowSet());
    ConversionSettings settings { in.path(), out.path(), false };
    ConvertThread thread;
    startAndWaitForFirstFile(thread, settings);
    EXPECT_TRUE(thread.stopBatch(60000));
    const juce::String messages = thread.takeMessages();
    EXPECT_EQ(countOf(messages, "Aborted by user\n"), 1) << messages;
    EXPECT_TRUE(messages.endsWith("Aborted by user\n"));
    EXPECT_LT(countOf(messages, "SOFA filename: "), 4);
    EXPECT_TRUE(thread.wasAborted());
}

TEST(ConvertThread, AbandonedFileLeavesNoSetBehind)
{
    fixture::TempDir in;
    fixture::TempDir out;
    fixture::writeSofa(in.file("slow.sofa"), slowSet());
    ConversionSettings settings { in.file("slow.sofa"), out.path(), false };
    ConvertThread thread;
    // Slow at every safe point, so the file always outlasts a zero wait.
    ConvertThread::setSafePointHook([] { juce::Thread::sleep(20); });
    startAndWaitForFirstFile(thread, settings);
    EXPECT_FALSE(thread.stopBatch(0));
    ASSERT_TRUE(thread.waitForThreadToExit(60000));
    ConvertThread::setSafePointHook(nullptr);
    const juce::String messages = thread.takeMessages();
    EXPECT_FALSE(exists(out.file("slow")));
    EXPECT_FALSE(exists(out.file("slow.txt")));
    EXPECT_TRUE(messages.endsWith("Aborted by user\n")) << messages;
    EXPECT_EQ(countOf(messages, "Aborted by user\n"), 1);

    // The same object serves the next batch.
    thread.convert(&settings);
    ASSERT_TRUE(thread.waitForThreadToExit(60000));
    EXPECT_TRUE(thread.takeMessages().contains("sucessfully wrote TN file: "));
    EXPECT_TRUE(exists(out.file("slow.txt")));
}

TEST(ConvertThread, OutputInsideTheInputAndAFifoAreLeftAlone)
{
    fixture::TempDir in;
    makeDir(in.file("out"));
    makeDir(in.file("sub"));
    fixture::writeSofa(in.file("sub/a.sofa"), smallSet());
    ASSERT_EQ(mkfifo(in.file("sub/p.sofa").c_str(), 0644), 0);
    ASSERT_EQ(symlink(in.file("out").c_str(), in.file("sub/again").c_str()), 0);
    const juce::String messages = runBatch(in.path(), in.file("out"), true);
    EXPECT_TRUE(messages.contains("Error, '" + juce::String(in.file("sub/p.sofa")) + "' is not a regular file\n"))
        << messages;
    EXPECT_EQ(countOf(messages, "sucessfully wrote TN file: "), 1) << messages;
    EXPECT_TRUE(exists(in.file("out/sub/a.txt")));
    EXPECT_FALSE(exists(in.file("out/out")));
    EXPECT_FALSE(exists(in.file("out/sub/again")));
}

TEST(ConvertThread, MessagesArriveWholeAndInOrder)
{
    ConvertThread thread;
    thread.printMsg("first %d", 1);
    thread.printMsg(" and more\n");
    thread.printMsg("%s\n", "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(thread.takeMessages(), juce::String::fromUTF8("first 1 and more\n\xC3\xA9t\xC3\xA9\n"));
    EXPECT_EQ(thread.takeMessages(), juce::String());
}

TEST(ConvertThread, EndForQuitGivesUpOnAStuckFileAndRemovesItsTemporaries)
{
    fixture::TempDir in;
    fixture::TempDir out;
    fixture::writeSofa(in.file("stuck.sofa"), slowSet());
    ConversionSettings settings { in.file("stuck.sofa"), out.path(), false };
    ConvertThread thread;
    // One safe point that takes long: the thread is out of reach meanwhile.
    static std::atomic<bool> stuckOnce { false };
    stuckOnce = false;
    ConvertThread::setSafePointHook([] {
        if (!stuckOnce.exchange(true))
            juce::Thread::sleep(1500);
    });
    startAndWaitForFirstFile(thread, settings);
    // A temporary as an interrupted write leaves it.
    std::ofstream(out.file("stuck.tmpAbC123")) << "part";
    std::ofstream(out.file("stuck.txt.tmpAbC123")) << "part";
    std::ofstream(out.file("other.tmpAbC123")) << "not ours";
    juce::Thread::sleep(50);
    const auto before = juce::Time::getMillisecondCounter();
    EXPECT_FALSE(thread.endForQuit(100));
    EXPECT_LT(juce::Time::getMillisecondCounter() - before, 1000u) << "the wait is bounded";
    EXPECT_FALSE(exists(out.file("stuck.tmpAbC123")));
    EXPECT_FALSE(exists(out.file("stuck.txt.tmpAbC123")));
    EXPECT_TRUE(exists(out.file("other.tmpAbC123")));
    ASSERT_TRUE(thread.waitForThreadToExit(60000));
    ConvertThread::setSafePointHook(nullptr);
    EXPECT_FALSE(exists(out.file("stuck.txt")));
}
