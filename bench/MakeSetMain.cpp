// quillon-bench-set OUTPUT M N RATE LOWEST_ELEVATION HIGHEST_ELEVATION
// Writes one generated SOFA set (see tests/perf/GeneratedSet.h).

#include "GeneratedSet.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

int main(int argc, char* argv[])
{
    if (argc != 7)
    {
        std::fprintf(stderr, "usage: quillon-bench-set OUTPUT M N RATE LOWEST_ELEVATION HIGHEST_ELEVATION\n");
        return 2;
    }
    perf::GeneratedSet set;
    set.M = std::atoi(argv[2]);
    set.N = std::atoi(argv[3]);
    set.samplingRate = std::atof(argv[4]);
    set.lowestElevation = std::atof(argv[5]);
    set.highestElevation = std::atof(argv[6]);
    if (set.M < 1 || set.N < 1 || !(set.samplingRate > 0.0))
    {
        std::fprintf(stderr, "quillon-bench-set: M, N and RATE must be positive\n");
        return 2;
    }
    try
    {
        perf::writeGeneratedSet(argv[1], set);
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "quillon-bench-set: %s\n", e.what());
        return 1;
    }
    return 0;
}
