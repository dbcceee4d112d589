#pragma once

// One SOFA file (SimpleFreeFieldHRIR) becomes one HRTF set on disk.

#include "batch/messages/PrintMsgI.h"
#include "convert/Treatment.h"

#include <cstdint>
#include <functional>
#include <string>

// Returns true once the set's write has been attempted (also after a failed
// write, which has been reported); false on every earlier failure, including
// exceptions, and when shouldAbandon answered true at one of the safe points
// (then nothing is written). shouldAbandon may be empty. When setWritten is
// given it tells whether the set's two files were written successfully.
// procOption is a Treatment's value (any other treats as none); cropThresh is
// in dB below the peak, only its magnitude counts.
bool convertSofaFile(PrintMsgI& sink, const std::string& sofaPath, const std::string& outPath,
                     std::int32_t procOption, std::int32_t cropThresh,
                     const std::function<bool()>& shouldAbandon = {}, bool* setWritten = nullptr);

// What a conversion does beyond the set itself. The quality checks always run
// and report each finding as one "warning: " line before the success line.
struct ConversionOptions
{
    // After a successful write, OUT.report.json and OUT.report.html beside
    // the set at OUT, and one line naming the page.
    bool writeReport = false;
};

bool convertSofaFile(PrintMsgI& sink, const std::string& sofaPath, const std::string& outPath,
                     std::int32_t procOption, std::int32_t cropThresh, const ConversionOptions& options,
                     const std::function<bool()>& shouldAbandon = {}, bool* setWritten = nullptr);
