// quillon-convert: the window's batch conversion without a window.
// Standard output carries exactly what the status box would show; failures
// are named on standard error as well. Three stages: parse, walk, report.

#include "batch/BatchWalk.h"
#include "batch/DefaultOutputDir.h"
#include "batch/messages/MessageText.h"
#include "cli/BatchRun.h"
#include "cli/CliOptions.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace
{
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int usageError(const std::string& problem)
{
    std::fprintf(stderr, "quillon-convert: %s\n%sTry 'quillon-convert --help' for more information.\n",
                 problem.c_str(), usageText());
    return kExitUsage;
}

// A check that fails before the batch: its status line, and the same on standard error.
int checkFailed(const std::string& line)
{
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
    std::fprintf(stderr, "quillon-convert: %s", line.c_str());
    return kExitFailed;
}

// Everything written to standard output must have arrived.
int withOutputChecked(int status)
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0)
    {
        std::fprintf(stderr, "quillon-convert: error writing standard output: %s\n", std::strerror(errno));
        return kExitFailed;
    }
    return status;
}

// Stage 1: the arguments into settings. Returns -1 to go on, or the exit status.
int parse(int argc, char* argv[], CliOptions& options, ConversionSettings& settings, int& jobs)
{
    std::string problem;
    if (!parseArguments(argc, argv, options, problem))
        return usageError(problem);
    if (options.showHelp)
    {
        std::fputs(helpText().c_str(), stdout);
        return withOutputChecked(kExitOk);
    }
    if (options.showVersion)
    {
        std::printf("quillon-convert %s\n", QUILLON_VERSION_STRING);
        return withOutputChecked(kExitOk);
    }

    const juce::File cwd = juce::File::getCurrentWorkingDirectory();
    const juce::File input = cwd.getChildFile(juce::String::fromUTF8(options.input.c_str()));
    const juce::File output = options.outputDir.empty()
        ? getDefaultOutputDir()
        : cwd.getChildFile(juce::String::fromUTF8(options.outputDir.c_str()));
    if (!input.exists())
        return checkFailed(formatMessage("Error, input '%s' doesn't exist\n", input.getFullPathName().toRawUTF8()));
    if (!output.createDirectory().wasOk() || !output.isDirectory())
        return checkFailed(formatMessage("Error creating output dir '%s'\n", output.getFullPathName().toRawUTF8()));

    settings.inFile = input.getFullPathName();
    settings.outDir = output.getFullPathName();
    settings.recurse = options.recurse;
    settings.procOption = toProcOption(options.treatment);
    settings.cropThresh = options.cropThresh;
    settings.keepGoing = options.keepGoing;
    settings.report = options.report;
    jobs = options.jobs;
    return -1;
}

// Stage 2: plan the walk (interruptible, cycle-safe) and convert.
BatchOutcome walk(const ConversionSettings& settings, int jobs)
{
    std::vector<BatchStep> steps;
    if (!planBatch(settings, steps, interruptRequested))
    {
        std::fputs("Aborted by user\n", stdout);
        return { 0, true };
    }
    const bool nothing = std::none_of(steps.begin(), steps.end(), [](const BatchStep& step) {
        return step.kind != BatchStep::Kind::makeDir;
    });
    if (nothing)
        std::fprintf(stderr, "quillon-convert: no SOFA file to convert in '%s'\n", settings.inFile.toRawUTF8());
    if (juce::File(settings.inFile).isDirectory() && isatty(STDERR_FILENO) != 0)
        enableProgress(countConversions(steps));
    return runBatch(steps, settings, jobs);
}

// Stage 3: the exit status, or death by SIGINT after an interrupt.
int report(const BatchOutcome& outcome)
{
    const int status = withOutputChecked(outcome.failed > 0 ? kExitFailed : kExitOk);
    if (outcome.interrupted)
        endByInterrupt();
    return status;
}
} // namespace

int main(int argc, char* argv[])
{
    CliOptions options;
    ConversionSettings settings;
    int jobs = 1;
    const int status = parse(argc, argv, options, settings, jobs);
    if (status >= 0)
        return status;
    installInterruptHandler();
    return report(walk(settings, jobs));
}
