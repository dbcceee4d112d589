#pragma once

// The command line of quillon-convert: one table of options, read into
// CliOptions. --help is generated from the same table.

#include "convert/Treatment.h"

#include <cstdint>
#include <string>

struct CliOptions
{
    Treatment treatment = kDefaultTreatment;
    std::int32_t cropThresh = kDefaultCropThresholdDb; // magnitude of --threshold
    bool recurse = false;
    bool keepGoing = false;
    bool report = false;     // also each set's NAME.report.json and NAME.report.html
    int jobs = 1;
    std::string input;
    std::string outputDir;   // empty: the default output directory
    bool showHelp = false;
    bool showVersion = false;
};

constexpr int kMaxJobs = 64;

// Fills options from argv; false with the problem in error for a usage error.
bool parseArguments(int argc, char* const argv[], CliOptions& options, std::string& error);

const char* usageText();
std::string helpText();
