#include "batch/messages/FormatString.h"
#include "batch/messages/MessageText.h"

#include <gtest/gtest.h>

#include <string>

TEST(MessageText, CutsAt255Bytes)
{
    const std::string exact(255, 'a');
    EXPECT_EQ(formatMessage("%s", exact.c_str()), exact);
    const std::string longer(300, 'b');
    EXPECT_EQ(formatMessage("%s", longer.c_str()), std::string(255, 'b'));
    EXPECT_EQ(formatMessage("%d-%s", 7, "x"), "7-x");
}

TEST(MessageText, CutNeverSplitsAUtf8Character)
{
    // 254 ASCII bytes and then "é" (2 bytes): byte 255 would be half a character.
    const std::string text = std::string(254, 'a') + "\xC3\xA9" + "tail";
    EXPECT_EQ(formatMessage("%s", text.c_str()), std::string(254, 'a'));

    // A 3-byte character ending exactly at byte 255 stays whole.
    const std::string euro = std::string(252, 'a') + "\xE2\x82\xAC" + "more";
    EXPECT_EQ(formatMessage("%s", euro.c_str()), std::string(252, 'a') + "\xE2\x82\xAC");

    // A 4-byte character cut after 2 of its bytes goes entirely.
    const std::string emoji = std::string(253, 'a') + "\xF0\x9F\x8E\xA7";
    EXPECT_EQ(formatMessage("%s", emoji.c_str()), std::string(253, 'a'));
}

TEST(MessageText, Utf8PrefixLength)
{
    EXPECT_EQ(utf8PrefixLength("abc", 3), 3u);
    EXPECT_EQ(utf8PrefixLength("a\xC3", 2), 1u);
    EXPECT_EQ(utf8PrefixLength("a\xC3\xA9", 3), 3u);
    EXPECT_EQ(utf8PrefixLength("\xE2\x82", 2), 0u);
    EXPECT_EQ(utf8PrefixLength("", 0), 0u);
}

TEST(FormatString, GrowsToAnyLength)
{
    const std::string longText(1000, 'x');
    EXPECT_EQ(formatString("<%s>", longText.c_str()), "<" + longText + ">");
    EXPECT_EQ(formatString("Error writing '%s' (wrote %ld, expected %ld)\n", "a", 3L, 7L),
              "Error writing 'a' (wrote 3, expected 7)\n");
    EXPECT_EQ(formatString("%%%% displayName: %s", "n"), "%% displayName: n");
}
