// The main component: its controls, the checks before a conversion, and the
// hand-over of the thread's messages.

#include "AppTestSupport.h"

#include "app/Settings.h"
#include "batch/DefaultOutputDir.h"
#include "fixtures/SofaFixture.h"

#include <climits>
#include <iterator>

using namespace apptest;

namespace
{
const char* const threshTip =
    "Crop threshold in dB below peak value. Leading samples are cropped while level is below "
    "threshold.";

struct ChildSpec
{
    const char* name;
    const char* text;  // nullptr: not checked here
    const char* tooltip;
    juce::Rectangle<int> bounds;
};

const ChildSpec childSpecs[] = {
    { "inLabel", "Input File/Dir:", "", { 40, 72, 112, 24 } },
    { "inText", "", "Full pathname to the input SOFA file or directory", { 48, 104, 592, 24 } },
    { "inBrowseButton", "Browse",
      "Click to open a file navigator to browse for the input file or directory",
      { 152, 72, 88, 24 } },
    { "recurseToggle", "Recurse directories",
      "If checked and a directory is specified, the entire directory tree is scanned, creating "
      "sub-directories",
      { 264, 72, 160, 24 } },
    { "outLabel", "Output Dir:", "", { 40, 144, 104, 24 } },
    { "outText", nullptr,
      "Full pathname to the output directory where Tarnfield HRTFs will be created",
      { 48, 176, 592, 24 } },
    { "outBrowseButton", "Browse",
      "Click to open a file navigator to browse for the output directory", { 152, 144, 88, 24 } },
    { "resetButton", "Set Default",
      "Click to use the default directory that Tarnfield will scan for User HRTFs. You may want "
      "to append a subdirectory to group HRTFs into a separate menu.",
      { 264, 144, 88, 24 } },
    { "convertButton", "Convert", "Click to start converting IRs", { 48, 320, 96, 24 } },
    { "statusText", "", "Conversion status and errors are displayed here", { 48, 352, 592, 128 } },
    { "procNoneButton", "No IR processing",
      "SOFA IRs will not be modified. This doesn't sound good when interpolating between "
      "positions",
      { 48, 216, 150, 24 } },
    { "procCropButton", "Crop IRs",
      "Crop leading delay in IRs using a threshold. Sounds better than no IR processing.",
      { 48, 248, 150, 24 } },
    { "procMPButton", "Convert IRs to minimum-phase",
      "Convert IRs to minimum-phase responses and separately estimate interaural delay. This is "
      "the best sounding option.",
      { 48, 280, 232, 24 } },
    { "threshLabel", "Crop thresh, dB:", threshTip, { 208, 248, 120, 24 } },
    { "threshText", "20", threshTip, { 344, 248, 56, 24 } },
    { "tooltipToggle", "Enable tooltips", "Enable/disable these tooltips", { 512, 320, 128, 24 } },
    { "titleLabel", "Quillon",
      "This application converts SOFA format HRIR files to Tarnfield format", { 40, 8, 144, 40 } },
    { "versionLabel", nullptr, "", { 48, 488, 584, 24 } },
    { "kvClickComp", nullptr, nullptr, { 504, 16, 128, 64 } },
    // The one addition comes last, in a free place: the others keep their places and order.
    { "reportToggle", "Write report",
      "Also write NAME.report.json and NAME.report.html beside each set: what the conversion did, and "
      "what looks wrong",
      { 368, 320, 128, 24 } },
};

juce::String textOf(juce::Component& c)
{
    if (auto* label = dynamic_cast<juce::Label*>(&c))
        return label->getText();
    if (auto* editor = dynamic_cast<juce::TextEditor*>(&c))
        return editor->getText();
    if (auto* button = dynamic_cast<juce::Button*>(&c))
        return button->getButtonText();
    return {};
}

juce::String tooltipOf(juce::Component& c)
{
    if (auto* client = dynamic_cast<juce::SettableTooltipClient*>(&c))
        return client->getTooltip();
    return {};
}

fixture::SofaFixture smallSet()
{
    fixture::SofaFixture f;
    f.M = 4;
    f.N = 16;
    return f;
}

} // namespace

