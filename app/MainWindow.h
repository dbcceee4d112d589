#pragma once

// The one document window: hosts the main component and owns the tooltip window.

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

class QuillonApplication;

class MainWindow : public juce::DocumentWindow
{
public:
    MainWindow(const juce::String& name, QuillonApplication& app);
    ~MainWindow() override;

    void closeButtonPressed() override;

    // See MainComponent::endConversionForQuit.
    bool endConversionForQuit();

    // On: creates the tooltip window unless there is one. Off: deletes it.
    void setTooltipsEnabled(bool enabled);
    juce::TooltipWindow* getTooltipWindow() const { return tooltipWindow.get(); }

private:
    std::unique_ptr<juce::TooltipWindow> tooltipWindow;

    JUCE_DECLARE_NON_COPYABLE (MainWindow)
};
