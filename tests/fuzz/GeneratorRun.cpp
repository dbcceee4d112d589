// Seed-driven fuzzing: generates one SOFA file per seed and runs every
// treatment's conversion on it through the rule checker. Batches of seeds run
// in a child process each, so that a crash, a sanitizer report, a leak or a
// time-out costs one seed, not the run; each file has a time limit that grows
// with the data it declares.
//
//   sofa_fuzz_generate run [--first S] [--count N] [--batch B] [--seconds T]
//                          [--save DIR] [--save-max-bytes K] [--quiet]
//   sofa_fuzz_generate write SEED OUT.sofa          the file of one seed
//   sofa_fuzz_generate write-bytes IN.bin OUT.sofa  the file of a libFuzzer input
//   sofa_fuzz_generate check FILE...                the rule checker on files

#include "ConversionCheck.h"
#include "FuzzSession.h"
#include "SofaGenerator.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLON_FUZZ_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QUILLON_FUZZ_ASAN 1
#endif

namespace
{

namespace fs = std::filesystem;

constexpr int kTimeoutExit = 124;
constexpr int kLeakExit = 23;  // LeakSanitizer's exit code
constexpr std::size_t kClassSlots = 4096;
constexpr std::size_t kCoverageSlots = std::size_t(1) << 21;

struct OutcomeClass
{
    std::uint64_t hash;
    std::uint64_t count;
    std::uint64_t firstSeed;
    char text[200];
};

// Lives in shared memory: the children count, the parent reads.
struct Shared
{
    std::uint64_t current;  // seed in progress; after a clean batch, the next seed
    std::uint64_t batchDone;
    std::uint64_t tried, accepted, rejected, silent, refusedByWriter, libraryKeptOpen;
    std::uint64_t newClassInputs, newCoverageInputs, edgesCovered;
    double slowestSeconds, generateSeconds, checkSeconds;
    std::uint64_t slowestSeed, slowestDeclared;
    char violation[8192];
    OutcomeClass classes[kClassSlots];
    std::uint8_t coverage[kCoverageSlots];
};

Shared* shared = nullptr;

// Counters of our own code, when it was built with coverage instrumentation.
std::vector<std::pair<std::uint8_t*, std::uint8_t*>>& counterRanges()
{
    static std::vector<std::pair<std::uint8_t*, std::uint8_t*>> ranges;
    return ranges;
}

std::uint64_t hashText(const std::string& text)
{
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text)
        h = (h ^ c) * 1099511628211ull;
    return h == 0 ? 1 : h;
}

// Records the class; true when it is new.
bool recordClass(const std::string& text, std::uint64_t seed)
{
    const std::uint64_t h = hashText(text);
    for (std::size_t i = 0, slot = h % kClassSlots; i < kClassSlots; ++i, slot = (slot + 1) % kClassSlots)
    {
        OutcomeClass& c = shared->classes[slot];
        if (c.hash == h)
        {
            ++c.count;
            return false;
        }
        if (c.hash == 0)
        {
            c.hash = h;
            c.count = 1;
            c.firstSeed = seed;
            std::snprintf(c.text, sizeof c.text, "%s", text.c_str());
            return true;
        }
    }
    return false;
}

bool recordCoverage()
{
    bool fresh = false;
    std::size_t index = 0;
    for (const auto& [start, end] : counterRanges())
        for (std::uint8_t* p = start; p < end && index < kCoverageSlots; ++p, ++index)
            if (*p != 0 && shared->coverage[index] == 0)
            {
                shared->coverage[index] = 1;
                ++shared->edgesCovered;
                fresh = true;
            }
    return fresh;
}

