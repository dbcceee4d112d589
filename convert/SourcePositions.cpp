#include "convert/SourcePositions.h"

#include "dsp/pi.h"

#include <cmath>
#include <cstdio>
#include <limits>

int readSourcePositions(const sofa::File& file, std::vector<Position>& positions)
{
    sofa::CoordinateType type = sofa::UnknownCoordinates;
    sofa::UnitsType units = sofa::UnknownUnits;
    if (!file.GetSourcePosition(type, units))
    {
        std::printf("can't get source position\n");
        return -1;
    }

    std::vector<std::size_t> dims;
    file.GetVariableDimensions(dims, "SourcePosition");
    if (dims.size() != 2 || dims[1] != 3)
    {
        std::printf("expected Mx3 dimensions for SourcePosition\n");
        return -1;
    }

    const std::size_t rows = dims[0];
    if (rows > std::numeric_limits<unsigned>::max() || rows > std::vector<double>().max_size() / 3)
        return -1;
    std::vector<double> values(rows * 3, 0.0);
    if (!file.GetSourcePosition(values.data(), static_cast<unsigned>(rows), 3))
        return -1;

    positions.resize(rows);
    for (std::size_t i = 0; i < rows; ++i)
    {
        const double* row = &values[i * 3];
        Position& p = positions[i];
        if (type == sofa::Cartesian)
        {
            const double x = row[0], y = row[1], z = row[2];
            const double horizontal = x * x + y * y;
            p.azimuth = std::atan2(y, x) * 180.0 / kPi;
            p.elevation = std::atan2(z, std::sqrt(horizontal)) * 180.0 / kPi;
            p.distance = std::sqrt(z * z + horizontal);
        }
        else
        {
            p.azimuth = row[0];
            p.elevation = row[1];
            p.distance = row[2];
        }
    }
    return 0;
}
