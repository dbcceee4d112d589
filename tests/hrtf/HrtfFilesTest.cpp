#include "hrtf/HrtfSet.h"

#include "fixtures/Files.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace
{
using fixture::readFile;


// The example set: ITD_extracted, rings -30/0/30 with 4/6/4 azimuths, 256 b
// coefficients, 44100 Hz: 14 HRTFs of 512 floats.
HrtfSet exampleSet(std::int32_t flags = ITD_extracted)
{
    HrtfSetInfo info(3);
    info.flags = flags;
    info.sampRate = 44100;
    info.numBCoeff = 256;
    info.elevs = { -30, 0, 30 };
    info.numAz = { 4, 6, 4 };
    HrtfSet set(info);
    for (std::size_t i = 0; i < set.data.size(); ++i)
        set.data[i] = static_cast<float>(i % 97) * 0.125f - 3.0f;
    set.data[0] = 1.0f;
    return set;
}

std::vector<std::string> namesIn(const std::string& directory)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Reads the data file back: undo the key stream if asked, then big-endian words.
std::vector<float> decode(const std::string& bytes, bool scrambled)
{
    std::vector<std::uint32_t> words(bytes.size() / 4);
    for (std::size_t i = 0; i < words.size(); ++i)
    {
        std::uint32_t stored = 0;
        std::memcpy(&stored, bytes.data() + 4 * i, 4);
        words[i] = stored;
    }
    if (scrambled)
        scrambleWords(words.data(), words.size());  // little-endian host: the byte rule
    std::vector<float> values(words.size());
    for (std::size_t i = 0; i < words.size(); ++i)
    {
        const auto* b = reinterpret_cast<const unsigned char*>(&words[i]);
        const std::uint32_t bigEndian = (std::uint32_t { b[0] } << 24) | (std::uint32_t { b[1] } << 16)
                                        | (std::uint32_t { b[2] } << 8) | std::uint32_t { b[3] };
        std::memcpy(&values[i], &bigEndian, 4);
    }
    return values;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

}  // namespace

TEST(HrtfFiles, ExampleSetByteForByte)
{
    fixture::TempDir dir;
    HrtfSet set = exampleSet();
    set.itds[1] = -3.0f;
    set.itds[2] = 0.5f;
    set.itds[3] = 1234.5678f;
    set.itds[4] = -1e-7f;
    set.itds[5] = 2.0000005f;
    const std::vector<float> before = set.data;
    const std::string path = dir.file("Head");
    ASSERT_TRUE(set.write(path)) << set.errorMsg;
    EXPECT_EQ(set.path, path);
    EXPECT_TRUE(set.errorMsg.empty());

    const std::string data = readFile(path);
    ASSERT_EQ(data.size(), 28672u);
    EXPECT_EQ(data.substr(0, 4), std::string("\x3F\x80\x00\x00", 4)) << "1.0 is stored as 3F 80 00 00";
    EXPECT_TRUE(sameBits(decode(data, false), before));
    EXPECT_TRUE(sameBits(set.data, before));

    std::string expected = "% fs n_elevs n_hrtfs flags num_b_coeff num_a_coeff\r\n"
                           "% flags: ITD_extracted\r\n"
                           "44100 3 14 2 256 0\r\n"
                           "% elevs(1,:)\r\n"
                           "-30 0 30\r\n"
                           "% elevs(2,:)\r\n"
                           "4 6 4\r\n"
                           "%  ITDs(1...n_hrtf)\r\n";
    for (float itd : set.itds)
    {
        char line[64];
        std::snprintf(line, sizeof line, "%f\r\n", static_cast<double>(itd));
        expected += line;
    }
    EXPECT_EQ(readFile(path + ".txt"), expected);
    EXPECT_NE(expected.find("\r\n-3.000000\r\n0.500000\r\n1234.567749\r\n-0.000000\r\n2.000000\r\n0.000000\r\n"),
              std::string::npos);
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string> { "Head", "Head.txt" }));
}

