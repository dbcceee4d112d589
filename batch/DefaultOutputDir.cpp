#include "batch/DefaultOutputDir.h"

juce::File getDefaultOutputDir()
{
    return juce::File::getSpecialLocation(juce::File::userApplicationDataDirectory)
        .getChildFile("Kelvane")
        .getChildFile("TarnfieldHRTFs");
}
