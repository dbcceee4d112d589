#include "AppTestSupport.h"

#include "batch/messages/Log.h"

#include <cstdlib>
#include <stdexcept>

namespace apptest
{
void pump(int ms)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil(ms);
}

bool pumpUntil(const std::function<bool()>& done, int timeoutMs)
{
    const auto end = juce::Time::getMillisecondCounter() + static_cast<juce::uint32>(timeoutMs);
    while (!done())
    {
        if (juce::Time::getMillisecondCounter() > end)
            return done();
        pump(5);
    }
    return true;
}

void AppTest::SetUp()
{
    if (!displayAvailable())
        GTEST_SKIP() << "no X display (run under xvfb-run)";
    homeDir = std::make_unique<fixture::TempDir>();
    setenv("HOME", homeDir->path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (homeDir->path() + "/.config").c_str(), 1);
}

void AppTest::TearDown()
{
    stopApp();
    closeLog();
}

juce::File AppTest::settingsFile() const
{
    return juce::File(juce::String::fromUTF8(homeDir->path().c_str()))
        .getChildFile(".config/Kelvane/Quillon/Quillon.xml");
}

void AppTest::writeSettings(const std::map<std::string, std::string>& values) const
{
    juce::XmlElement root("PROPERTIES");
    for (const auto& [key, value] : values)
    {
        auto* element = root.createNewChildElement("VALUE");
        element->setAttribute("name", juce::String::fromUTF8(key.c_str()));
        element->setAttribute("val", juce::String::fromUTF8(value.c_str()));
    }
    const auto file = settingsFile();
    ASSERT_TRUE(file.getParentDirectory().createDirectory().wasOk());
    ASSERT_TRUE(root.writeTo(file));
}

std::map<std::string, std::string> AppTest::readSettings() const
{
    std::map<std::string, std::string> values;
    if (auto root = juce::parseXML(settingsFile()))
        for (auto* element : root->getChildWithTagNameIterator("VALUE"))
            values[element->getStringAttribute("name").toStdString()] =
                element->getStringAttribute("val").toStdString();
    return values;
}

void AppTest::startApp()
{
    app = std::make_unique<QuillonApplication>();
    app->initialise({});
    pump(20);
}

void AppTest::stopApp()
{
    if (app == nullptr)
        return;
    app->shutdown();
    app.reset();
}

MainWindow& AppTest::window() const
{
    return *app->getMainWindow();
}

MainComponent& AppTest::component() const
{
    auto* content = dynamic_cast<MainComponent*>(window().getContentComponent());
    if (content == nullptr)
        throw std::runtime_error("window without main component");
    return *content;
}

juce::Component* AppTest::findChild(const juce::String& name) const
{
    for (auto* c : component().getChildren())
        if (c->getName() == name)
            return c;
    return nullptr;
}

void AppTest::click(const juce::String& buttonName)
{
    child<juce::Button>(buttonName).triggerClick();
    pump(30);
}

void AppTest::pressConvert()
{
    component().buttonClicked(&child<juce::Button>("convertButton"));
}

juce::String AppTest::status() const
{
    return child<juce::TextEditor>("statusText").getText();
}

juce::String AppTest::convertButtonText() const
{
    return child<juce::Button>("convertButton").getButtonText();
}

bool AppTest::waitForIdle(int timeoutMs)
{
    if (!pumpUntil([this] { return convertButtonText() == "Convert"; }, timeoutMs))
        return false;
    // The tick that saw the end may have left the last lines for the next one.
    pump(120);
    return true;
}
} // namespace apptest
