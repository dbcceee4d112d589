#include "app/Settings.h"

namespace
{
juce::File userAppDataDir()
{
    return juce::File::getSpecialLocation(juce::File::userApplicationDataDirectory);
}

juce::File descendAndCreate(const juce::File& parent, const juce::String& folderName)
{
    if (folderName.isEmpty())
        return parent;
    auto folder = parent.getChildFile(folderName);
    // Failure is not reported: the settings then just cannot be saved.
    if (folder.getFullPathName().isEmpty() || !folder.exists())
        folder.createDirectory();
    return folder;
}
} // namespace

juce::File getSettingsFile(const juce::String& name, const juce::String& suffix,
                           const juce::String& company, const juce::String& product)
{
    auto folder = descendAndCreate(userAppDataDir(), company);
    folder = descendAndCreate(folder, product);
    return folder.getChildFile(name).withFileExtension(suffix);
}

std::unique_ptr<juce::PropertiesFile> createPropertiesFile(const juce::String& name,
                                                           const juce::String& suffix,
                                                           const juce::String& company,
                                                           const juce::String& product)
{
    const auto file = getSettingsFile(name, suffix, company, product);
    if (file.getFullPathName().isEmpty())
        return nullptr;

    juce::PropertiesFile::Options options;
    options.applicationName = name;
    options.filenameSuffix = "." + suffix;
    options.folderName = {};
    options.osxLibrarySubFolder = {};
    options.commonToAllUsers = false;
    options.ignoreCaseOfKeyNames = true;
    options.doNotSave = false;
    options.millisecondsBeforeSaving = 500;
    options.storageFormat = juce::PropertiesFile::storeAsXML;
    options.processLock = nullptr;
    return std::make_unique<juce::PropertiesFile>(file, options);
}

void setDefaultValue(juce::PropertiesFile& properties, const juce::String& key,
                     const juce::String& value)
{
    if (!properties.containsKey(key))
        properties.setValue(key, value);
}

void setDefaultValue(juce::PropertiesFile& properties, const juce::String& key, bool value)
{
    if (!properties.containsKey(key))
        properties.setValue(key, value);
}

void setDefaultValue(juce::PropertiesFile& properties, const juce::String& key, int value)
{
    if (!properties.containsKey(key))
        properties.setValue(key, value);
}
