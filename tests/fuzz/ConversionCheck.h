#pragma once

// Runs the whole per-file conversion of one input with every treatment and
// checks what must hold for any input at all (besides no crash, no sanitizer
// report and no file left open):
//  - a rejected file (result false) leaves no output file and sends exactly
//    one failure message, as the last message, after the announcement and
//    the intake's fact lines; the position reader's own failures go to the
//    standard output instead (no failure message, counted apart);
//  - an accepted file (result true) has its set written, and the header
//    agrees with the data file's size and the intake's facts, with no NaN or
//    infinity in the header or the data.
// Used by the fuzz targets, the seed-driven generator and the corpus replay.

#include "convert/Treatment.h"

#include <array>
#include <cstdint>
#include <iterator>
#include <string>

namespace fuzz
{

enum class Outcome
{
    Accepted,
    Rejected,          // one failure message through the sink
    RejectedSilently   // the position reader's failure on the standard output
};

struct TreatmentResult
{
    std::int32_t procOption = 0;
    Outcome outcome = Outcome::Rejected;
    std::string reason;  // the failure message, or the reader's text for a silent rejection
    bool libraryLeftInputOpen = false;  // libnetcdf failed to open the file and kept it open
};

struct CheckResult
{
    std::string violation;  // empty when every rule held
    std::array<TreatmentResult, std::size(kAllTreatments)> treatments;  // in kAllTreatments' order
};

// workDir must exist and be writable; sub-directories are made and removed there.
CheckResult checkConversion(const std::string& sofaPath, const std::string& workDir);

// The reason with its numbers masked ("#"), for grouping outcomes.
std::string reasonClass(const std::string& reason);

} // namespace fuzz