TEST_F(AppTest, ChildrenHaveTheirNamesTextsTooltipsAndBoundsInCreationOrder)
{
    startApp();
    auto& main = component();
    ASSERT_EQ(main.getNumChildComponents(), static_cast<int>(std::size(childSpecs)));
    for (int i = 0; i < main.getNumChildComponents(); ++i)
    {
        const auto& spec = childSpecs[i];
        SCOPED_TRACE(spec.name);
        auto& c = *main.getChildComponent(i);
        EXPECT_EQ(c.getName(), spec.name);
        EXPECT_EQ(c.getBounds(), spec.bounds);
        EXPECT_TRUE(c.isVisible());
        if (spec.text != nullptr)
        {
            EXPECT_EQ(textOf(c), spec.text);
        }
        if (spec.tooltip != nullptr)
        {
            EXPECT_EQ(tooltipOf(c), spec.tooltip);
        }
    }

    const auto version = child<juce::Label>("versionLabel").getText();
    EXPECT_TRUE(version.startsWith("version: 1.0.0, build date: ")) << version;
    EXPECT_TRUE(version.fromFirstOccurrenceOf("build date: ", false, false)
                    .matchesWildcard("??? ?? ???? ??:??:??", false))
        << version;

    // Resizing the window leaves the fixed layout alone.
    window().setSize(900, 700);
    EXPECT_EQ(child<juce::Component>("statusText").getBounds(), juce::Rectangle<int>(48, 352, 592, 128));
}

TEST_F(AppTest, LabelsAndEditorsAreSetUpAsTheLayoutNeeds)
{
    startApp();
    const std::pair<const char*, float> labels[] = {
        { "inLabel", 15.0f }, { "outLabel", 15.0f }, { "threshLabel", 15.0f },
        { "titleLabel", 32.0f }, { "versionLabel", 12.0f },
    };
    for (const auto& [name, height] : labels)
    {
        SCOPED_TRACE(name);
        auto& label = child<juce::Label>(name);
        EXPECT_FLOAT_EQ(label.getFont().getHeight(), height);
        EXPECT_FALSE(label.getFont().isBold());
        EXPECT_FALSE(label.getFont().isItalic());
        EXPECT_EQ(label.getJustificationType(), juce::Justification(juce::Justification::centredLeft));
        EXPECT_FALSE(label.isEditable());
    }

    struct EditorSpec
    {
        const char* name;
        bool multiLine, returnNewLine, readOnly, scrollBars, caret, popup;
    };
    const EditorSpec editors[] = {
        { "inText", false, false, false, false, true, false },
        { "outText", false, false, false, false, true, false },
        { "statusText", true, true, true, true, false, true },
        { "threshText", false, false, false, true, true, true },
    };
    for (const auto& spec : editors)
    {
        SCOPED_TRACE(spec.name);
        auto& editor = child<juce::TextEditor>(spec.name);
        EXPECT_EQ(editor.isMultiLine(), spec.multiLine);
        EXPECT_EQ(editor.getReturnKeyStartsNewLine(), spec.returnNewLine);
        EXPECT_EQ(editor.isReadOnly(), spec.readOnly);
        EXPECT_EQ(editor.areScrollbarsShown(), spec.scrollBars);
        EXPECT_EQ(editor.isCaretVisible(), spec.caret);
        EXPECT_EQ(editor.isPopupMenuEnabled(), spec.popup);
    }
}

TEST_F(AppTest, CropThresholdIsTheMagnitudeOfTheLeadingInteger)
{
    startApp();
    const std::pair<const char*, int> cases[] = {
        { "-30", 30 }, { "12.5", 12 }, { "abc", 0 }, { "", 0 }, { "  +7dB", 7 },
        { "- 5", 0 }, { "-2147483648", INT_MAX }, { "99999999999999999999", INT_MAX },
    };
    for (const auto& [text, expected] : cases)
    {
        child<juce::TextEditor>("threshText").setText(text);
        EXPECT_EQ(component().getCropThresh(), expected) << "'" << text << "'";
    }
}

