#pragma once

// Shared set-up of the window tests: a throw-away home per test, the
// application started as the program starts it, children found by name, and
// the message loop run while a test waits.

#include "app/MainComponent.h"
#include "app/MainWindow.h"
#include "app/QuillonApplication.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace apptest
{
bool displayAvailable();

// Runs the message loop for about ms milliseconds.
void pump(int ms);
// Runs the message loop until done() holds or timeoutMs passes; returns done().
bool pumpUntil(const std::function<bool()>& done, int timeoutMs);

class AppTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // The settings file the program uses under the throw-away home.
    juce::File settingsFile() const;
    // Writes a settings file holding these keys before the program starts.
    void writeSettings(const std::map<std::string, std::string>& values) const;
    // The keys and values of the settings file on disk.
    std::map<std::string, std::string> readSettings() const;

    void startApp();
    void stopApp();

    MainWindow& window() const;
    MainComponent& component() const;
    juce::Component* findChild(const juce::String& name) const;
    template <typename T>
    T& child(const juce::String& name) const
    {
        auto* found = dynamic_cast<T*>(findChild(name));
        if (found == nullptr)
            throw std::runtime_error("no child " + name.toStdString());
        return *found;
    }

    // A click as the user makes it (toggles flip), run to its end.
    void click(const juce::String& buttonName);
    // Convert/Stop pressed synchronously, so that the state right after it can be seen.
    void pressConvert();
    juce::String status() const;
    juce::String convertButtonText() const;
    // Waits until the button reads "Convert" again and the last text is shown.
    bool waitForIdle(int timeoutMs = 60000);

    std::string home() const { return homeDir->path(); }

    std::unique_ptr<fixture::TempDir> homeDir;
    std::unique_ptr<QuillonApplication> app;
};
// The file at a UTF-8 path.
inline juce::File fileAt(const std::string& path)
{
    return juce::File(juce::String::fromUTF8(path.c_str()));
}

// How often what occurs in text.
inline int countOf(const juce::String& text, const juce::String& what)
{
    int count = 0;
    for (int at = text.indexOf(what); at >= 0; at = text.indexOf(at + 1, what))
        ++count;
    return count;
}
} // namespace apptest
