#pragma once

// The whole user interface: paths, treatment, threshold, Convert/Stop, tooltip
// switch and the status box. Starts and stops the conversion thread and shows
// its messages.

#include "batch/ConvertThread.h"
#include "convert/Treatment.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

class KVClickComponent;
class QuillonApplication;

class MainComponent : public juce::Component, public juce::Timer, public juce::Button::Listener
{
public:
    explicit MainComponent(QuillonApplication& application);
    ~MainComponent() override;

    void paint(juce::Graphics& g) override;
    void resized() override;
    void timerCallback() override;
    void buttonClicked(juce::Button* button) override;

    // Status lines raised on the message thread; same 255-byte rule as the sink.
    void printStatus(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    void appendStatus(const juce::String& text);

    // At quit: ends a running batch (its file abandoned) within a bounded wait.
    // False when the thread is stuck beyond it; the process must then end
    // without destroying this component.
    bool endConversionForQuit();

    // Leading integer of the threshold text (atoi rules), as a magnitude.
    int getCropThresh() const;

private:
    void startConversion();
    void stopConversion();
    void conversionEnded();
    void saveSettings();
    void loadSettings();
    void updateProcButtons();

    QuillonApplication* app;
    juce::PropertiesFile* properties;
    ConversionSettings settings;
    ConvertThread thread;
    bool converting = false;
    int procOption = toProcOption(kDefaultTreatment); // as stored: a Treatment's value, or any other int

    std::unique_ptr<juce::Label> inLabel;
    std::unique_ptr<juce::TextEditor> inText;
    std::unique_ptr<juce::TextButton> inBrowseButton;
    std::unique_ptr<juce::ToggleButton> recurseToggle;
    std::unique_ptr<juce::Label> outLabel;
    std::unique_ptr<juce::TextEditor> outText;
    std::unique_ptr<juce::TextButton> outBrowseButton;
    std::unique_ptr<juce::TextButton> resetButton;
    std::unique_ptr<juce::TextButton> convertButton;
    std::unique_ptr<juce::TextEditor> statusText;
    std::unique_ptr<juce::ToggleButton> procNoneButton;
    std::unique_ptr<juce::ToggleButton> procCropButton;
    std::unique_ptr<juce::ToggleButton> procMPButton;
    std::unique_ptr<juce::Label> threshLabel;
    std::unique_ptr<juce::TextEditor> threshText;
    std::unique_ptr<juce::ToggleButton> tooltipToggle;
    std::unique_ptr<juce::Label> titleLabel;
    std::unique_ptr<juce::Label> versionLabel;
    std::unique_ptr<KVClickComponent> kvClickComp;
    std::unique_ptr<juce::ToggleButton> reportToggle;  // added after the others: none of them moves

    juce::Image logo;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainComponent)
};
