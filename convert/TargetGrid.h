#pragma once

// The regular ring/azimuth grid chosen from the measurement density, and the
// nearest-measurement assignment of every grid point (target).

#include "batch/messages/PrintMsgI.h"
#include "convert/SourcePositions.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct UnitVector
{
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

// Point of a position on the sphere of radius distance (azimuth 0 on +y).
UnitVector unitVector(double elevation, double azimuth, double distance);
std::vector<UnitVector> unitVectors(const std::vector<Position>& positions);

// Area of the sphere above elevation el (degrees).
float capArea(float radius, float el);

struct TargetGrid
{
    float spacing = 0.0f;             // degrees: 5, 10, 15 or 30
    std::vector<std::int32_t> elevs;  // ascending, whole degrees
    std::vector<std::int32_t> numAz;  // azimuths per ring, each >= 1

    std::size_t numTargets() const;
};

// Sends the spacing and grid messages.
TargetGrid chooseTargetGrid(PrintMsgI& sink, const std::vector<Position>& positions);

// Azimuth of index a on a ring of count azimuths, as the grid defines it.
float targetAzimuth(std::int32_t a, std::int32_t count);

struct TargetMap
{
    std::vector<Position> targets;         // (elevation, azimuth, 1.0) in target order
    std::vector<std::int32_t> measurement; // index of the nearest measured position
    std::vector<double> distance;          // its distance from the target
};

// The exhaustive nearest search of every target (ties to the lowest index),
// pure and without messages. When there is enough to search and a second core,
// that core starts on it at once, so the creating thread may do other work
// (file reads) before it joins in with finish(). map is filled by finish().
class TargetSearch
{
public:
    TargetSearch(const TargetGrid& grid, const std::vector<UnitVector>& measured, TargetMap& map);
    ~TargetSearch();

    // False when shouldStop answered true between rings (map then incomplete).
    bool finish(const std::function<bool()>& shouldStop = {});

private:
    struct Search;
    std::unique_ptr<Search> search;
};

// Sends the mapping's error report: the largest error with its target and
// measurement, and the average.
void reportMapping(PrintMsgI& sink, const std::vector<Position>& positions, const TargetMap& map);

// The search, then the report. Returns false, with nothing sent, when
// shouldStop answers true between rings.
bool mapTargets(PrintMsgI& sink, const TargetGrid& grid, const std::vector<Position>& positions,
                const std::vector<UnitVector>& measured, TargetMap& map,
                const std::function<bool()>& shouldStop = {});
