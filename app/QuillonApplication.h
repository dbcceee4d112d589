#pragma once

// The application object: opens and seeds the settings file, sets up the log,
// owns the one main window.

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

class MainWindow;

class QuillonApplication : public juce::JUCEApplication
{
public:
    QuillonApplication();
    ~QuillonApplication() override;

    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;
    void initialise(const juce::String& commandLine) override;
    void shutdown() override;
    void anotherInstanceStarted(const juce::String& commandLine) override;
    void systemRequestedQuit() override;

    void setTooltipsEnabled(bool enabled);

    // The settings file; null before initialise.
    juce::PropertiesFile* getProperties() const { return properties.get(); }
    MainWindow* getMainWindow() const { return mainWindow.get(); }

private:
    // Declaration order matters: the settings file goes first on destruction.
    std::unique_ptr<MainWindow> mainWindow;
    std::unique_ptr<juce::PropertiesFile> properties;

    JUCE_DECLARE_NON_COPYABLE (QuillonApplication)
};
