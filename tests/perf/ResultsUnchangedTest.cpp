// The converter's results on the real sets and on generated sets, against a
// compact reference recorded from an earlier build: messages (but for the
// quality checks' "warning: " lines, which the report tests judge) and header
// files exactly; data files exactly (by digest) for treatments none and crop, and for
// minimum phase on a subsample of floats within a few ulps of the set's peak.
// Speed-ups of the conversion must leave all of this as it was.
//
// With QUILLON_PERF_WRITE_REFERENCE=DIR set, the test writes the references into
// DIR instead of comparing (to record them from a trusted build).

#include "GeneratedSet.h"
#include "convert/ConvertSofaFile.h"
#include "convert/Treatment.h"
#include "fixtures/CapturingSink.h"
#include "fixtures/Files.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace
{
using fixture::readFile;


// Floats compared for the minimum-phase treatment, and their tolerance in ulps
// of the set's peak value.
constexpr std::size_t kSubsampleSize = 1024;
constexpr float kUlpsOfPeak = 4.0f;

struct SetCase
{
    std::string name;
    bool real = false;            // a measured set from the shared directory
    sofawrite::GeneratedSet generated; // otherwise this one
};

void PrintTo(const SetCase& set, std::ostream* out)
{
    *out << set.name;
}

std::vector<SetCase> setCases()
{
    std::vector<SetCase> cases;
    for (const char* real : { "MIT_KEMAR_normal_pinna", "LISTEN_1002_IRC_1002_C_HRIR" })
        cases.push_back({ real, true, {} });
    // The benchmark's main set, a length that is no power of two, and the
    // shortest responses (transform sizes at and below the smallest of 4).
    const sofawrite::GeneratedSet generated[] = {
        { 1550, 256, 48000.0, -30.0, 80.0, 1 },
        { 300, 200, 44100.0, -45.0, 90.0, 2 },
        { 120, 3, 48000.0, -20.0, 20.0, 3 },
        { 90, 2, 44100.0, -90.0, 90.0, 4 },
        { 60, 1, 22050.0, 0.0, 45.0, 5 },
    };
    for (const sofawrite::GeneratedSet& set : generated)
        cases.push_back({ sofawrite::generatedSetName(set), false, set });
    return cases;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
}

std::vector<std::string> splitLines(const std::string& text, const std::string& end)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(end, start)) != std::string::npos; start = at + end.size())
        lines.push_back(text.substr(start, at - start));
    if (start < text.size())
        lines.push_back(text.substr(start) + "<no line end>");
    return lines;
}

