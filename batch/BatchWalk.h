#pragma once

// The batch's walk, shared by the window's thread and the command line: what
// is converted, in which order, into which directory. Planned before anything
// is converted, so that a tool can count it and hand files to workers.

#include "batch/messages/PrintMsgI.h"
#include "convert/Treatment.h"

#include <juce_core/juce_core.h>

#include <functional>
#include <vector>

struct ConversionSettings
{
    juce::String inFile;   // absolute path of a SOFA file or a directory
    juce::String outDir;   // absolute path of an existing output directory
    bool recurse = false;  // directory input: also convert sub-directories
    int procOption = toProcOption(kDefaultTreatment); // a Treatment's value; others behave as none
    int cropThresh = kDefaultCropThresholdDb;         // dB below the peak, only its magnitude counts
    bool report = false;    // also write each set's report files (NAME.report.json, NAME.report.html)
    bool keepGoing = false; // a failed file does not end the batch
};

struct BatchStep
{
    enum class Kind
    {
        convert,    // convert inPath into outDir
        makeDir,    // create outDir (a mirrored sub-directory)
        notRegular, // inPath is named like a SOFA file but is no regular file: never opened
    };
    Kind kind = Kind::convert;
    juce::String inPath;
    juce::File outDir;
};

// Depth-first: a directory's own "*.sofa" files (any letter case, listing
// order), then, when recursing, each sub-directory's tree. A directory reached
// again through a link, and the output directory wherever it lies in the tree,
// are not entered. A single input file is converted whatever its name.
// Returns false when stop answered true (checked before every directory).
bool planBatch(const ConversionSettings& settings, std::vector<BatchStep>& steps,
               const std::function<bool()>& stop = {});

int countConversions(const std::vector<BatchStep>& steps);

// The output base path of a file: outDir plus its name without extension.
juce::File outputBasePath(const juce::String& inPath, const juce::File& outDir);

// Carries out a makeDir or notRegular step; returns false after it has sent
// its reason to sink.
bool runDirectoryStep(const BatchStep& step, PrintMsgI& sink);
