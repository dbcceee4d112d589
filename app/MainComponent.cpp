#include "app/MainComponent.h"

#include "app/KVClickComponent.h"
#include "app/QuillonApplication.h"
#include "app/Settings.h"
#include "batch/DefaultOutputDir.h"
#include "batch/messages/MessageText.h"

#include <BinaryData.h>

#include <climits>
#include <cstdarg>

namespace
{
const juce::Colour backgroundColour(0xff323e44);
const juce::Rectangle<int> logoArea(492, 4, 148, 84);
constexpr int timerIntervalMs = 50;
constexpr int stopTimeoutMs = 2000;
constexpr int quitTimeoutMs = 2000;

const char* const threshTip =
    "Crop threshold in dB below peak value. Leading samples are cropped while level is below "
    "threshold.";

juce::String versionLine(const juce::String& version)
{
    return "version: " + version + ", build date: " + __DATE__ + " " + __TIME__;
}

std::unique_ptr<juce::Label> makeLabel(const char* name, const juce::String& text,
                                       float fontHeight, const char* tooltip)
{
    auto label = std::make_unique<juce::Label>(name, text);
    label->setFont(juce::Font(fontHeight, juce::Font::plain).withTypefaceStyle("Regular"));
    label->setJustificationType(juce::Justification::centredLeft);
    label->setEditable(false, false, false);
    label->setColour(juce::TextEditor::textColourId, juce::Colours::black);
    label->setColour(juce::TextEditor::backgroundColourId, juce::Colour(0x00000000));
    if (tooltip != nullptr)
        label->setTooltip(tooltip);
    return label;
}

struct EditorStyle
{
    bool multiLine;
    bool returnStartsNewLine;
    bool readOnly;
    bool scrollBars;
    bool caretVisible;
    bool popupMenu;
};

std::unique_ptr<juce::TextEditor> makeEditor(const char* name, const char* tooltip,
                                             const EditorStyle& style)
{
    auto editor = std::make_unique<juce::TextEditor>(name);
    editor->setMultiLine(style.multiLine, true);
    editor->setReturnKeyStartsNewLine(style.returnStartsNewLine);
    editor->setReadOnly(style.readOnly);
    editor->setScrollbarsShown(style.scrollBars);
    editor->setCaretVisible(style.caretVisible);
    editor->setPopupMenuEnabled(style.popupMenu);
    editor->setTooltip(tooltip);
    editor->setText({}, true);
    return editor;
}

template <typename ButtonType>
std::unique_ptr<ButtonType> makeButton(const char* name, const char* text, const char* tooltip)
{
    auto button = std::make_unique<ButtonType>(name);
    button->setButtonText(text);
    button->setTooltip(tooltip);
    return button;
}

// atoi's reading (blanks, a sign, digits; no digits give 0) without its
// undefined overflow: the magnitude saturates at INT_MAX.
int leadingIntegerMagnitude(const juce::String& text)
{
    auto p = text.toRawUTF8();
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r')
        ++p;
    if (*p == '+' || *p == '-')
        ++p;
    long long magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
    {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > INT_MAX)
            return INT_MAX;
    }
    return static_cast<int>(magnitude);
}
} // namespace

