#include "batch/ConvertThread.h"

#include "batch/messages/MessageText.h"
#include "convert/ConvertSofaFile.h"
#include "hrtf/HrtfSet.h"

#include <cstdarg>

namespace
{
std::atomic<ConvertThread::SafePointHook> safePointHook { nullptr };
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

bool ConvertThread::convert(ConversionSettings* settingsToUse)
{
    if (isThreadRunning())
        return false; // never two batches at once
    settings = settingsToUse;
    abandonFile = false;
    filesStarted = 0;
    filesFailed = 0;
    aborted = false;
    return startThread();
}

void ConvertThread::run()
{
    std::vector<BatchStep> steps;
    if (!planBatch(*settings, steps, [this] { return threadShouldExit(); }))
    {
        stopRequested();
        return;
    }
    for (const BatchStep& step : steps)
    {
        if (stopRequested())
            return;
        if (step.kind == BatchStep::Kind::convert)
        {
            if (!convertFile(step.inPath, step.outDir) && (abandonFile || !settings->keepGoing))
                return;
        }
        else if (!runDirectoryStep(step, *this))
        {
            filesFailed++;
            // A file that is no regular file is skipped like one whose set
            // could not be written; a missing output directory ends the batch.
            if (step.kind == BatchStep::Kind::makeDir && !settings->keepGoing)
                return;
        }
    }
}

bool ConvertThread::stopRequested()
{
    if (!threadShouldExit())
        return false;
    if (!aborted.exchange(true))
        printMsg("Aborted by user\n");
    return true;
}

bool ConvertThread::convertFile(const juce::String& inPath, const juce::File& outDir)
{
    if (stopRequested())
        return false;

    const juce::File outPath = outputBasePath(inPath, outDir);
    {
        const juce::ScopedLock lock(messageLock);
        runningOutput = outPath.getFullPathName().toStdString();
    }
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

bool ConvertThread::endForQuit(int timeoutMs)
{
    signalThreadShouldExit();
    abandonFile = true;
    if (waitForThreadToExit(timeoutMs))
        return true;
    std::string output;
    {
        const juce::ScopedLock lock(messageLock);
        output = runningOutput;
    }
    if (!output.empty())
        removeTemporaryFiles(output);
    return false;
}
