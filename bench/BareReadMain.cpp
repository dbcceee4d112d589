// quillon-bare-read [--huge-pages] FILE: opens a SOFA file, reads Data.IR and
// exits; the process that quillon-convert's whole runs are measured against.

#include "BareRead.h"

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[])
{
    const bool hugePages = argc == 3 && std::strcmp(argv[1], "--huge-pages") == 0;
    if (argc != 2 && !hugePages)
    {
        std::fprintf(stderr, "usage: quillon-bare-read [--huge-pages] FILE\n");
        return 2;
    }
    const char* path = argv[argc - 1];
    std::vector<double> values;
    std::string error;
    if (!(hugePages ? bareReadDataIRHugePages(path, error) : bareReadDataIR(path, values, error)))
    {
        std::fprintf(stderr, "quillon-bare-read: %s: %s\n", path, error.c_str());
        return 1;
    }
    return 0;
}
