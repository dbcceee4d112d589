// quillon-bare-read FILE: opens a SOFA file, reads Data.IR and exits; the
// process that quillon-convert's whole runs are measured against.

#include "BareRead.h"

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: quillon-bare-read FILE\n");
        return 2;
    }
    std::vector<double> values;
    std::string error;
    if (!bareReadDataIR(argv[1], values, error))
    {
        std::fprintf(stderr, "quillon-bare-read: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    return 0;
}
