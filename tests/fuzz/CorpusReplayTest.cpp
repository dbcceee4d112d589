// Replays the checked-in fuzz corpus: every file, with every treatment, must
// keep the rules of the conversion checker (one clear reason for a rejection,
// no output then; a consistent, finite set for an acceptance).

#include "ConversionCheck.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace
{

std::vector<std::string> corpusFiles()
{
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(QUILLON_FUZZ_CORPUS_DIR))
        if (entry.is_regular_file())
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(FuzzCorpusReplay, EveryFileKeepsTheConversionRules)
{
    const std::vector<std::string> files = corpusFiles();
    ASSERT_FALSE(files.empty()) << "no corpus in " << QUILLON_FUZZ_CORPUS_DIR;

    // The SOFA layer's reports of the rejected files would drown the output.
    std::streambuf* const errors = std::cerr.rdbuf(nullptr);
    std::map<std::string, int> outcomes;
    for (const std::string& file : files)
    {
        fixture::TempDir work;
        const fuzz::CheckResult result = fuzz::checkConversion(file, work.path());
        EXPECT_EQ(result.violation, "") << file;
        for (const fuzz::TreatmentResult& t : result.treatments)
            ++outcomes[t.outcome == fuzz::Outcome::Accepted ? "accepted" : fuzz::reasonClass(t.reason)];
    }
    std::cerr.rdbuf(errors);

    // The corpus is there to reach both sides of the converter.
    EXPECT_GT(outcomes["accepted"], 0);
    EXPECT_GT(outcomes.size(), 10u);
    for (const auto& [outcome, count] : outcomes)
        std::cout << count << "  " << outcome << (outcome.empty() || outcome.back() != '\n' ? "\n" : "");
}

} // namespace
