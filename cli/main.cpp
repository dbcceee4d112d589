// quillon-convert: the window's batch conversion without a window.
// Standard output carries exactly what the status box would show.

#include "batch/ConvertThread.h"
#include "batch/DefaultOutputDir.h"
#include "batch/messages/MessageText.h"
#include "convert/Treatment.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace
{
constexpr const char* usage =
    "usage: quillon-convert [--treatment none|crop|minphase] [--threshold DB] [--recursive] INPUT [OUTPUT_DIR]\n";

constexpr const char* help =
    "Converts SOFA HRIR files (SimpleFreeFieldHRIR) into Tarnfield HRTF sets.\n"
    "\n"
    "INPUT is one SOFA file, or a directory whose *.sofa files are converted.\n"
    "OUTPUT_DIR defaults to the folder the Tarnfield spatialiser scans for user\n"
    "HRTFs (Kelvane/TarnfieldHRTFs in the user's application-data directory);\n"
    "it is created when missing.\n"
    "\n"
    "options:\n"
    "  --treatment none|crop|minphase  treatment of the responses (default %s)\n"
    "  --threshold DB                  crop threshold in dB below the peak (default %d)\n"
    "  --recursive                     also convert sub-directories into a mirrored tree\n"
    "  --help                          show this help\n"
    "  --version                       show the version\n"
    "\n"
    "exit status: 0 all files converted, 1 a check or a file failed,\n"
    "2 usage error, 130 interrupted (Ctrl-C; a second Ctrl-C abandons the running file)\n";

volatile std::sig_atomic_t interrupts = 0;

void onInterrupt(int)
{
    interrupts = interrupts + 1;
}

int usageError(const std::string& problem)
{
    std::fprintf(stderr, "quillon-convert: %s\n%sTry 'quillon-convert --help' for more information.\n",
                 problem.c_str(), usage);
    return 2;
}

// Whole decimal integer with optional sign, as a 32-bit int.
bool parseInt(const std::string& text, int& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || parsed < -2147483647L || parsed > 2147483647L)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

void printLine(const char* format, const juce::String& path)
{
    std::fputs(formatMessage(format, path.toRawUTF8()).c_str(), stdout);
    std::fflush(stdout);
}

int countSofaFiles(const juce::File& dir, bool recurse)
{
    int count = 0;
    for (const juce::File& file : dir.findChildFiles(juce::File::findFiles, recurse, "*"))
        if (file.getFileName().matchesWildcard("*.sofa", true))
            ++count;
    return count;
}
} // namespace

int main(int argc, char* argv[])
{
    ConversionSettings settings;
    std::string inputArg;
    std::string outputArg;
    int positional = 0;

    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
        {
            std::fputs(usage, stdout);
            std::printf(help, treatmentName(kDefaultTreatment), kDefaultCropThresholdDb);
            return 0;
        }
        if (arg == "--version")
        {
            std::printf("quillon-convert %s\n", QUILLON_VERSION_STRING);
            return 0;
        }
        if (arg == "--recursive")
        {
            settings.recurse = true;
        }
        else if (arg == "--treatment" || arg == "--threshold")
        {
            if (i + 1 >= argc)
                return usageError(arg + " needs a value");
            const std::string value = argv[++i];
            if (arg == "--treatment")
            {
                Treatment treatment = kDefaultTreatment;
                if (!parseTreatment(value, treatment))
                    return usageError("unknown treatment '" + value + "'");
                settings.procOption = toProcOption(treatment);
            }
            else
            {
                int threshold = 0;
                if (!parseInt(value, threshold))
                    return usageError("threshold '" + value + "' is not a whole number of dB");
                settings.cropThresh = threshold < 0 ? -threshold : threshold;
            }
        }
        else if (arg.size() > 1 && arg[0] == '-' && arg != "--")
        {
            return usageError("unknown option '" + arg + "'");
        }
        else
        {
            if (arg == "--")
                continue;
            if (positional == 0)
                inputArg = arg;
            else if (positional == 1)
                outputArg = arg;
            else
                return usageError("too many arguments");
            ++positional;
        }
    }
    if (positional == 0)
        return usageError("missing INPUT");

    const juce::File cwd = juce::File::getCurrentWorkingDirectory();
    const juce::File input = cwd.getChildFile(juce::String::fromUTF8(inputArg.c_str()));
    const juce::File output = outputArg.empty()
        ? getDefaultOutputDir()
        : cwd.getChildFile(juce::String::fromUTF8(outputArg.c_str()));

    if (!input.exists())
    {
        printLine("Error, input '%s' doesn't exist\n", input.getFullPathName());
        return 1;
    }
    if (!output.createDirectory().wasOk() || !output.isDirectory())
    {
        printLine("Error creating output dir '%s'\n", output.getFullPathName());
        return 1;
    }
    settings.inFile = input.getFullPathName();
    settings.outDir = output.getFullPathName();

    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);

    const bool showProgress = input.isDirectory() && isatty(STDERR_FILENO) != 0;
    const int filesFound = showProgress ? countSofaFiles(input, settings.recurse) : 0;

    ConvertThread thread;
    thread.convert(&settings);
    int interruptsSeen = 0;
    int lastProgress = -1;
    for (;;)
    {
        const bool ended = thread.waitForThreadToExit(50);
        const juce::String text = thread.takeMessages();
        if (text.isNotEmpty())
        {
            std::fputs(text.toRawUTF8(), stdout);
            std::fflush(stdout);
        }
        if (ended)
            break;
        if (interrupts != interruptsSeen)
        {
            interruptsSeen = interrupts;
            if (interruptsSeen == 1)
                thread.signalThreadShouldExit();
            else
                thread.stopBatch(0); // abandon the running file at its next safe point
        }
        if (showProgress)
        {
            const int started = thread.getFilesStarted();
            const int done = started > 0 ? started - 1 : 0;
            if (done != lastProgress)
            {
                std::fprintf(stderr, "\r%d of %d files done", done, filesFound);
                lastProgress = done;
            }
        }
    }
    if (showProgress)
        std::fprintf(stderr, "\r%d of %d files done\n", thread.getFilesStarted(), filesFound);

    if (thread.wasAborted() || interrupts > 0)
        return 130;
    return thread.getFilesFailed() > 0 ? 1 : 0;
}
