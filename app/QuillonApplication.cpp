#include "app/QuillonApplication.h"

#include "app/MainWindow.h"
#include "app/Settings.h"
#include "batch/DefaultOutputDir.h"
#include "batch/messages/Log.h"
#include "convert/Treatment.h"

#include <cstdlib>

QuillonApplication::QuillonApplication() = default;
QuillonApplication::~QuillonApplication() = default;

const juce::String QuillonApplication::getApplicationName()
{
    return "Quillon";
}

const juce::String QuillonApplication::getApplicationVersion()
{
    return QUILLON_VERSION_STRING;
}

bool QuillonApplication::moreThanOneInstanceAllowed()
{
    return true;
}

void QuillonApplication::initialise(const juce::String&)
{
    properties = createPropertiesFile("Quillon", "xml", "Kelvane", "Quillon");

    if (properties != nullptr)
    {
        setDefaultValue(*properties, "outDir", getDefaultOutputDir().getFullPathName());
        setDefaultValue(*properties, "recurse", true);
        setDefaultValue(*properties, "procOption", toProcOption(kDefaultTreatment));
        setDefaultValue(*properties, "cropThresh", kDefaultCropThresholdDb);
        setDefaultValue(*properties, "tooltips", true);
        // A first start leaves a complete settings file behind.
        properties->save();

        const auto settingsFolder = properties->getFile().getParentDirectory();
        setUpLog(properties->getIntValue("logLevel", 0), properties->containsKey("logFile"),
                 properties->getValue("logFile").toStdString(),
                 settingsFolder.getFullPathName().toStdString());
    }

    mainWindow = std::make_unique<MainWindow>(getApplicationName(), *this);
    setTooltipsEnabled(properties != nullptr && properties->getBoolValue("tooltips", false));
}

void QuillonApplication::shutdown()
{
    // A conversion stuck inside a library call cannot be joined: after a
    // bounded wait the process ends without it, its settings saved first.
    // Sets are written under temporary names, so none is left half-written.
    if (mainWindow != nullptr && !mainWindow->endConversionForQuit())
    {
        if (properties != nullptr)
            properties->saveIfNeeded();
        std::_Exit(0);
    }
    mainWindow.reset();
}

void QuillonApplication::anotherInstanceStarted(const juce::String&)
{
}

void QuillonApplication::systemRequestedQuit()
{
    quit();
}

void QuillonApplication::setTooltipsEnabled(bool enabled)
{
    if (mainWindow != nullptr)
        mainWindow->setTooltipsEnabled(enabled);
}
