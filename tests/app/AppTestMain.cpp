// Test entry for the window: JUCE's GUI is set up once on the main thread,
// which then serves as the message thread. Without an X display the tests
// skip themselves.

#include "AppTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace
{
bool hasDisplay = false;

juce::JUCEApplicationBase* noApplication()
{
    return nullptr;
}
} // namespace

namespace apptest
{
bool displayAvailable()
{
    return hasDisplay;
}
} // namespace apptest

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);

    // Nothing may touch the real home: every test sets its own later.
    fixture::TempDir startHome;
    setenv("HOME", startHome.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (startHome.path() + "/.config").c_str(), 1);

    const char* display = std::getenv("DISPLAY");
    hasDisplay = display != nullptr && *display != '\0';
    if (!hasDisplay)
        return RUN_ALL_TESTS();

    // Tests create the application object themselves; JUCE must not expect
    // one from a start-up factory (windows would fail on a bare X server).
    juce::JUCEApplicationBase::createInstance = &noApplication;
    juce::ScopedJuceInitialiser_GUI gui;
    return RUN_ALL_TESTS();
}
