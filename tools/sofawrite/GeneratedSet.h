#pragma once

// Deterministic SOFA sets of any size for the benchmarks and the
// results-unchanged test: M measurements on a spiral over an elevation band,
// two ears per measurement, each an impulse response with an interaural delay
// that follows the direction, a decaying noise tail and a little noise before
// the onset (so that cropping and the minimum-phase treatment have work to do).

#include <cstdint>
#include <string>

namespace sofawrite
{

struct GeneratedSet
{
    int M = 1550;
    int N = 256;
    double samplingRate = 48000.0;
    double lowestElevation = -40.0;  // the first and the last measurement lie exactly on these
    double highestElevation = 90.0;
    std::uint64_t seed = 1;
    bool compressed = true;  // as SOFA writers store it (see compressedStorage); false: default storage
};

// Writes the set as a SimpleFreeFieldHRIR file (replacing any); throws
// netCDF::exceptions::NcException on netCDF errors.
void writeGeneratedSet(const std::string& path, const GeneratedSet& set);

// Short stable name such as "gen_1550x256_48000_-40_90".
std::string generatedSetName(const GeneratedSet& set);

} // namespace sofawrite
