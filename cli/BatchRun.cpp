#include "cli/BatchRun.h"

#include "batch/messages/MessageText.h"
#include "cli/CliOptions.h"
#include "convert/ConvertSofaFile.h"
#include "hrtf/HrtfSet.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

namespace
{
// Signal state: touched by the handler, so lock-free atomics only.
std::atomic<int> interrupts { 0 };
std::atomic<bool> progressVisible { false };
std::atomic<pid_t> workerPids[kMaxJobs];
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free
                  && std::atomic<pid_t>::is_always_lock_free,
              "the interrupt handler needs lock-free state");

constexpr char kClearLine[] = "\r\033[K";
constexpr char kStopping[] = "quillon-convert: interrupted, stopping after the running files "
                             "(Ctrl-C again abandons them)\n";
constexpr char kAbandoning[] = "quillon-convert: interrupted again, abandoning the running files\n";

void writeAll(int fd, const char* text, std::size_t size)
{
    while (size > 0)
    {
        const ssize_t n = ::write(fd, text, size);
        if (n <= 0 && errno != EINTR)
            return;
        if (n > 0)
        {
            text += n;
            size -= static_cast<std::size_t>(n);
        }
    }
}

void onInterrupt(int)
{
    const int saved = errno;
    const int count = interrupts.fetch_add(1) + 1;
    if (progressVisible.exchange(false))
        writeAll(STDERR_FILENO, kClearLine, sizeof kClearLine - 1);
    if (count == 1)
        writeAll(STDERR_FILENO, kStopping, sizeof kStopping - 1);
    else if (count == 2)
        writeAll(STDERR_FILENO, kAbandoning, sizeof kAbandoning - 1);
    else
    {
        for (std::atomic<pid_t>& pid : workerPids)
            if (const pid_t p = pid.load(); p > 0)
                ::kill(p, SIGKILL);
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
    }
    errno = saved;
}

bool abandonRequested()
{
    return interrupts.load() >= 2;
}

int progressTotal = 0;
int progressDone = 0;
bool progressEnabled = false;

void drawProgress()
{
    if (!progressEnabled)
        return;
    std::fprintf(stderr, "\r%d of %d files done", progressDone, progressTotal);
    std::fflush(stderr);
    progressVisible = true;
}

// The last non-empty line of text, without its newline.
std::string lastLine(const std::string& text)
{
    std::size_t end = text.size();
    while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r'))
        --end;
    const std::size_t start = text.rfind('\n', end == 0 ? 0 : end - 1);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1));
}

void writeStdout(const std::string& text)
{
    if (text.empty())
        return;
    clearProgress();
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void reportFailure(const BatchStep& step, const std::string& text)
{
    clearProgress();
    const juce::String path = step.kind == BatchStep::Kind::makeDir ? step.outDir.getFullPathName() : step.inPath;
    std::fflush(stdout);
    std::fprintf(stderr, "quillon-convert: %s: %s\n", path.toRawUTF8(), lastLine(text).c_str());
    std::fflush(stderr);
}

// The sink of a conversion in this process: straight to standard output (so
// that the position reader's own lines stay in place), and kept for the reason.
class StdoutSink : public PrintMsgI
{
public:
    explicit StdoutSink(bool direct) : direct(direct) {}

    void printMsg(const char* format, ...) override
    {
        va_list args;
        va_start(args, format);
        const std::string message = formatMessageV(format, args);
        va_end(args);
        text += message;
        if (direct)
            writeStdout(message);
    }

    std::string text;

private:
    bool direct;
};

ConversionOptions conversionOptions(const ConversionSettings& settings)
{
    ConversionOptions options;
    options.writeReport = settings.report;
    return options;
}

enum class FileResult
{
    converted,
    notWritten, // reported failure; the batch goes on
    failed,     // the batch ends here unless it keeps going
    abandoned,  // a second Ctrl-C: nothing written
};

// Worker exit statuses.
constexpr int kWorkerConverted = 0;
constexpr int kWorkerFailed = 1;
constexpr int kWorkerNotWritten = 3;
constexpr int kWorkerAbandoned = 4;

std::atomic<bool> workerAbandon { false };

void onWorkerTerminate(int)
{
    workerAbandon = true;
}

class WorkerSink : public PrintMsgI
{
public:
    void printMsg(const char* format, ...) override
    {
        va_list args;
        va_start(args, format);
        const std::string message = formatMessageV(format, args);
        va_end(args);
        std::fputs(message.c_str(), stdout);
        std::fflush(stdout); // a crash loses no finished line
        if (const char* hook = std::getenv("QUILLON_TEST_WORKER_ABORT"); hook != nullptr && *hook != '\0'
            && path.size() >= std::strlen(hook) && path.compare(path.size() - std::strlen(hook), std::string::npos, hook) == 0)
        {
            std::fflush(stdout);
            std::abort(); // tests only: a worker that crashes after its first line
        }
    }

    std::string path;
};
// The body of a worker process: one file, its status text on standard
// output, its outcome as the exit status.
int convertInWorker(const BatchStep& step, const ConversionSettings& settings)
{
    struct sigaction action {};
    action.sa_handler = onWorkerTerminate;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);

    WorkerSink sink;
    sink.path = step.inPath.toStdString();
    bool written = false;
    const bool ok = convertSofaFile(sink, sink.path,
                                    outputBasePath(step.inPath, step.outDir).getFullPathName().toStdString(),
                                    settings.procOption, settings.cropThresh, conversionOptions(settings),
                                    [] { return workerAbandon.load(); }, &written);
    std::fflush(stdout);
    if (!ok)
        return workerAbandon ? kWorkerAbandoned : kWorkerFailed;
    return written ? kWorkerConverted : kWorkerNotWritten;
}