TEST(HrtfFiles, HeaderVariants)
{
    fixture::TempDir dir;
    const struct
    {
        const char* name;
        std::int32_t flags;
        std::vector<std::int32_t> elevs, numAz;
        const char* displayName;
        std::string expected;
    } cases[] = {
        { "no flags", 0, { 0 }, { 2 }, "",
          "% fs n_elevs n_hrtfs flags num_b_coeff num_a_coeff\r\n% flags:\r\n44100 1 2 0 2 1\r\n"
          "% elevs(1,:)\r\n0\r\n% elevs(2,:)\r\n2\r\n" },
        { "display name first", 0, { 0 }, { 2 }, "My Head",
          "%% displayName: My Head\r\n% fs n_elevs n_hrtfs flags num_b_coeff num_a_coeff\r\n% flags:\r\n"
          "44100 1 2 0 2 1\r\n% elevs(1,:)\r\n0\r\n% elevs(2,:)\r\n2\r\n" },
        { "all flags", symmetric | freq_domain | encrypted, { 0 }, { 2 }, "",
          "% fs n_elevs n_hrtfs flags num_b_coeff num_a_coeff\r\n% flags: symmetric freq_domain encrypted\r\n"
          "44100 1 2 13 2 1\r\n% elevs(1,:)\r\n0\r\n% elevs(2,:)\r\n2\r\n" },
        { "no rings", ITD_extracted, {}, {}, "",
          "% fs n_elevs n_hrtfs flags num_b_coeff num_a_coeff\r\n% flags: ITD_extracted\r\n"
          "44100 0 0 2 2 1\r\n% elevs(1,:)\r\n% elevs(2,:)\r\n%  ITDs(1...n_hrtf)\r\n" },
    };
    for (const auto& c : cases)
    {
        HrtfSetInfo info(static_cast<std::int32_t>(c.elevs.size()));
        info.flags = c.flags;
        info.sampRate = 44100;
        info.numBCoeff = 2;
        info.numACoeff = 1;
        info.elevs = c.elevs;
        info.numAz = c.numAz;
        HrtfSet set(info);
        set.displayName = c.displayName;
        const std::string path = dir.file(c.name);
        ASSERT_TRUE(set.write(path)) << set.errorMsg;
        EXPECT_EQ(readFile(path + ".txt"), c.expected) << c.name;
        EXPECT_EQ(readFile(path).size(), 4u * static_cast<std::size_t>(set.numHrtf * set.hrtfSize)) << c.name;
    }
}

TEST(HrtfFiles, EncryptedDataDecodesWithTheKeyStream)
{
    fixture::TempDir dir;
    HrtfSet set = exampleSet(ITD_extracted | encrypted);
    set.data[1] = std::nanf("0x12345");  // payload must survive the round trip
    set.data[2] = -0.0f;
    const std::vector<float> before = set.data;
    const std::string path = dir.file("Scrambled");
    ASSERT_TRUE(set.write(path)) << set.errorMsg;
    EXPECT_TRUE(sameBits(set.data, before));

    const std::string data = readFile(path);
    ASSERT_EQ(data.size(), 28672u);
    EXPECT_NE(data.substr(0, 4), std::string("\x3F\x80\x00\x00", 4));
    // First word: 3F 80 00 00 with k(0) = 0x4B against the first stored byte.
    EXPECT_EQ(data.substr(0, 4), std::string("\x74\x80\x00\x00", 4));
    EXPECT_TRUE(sameBits(decode(data, true), before));

    const std::string header = readFile(path + ".txt");
    EXPECT_NE(header.find("% flags: ITD_extracted encrypted\r\n44100 3 14 10 256 0\r\n"), std::string::npos);
}

TEST(ScrambleWords, KeyStream)
{
    std::vector<std::uint32_t> words(16, 0);
    scrambleWords(words.data(), words.size());
    // Doubling; after a value with bit 13 set the next one is XORed with 0x4B.
    const std::vector<std::uint32_t> expected = { 0x4B,    0x96,    0x12C,   0x258,   0x4B0,    0x960,
                                                  0x12C0,  0x2580,  0x4B4B,  0x9696,  0x12D2C,  0x25A13,
                                                  0x4B426, 0x96807, 0x12D045, 0x25A08A };
    EXPECT_EQ(words, expected);

    // The top bit falls off in 32-bit arithmetic, and twice restores.
    std::vector<std::uint32_t> many(100);
    for (std::size_t i = 0; i < many.size(); ++i)
        many[i] = static_cast<std::uint32_t>(i * 2654435761u);
    const std::vector<std::uint32_t> original = many;
    scrambleWords(many.data(), many.size());
    EXPECT_NE(many, original);
    scrambleWords(many.data(), many.size());
    EXPECT_EQ(many, original);
}

