// Per-file conversion time for each treatment beside the time to open the file
// and read Data.IR through the netCDF C library, with their ratios; and the
// default treatment again with the report files written, with their cost. The
// generated sets are written once per run (or reused from --sets-dir).
//
// usage: quillon-bench [--sets-dir DIR] [Google Benchmark flags]

#include "BareRead.h"
#include "GeneratedSet.h"
#include "convert/ConvertSofaFile.h"
#include "convert/Treatment.h"

#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace
{

class SilentSink : public PrintMsgI
{
public:
    void printMsg(const char*, ...) override {}
};

struct BenchFile
{
    std::string name;
    std::string path;
};

bool fileExists(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

void benchRead(benchmark::State& state, const std::string& path)
{
    std::vector<double> values;
    std::string error;
    for (auto _ : state)
    {
        if (!bareReadDataIR(path, values, error))
        {
            state.SkipWithError(error.c_str());
            break;
        }
        benchmark::DoNotOptimize(values.data());
    }
}

void benchConvert(benchmark::State& state, const std::string& path, const std::string& outBase, int procOption,
                  bool report)
{
    SilentSink sink;
    ConversionOptions options;
    options.writeReport = report;
    for (auto _ : state)
    {
        bool written = false;
        if (!convertSofaFile(sink, path, outBase, procOption, kDefaultCropThresholdDb, options, {}, &written)
            || !written)
        {
            state.SkipWithError("conversion failed");
            break;
        }
    }
}

// Console output as usual, and the per-file times kept for the ratio table:
// the median of the repetitions when there are several, else the one run.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    explicit RatioReporter(OutputOptions options) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
        {
            if (run.error_occurred)
                continue;
            const std::string name = run.run_name.function_name;
            const double seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
            if (run.run_type == Run::RT_Aggregate)
            {
                if (run.aggregate_name == "median")
                    aggregated[name] = seconds;
            }
            else
            {
                repetitions[name].push_back(seconds);
            }
        }
    }

    // Seconds per conversion of name, or a negative value when it did not run.
    double median(const std::string& name) const
    {
        const auto found = aggregated.find(name);
        if (found != aggregated.end())
            return found->second;
        const auto runs = repetitions.find(name);
        if (runs == repetitions.end() || runs->second.empty())
            return -1.0;
        std::vector<double> sorted = runs->second;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t middle = sorted.size() / 2;
        return sorted.size() % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2.0;
    }

    void printRatios(const std::vector<BenchFile>& files) const
    {
        std::printf("\n%-36s %10s", "file (median ms)", "read");
        for (const Treatment treatment : kAllTreatments)
            std::printf(" %10s %7s", treatmentName(treatment), "ratio");
        std::printf("\n");
        for (const BenchFile& file : files)
        {
            const double read = median("read/" + file.name);
            if (read <= 0.0)
                continue;
            std::printf("%-36s %10.2f", file.name.c_str(), read * 1e3);
            for (const Treatment treatment : kAllTreatments)
            {
                const double converted = median(std::string(treatmentName(treatment)) + "/" + file.name);
                if (converted < 0.0)
                    std::printf(" %10s %7s", "-", "-");
                else
                    std::printf(" %10.2f %6.2fx", converted * 1e3, converted / read);
            }
            std::printf("\n");
        }

        // What the report files add to a conversion with the default treatment.
        const std::string plain = treatmentName(kDefaultTreatment);
        std::printf("\n%-36s %10s %10s %10s\n", "file (median ms)", plain.c_str(), "+report", "cost");
        for (const BenchFile& file : files)
        {
            const double without = median(plain + "/" + file.name);
            const double with = median("report/" + file.name);
            if (without > 0.0 && with > 0.0)
                std::printf("%-36s %10.2f %10.2f %9.1f%%\n", file.name.c_str(), without * 1e3, with * 1e3,
                            (with - without) / without * 100.0);
        }
    }

private:
    std::map<std::string, double> aggregated;
    std::map<std::string, std::vector<double>> repetitions;
};

} // namespace

int main(int argc, char* argv[])
{
    std::string setsDir;
    std::vector<char*> passOn{ argv[0] };
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--sets-dir") == 0 && i + 1 < argc)
            setsDir = argv[++i];
        else
            passOn.push_back(argv[i]);
    }
    int passOnCount = static_cast<int>(passOn.size());
    benchmark::Initialize(&passOnCount, passOn.data());
    if (benchmark::ReportUnrecognizedArguments(passOnCount, passOn.data()))
        return 2;

    char scratchTemplate[] = "/tmp/quillon-bench-XXXXXX";
    const char* scratch = ::mkdtemp(scratchTemplate);
    if (scratch == nullptr)
    {
        std::perror("quillon-bench: mkdtemp");
        return 1;
    }
    if (setsDir.empty())
        setsDir = scratch;

    std::vector<sofawrite::GeneratedSet> generated(2);
    generated[0].M = 1550;
    generated[0].N = 256;
    generated[0].samplingRate = 48000.0;
    generated[1].M = 2000;
    generated[1].N = 512;
    generated[1].samplingRate = 44100.0;

    std::vector<BenchFile> files;
    for (const sofawrite::GeneratedSet& set : generated)
    {
        const std::string name = sofawrite::generatedSetName(set);
        const std::string path = setsDir + "/" + name + ".sofa";
        if (!fileExists(path))
        {
            std::fprintf(stderr, "writing %s\n", path.c_str());
            sofawrite::writeGeneratedSet(path, set);
        }
        files.push_back({ name, path });
    }
#ifdef QUILLON_SHARED_SOFA_DIR
    for (const char* real : { "MIT_KEMAR_normal_pinna", "LISTEN_1002_IRC_1002_C_HRIR" })
    {
        const std::string path = std::string(QUILLON_SHARED_SOFA_DIR) + "/" + real + ".sofa";
        if (fileExists(path))
            files.push_back({ real, path });
    }
#endif

    for (const BenchFile& file : files)
    {
        benchmark::RegisterBenchmark(("read/" + file.name).c_str(), benchRead, file.path)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        for (const Treatment treatment : kAllTreatments)
        {
            const std::string name = treatmentName(treatment);
            const std::string outBase = std::string(scratch) + "/" + file.name + "_" + name;
            benchmark::RegisterBenchmark((name + "/" + file.name).c_str(), benchConvert, file.path, outBase,
                                         toProcOption(treatment), false)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
        benchmark::RegisterBenchmark(("report/" + file.name).c_str(), benchConvert, file.path,
                                     std::string(scratch) + "/" + file.name + "_report",
                                     toProcOption(kDefaultTreatment), true)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }

    RatioReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                 : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    reporter.printRatios(files);

    // Only the outputs go; generated sets stay when they live in --sets-dir.
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
    return 0;
}