struct Batch
{
    const std::vector<BatchStep>& steps;
    const ConversionSettings& settings;
    BatchOutcome outcome;
    bool abortPrinted = false;

    // Emits one finished step; returns false when the batch must end.
    bool finish(const BatchStep& step, const std::string& text, bool direct, FileResult result)
    {
        if (!direct)
            writeStdout(text);
        if (result == FileResult::abandoned)
            return false;
        if (result != FileResult::converted)
        {
            reportFailure(step, text);
            outcome.failed++;
        }
        if (step.kind == BatchStep::Kind::convert)
        {
            ++progressDone;
            drawProgress();
        }
        const bool ends = result == FileResult::failed
            || (result == FileResult::notWritten && step.kind == BatchStep::Kind::makeDir);
        return !ends || settings.keepGoing;
    }

    void printAborted()
    {
        outcome.interrupted = true;
        if (!abortPrinted)
            writeStdout("Aborted by user\n");
        abortPrinted = true;
    }

    FileResult runDirectory(const BatchStep& step, StdoutSink& sink)
    {
        return runDirectoryStep(step, sink) ? FileResult::converted : FileResult::notWritten;
    }

    void inProcess()
    {
        for (const BatchStep& step : steps)
        {
            if (interrupts.load() > 0)
                return printAborted();
            StdoutSink sink(true);
            FileResult result = FileResult::converted;
            if (step.kind != BatchStep::Kind::convert)
                result = runDirectory(step, sink);
            else
            {
                bool written = false;
                const bool ok = convertSofaFile(sink, step.inPath.toStdString(),
                                                outputBasePath(step.inPath, step.outDir).getFullPathName().toStdString(),
                                                settings.procOption, settings.cropThresh, conversionOptions(settings),
                                                abandonRequested, &written);
                result = ok ? (written ? FileResult::converted : FileResult::notWritten)
                            : (abandonRequested() ? FileResult::abandoned : FileResult::failed);
            }
            if (!finish(step, sink.text, true, result))
            {
                if (result == FileResult::abandoned)
                    printAborted();
                return;
            }
        }
    }

    struct Job
    {
        std::size_t step = 0;
        pid_t pid = -1;
        int fd = -1;
        int slot = -1;
        std::string text;
        bool done = false;
        FileResult result = FileResult::converted;
        bool terminated = false; // SIGTERM sent
        bool discarded = false;  // after the file that ended the batch
        std::chrono::steady_clock::time_point killAt;
    };

