// quillon-bench-set [--uncompressed] OUTPUT M N RATE LOWEST_ELEVATION HIGHEST_ELEVATION
// Writes one generated SOFA set (see tools/sofawrite/GeneratedSet.h), stored
// as SOFA writers store theirs (chunked, shuffled, deflate level 1), or with
// the library's default storage (uncompressed).

#include "GeneratedSet.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

int main(int argc, char* argv[])
{
    const bool uncompressed = argc > 1 && std::strcmp(argv[1], "--uncompressed") == 0;
    char** args = argv + (uncompressed ? 1 : 0);
    if (argc - (uncompressed ? 1 : 0) != 7)
    {
        std::fprintf(stderr,
                     "usage: quillon-bench-set [--uncompressed] OUTPUT M N RATE LOWEST_ELEVATION HIGHEST_ELEVATION\n");
        return 2;
    }
    sofawrite::GeneratedSet set;
    set.M = std::atoi(args[2]);
    set.N = std::atoi(args[3]);
    set.samplingRate = std::atof(args[4]);
    set.lowestElevation = std::atof(args[5]);
    set.highestElevation = std::atof(args[6]);
    set.compressed = !uncompressed;
    if (set.M < 1 || set.N < 1 || !(set.samplingRate > 0.0))
    {
        std::fprintf(stderr, "quillon-bench-set: M, N and RATE must be positive\n");
        return 2;
    }
    try
    {
        sofawrite::writeGeneratedSet(args[1], set);
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "quillon-bench-set: %s\n", e.what());
        return 1;
    }
    return 0;
}
