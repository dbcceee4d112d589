#include "batch/ConvertThread.h"

#include "batch/messages/MessageText.h"
#include "convert/ConvertSofaFile.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdlib>

namespace
{
std::atomic<ConvertThread::SafePointHook> safePointHook { nullptr };

// The directory's path with every link resolved, so that a tree reached again
// through a link compares equal to itself.
juce::String canonicalPath(const juce::File& dir)
{
    char resolved[PATH_MAX];
    if (realpath(dir.getFullPathName().toRawUTF8(), resolved) == nullptr)
        return dir.getFullPathName();
    return juce::String::fromUTF8(resolved);
}
} // namespace

ConvertThread::ConvertThread() : juce::Thread("ConvertThread")
{
}

ConvertThread::~ConvertThread()
{
    // Ending a thread by force could leave netCDF or a half-written file
    // behind; the converter's safe points make a plain wait short instead.
    signalThreadShouldExit();
    abandonFile = true;
    waitForThreadToExit(-1);
}

void ConvertThread::convert(ConversionSettings* settingsToUse)
{
    waitForThreadToExit(-1); // never two batches at once
    settings = settingsToUse;
    abandonFile = false;
    filesStarted = 0;
    filesFailed = 0;
    aborted = false;
    visitedDirectories.clear();
    startThread();
}

void ConvertThread::run()
{
    const juce::File in(settings->inFile);
    const juce::File out(settings->outDir);
    if (in.isDirectory())
        convertDirectory(in, out);
    else
        convertFile(settings->inFile, out);
}

bool ConvertThread::stopRequested()
{
    if (!threadShouldExit())
        return false;
    if (!aborted.exchange(true))
        printMsg("Aborted by user\n");
    return true;
}

bool ConvertThread::convertDirectory(const juce::File& inDir, const juce::File& outDir)
{
    if (stopRequested())
        return false;

    // A directory reached twice (through a link back up the tree) is walked once.
    const juce::String canonical = canonicalPath(inDir);
    if (visitedDirectories.end() != std::find(visitedDirectories.begin(), visitedDirectories.end(), canonical))
        return true;
    visitedDirectories.push_back(canonical);

    // "*.sofa" in any letter case, whatever the file system's case rules.
    for (const juce::File& file : inDir.findChildFiles(juce::File::findFiles, false, "*"))
    {
        if (!file.getFileName().matchesWildcard("*.sofa", true))
            continue;
        if (!convertFile(file.getFullPathName(), outDir))
            return false;
    }

    if (!settings->recurse)
        return true;

    for (const juce::File& subDir : inDir.findChildFiles(juce::File::findDirectories, false, "*"))
    {
        if (stopRequested())
            return false;
        const juce::File outSubDir = outDir.getChildFile(subDir.getFileName());
        if (!outSubDir.isDirectory() && !outSubDir.createDirectory().wasOk())
        {
            printMsg("Error creating output dir '%s'\n", outSubDir.getFullPathName().toRawUTF8());
            filesFailed++;
            return false;
        }
        if (!convertDirectory(subDir, outSubDir))
            return false;
    }
    return true;
}

bool ConvertThread::convertFile(const juce::String& inPath, const juce::File& outDir)
{
    if (stopRequested())
        return false;

    const juce::String baseName = juce::File(inPath).getFileNameWithoutExtension();
    const juce::File outPath = outDir.getChildFile(baseName);
    filesStarted++;
    bool written = false;
    ConversionOptions options;
    options.writeReport = settings->report;
    const bool ok = convertSofaFile(*this, inPath.toStdString(), outPath.getFullPathName().toStdString(),
                                   settings->procOption, settings->cropThresh, options,
                                   [this] {
                                       if (const SafePointHook hook = safePointHook.load())
                                           hook();
                                       return abandonFile.load();
                                   }, &written);
    if (!ok && abandonFile)
    {
        stopRequested();
        return false;
    }
    if (!ok || !written)
        filesFailed++;
    return ok;
}

void ConvertThread::printMsg(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string text = formatMessageV(format, args);
    va_end(args);

    const juce::String message = juce::String::fromUTF8(text.data(), static_cast<int>(text.size()));
    const juce::ScopedLock lock(messageLock);
    pendingMessages += message;
}

juce::String ConvertThread::takeMessages()
{
    juce::String taken;
    {
        const juce::ScopedLock lock(messageLock);
        taken.swapWith(pendingMessages);
    }
    return taken;
}

void ConvertThread::setSafePointHook(SafePointHook hook)
{
    safePointHook = hook;
}

bool ConvertThread::stopBatch(int timeoutMs)
{
    signalThreadShouldExit();
    if (waitForThreadToExit(timeoutMs))
        return true;
    abandonFile = true;
    return false;
}