std::string oneLine(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += c == '\n' ? ' ' : c;
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

// The outcome of the three treatments, numbers masked.
std::string outcomeText(const fuzz::CheckResult& result)
{
    std::string text;
    for (const fuzz::TreatmentResult& t : result.treatments)
    {
        if (!text.empty())
            text += " | ";
        if (t.outcome == fuzz::Outcome::Accepted)
            text += "accepted";
        else
            text += (t.outcome == fuzz::Outcome::RejectedSilently ? "stdout: " : "") + oneLine(fuzz::reasonClass(t.reason));
    }
    // The same verdict for every treatment is the usual case: say it once.
    const auto first = text.find(" | ");
    if (first != std::string::npos)
    {
        const std::string one = text.substr(0, first);
        if (text == one + " | " + one + " | " + one)
            return one;
    }
    return text;
}

void onAlarm(int)
{
    static const char message[] = "\n==quillon-fuzz== time limit exceeded\n";
    const ssize_t ignored = ::write(STDERR_FILENO, message, sizeof message - 1);
    (void)ignored;
    ::_exit(kTimeoutExit);
}

struct RunOptions
{
    std::uint64_t first = 0;
    std::uint64_t count = 1000;
    std::uint64_t batch = 500;
    double seconds = 0.0;  // overall time limit; 0 = none
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    std::string saveDir;
    std::size_t saveMaxBytes = 8192;
    bool quiet = false;
};

// The work of a conversion grows with the values the file declares (read), with
// the set it writes (up to about 1800 grid positions of 2 x N floats, N rounded
// up to a power of two, capped at 2^28 floats) and with the nearest search
// (every one of up to 1652 targets against every measurement). The limit is a
// base plus two seconds per million declared values, three per million floats
// of the largest set and 25 per million measurements (five times the search's
// time in a plain build), tripled under the sanitizers and coverage
// instrumentation, which slow the search's loop most.
unsigned timeLimitFor(const fuzz::GeneratedFile& file)
{
    constexpr double setCap = 268435456.0;
    double length = 1.0;
    while (length < static_cast<double>(file.N) && length < 1073741824.0)
        length *= 2.0;
    const double setFloats = std::min(setCap, 1800.0 * 2.0 * length);
    const double declared = static_cast<double>(std::min<std::size_t>(file.declaredValues, std::size_t(1) << 30));
    const double measurements = static_cast<double>(std::min<std::size_t>(file.M, std::size_t(1) << 30));
    double limit = 20.0 + 2.0 * declared / 1e6 + 3.0 * setFloats / 1e6 + 25.0 * measurements / 1e6;
#ifdef QUILLON_FUZZ_SANITIZED
    limit *= 3.0;
#endif
    return static_cast<unsigned>(limit);
}

void copyFile(const std::string& from, const std::string& to)
{
    std::error_code ignored;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ignored);
}

std::string inputPath(const std::string& work, std::uint64_t seed)
{
    return work + "/in-" + std::to_string(seed) + ".sofa";
}

