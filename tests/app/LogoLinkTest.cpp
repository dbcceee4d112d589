// The logo link: where a press lands and what it opens.

#include "AppTestSupport.h"

#include "app/KVClickComponent.h"

#include <cstdlib>

using apptest::AppTest;
using apptest::pumpUntil;

TEST_F(AppTest, OnlyTheInnerAreaOfTheLogoIsTheLink)
{
    startApp();
    auto& main = component();
    auto* link = &child<juce::Component>("kvClickComp");
    EXPECT_NE(dynamic_cast<KVClickComponent*>(link), nullptr);

    const juce::Point<int> onLink[] = { { 504, 16 }, { 631, 79 }, { 566, 46 } };
    for (const auto p : onLink)
        EXPECT_EQ(main.getComponentAt(p), link) << p.toString();

    // The logo's margins (12 px left and top, 8 px right and bottom) are not.
    const juce::Point<int> onMargin[] = { { 492, 4 }, { 503, 40 }, { 560, 15 }, { 632, 50 }, { 560, 80 }, { 639, 87 } };
    for (const auto p : onMargin)
        EXPECT_EQ(main.getComponentAt(p), &main) << p.toString();
}

TEST_F(AppTest, EveryPressWithAnyButtonOpensTheWebSite)
{
    // A stand-in browser opener that records what it was asked to open.
    const auto bin = juce::File(juce::String::fromUTF8(home().c_str())).getChildFile("bin");
    ASSERT_TRUE(bin.createDirectory().wasOk());
    const auto record = bin.getSiblingFile("opened.txt");
    const auto opener = bin.getChildFile("xdg-open");
    ASSERT_TRUE(opener.replaceWithText("#!/bin/sh\necho \"$1\" >> '" + record.getFullPathName() + "'\n",
                                        false, false, "\n"));
    ASSERT_TRUE(opener.setExecutePermission(true));
    const juce::String oldPath = std::getenv("PATH");
    setenv("PATH", (bin.getFullPathName() + ":" + oldPath).toRawUTF8(), 1);

    startApp();
    auto& link = child<juce::Component>("kvClickComp");
    const auto source = juce::Desktop::getInstance().getMainMouseSource();
    const juce::ModifierKeys presses[] = { juce::ModifierKeys::leftButtonModifier,
                                           juce::ModifierKeys::rightButtonModifier };
    for (const auto buttons : presses)
    {
        const juce::MouseEvent press(source, { 10.0f, 10.0f }, buttons, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f,
                                     &link, &link, juce::Time::getCurrentTime(), { 10.0f, 10.0f },
                                     juce::Time::getCurrentTime(), 1, false);
        link.mouseDown(press);
    }
    const auto openedLines = [&] {
        juce::StringArray lines;
        lines.addLines(record.loadFileAsString());
        lines.removeEmptyStrings();
        return lines;
    };
    const bool opened = pumpUntil([&] { return openedLines().size() >= 2; }, 5000);
    setenv("PATH", oldPath.toRawUTF8(), 1);
    ASSERT_TRUE(opened) << record.loadFileAsString();

    const auto lines = openedLines();
    ASSERT_EQ(lines.size(), 2);
    for (const auto& line : lines)
    {
        EXPECT_EQ(line, KVClickComponent::webSite);
        EXPECT_TRUE(line.startsWith("https://"));
    }
}