TEST_F(AppTest, TreatmentButtonsStayExclusiveAndAClickedTickStays)
{
    startApp();
    const char* const buttons[] = { "procNoneButton", "procCropButton", "procMPButton" };
    for (int chosen = 0; chosen < 3; ++chosen)
    {
        for (int clicks = 0; clicks < 2; ++clicks)
        {
            click(buttons[chosen]);
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(child<juce::Button>(buttons[i]).getToggleState(), i == chosen)
                    << buttons[chosen] << " clicked " << clicks + 1 << " times";
        }
    }

    click("procCropButton");
    click("procCropButton");
    pressConvert(); // rejected (empty input), but the choice is saved
    pump(700);
    EXPECT_EQ(readSettings().at("procOption"), "1");
}

TEST_F(AppTest, SetDefaultPutsTheDefaultOutputDirectoryBack)
{
    startApp();
    auto& outText = child<juce::TextEditor>("outText");
    outText.setText("/elsewhere");
    click("resetButton");
    EXPECT_EQ(outText.getText(), getDefaultOutputDir().getFullPathName());
}

TEST_F(AppTest, EveryPathCheckReportsOneLineAfterSavingTheFields)
{
    fixture::TempDir work;
    const auto input = work.file("in.sofa");
    fixture::writeSofa(input, smallSet());
    const auto regularFile = work.file("plain.txt");
    ASSERT_TRUE(fileAt(regularFile).replaceWithText("x"));

    struct Case
    {
        std::string in, out, message;
    };
    const Case cases[] = {
        { "", work.path(), "Error, input '' is not an absolute path\n" },
        { "data/a.sofa", work.path(), "Error, input 'data/a.sofa' is not an absolute path\n" },
        { work.path() + "/missing/a.sofa/", work.path(),
          "Error, input '" + work.path() + "/missing/a.sofa' doesn't exist\n" },
        { input, "out", "Error, output dir 'out' is not an absolute path\n" },
        { input, "", "Error, output dir '' is not an absolute path\n" },
        { input, regularFile + "/sub/", "Error creating output dir '" + regularFile + "/sub'\n" },
        { input, regularFile, "Error creating output dir '" + regularFile + "'\n" },
    };

    startApp();
    juce::String expectedStatus;
    int thresh = 1;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.message);
        child<juce::TextEditor>("inText").setText(juce::String::fromUTF8(c.in.c_str()));
        child<juce::TextEditor>("outText").setText(juce::String::fromUTF8(c.out.c_str()));
        child<juce::TextEditor>("threshText").setText(juce::String(-thresh));
        pressConvert();
        expectedStatus += juce::String::fromUTF8(c.message.c_str());
        EXPECT_EQ(status(), expectedStatus);
        EXPECT_EQ(convertButtonText(), "Convert");

        // The fields were stored before the check, as typed.
        app->getProperties()->saveIfNeeded();
        const auto saved = readSettings();
        EXPECT_EQ(saved.at("inFile"), c.in);
        EXPECT_EQ(saved.at("outDir"), c.out);
        EXPECT_EQ(saved.at("cropThresh"), std::to_string(thresh));
        ++thresh;
    }
    EXPECT_FALSE(fileAt(work.path() + "/out").exists());
}

TEST_F(AppTest, ConvertShowsStopThenConvertAndMessagesAccumulate)
{
    fixture::TempDir work;
    const auto input = work.file("set.final.sofa");
    fixture::writeSofa(input, smallSet());
    const auto outDir = work.path() + "/deep/out";

    startApp();
    child<juce::TextEditor>("inText").setText(juce::String::fromUTF8(input.c_str()));
    child<juce::TextEditor>("outText").setText(juce::String::fromUTF8(outDir.c_str()));
    click("procNoneButton");

    pressConvert();
    EXPECT_EQ(convertButtonText(), "Stop");
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(fileAt(outDir + "/set.final").existsAsFile());
    EXPECT_TRUE(fileAt(outDir + "/set.final.txt").existsAsFile());
    const auto first = status();
    EXPECT_TRUE(first.contains("sucessfully wrote")) << first;

    // Later text is appended to everything before it, an error line included.
    child<juce::TextEditor>("inText").setText("relative");
    pressConvert();
    child<juce::TextEditor>("inText").setText(juce::String::fromUTF8(input.c_str()));
    pressConvert();
    EXPECT_EQ(convertButtonText(), "Stop");
    ASSERT_TRUE(waitForIdle());
    const auto all = status();
    EXPECT_TRUE(all.startsWith(first + "Error, input 'relative' is not an absolute path\n")) << all;
    EXPECT_EQ(countOf(all, "sucessfully wrote"), 2) << all;

    // The box follows the newest line.
    auto& box = child<juce::TextEditor>("statusText");
    EXPECT_EQ(box.getCaretPosition(), box.getTotalNumChars());

    // The stored fields are what the next start shows.
    stopApp();
    const auto saved = readSettings();
    EXPECT_EQ(saved.at("inFile"), input);
    EXPECT_EQ(saved.at("outDir"), outDir);
    EXPECT_EQ(saved.at("procOption"), "0");
}