[[noreturn]] void runChild(const RunOptions& options, std::uint64_t from, std::uint64_t to, const std::string& work)
{
    fuzz::silenceSofaReports();
    ::signal(SIGALRM, onAlarm);
    // No file of ours may grow past 4 GiB (the largest set is 1 GiB): a runaway
    // write fails with EFBIG instead of filling a memory-backed temporary directory.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit fileSize{rlim_t(4) << 30, rlim_t(4) << 30};
    ::setrlimit(RLIMIT_FSIZE, &fileSize);
#ifndef QUILLON_FUZZ_ASAN
    // Without the sanitizers' allocation limit, a file that declares huge data must
    // meet std::bad_alloc rather than the machine's memory.
    rlimit memory{rlim_t(6) << 30, rlim_t(6) << 30};
    ::setrlimit(RLIMIT_AS, &memory);
#endif
    std::uint64_t seed = from;
    // At least one seed per batch, so that every batch makes progress.
    for (; seed < to && (seed == from || std::chrono::steady_clock::now() < options.deadline); ++seed)
    {
        shared->current = seed;
        // A file name of its own: a file that the library failed to close stays locked.
        const std::string path = inputPath(work, seed);
        fuzz::SeededChoices choices(seed);
        const auto generating = std::chrono::steady_clock::now();
        const fuzz::GeneratedFile generated = fuzz::generateSofa(choices, path);
        shared->generateSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - generating).count();
        if (!generated.written)
        {
            std::remove(path.c_str());
            if (shared->refusedByWriter < 3)
                std::fprintf(stderr, "seed %" PRIu64 " refused by the writer: %s\n", seed, generated.error.c_str());
            ++shared->refusedByWriter;
            ++shared->tried;
            continue;
        }
        const auto started = std::chrono::steady_clock::now();
        ::alarm(timeLimitFor(generated));
        const fuzz::CheckResult result = fuzz::checkConversion(path, work);
        ::alarm(0);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        shared->checkSeconds += seconds;
        if (seconds > shared->slowestSeconds)
        {
            shared->slowestSeconds = seconds;
            shared->slowestSeed = seed;
            shared->slowestDeclared = generated.declaredValues;
        }
        if (!result.violation.empty())
        {
            std::snprintf(shared->violation, sizeof shared->violation, "seed %" PRIu64 " (%s): %s", seed,
                          generated.description.c_str(), result.violation.c_str());
            fuzz::abortOnViolation(path, result);
        }
        ++shared->tried;
        for (const fuzz::TreatmentResult& t : result.treatments)
        {
            if (t.outcome == fuzz::Outcome::Accepted)
                ++shared->accepted;
            else if (t.outcome == fuzz::Outcome::RejectedSilently)
                ++shared->silent;
            else
                ++shared->rejected;
            shared->libraryKeptOpen += t.libraryLeftInputOpen;
        }
        const bool newClass = recordClass(outcomeText(result), seed);
        const bool newCoverage = recordCoverage();
        shared->newClassInputs += newClass;
        shared->newCoverageInputs += newCoverage;
        if ((newClass || newCoverage) && !options.saveDir.empty())
        {
            std::error_code error;
            const auto size = fs::file_size(path, error);
            if (!error && size <= options.saveMaxBytes)
                copyFile(path, options.saveDir + "/seed-" + std::to_string(seed) + ".sofa");
        }
        std::remove(path.c_str());
    }
    shared->current = seed;  // where the next batch starts
    shared->batchDone = 1;
    std::exit(0);  // runs LeakSanitizer's check over the batch
}

struct Findings
{
    std::uint64_t crashes = 0, sanitizerReports = 0, timeouts = 0, leaks = 0, violations = 0;
    std::vector<std::string> lines;
};

// Runs seeds [from, to) in one child; returns the seed to continue from.
std::uint64_t runBatch(const RunOptions& options, std::uint64_t from, std::uint64_t to, Findings& findings,
                       bool isolatingLeak)
{
    const std::string work = fuzz::sessionDir();
    shared->current = from;
    shared->batchDone = 0;
    shared->violation[0] = '\0';
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t child = ::fork();
    if (child < 0)
    {
        std::perror("fork");
        std::exit(2);
    }
    if (child == 0)
        runChild(options, from, to, work);

    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return shared->current;

    std::uint64_t seed = shared->current;
    std::string kind;
    if (WIFEXITED(status) && WEXITSTATUS(status) == kLeakExit && shared->batchDone)
    {
        to = seed;
        // The leak check ran at the end of the batch: find the seeds one by one.
        if (!isolatingLeak && to - from > 1)
        {
            for (std::uint64_t s = from; s < to;)
                s = runBatch(options, s, s + 1, findings, true);
            return to;
        }
        seed = from;
        ++findings.leaks;
        kind = "leak";
    }
    else if (WIFEXITED(status) && WEXITSTATUS(status) == kTimeoutExit)
    {
        ++findings.timeouts;
        kind = "time-out";
    }
    else if (WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT && shared->violation[0] != '\0')
    {
        ++findings.violations;
        kind = std::string("rule broken: ") + shared->violation;
    }
    else if (WIFEXITED(status))
    {
        ++findings.sanitizerReports;
        kind = "sanitizer report (exit " + std::to_string(WEXITSTATUS(status)) + ")";
    }
    else
    {
        ++findings.crashes;
        kind = "crash (signal " + std::to_string(WTERMSIG(status)) + ")";
    }
    ++shared->tried;
    std::string saved;
    if (!options.saveDir.empty() && seed < to)
    {
        saved = options.saveDir + "/finding-seed-" + std::to_string(seed) + ".sofa";
        copyFile(inputPath(work, seed), saved);
        std::remove(inputPath(work, seed).c_str());
    }
    findings.lines.push_back("seed " + std::to_string(seed) + ": " + kind + (saved.empty() ? "" : " -> " + saved));
    std::fprintf(stderr, "==quillon-fuzz== seed %" PRIu64 ": %s\n", seed, kind.c_str());
    return seed + 1;
}