TEST(HrtfFiles, FailuresLeaveNothingBehindAndDataUnchanged)
{
    fixture::TempDir dir;
    {
        std::ofstream(dir.file("plainFile")) << "x";
    }
    const struct
    {
        const char* name;
        std::string path;
    } cases[] = {
        { "missing directory", dir.file("missing/Head") },
        { "directory is a file", dir.file("plainFile/Head") },
        { "proc", "/proc/Head" },
    };
    for (const auto& c : cases)
    {
        HrtfSet set = exampleSet();
        const std::vector<float> before = set.data;
        EXPECT_FALSE(set.write(c.path)) << c.name;
        EXPECT_EQ(set.errorMsg, "Can't create HRTF data file " + c.path + "\n") << c.name;
        EXPECT_FALSE(std::filesystem::exists(c.path + ".txt")) << c.name;
        EXPECT_TRUE(sameBits(set.data, before)) << c.name;

        set.path = c.path;
        EXPECT_FALSE(set.writeData()) << c.name;
        EXPECT_EQ(set.errorMsg, "Can't create HRTF data file " + c.path + "\n") << c.name;
        EXPECT_FALSE(set.writeHeader()) << c.name;
        EXPECT_EQ(set.errorMsg, "Can't create header file " + c.path + ".txt\n") << c.name;
    }
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string> { "plainFile" }));

    // The header's place is taken by a directory: the header fails, and no
    // temporary file stays.
    HrtfSet set = exampleSet();
    std::filesystem::create_directory(dir.file("Blocked.txt"));
    EXPECT_FALSE(set.write(dir.file("Blocked")));
    EXPECT_EQ(set.errorMsg, "Can't create header file " + dir.file("Blocked.txt") + "\n");
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string> { "Blocked", "Blocked.txt", "plainFile" }));
}

TEST(HrtfFiles, FullDeviceIsAFailedWrite)
{
    // Small data fails when the buffer is flushed, large data in fwrite itself.
    for (std::int32_t numBCoeff : { 4, 65536 })
    {
        HrtfSetInfo info(1);
        info.flags = ITD_extracted | encrypted;
        info.numBCoeff = numBCoeff;
        info.elevs = { 0 };
        info.numAz = { 2 };
        HrtfSet set(info);
        for (std::size_t i = 0; i < set.data.size(); ++i)
            set.data[i] = static_cast<float>(i) * 0.5f;
        const std::vector<float> before = set.data;

        std::FILE* full = std::fopen("/dev/full", "wb");
        ASSERT_NE(full, nullptr);
        EXPECT_FALSE(set.writeDataStream(full, "/dev/full")) << numBCoeff;
        EXPECT_EQ(set.errorMsg.rfind("Error writing '/dev/full' (", 0), 0u) << set.errorMsg;
        EXPECT_TRUE(sameBits(set.data, before)) << numBCoeff;
        std::fclose(full);

        set.errorMsg.clear();
        full = std::fopen("/dev/full", "wb");
        ASSERT_NE(full, nullptr);
        EXPECT_FALSE(set.writeHeaderStream(full, "/dev/full")) << numBCoeff;
        EXPECT_EQ(set.errorMsg.rfind("Error writing header file /dev/full", 0), 0u) << set.errorMsg;
        std::fclose(full);
    }
}

TEST(HrtfFiles, ReplacingKeepsTheFilesPermissions)
{
    fixture::TempDir dir;
    const std::string path = dir.file("Head");
    {
        std::ofstream(path) << "old";
    }
    ::chmod(path.c_str(), 0640);
    HrtfSet set = exampleSet();
    ASSERT_TRUE(set.write(path)) << set.errorMsg;
    struct stat info;
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    ASSERT_EQ(::stat((path + ".txt").c_str(), &info), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(info.st_mode & 07777, 0666u & ~mask) << "a new file gets the default permissions";
}

TEST(HrtfFiles, NameTooLongForATemporarySuffixStillWrites)
{
    fixture::TempDir dir;
    const std::string name(250, 'n');
    HrtfSet set = exampleSet();
    ASSERT_TRUE(set.write(dir.file(name))) << set.errorMsg;
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string> { name, name + ".txt" }));
    EXPECT_EQ(readFile(dir.file(name)).size(), 28672u);
}
