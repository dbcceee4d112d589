#pragma once

// Where the window keeps its settings.

#include <juce_data_structures/juce_data_structures.h>

#include <memory>

// <app data>/<company>/<product>/<name>.<suffix>; creates the company and
// product folders (each only when its name is not empty).
juce::File getSettingsFile(const juce::String& name, const juce::String& suffix,
                           const juce::String& company, const juce::String& product);

// The settings file on getSettingsFile(...): XML, case-insensitive keys,
// saved 500 ms after the last change. Null when the file's path is empty.
std::unique_ptr<juce::PropertiesFile> createPropertiesFile(const juce::String& name,
                                                           const juce::String& suffix,
                                                           const juce::String& company,
                                                           const juce::String& product);

// Stores value under key only when the key is absent (values already there win).
void setDefaultValue(juce::PropertiesFile& properties, const juce::String& key,
                     const juce::String& value);
void setDefaultValue(juce::PropertiesFile& properties, const juce::String& key, bool value);
void setDefaultValue(juce::PropertiesFile& properties, const juce::String& key, int value);
// A string literal would otherwise pick the bool overload.
void setDefaultValue(juce::PropertiesFile& properties, const juce::String& key,
                     const char* value) = delete;