TEST_F(AppTest, ReportToggleIsOffAtFirstStoredAndWritesTheReportBesideEachSet)
{
    fixture::TempDir work;
    const auto input = work.file("head.sofa");
    fixture::writeSofa(input, smallSet());

    startApp();
    ASSERT_FALSE(child<juce::Button>("reportToggle").getToggleState());
    child<juce::TextEditor>("inText").setText(juce::String::fromUTF8(input.c_str()));
    child<juce::TextEditor>("outText").setText(juce::String::fromUTF8(work.path().c_str()));
    pressConvert();
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(fileAt(work.file("head.txt")).existsAsFile());
    EXPECT_FALSE(fileAt(work.file("head.report.html")).exists());
    EXPECT_FALSE(status().contains("wrote report")) << status();

    click("reportToggle");
    pressConvert();
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(fileAt(work.file("head.report.json")).existsAsFile());
    EXPECT_TRUE(fileAt(work.file("head.report.html")).existsAsFile());
    EXPECT_TRUE(status().endsWith("wrote report: " + juce::String::fromUTF8(work.file("head.report.html").c_str())
                                  + "\n"))
        << status();

    stopApp();
    EXPECT_EQ(readSettings().at("report"), "1");
    startApp();
    EXPECT_TRUE(child<juce::Button>("reportToggle").getToggleState());
}

TEST_F(AppTest, RecurseToggleIsStoredAndUsedForDirectories)
{
    fixture::TempDir in;
    fixture::TempDir out;
    fixture::writeSofa(in.file("a.sofa"), smallSet());
    ASSERT_TRUE(fileAt(in.file("B")).createDirectory().wasOk());
    fixture::writeSofa(in.file("B/b.sofa"), smallSet());

    startApp();
    child<juce::TextEditor>("inText").setText(juce::String::fromUTF8(in.path().c_str()));
    child<juce::TextEditor>("outText").setText(juce::String::fromUTF8(out.path().c_str()));
    click("procNoneButton");
    ASSERT_TRUE(child<juce::Button>("recurseToggle").getToggleState());
    click("recurseToggle");
    pressConvert();
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(fileAt(out.file("a.txt")).existsAsFile());
    EXPECT_FALSE(fileAt(out.file("B")).exists());

    click("recurseToggle");
    pressConvert();
    ASSERT_TRUE(waitForIdle());
    EXPECT_TRUE(fileAt(out.file("B/b.txt")).existsAsFile());

    click("recurseToggle");
    pressConvert(); // nothing left to prove but the stored state
    ASSERT_TRUE(waitForIdle());
    stopApp();
    EXPECT_EQ(readSettings().at("recurse"), "0");
    startApp();
    EXPECT_FALSE(child<juce::Button>("recurseToggle").getToggleState());
}

TEST_F(AppTest, StatusLinesKeepTheSinksLimitOf255Bytes)
{
    startApp();
    // 2-byte characters: the cut falls inside one and moves back before it.
    juce::String longPath = "/a"; // 16 bytes of message before the first one
    for (int i = 0; i < 200; ++i)
        longPath += juce::String::fromUTF8("\xc3\xa9");
    child<juce::TextEditor>("inText").setText(longPath);
    pressConvert();

    const std::string shown = status().toStdString();
    EXPECT_EQ(shown.size(), 254u);
    const std::string expectedStart = "Error, input '/a";
    EXPECT_EQ(shown.compare(0, expectedStart.size(), expectedStart), 0) << shown;
    EXPECT_EQ(shown.substr(shown.size() - 2), "\xc3\xa9");
}
