#pragma once

// The folder the Tarnfield spatialiser scans for user HRTFs: the window's
// "Set Default" and the command line's output when none is given.

#include <juce_core/juce_core.h>

// Kelvane/TarnfieldHRTFs under the user's application-data directory. Not created here.
juce::File getDefaultOutputDir();
