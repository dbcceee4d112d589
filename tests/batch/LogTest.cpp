#include "batch/messages/Log.h"
#include "fixtures/Files.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace
{
using fixture::readFile;

class LogTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        closeLog();
        logLevel = 3;
    }
    fixture::TempDir dir;
};
} // namespace

TEST_F(LogTest, LevelZeroOrNegativeCreatesNoFile)
{
    EXPECT_FALSE(setUpLog(0, false, "", dir.path()));
    EXPECT_FALSE(setUpLog(-2, true, dir.file("x.log"), dir.path()));
    logPrintf("fft.c", "nothing %d", 1);
    EXPECT_FALSE(std::ifstream(dir.file("Quillon.log")).good());
    EXPECT_FALSE(std::ifstream(dir.file("x.log")).good());
    EXPECT_EQ(logLevel, 3);
}

TEST_F(LogTest, LinesHaveTimeSourceAndOneNewline)
{
    ASSERT_TRUE(setUpLog(9, false, "", dir.path()));
    EXPECT_EQ(logLevel, 5);
    logPrintf("fft.c", "can't allocate %zu bytes", static_cast<std::size_t>(4096));
    logPrintf("src", "%s", "ends\n");
    logPrintf("src", "own newline\n");
    const std::string text = readFile(dir.file("Quillon.log"));
    const std::regex layout("\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d fft\\.c can't allocate 4096 bytes\n"
                            "\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d src ends\n\n"
                            "\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d src own newline\n");
    EXPECT_TRUE(std::regex_match(text, layout)) << text;
}

TEST_F(LogTest, TooLargeMessageIsReplacedByMarker)
{
    const std::string path = dir.file("big.log");
    ASSERT_TRUE(setUpLog(1, true, path, dir.path()));
    EXPECT_EQ(logLevel, 1);
    const std::string huge(2000, 'x');
    logPrintf("src", "%s", huge.c_str());
    const std::string text = readFile(path);
    EXPECT_TRUE(std::regex_match(text, std::regex("\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d src \\*log message too large\\*\n")))
        << text;
}

TEST_F(LogTest, AppendsAcrossRunsAndEmptyPathStaysOff)
{
    const std::string path = dir.file("a.log");
    ASSERT_TRUE(setUpLog(1, true, path, dir.path()));
    logPrintf("s", "one");
    closeLog();
    ASSERT_TRUE(setUpLog(1, true, path, dir.path()));
    logPrintf("s", "two");
    const std::string text = readFile(path);
    EXPECT_NE(text.find(" s one\n"), std::string::npos);
    EXPECT_NE(text.find(" s two\n"), std::string::npos);
    closeLog();
    EXPECT_FALSE(setUpLog(1, true, "", dir.path()));
    EXPECT_FALSE(setUpLog(1, true, dir.file("missing/dir/x.log"), dir.path()));
}

// At the 1024-byte limit: R is the room after "HH:MM:SS.mmm src " with the
// terminating zero. A message that fits only without the newline it still
// needs would overrun the line, so it is replaced by the marker as well.
TEST_F(LogTest, MessagesAtTheLineLimit)
{
    constexpr std::size_t room = 1025 - std::strlen("00:00:00.000 src ");
    struct Case
    {
        std::size_t formattedBytes; // what the format yields
        bool formatEndsInNewline;
        bool kept;
    };
    const Case cases[] = {
        { room - 1, true, true },   { room - 1, false, false }, { room - 2, true, true },
        { room - 2, false, true },  { room, true, false },
    };
    for (const Case& c : cases)
    {
        const std::string path = dir.file("limit.log");
        std::remove(path.c_str());
        ASSERT_TRUE(setUpLog(1, true, path, dir.path()));
        const std::string body(c.formattedBytes - (c.formatEndsInNewline ? 1 : 0), 'y');
        if (c.formatEndsInNewline)
            logPrintf("src", "%s\n", body.c_str());
        else
            logPrintf("src", "%s", body.c_str());
        closeLog();
        const std::string text = readFile(path);
        const std::string expected = c.kept ? body + "\n" : std::string("*log message too large*\n");
        ASSERT_GE(text.size(), 17u);
        EXPECT_EQ(text.substr(17), expected) << c.formattedBytes << (c.formatEndsInNewline ? " with" : " without");
        EXPECT_LE(text.size(), 1024u);
    }
}