int run(RunOptions options)
{
    if (options.seconds > 0.0)
        options.deadline = std::chrono::steady_clock::now()
                           + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                               std::chrono::duration<double>(options.seconds));
    void* memory = ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
    {
        std::perror("mmap");
        return 2;
    }
    shared = static_cast<Shared*>(memory);
    if (!options.saveDir.empty())
        fs::create_directories(options.saveDir);

    const auto started = std::chrono::steady_clock::now();
    const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(); };
    Findings findings;
    const std::uint64_t end = options.first + options.count;
    std::uint64_t seed = options.first;
    double lastReport = 0.0;
    while (seed < end && std::chrono::steady_clock::now() < options.deadline)
    {
        seed = runBatch(options, seed, std::min(end, seed + options.batch), findings, false);
        if (!options.quiet && elapsed() - lastReport >= 60.0)
        {
            lastReport = elapsed();
            std::printf("[%.0f s] seeds up to %" PRIu64 ": %" PRIu64 " inputs, %" PRIu64 " outcome classes\n",
                        lastReport, seed, shared->tried, shared->newClassInputs);
            std::fflush(stdout);
        }
    }

    std::printf("seeds: %" PRIu64 " to %" PRIu64 "\n", options.first, seed);
    std::printf("inputs tried: %" PRIu64 " (refused by the writer: %" PRIu64 ")\n", shared->tried,
                shared->refusedByWriter);
    std::printf("conversions: %" PRIu64 " accepted, %" PRIu64 " rejected with a reason, %" PRIu64
                " rejected by the position reader on stdout\n",
                shared->accepted, shared->rejected, shared->silent);
    std::printf("input kept open by libnetcdf after a failed open: %" PRIu64 " conversions\n",
                shared->libraryKeptOpen);
    std::printf("crashes: %" PRIu64 "\nsanitizer reports: %" PRIu64 "\nleaks: %" PRIu64 "\ntime-outs: %" PRIu64
                "\nrules broken: %" PRIu64 "\n",
                findings.crashes, findings.sanitizerReports, findings.leaks, findings.timeouts, findings.violations);
    std::printf("new coverage: %" PRIu64 " outcome classes", shared->newClassInputs);
    if (!counterRanges().empty() || shared->edgesCovered > 0)
        std::printf(", %" PRIu64 " inputs with new edges, %" PRIu64 " edges covered", shared->newCoverageInputs,
                    shared->edgesCovered);
    std::printf("\nslowest input: seed %" PRIu64 ", %.2f s for 3 conversions, %" PRIu64 " values declared\n",
                shared->slowestSeed, shared->slowestSeconds, shared->slowestDeclared);
    std::printf("time: %.0f s (generating %.0f s, converting and checking %.0f s)\n", elapsed(),
                shared->generateSeconds, shared->checkSeconds);
    for (const std::string& line : findings.lines)
        std::printf("finding: %s\n", line.c_str());
    if (!options.quiet)
    {
        std::printf("outcome classes (count, first seed, outcome):\n");
        for (const OutcomeClass& c : shared->classes)
            if (c.hash != 0)
                std::printf("  %8" PRIu64 "  %10" PRIu64 "  %s\n", c.count, c.firstSeed, c.text);
    }
    const bool clean = findings.crashes + findings.sanitizerReports + findings.leaks + findings.timeouts
                           + findings.violations == 0;
    return clean ? 0 : 1;
}