    bool spawn(Job& job, int slot)
    {
        const BatchStep& step = steps[job.step];
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0)
            return false;
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid < 0)
        {
            ::close(pipeFds[0]);
            ::close(pipeFds[1]);
            return false;
        }
        if (pid == 0)
        {
            // The terminal's Ctrl-C reaches the whole group: the parent decides.
            // A forked copy of this process needs no start-up: the parent has
            // opened no SOFA file, so netCDF and HDF5 start afresh here.
            std::signal(SIGINT, SIG_IGN);
            ::dup2(pipeFds[1], STDOUT_FILENO);
            ::close(pipeFds[0]);
            ::close(pipeFds[1]);
            ::_exit(convertInWorker(step, settings));
        }
        ::close(pipeFds[1]);
        job.pid = pid;
        job.fd = pipeFds[0];
        job.slot = slot;
        workerPids[slot] = pid;
        return true;
    }

    void reap(Job& job)
    {
        int status = 0;
        while (::waitpid(job.pid, &status, 0) < 0 && errno == EINTR)
        {
        }
        workerPids[job.slot] = 0;
        ::close(job.fd);
        job.fd = -1;
        job.done = true;
        if (WIFEXITED(status))
        {
            switch (WEXITSTATUS(status))
            {
            case kWorkerConverted: job.result = FileResult::converted; break;
            case kWorkerNotWritten: job.result = FileResult::notWritten; break;
            case kWorkerAbandoned: job.result = FileResult::abandoned; break;
            default: job.result = FileResult::failed; break;
            }
        }
        else
        {
            job.result = job.terminated ? FileResult::abandoned : FileResult::failed;
            if (!job.terminated)
                job.text += formatMessage("the conversion process ended by signal %d\n", WTERMSIG(status));
            // Killed while writing, it leaves its writer's temporary files.
            const BatchStep& step = steps[job.step];
            removeTemporaryFiles(outputBasePath(step.inPath, step.outDir).getFullPathName().toStdString());
        }
    }

    void terminate(Job& job, int signal)
    {
        if (job.done)
            return;
        ::kill(job.pid, signal);
        job.terminated = true;
        if (signal == SIGTERM)
            job.killAt = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    }

    void withWorkers(int jobs)
    {
        std::deque<Job> window; // steps started and not yet emitted, in walk order
        std::size_t next = 0;
        bool ended = false;
        bool abandoning = false;
        for (;;)
        {
            if (interrupts.load() > 0)
                ended = true;
            if (abandonRequested() && !abandoning)
            {
                abandoning = true;
                for (Job& job : window)
                    terminate(job, SIGTERM);
            }
            // Start files while a slot is free.
            int running = 0;
            for (const Job& job : window)
                running += job.done ? 0 : 1;
            while (!ended && next < steps.size() && running < jobs)
            {
                Job job;
                job.step = next++;
                const BatchStep& step = steps[job.step];
                if (step.kind != BatchStep::Kind::convert)
                {
                    StdoutSink sink(false);
                    job.result = runDirectory(step, sink);
                    job.text = sink.text;
                    job.done = true;
                    window.push_back(job);
                    if (job.result != FileResult::converted && step.kind == BatchStep::Kind::makeDir
                        && !settings.keepGoing)
                        ended = true;
                    continue;
                }
                int slot = 0;
                while (workerPids[slot].load() != 0)
                    ++slot;
                if (!spawn(job, slot))
                {
                    job.text = formatMessage("the conversion process could not be started: %s\n", std::strerror(errno));
                    job.result = FileResult::failed;
                    job.done = true;
                }
                window.push_back(job);
                ++running;
            }
            // Emit finished files in walk order.
            while (!window.empty() && window.front().done)
            {
                const Job job = window.front();
                window.pop_front();
                if (job.discarded)
                    continue;
                if (!finish(steps[job.step], job.text, false, job.result) && !ended)
                {
                    ended = true;
                    // Files after the end are not shown, as with one job; those
                    // still running are abandoned.
                    for (Job& later : window)
                    {
                        later.discarded = true;
                        terminate(later, SIGTERM);
                    }
                }
                if (job.result == FileResult::abandoned)
                    outcome.interrupted = true;
            }
            if (window.empty() && (ended || next >= steps.size()))
                break;
            waitForWorkers(window);
        }
        if (interrupts.load() > 0)
            printAborted();
    }

    void waitForWorkers(std::deque<Job>& window)
    {
        std::vector<pollfd> fds;
        std::vector<Job*> owners;
        const auto now = std::chrono::steady_clock::now();
        for (Job& job : window)
        {
            if (job.done)
                continue;
            if (job.terminated && now >= job.killAt)
                ::kill(job.pid, SIGKILL); // stuck outside a safe point
            fds.push_back({ job.fd, POLLIN, 0 });
            owners.push_back(&job);
        }
        if (fds.empty())
            return;
        if (::poll(fds.data(), fds.size(), 100) <= 0)
            return; // time-out, or a signal to look at
        for (std::size_t i = 0; i < fds.size(); ++i)
        {
            if (fds[i].revents == 0)
                continue;
            char buffer[65536];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0)
                owners[i]->text.append(buffer, static_cast<std::size_t>(n));
            else if (n == 0 || errno != EINTR)
                reap(*owners[i]);
        }
    }
};

} // namespace

void installInterruptHandler()
{
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

bool interruptRequested()
{
    return interrupts.load() > 0;
}

void endByInterrupt()
{
    clearProgress();
    std::fflush(stdout);
    std::signal(SIGINT, SIG_DFL);
    std::raise(SIGINT);
    std::_Exit(130); // only if SIGINT could not end the process
}

void enableProgress(int filesToConvert)
{
    progressEnabled = true;
    progressTotal = filesToConvert;
    progressDone = 0;
    drawProgress();
}

void clearProgress()
{
    if (progressVisible.exchange(false))
    {
        std::fputs(kClearLine, stderr);
        std::fflush(stderr);
    }
}

BatchOutcome runBatch(const std::vector<BatchStep>& steps, const ConversionSettings& settings, int jobs)
{
    Batch batch { steps, settings, {} };
    if (jobs <= 1)
        batch.inProcess();
    else
        batch.withWorkers(jobs);
    clearProgress();
    if (progressEnabled)
        std::fprintf(stderr, "%d of %d files done\n", progressDone, progressTotal);
    return batch.outcome;
}
