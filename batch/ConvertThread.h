#pragma once

// The background batch: converts one SOFA file, or walks a directory (and,
// when asked, its whole tree into a mirrored output tree, see BatchWalk.h),
// calling the per-file converter for each file. It is also the conversion's
// message sink.

#include "batch/BatchWalk.h"
#include "batch/messages/PrintMsgI.h"

#include <juce_core/juce_core.h>

#include <atomic>
#include <string>

class ConvertThread : public juce::Thread, public PrintMsgI
{
public:
    ConvertThread();
    // Never kills the thread: asks it to stop, abandons the running file and waits.
    ~ConvertThread() override;

    // Starts the batch; settings must stay alive and unchanged until it ends.
    // False when the previous batch is still ending or the thread cannot start.
    bool convert(ConversionSettings* settingsToUse);

    void run() override;
    bool convertFile(const juce::String& inPath, const juce::File& outDir);

    void printMsg(const char* format, ...) override
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    // Moves all pending text out, atomically with respect to printMsg.
    juce::String takeMessages();

    // Stop without force: raises the exit flag and waits up to timeoutMs for the
    // batch to end (the running file finishes, then "Aborted by user"). Returns
    // true when it ended in time. When it did not, the running file is abandoned
    // at its next safe point (nothing written for it) and the thread ends soon
    // after; isThreadRunning tells when.
    bool stopBatch(int timeoutMs);

    // For a process that is about to end: asks the batch to stop, abandons the
    // running file and waits up to timeoutMs. When the thread is stuck beyond
    // that (inside a library call), removes the running file's temporary files
    // and returns false; the caller must then end the process without
    // destroying this object.
    bool endForQuit(int timeoutMs);

    // Progress and outcome of the current (or last) batch.
    int getFilesStarted() const { return filesStarted.load(); }   // handed to the converter
    int getFilesFailed() const { return filesFailed.load(); }     // failed, or set not written
    bool wasAborted() const { return aborted.load(); }            // "Aborted by user" was printed

    // Tests only: called at every safe point of a running file, to make a
    // conversion slow on purpose. Set it while no batch runs; nullptr clears it.
    using SafePointHook = void (*)();
    static void setSafePointHook(SafePointHook hook);

    juce::CriticalSection messageLock;
    juce::String pendingMessages;

private:
    ConversionSettings* settings = nullptr;
    std::atomic<bool> abandonFile { false };
    std::atomic<int> filesStarted { 0 };
    std::atomic<int> filesFailed { 0 };
    std::atomic<bool> aborted { false };
    std::string runningOutput; // output base path of the running file, under messageLock

    bool stopRequested();

    JUCE_DECLARE_NON_COPYABLE (ConvertThread)
};