MainComponent::MainComponent(QuillonApplication& application)
    : app(&application), properties(application.getProperties())
{
    auto place = [this](juce::Component& child, int x, int y, int w, int h) {
        addAndMakeVisible(child);
        child.setBounds(x, y, w, h);
        if (auto* button = dynamic_cast<juce::Button*>(&child))
            button->addListener(this);
    };

    inLabel = makeLabel("inLabel", "Input File/Dir:", 15.0f, nullptr);
    place(*inLabel, 40, 72, 112, 24);
    inText = makeEditor("inText", "Full pathname to the input SOFA file or directory",
                        { false, false, false, false, true, false });
    place(*inText, 48, 104, 592, 24);
    inBrowseButton = makeButton<juce::TextButton>(
        "inBrowseButton", "Browse",
        "Click to open a file navigator to browse for the input file or directory");
    place(*inBrowseButton, 152, 72, 88, 24);
    recurseToggle = makeButton<juce::ToggleButton>(
        "recurseToggle", "Recurse directories",
        "If checked and a directory is specified, the entire directory tree is scanned, "
        "creating sub-directories");
    place(*recurseToggle, 264, 72, 160, 24);
    outLabel = makeLabel("outLabel", "Output Dir:", 15.0f, nullptr);
    place(*outLabel, 40, 144, 104, 24);
    outText = makeEditor(
        "outText", "Full pathname to the output directory where Tarnfield HRTFs will be created",
        { false, false, false, false, true, false });
    place(*outText, 48, 176, 592, 24);
    outBrowseButton = makeButton<juce::TextButton>(
        "outBrowseButton", "Browse",
        "Click to open a file navigator to browse for the output directory");
    place(*outBrowseButton, 152, 144, 88, 24);
    resetButton = makeButton<juce::TextButton>(
        "resetButton", "Set Default",
        "Click to use the default directory that Tarnfield will scan for User HRTFs. You may "
        "want to append a subdirectory to group HRTFs into a separate menu.");
    place(*resetButton, 264, 144, 88, 24);
    convertButton = makeButton<juce::TextButton>("convertButton", "Convert",
                                                 "Click to start converting IRs");
    place(*convertButton, 48, 320, 96, 24);
    statusText = makeEditor("statusText", "Conversion status and errors are displayed here",
                            { true, true, true, true, false, true });
    place(*statusText, 48, 352, 592, 128);
    procNoneButton = makeButton<juce::ToggleButton>(
        "procNoneButton", "No IR processing",
        "SOFA IRs will not be modified. This doesn't sound good when interpolating between "
        "positions");
    place(*procNoneButton, 48, 216, 150, 24);
    procCropButton = makeButton<juce::ToggleButton>(
        "procCropButton", "Crop IRs",
        "Crop leading delay in IRs using a threshold. Sounds better than no IR processing.");
    place(*procCropButton, 48, 248, 150, 24);
    procMPButton = makeButton<juce::ToggleButton>(
        "procMPButton", "Convert IRs to minimum-phase",
        "Convert IRs to minimum-phase responses and separately estimate interaural delay. This "
        "is the best sounding option.");
    place(*procMPButton, 48, 280, 232, 24);
    threshLabel = makeLabel("threshLabel", "Crop thresh, dB:", 15.0f, threshTip);
    place(*threshLabel, 208, 248, 120, 24);
    threshText = makeEditor("threshText", threshTip, { false, false, false, true, true, true });
    place(*threshText, 344, 248, 56, 24);
    tooltipToggle = makeButton<juce::ToggleButton>("tooltipToggle", "Enable tooltips",
                                                   "Enable/disable these tooltips");
    place(*tooltipToggle, 512, 320, 128, 24);
    titleLabel = makeLabel("titleLabel", "Quillon", 32.0f,
                           "This application converts SOFA format HRIR files to Tarnfield format");
    place(*titleLabel, 40, 8, 144, 40);
    versionLabel = makeLabel("versionLabel", {}, 12.0f, nullptr);
    place(*versionLabel, 48, 488, 584, 24);
    kvClickComp = std::make_unique<KVClickComponent>();
    kvClickComp->setName("kvClickComp");
    place(*kvClickComp, 504, 16, 128, 64);
    reportToggle = makeButton<juce::ToggleButton>(
        "reportToggle", "Write report",
        "Also write NAME.report.json and NAME.report.html beside each set: what the conversion did, "
        "and what looks wrong");
    place(*reportToggle, 368, 320, 128, 24);

    logo = juce::ImageCache::getFromMemory(BinaryData::logo_png, BinaryData::logo_pngSize);

    loadSettings();

    titleLabel->setText("Quillon", juce::dontSendNotification);
    versionLabel->setText(versionLine(app->getApplicationVersion()), juce::dontSendNotification);

    setSize(692, 520);
    startTimer(timerIntervalMs);
}