std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int usage()
{
    std::fprintf(stderr,
                 "usage: sofa_fuzz_generate run [--first S] [--count N] [--batch B] [--seconds T] [--save DIR]\n"
                 "                              [--save-max-bytes K] [--quiet]\n"
                 "       sofa_fuzz_generate write SEED OUT.sofa\n"
                 "       sofa_fuzz_generate write-bytes IN.bin OUT.sofa\n"
                 "       sofa_fuzz_generate check FILE...\n");
    return 2;
}

} // namespace

// With coverage instrumentation (the fuzz build) the runtime hands us the
// counters of every instrumented module; elsewhere nobody calls this.
extern "C" void __sanitizer_cov_8bit_counters_init(std::uint8_t* start, std::uint8_t* stop)
{
    if (start < stop)
        counterRanges().emplace_back(start, stop);
}

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return usage();
    const std::string command = args[0];
    if (command == "write" && args.size() == 3)
    {
        fuzz::SeededChoices choices(std::strtoull(args[1].c_str(), nullptr, 10));
        const fuzz::GeneratedFile file = fuzz::generateSofa(choices, args[2]);
        std::printf("%s: %s (M %zu, R %zu, N %zu, %zu values declared): %s\n", args[2].c_str(),
                    file.written ? "written" : "refused by the writer", file.M, file.R, file.N, file.declaredValues,
                    file.description.c_str());
        return file.written ? 0 : 1;
    }
    if (command == "write-bytes" && args.size() == 3)
    {
        const std::string bytes = readBytes(args[1]);
        fuzz::ByteChoices choices(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        const fuzz::GeneratedFile file = fuzz::generateSofa(choices, args[2]);
        std::printf("%s: %s: %s\n", args[2].c_str(), file.written ? "written" : "refused by the writer",
                    file.description.c_str());
        return file.written ? 0 : 1;
    }
    if (command == "check" && args.size() >= 2)
    {
        int broken = 0;
        for (std::size_t i = 1; i < args.size(); ++i)
        {
            const fuzz::CheckResult result = fuzz::checkConversion(args[i], fuzz::sessionDir());
            if (!result.violation.empty())
                ++broken;
            std::printf("%s: %s\n", args[i].c_str(),
                        result.violation.empty() ? outcomeText(result).c_str() : result.violation.c_str());
        }
        return broken == 0 ? 0 : 1;
    }
    if (command != "run")
        return usage();

    RunOptions options;
    for (std::size_t i = 1; i < args.size(); ++i)
    {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--quiet")
            options.quiet = true;
        else if (a == "--first" && hasValue)
            options.first = std::strtoull(args[++i].c_str(), nullptr, 10);
        else if (a == "--count" && hasValue)
            options.count = std::strtoull(args[++i].c_str(), nullptr, 10);
        else if (a == "--batch" && hasValue)
            options.batch = std::max<std::uint64_t>(1, std::strtoull(args[++i].c_str(), nullptr, 10));
        else if (a == "--seconds" && hasValue)
            options.seconds = std::strtod(args[++i].c_str(), nullptr);
        else if (a == "--save" && hasValue)
            options.saveDir = args[++i];
        else if (a == "--save-max-bytes" && hasValue)
            options.saveMaxBytes = std::strtoull(args[++i].c_str(), nullptr, 10);
        else
            return usage();
    }
    return run(options);
}
