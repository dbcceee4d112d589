// Start-up: the settings file, the log switch and the window.

#include "AppTestSupport.h"

#include "app/Settings.h"
#include "batch/DefaultOutputDir.h"
#include "batch/messages/Log.h"

using apptest::AppTest;
using apptest::pump;

namespace
{
juce::File appData(const std::string& home)
{
    return juce::File(juce::String::fromUTF8(home.c_str())).getChildFile(".config");
}
} // namespace

TEST_F(AppTest, FirstStartSeedsAndWritesTheSettingsFileAtOnce)
{
    ASSERT_FALSE(settingsFile().exists());
    startApp();

    // Written by start-up itself, not by the delayed save.
    const auto saved = readSettings();
    const auto defaultOut = appData(home()).getChildFile("Kelvane/TarnfieldHRTFs");
    const std::map<std::string, std::string> expected {
        { "outDir", defaultOut.getFullPathName().toStdString() },
        { "recurse", "1" },
        { "procOption", "2" },
        { "cropThresh", "20" },
        { "tooltips", "1" },
    };
    EXPECT_EQ(saved, expected);
    EXPECT_EQ(getDefaultOutputDir(), defaultOut);
    EXPECT_FALSE(defaultOut.exists()) << "the default output directory is created only by a Convert";

    // The fields show the seeded values.
    EXPECT_EQ(child<juce::TextEditor>("inText").getText(), "");
    EXPECT_EQ(child<juce::TextEditor>("outText").getText(), defaultOut.getFullPathName());
    EXPECT_EQ(child<juce::TextEditor>("threshText").getText(), "20");
    EXPECT_TRUE(child<juce::Button>("procMPButton").getToggleState());
    EXPECT_FALSE(child<juce::Button>("procCropButton").getToggleState());
    EXPECT_FALSE(child<juce::Button>("procNoneButton").getToggleState());
    EXPECT_TRUE(child<juce::Button>("recurseToggle").getToggleState());
    EXPECT_TRUE(child<juce::Button>("tooltipToggle").getToggleState());
    EXPECT_NE(window().getTooltipWindow(), nullptr);
}

TEST_F(AppTest, KeysAlreadyPresentAreKeptAndLoaded)
{
    writeSettings({ { "inFile", "/some/where.sofa" },
                    { "outDir", "relative/out" },
                    { "recurse", "0" },
                    { "procOption", "1" },
                    { "cropThresh", "35" },
                    { "tooltips", "0" } });
    startApp();

    const auto saved = readSettings();
    EXPECT_EQ(saved.at("inFile"), "/some/where.sofa");
    EXPECT_EQ(saved.at("outDir"), "relative/out");
    EXPECT_EQ(saved.at("recurse"), "0");
    EXPECT_EQ(saved.at("procOption"), "1");
    EXPECT_EQ(saved.at("cropThresh"), "35");
    EXPECT_EQ(saved.at("tooltips"), "0");

    EXPECT_EQ(child<juce::TextEditor>("inText").getText(), "/some/where.sofa");
    EXPECT_EQ(child<juce::TextEditor>("outText").getText(), "relative/out");
    EXPECT_EQ(child<juce::TextEditor>("threshText").getText(), "35");
    EXPECT_TRUE(child<juce::Button>("procCropButton").getToggleState());
    EXPECT_FALSE(child<juce::Button>("procMPButton").getToggleState());
    EXPECT_FALSE(child<juce::Button>("recurseToggle").getToggleState());
    EXPECT_FALSE(child<juce::Button>("tooltipToggle").getToggleState());
    EXPECT_EQ(window().getTooltipWindow(), nullptr);
}

TEST_F(AppTest, UnreadableSettingsFileIsReplacedByTheDefaults)
{
    ASSERT_TRUE(settingsFile().getParentDirectory().createDirectory().wasOk());
    ASSERT_TRUE(settingsFile().replaceWithText("<PROPERTIES><VALUE name="));
    startApp();
    EXPECT_EQ(readSettings().at("procOption"), "2");
    EXPECT_EQ(readSettings().at("tooltips"), "1");
}

TEST_F(AppTest, TooltipToggleCreatesAndDeletesTheTooltipWindow)
{
    startApp();
    auto* first = window().getTooltipWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->getParentComponent(), &window());

    click("tooltipToggle");
    EXPECT_FALSE(child<juce::Button>("tooltipToggle").getToggleState());
    EXPECT_EQ(window().getTooltipWindow(), nullptr);

    click("tooltipToggle");
    ASSERT_NE(window().getTooltipWindow(), nullptr);
    auto* again = window().getTooltipWindow();
    app->setTooltipsEnabled(true);
    EXPECT_EQ(window().getTooltipWindow(), again) << "a second switch-on keeps the one window";

    // The toggle alone does not write the settings file; Convert does.
    click("tooltipToggle");
    pump(700);
    EXPECT_EQ(readSettings().at("tooltips"), "1");
    pressConvert();
    app->getProperties()->saveIfNeeded();
    EXPECT_EQ(readSettings().at("tooltips"), "0");
}

TEST_F(AppTest, LogIsOffByDefaultAndSwitchedOnByAKeyInAnyCase)
{
    startApp();
    const auto logFile = settingsFile().getSiblingFile("Quillon.log");
    EXPECT_FALSE(logFile.exists());
    stopApp();
    closeLog();

    writeSettings({ { "LOGLEVEL", "2" } });
    startApp();
    EXPECT_EQ(logLevel, 2);
    EXPECT_TRUE(logFile.existsAsFile());
    EXPECT_EQ(readSettings().count("LOGLEVEL"), 1u) << "start-up never writes the log keys";
}

TEST_F(AppTest, LogFileKeyNamesTheLogFile)
{
    const auto custom = juce::File(juce::String::fromUTF8(home().c_str())).getChildFile("my.log");
    writeSettings({ { "logLevel", "1" }, { "logFile", custom.getFullPathName().toStdString() } });
    startApp();
    EXPECT_TRUE(custom.existsAsFile());
    EXPECT_FALSE(settingsFile().getSiblingFile("Quillon.log").exists());
}

TEST_F(AppTest, WindowIsTheResizableCentredQuillonWindow)
{
    startApp();
    auto& w = window();
    EXPECT_EQ(w.getName(), "Quillon");
    EXPECT_EQ(app->getApplicationName(), "Quillon");
    EXPECT_EQ(app->getApplicationVersion(), "1.0.0");
    EXPECT_TRUE(app->moreThanOneInstanceAllowed());
    EXPECT_TRUE(w.isUsingNativeTitleBar());
    EXPECT_TRUE(w.isResizable());
    EXPECT_TRUE(w.isVisible());
    const int wanted = juce::ComponentPeer::windowHasTitleBar | juce::ComponentPeer::windowIsResizable
                       | juce::ComponentPeer::windowHasMinimiseButton
                       | juce::ComponentPeer::windowHasMaximiseButton
                       | juce::ComponentPeer::windowHasCloseButton;
    EXPECT_EQ(w.getDesktopWindowStyleFlags() & wanted, wanted);
    EXPECT_EQ(component().getWidth(), 692);
    EXPECT_EQ(component().getHeight(), 520);

    const auto screen = juce::Desktop::getInstance().getDisplays().getDisplayForRect(w.getScreenBounds());
    ASSERT_NE(screen, nullptr);
    const auto centre = w.getScreenBounds().getCentre();
    const auto screenCentre = screen->userArea.getCentre();
    EXPECT_LE(std::abs(centre.x - screenCentre.x), 2);
    EXPECT_LE(std::abs(centre.y - screenCentre.y), 2);
}