MainComponent::~MainComponent()
{
    stopTimer();
    // Children go in creation order; the thread member then ends a running
    // batch without killing it.
    inLabel.reset();
    inText.reset();
    inBrowseButton.reset();
    recurseToggle.reset();
    outLabel.reset();
    outText.reset();
    outBrowseButton.reset();
    resetButton.reset();
    convertButton.reset();
    statusText.reset();
    procNoneButton.reset();
    procCropButton.reset();
    procMPButton.reset();
    threshLabel.reset();
    threshText.reset();
    tooltipToggle.reset();
    titleLabel.reset();
    versionLabel.reset();
    kvClickComp.reset();
    reportToggle.reset();
}

void MainComponent::loadSettings()
{
    if (properties == nullptr)
    {
        threshText->setText(juce::String(kDefaultCropThresholdDb), juce::dontSendNotification);
        updateProcButtons();
        return;
    }
    inText->setText(properties->getValue("inFile", {}), juce::dontSendNotification);
    outText->setText(properties->getValue("outDir", {}), juce::dontSendNotification);
    recurseToggle->setToggleState(properties->getBoolValue("recurse", false),
                                  juce::dontSendNotification);
    procOption = properties->getIntValue("procOption", toProcOption(kDefaultTreatment));
    updateProcButtons();
    threshText->setText(juce::String(properties->getIntValue("cropThresh", kDefaultCropThresholdDb)),
                        juce::dontSendNotification);
    // Without notification: loading must not call back into the application.
    tooltipToggle->setToggleState(properties->getBoolValue("tooltips", false),
                                  juce::dontSendNotification);
    reportToggle->setToggleState(properties->getBoolValue("report", false), juce::dontSendNotification);
}

void MainComponent::paint(juce::Graphics& g)
{
    g.fillAll(backgroundColour);
    g.setColour(juce::Colours::black);
    if (logo.isValid() && g.clipRegionIntersects(logoArea))
        g.drawImage(logo, logoArea.getX(), logoArea.getY(), logoArea.getWidth(),
                    logoArea.getHeight(), 0, 0, logo.getWidth(), logo.getHeight());
}

void MainComponent::resized()
{
    // Fixed layout: every child keeps the bounds given at construction.
}

void MainComponent::timerCallback()
{
    const auto text = thread.takeMessages();
    if (text.isNotEmpty())
        appendStatus(text);

    if (converting && !thread.isThreadRunning())
        conversionEnded();
}

void MainComponent::buttonClicked(juce::Button* button)
{
    if (button == inBrowseButton.get())
    {
        juce::FileChooser chooser("Please select the file or directory...",
                                  juce::File::getSpecialLocation(juce::File::userHomeDirectory),
                                  "*", true);
        const int flags = juce::FileBrowserComponent::openMode
                          | juce::FileBrowserComponent::canSelectFiles
                          | juce::FileBrowserComponent::canSelectDirectories
                          | juce::FileBrowserComponent::canSelectMultipleItems;
        if (chooser.showDialog(flags, nullptr) && chooser.getResults().size() > 0)
            inText->setText(chooser.getResults()[0].getFullPathName(), juce::dontSendNotification);
    }
    else if (button == outBrowseButton.get())
    {
        juce::FileChooser chooser("Please select the output directory...",
                                  juce::File::getSpecialLocation(juce::File::userHomeDirectory),
                                  "*", false);
        const int flags = juce::FileBrowserComponent::openMode
                          | juce::FileBrowserComponent::canSelectDirectories;
        if (chooser.showDialog(flags, nullptr))
            outText->setText(chooser.getResult().getFullPathName(), juce::dontSendNotification);
    }
    else if (button == resetButton.get())
    {
        outText->setText(getDefaultOutputDir().getFullPathName(), juce::dontSendNotification);
    }
    else if (button == convertButton.get())
    {
        if (converting)
            stopConversion();
        else
            startConversion();
    }
    else if (button == procNoneButton.get() || button == procCropButton.get()
             || button == procMPButton.get())
    {
        const Treatment chosen = button == procNoneButton.get()   ? Treatment::none
                                 : button == procCropButton.get() ? Treatment::crop
                                                                  : Treatment::minimumPhase;
        procOption = toProcOption(chosen);
        updateProcButtons();
    }
    else if (button == tooltipToggle.get())
    {
        app->setTooltipsEnabled(tooltipToggle->getToggleState());
    }
    // recurseToggle and reportToggle flip their own state, which startConversion reads.
}

