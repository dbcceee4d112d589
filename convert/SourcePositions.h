#pragma once

// Measured source positions as (elevation, azimuth, distance) in degrees and
// metres, whatever coordinate system the file stores.

#include "sofa/sofafile.h"

#include <vector>

struct Position
{
    double elevation = 0.0;
    double azimuth = 0.0;   // counterclockwise from +x toward +y
    double distance = 0.0;
};

// One record per row of SourcePosition. 0 on success, -1 on failure; failures
// are reported on standard output, not to the user's sink.
int readSourcePositions(const sofa::File& file, std::vector<Position>& positions);