std::uint64_t fnv1a64(const std::string& bytes)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char byte : bytes)
    {
        hash ^= byte;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

std::uint32_t bigEndianWord(const std::string& bytes, std::size_t index)
{
    std::uint32_t word = 0;
    for (std::size_t b = 0; b < 4; ++b)
        word = (word << 8) | static_cast<unsigned char>(bytes[index * 4 + b]);
    return word;
}

float wordToFloat(std::uint32_t word)
{
    float value;
    std::memcpy(&value, &word, sizeof value);
    return value;
}

// Odd, so that the samples fall at every offset within the responses.
std::size_t subsampleStride(std::size_t count)
{
    return std::max<std::size_t>(1, count / kSubsampleSize) | 1u;
}

// The reference text of one conversion. Paths are replaced by {sofa} and {out};
// header lines lose their CR LF (a line without one is marked).
std::string describe(const std::string& messages, const std::string& header, const std::string& data, Treatment treatment)
{
    std::ostringstream out;
    const std::vector<std::string> messageLines = splitLines(messages, "\n");
    out << "messages " << messageLines.size() << "\n";
    for (const std::string& line : messageLines)
        out << line << "\n";
    const std::vector<std::string> headerLines = splitLines(header, "\r\n");
    out << "header " << headerLines.size() << "\n";
    for (const std::string& line : headerLines)
        out << line << "\n";

    char line[128];
    if (treatment != Treatment::minimumPhase)
    {
        std::snprintf(line, sizeof line, "data bytes %zu fnv1a64 %016" PRIx64 "\n", data.size(), fnv1a64(data));
        out << line;
        return out.str();
    }
    const std::size_t count = data.size() / 4;
    float peak = 0.0f;
    for (std::size_t i = 0; i < count; ++i)
        peak = std::max(peak, std::fabs(wordToFloat(bigEndianWord(data, i))));
    const std::size_t stride = subsampleStride(count);
    std::snprintf(line, sizeof line, "data bytes %zu peak %.9g stride %zu\n", data.size(), static_cast<double>(peak),
                  stride);
    out << line;
    std::size_t column = 0;
    for (std::size_t i = 0; i < count; i += stride)
    {
        std::snprintf(line, sizeof line, "%08" PRIx32, bigEndianWord(data, i));
        out << line << (++column % 8 == 0 ? "\n" : " ");
    }
    if (column % 8 != 0)
        out << "\n";
    return out.str();
}

struct Reference
{
    std::vector<std::string> head;   // everything up to the data line, as lines
    std::string dataLine;
    std::vector<std::uint32_t> words; // minimum phase: the subsample
};

Reference parse(const std::string& text)
{
    Reference reference;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
    {
        if (line.compare(0, 5, "data ") == 0 && reference.dataLine.empty())
        {
            reference.dataLine = line;
            continue;
        }
        if (reference.dataLine.empty())
        {
            reference.head.push_back(line);
            continue;
        }
        std::istringstream words(line);
        std::string word;
        while (words >> word)
            reference.words.push_back(static_cast<std::uint32_t>(std::strtoul(word.c_str(), nullptr, 16)));
    }
    return reference;
}

class ResultsUnchanged : public ::testing::TestWithParam<SetCase>
{
};

TEST_P(ResultsUnchanged, MessagesHeadersAndDataMatchTheReference)
{
    const SetCase& set = GetParam();
    fixture::TempDir dir;
    std::string sofaPath;
    if (set.real)
    {
        sofaPath = std::string(QUILLON_SHARED_SOFA_DIR) + "/" + set.name + ".sofa";
        if (!std::ifstream(sofaPath).good())
            GTEST_SKIP() << "no measured set at " << sofaPath;
    }
    else
    {
        sofaPath = dir.file(set.name + ".sofa");
        sofawrite::writeGeneratedSet(sofaPath, set.generated);
    }

    const char* writeDir = std::getenv("QUILLON_PERF_WRITE_REFERENCE");
    for (const Treatment treatment : kAllTreatments)
    {
        const std::string name = treatmentName(treatment);
        SCOPED_TRACE(name);
        const std::string outPath = dir.file(set.name + "_" + name);
        fixture::CapturingSink sink;
        ASSERT_TRUE(convertSofaFile(sink, sofaPath, outPath, toProcOption(treatment), kDefaultCropThresholdDb))
            << sink.text;
        std::string messages = sink.text;
        for (std::size_t at = 0; (at = messages.find("\nwarning: ", at)) != std::string::npos;)
            messages.erase(at + 1, messages.find('\n', at + 1) - at);
        replaceAll(messages, outPath, "{out}");
        replaceAll(messages, sofaPath, "{sofa}");
        const std::string header = readFile(outPath + ".txt");
        const std::string data = readFile(outPath);
        const std::string actual = describe(messages, header, data, treatment);

        const std::string referenceName = set.name + "." + name + ".ref";
        if (writeDir != nullptr)
        {
            std::ofstream(std::string(writeDir) + "/" + referenceName, std::ios::binary) << actual;
            continue;
        }

        const std::string expectedText = readFile(std::string(QUILLON_PERF_REFERENCE_DIR) + "/" + referenceName);
        ASSERT_FALSE(expectedText.empty()) << "missing reference " << referenceName;
        const Reference expected = parse(expectedText);
        const Reference got = parse(actual);
        EXPECT_EQ(got.head, expected.head) << "messages or header differ";
        if (treatment != Treatment::minimumPhase)
        {
            EXPECT_EQ(got.dataLine, expected.dataLine) << "data file differs";
            continue;
        }

        // Same size, then the subsample within a few ulps of the reference peak.
        unsigned long long bytes = 0;
        float peak = 0.0f;
        std::size_t stride = 0;
        ASSERT_EQ(std::sscanf(expected.dataLine.c_str(), "data bytes %llu peak %g stride %zu", &bytes, &peak, &stride),
                  3);
        ASSERT_EQ(data.size(), bytes);
        ASSERT_EQ(got.words.size(), expected.words.size());
        const float tolerance = kUlpsOfPeak * peak * std::ldexp(1.0f, -23);
        std::size_t worst = 0;
        float worstDifference = 0.0f;
        for (std::size_t i = 0; i < got.words.size(); ++i)
        {
            const float difference = std::fabs(wordToFloat(got.words[i]) - wordToFloat(expected.words[i]));
            if (!(difference <= worstDifference))
            {
                worstDifference = difference;
                worst = i;
            }
        }
        EXPECT_LE(worstDifference, tolerance)
            << "float " << worst * stride << ": " << wordToFloat(got.words[worst]) << " instead of "
            << wordToFloat(expected.words[worst]);
    }
}

INSTANTIATE_TEST_SUITE_P(Sets, ResultsUnchanged, ::testing::ValuesIn(setCases()),
                         [](const ::testing::TestParamInfo<SetCase>& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

} // namespace
