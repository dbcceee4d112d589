// Replays the checked-in fuzz corpus: every file, with every treatment, must
// keep the rules of the conversion checker (one clear reason for a rejection,
// no output then; a consistent, finite set for an acceptance). A file named
// accept-* must be accepted and reject-* rejected by every treatment; the
// faults that fuzzing found must keep their own reasons.

#include "ConversionCheck.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

// Under AddressSanitizer: should a size check go missing, a file declaring
// gigabytes must meet a report, not the machine's memory.
extern "C" const char* __asan_default_options()
{
    return "max_allocation_size_mb=3072:allocator_may_return_null=1";
}

namespace
{

std::vector<std::filesystem::path> corpusFiles()
{
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(QUILLON_FUZZ_CORPUS_DIR))
        if (entry.is_regular_file())
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The reasons of the faults found by fuzzing, by file: all treatments, or
// only minimum phase (2) for the mixed-* files.
const std::map<std::string, std::string> kFoundFaultReasons = {
    {"reject-elevation-huge", "invalid values in SourcePosition: elevation 1e+20 at measurement 1\n"},
    {"reject-elevation-int-range", "invalid values in SourcePosition: elevation 2.14748e+09 at measurement 0\n"},
    {"reject-elevation-just-past-pole", "invalid values in SourcePosition: elevation 91 at measurement 1\n"},
    {"reject-data-too-large", "SOFA data too large: 2147483647 measurements of 8 samples\n"},
    {"reject-too-many-measurements", "SOFA data too large: 134217728 measurements of 1 samples\n"},
    {"reject-set-too-large", "HRTF set too large: 72 positions of 67108864 samples\n"},
    {"mixed-minphase-overflow", "invalid values after processing measurement "},
    {"mixed-minphase-overflow-fill-values", "invalid values after processing measurement "},
    {"mixed-largest-float-samples", "invalid values after processing measurement "},
};

TEST(FuzzCorpusReplay, EveryFileKeepsTheConversionRules)
{
    const std::vector<std::filesystem::path> files = corpusFiles();
    ASSERT_FALSE(files.empty()) << "no corpus in " << QUILLON_FUZZ_CORPUS_DIR;

    // The SOFA layer's reports of the rejected files would drown the output.
    std::streambuf* const errors = std::cerr.rdbuf(nullptr);
    std::map<std::string, int> outcomes;
    for (const std::filesystem::path& file : files)
    {
        fixture::TempDir work;
        const fuzz::CheckResult result = fuzz::checkConversion(file.string(), work.path());
        EXPECT_EQ(result.violation, "") << file;
        if (!result.violation.empty())
            continue;

        const std::string name = file.stem().string();
        const auto found = kFoundFaultReasons.find(name);
        for (const fuzz::TreatmentResult& t : result.treatments)
        {
            const bool accepted = t.outcome == fuzz::Outcome::Accepted;
            ++outcomes[accepted ? "accepted" : fuzz::reasonClass(t.reason)];
            if (startsWith(name, "accept-"))
            {
                EXPECT_TRUE(accepted) << name << " treatment " << t.procOption << ": " << t.reason;
            }
            if (startsWith(name, "reject-"))
            {
                EXPECT_FALSE(accepted) << name << " treatment " << t.procOption;
            }
            if (found == kFoundFaultReasons.end())
                continue;
            if (startsWith(name, "mixed-") && t.procOption != toProcOption(Treatment::minimumPhase))
            {
                EXPECT_TRUE(accepted) << name << " treatment " << t.procOption << ": " << t.reason;
            }
            else
            {
                EXPECT_TRUE(startsWith(t.reason, found->second))
                    << name << " treatment " << t.procOption << ": " << t.reason;
            }
        }
    }
    std::cerr.rdbuf(errors);

    EXPECT_GT(outcomes["accepted"], 0);
    for (const auto& [outcome, count] : outcomes)
        std::cout << count << "  " << outcome << (outcome.empty() || outcome.back() != '\n' ? "\n" : "");
}

} // namespace