void MainComponent::updateProcButtons()
{
    // Plain toggles kept exclusive here; a click on the ticked one puts it back on.
    // A stored value of no treatment ticks none of them (and converts as none).
    procNoneButton->setToggleState(procOption == toProcOption(Treatment::none), juce::dontSendNotification);
    procCropButton->setToggleState(procOption == toProcOption(Treatment::crop), juce::dontSendNotification);
    procMPButton->setToggleState(procOption == toProcOption(Treatment::minimumPhase), juce::dontSendNotification);
}

int MainComponent::getCropThresh() const
{
    return leadingIntegerMagnitude(threshText->getText());
}

void MainComponent::saveSettings()
{
    if (properties == nullptr)
        return;
    properties->setValue("inFile", inText->getText());
    properties->setValue("outDir", outText->getText());
    properties->setValue("recurse", recurseToggle->getToggleState());
    properties->setValue("procOption", procOption);
    properties->setValue("cropThresh", getCropThresh());
    properties->setValue("tooltips", tooltipToggle->getToggleState());
    properties->setValue("report", reportToggle->getToggleState());
}

void MainComponent::startConversion()
{
    saveSettings();

    // After a stop that timed out, the old batch is still winding down and
    // still reads the settings record: refuse until it has really ended.
    if (thread.isThreadRunning())
    {
        printStatus("Error, the previous conversion is still ending, try again in a moment\n");
        return;
    }

    const auto inPath = inText->getText();
    if (!juce::File::isAbsolutePath(inPath))
    {
        printStatus("Error, input '%s' is not an absolute path\n", inPath.toRawUTF8());
        return;
    }
    settings.inFile = juce::File(inPath).getFullPathName();
    if (settings.inFile.isEmpty() || !juce::File(settings.inFile).exists())
    {
        printStatus("Error, input '%s' doesn't exist\n", settings.inFile.toRawUTF8());
        return;
    }

    settings.recurse = recurseToggle->getToggleState();

    const auto outPath = outText->getText();
    if (!juce::File::isAbsolutePath(outPath))
    {
        printStatus("Error, output dir '%s' is not an absolute path\n", outPath.toRawUTF8());
        return;
    }
    settings.outDir = juce::File(outPath).getFullPathName();
    if (settings.outDir.isEmpty() || juce::File(settings.outDir).createDirectory().failed())
    {
        printStatus("Error creating output dir '%s'\n", settings.outDir.toRawUTF8());
        return;
    }

    settings.procOption = procOption;
    settings.cropThresh = getCropThresh();
    settings.report = reportToggle->getToggleState();

    if (!thread.convert(&settings))
    {
        printStatus("Error, the conversion thread could not be started\n");
        return;
    }
    converting = true;
    convertButton->setButtonText("Stop");
}

bool MainComponent::endConversionForQuit()
{
    return !thread.isThreadRunning() || thread.endForQuit(quitTimeoutMs);
}

void MainComponent::stopConversion()
{
    if (!thread.stopBatch(stopTimeoutMs))
        printStatus("WARNING: conversion thread was forcibly quit\n");
    conversionEnded();
}

void MainComponent::conversionEnded()
{
    converting = false;
    convertButton->setButtonText("Convert");
}

void MainComponent::printStatus(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const auto text = formatMessageV(format, args);
    va_end(args);
    appendStatus(juce::String::fromUTF8(text.data(), static_cast<int>(text.size())));
}

void MainComponent::appendStatus(const juce::String& text)
{
    const auto current = statusText->getText();
    statusText->setText(current.isEmpty() ? text : current + text, true);
    statusText->moveCaretToEnd();
}
