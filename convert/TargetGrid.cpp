#include "convert/TargetGrid.h"

#include "convert/SharedWork.h"
#include "dsp/pi.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace
{
double toRadians(double degrees)
{
    return degrees * kPi / 180.0;
}

// The measured unit vectors as three columns, so that two can be loaded at once.
struct MeasuredColumns
{
    explicit MeasuredColumns(const std::vector<UnitVector>& measured)
    {
        x.reserve(measured.size());
        y.reserve(measured.size());
        z.reserve(measured.size());
        for (const UnitVector& v : measured)
        {
            x.push_back(v.x);
            y.push_back(v.y);
            z.push_back(v.z);
        }
    }

    std::size_t size() const { return x.size(); }

    std::vector<double> x, y, z;
};

struct Nearest
{
    double distance = 2.0;  // the diameter: no measurement lies farther
    double squared = 4.0;   // its square; distance is always exactly sqrt(squared)
    std::int32_t index = 0;

    // Measurement j at squared distance s, in ascending j: it wins when its
    // distance is strictly below the best (ties stay with the lower index). A sum
    // not below the best one's has a root not below the best, the root being
    // monotonic, so only the others are rooted and compared.
    void consider(std::size_t j, double s)
    {
        if (!(s < squared))
            return;
        const double root = std::sqrt(s);
        if (root < distance)
        {
            distance = root;
            squared = s;
            index = static_cast<std::int32_t>(j);
        }
    }
};

// Exhaustive: every measurement, in ascending order, distance
// sqrt(dy*dy + dx*dx + dz*dz) summed in that order.
Nearest nearestMeasurement(const UnitVector& t, const MeasuredColumns& columns)
{
    Nearest nearest;
    const std::size_t count = columns.size();
    std::size_t j = 0;
#if defined(__SSE2__)
    // Two measurements per step with the same IEEE operations in each lane; a
    // step with a candidate hands its lanes to consider() in order.
    const __m128d tx = _mm_set1_pd(t.x), ty = _mm_set1_pd(t.y), tz = _mm_set1_pd(t.z);
    __m128d bound = _mm_set1_pd(nearest.squared);
    for (; j + 1 < count; j += 2)
    {
        const __m128d dx = _mm_sub_pd(tx, _mm_loadu_pd(columns.x.data() + j));
        const __m128d dy = _mm_sub_pd(ty, _mm_loadu_pd(columns.y.data() + j));
        const __m128d dz = _mm_sub_pd(tz, _mm_loadu_pd(columns.z.data() + j));
        const __m128d squared =
            _mm_add_pd(_mm_add_pd(_mm_mul_pd(dy, dy), _mm_mul_pd(dx, dx)), _mm_mul_pd(dz, dz));
        if (_mm_movemask_pd(_mm_cmplt_pd(squared, bound)) == 0)
            continue;
        double lanes[2];
        _mm_storeu_pd(lanes, squared);
        nearest.consider(j, lanes[0]);
        nearest.consider(j + 1, lanes[1]);
        bound = _mm_set1_pd(nearest.squared);
    }
#endif
    for (; j < count; ++j)
    {
        const double dx = t.x - columns.x[j];
        const double dy = t.y - columns.y[j];
        const double dz = t.z - columns.z[j];
        nearest.consider(j, dy * dy + dx * dx + dz * dz);
    }
    return nearest;
}
} // namespace

UnitVector unitVector(double elevation, double azimuth, double distance)
{
    const double el = toRadians(elevation);
    const double az = toRadians(azimuth);
    UnitVector v;
    v.x = std::sin(az) * (std::cos(el) * distance);
    v.y = std::cos(az) * (std::cos(el) * distance);
    v.z = std::sin(el) * distance;
    return v;
}

std::vector<UnitVector> unitVectors(const std::vector<Position>& positions)
{
    std::vector<UnitVector> vectors;
    vectors.reserve(positions.size());
    for (const Position& p : positions)
        vectors.push_back(unitVector(p.elevation, p.azimuth, 1.0));
    return vectors;
}

float capArea(float radius, float el)
{
    const float d = 90.0f - std::fabs(el);
    const float c = std::cos(static_cast<float>(static_cast<double>(d) * kPi / 180.0));
    const double r = radius;
    const float area = static_cast<float>(static_cast<double>(1.0f - c) * (2.0 * kPi * r * r));
    if (el >= 0.0f)
        return area;
    return static_cast<float>(4.0 * kPi * r * r - static_cast<double>(area));
}

std::size_t TargetGrid::numTargets() const
{
    std::size_t total = 0;
    for (std::int32_t count : numAz)
        total += static_cast<std::size_t>(count);
    return total;
}

TargetGrid chooseTargetGrid(PrintMsgI& sink, const std::vector<Position>& positions)
{
    float lo = 90.0f;
    float hi = -90.0f;
    for (const Position& p : positions)
    {
        const auto e = static_cast<float>(p.elevation);
        if (e < lo)
            lo = e;
        if (e > hi)
            hi = e;
    }

    const float area = hi > lo ? capArea(1.0f, lo) - capArea(1.0f, hi) : 0.0f;
    const float spacingRadians = std::sqrt(area / static_cast<float>(positions.size()));
    const auto spacing = static_cast<float>(static_cast<double>(spacingRadians * 180.0f) / kPi);
    sink.printMsg("average angular spacing: %g degrees\n", spacing);

    float t = 30.0f;
    if (spacing < 5.0f)
        t = 5.0f;
    else if (spacing < 10.0f)
        t = 10.0f;
    else if (spacing < 15.0f)
        t = 15.0f;
    sink.printMsg("choosing target spacing: %g degrees\n", t);
    const auto tr = static_cast<float>(toRadians(t));

    const float e0 = std::round(lo / t) * t;
    const float e1 = std::round(hi / t) * t;
    const auto numElev = static_cast<std::int32_t>(std::round((e1 - e0) / t)) + 1;
    sink.printMsg("%d target elevs: %g to %g\n", numElev, e0, e1);

    TargetGrid grid;
    grid.spacing = t;
    grid.elevs.resize(static_cast<std::size_t>(numElev));
    grid.numAz.resize(static_cast<std::size_t>(numElev));
    for (std::int32_t i = 0; i < numElev; ++i)
    {
        const auto elev = static_cast<std::int32_t>(static_cast<float>(i) * t + e0);
        const float c = std::cos(static_cast<float>(toRadians(elev)));
        auto count = static_cast<std::int32_t>(std::round(static_cast<double>(c) * 2.0 * kPi / tr));
        if (count < 1)
            count = 1;
        grid.elevs[static_cast<std::size_t>(i)] = elev;
        grid.numAz[static_cast<std::size_t>(i)] = count;
    }
    return grid;
}

float targetAzimuth(std::int32_t a, std::int32_t count)
{
    return static_cast<float>(a) * (360.0f / static_cast<float>(count));
}

struct TargetSearch::Search
{
    Search(const TargetGrid& grid, const std::vector<UnitVector>& measured, TargetMap& map)
        : grid(grid), columns(measured), map(map), ringStart(grid.elevs.size() + 1, 0)
    {
        for (std::size_t ring = 0; ring < grid.elevs.size(); ++ring)
            ringStart[ring + 1] = ringStart[ring] + static_cast<std::size_t>(grid.numAz[ring]);
        const std::size_t numTargets = ringStart.back();
        map.targets.assign(numTargets, Position {});
        map.measurement.assign(numTargets, 0);
        map.distance.assign(numTargets, 0.0);
        constexpr std::size_t kWorthASecondCore = std::size_t(1) << 18;  // distances computed
        const bool share = numTargets > kWorthASecondCore / std::max<std::size_t>(measured.size(), 1);
        work = std::make_unique<SharedWork>(grid.elevs.size(), share, [this](std::size_t ring, int) {
            searchRing(ring);
            return true;
        });
    }

    void searchRing(std::size_t ring)
    {
        const auto el = static_cast<float>(grid.elevs[ring]);
        const std::int32_t count = grid.numAz[ring];
        for (std::int32_t a = 0; a < count; ++a)
        {
            const std::size_t k = ringStart[ring] + static_cast<std::size_t>(a);
            const float az = targetAzimuth(a, count);
            const Nearest nearest = nearestMeasurement(unitVector(el, az, 1.0), columns);
            map.targets[k] = Position { el, az, 1.0 };
            map.measurement[k] = nearest.index;
            map.distance[k] = nearest.distance;
        }
    }

    const TargetGrid& grid;
    const MeasuredColumns columns;
    TargetMap& map;
    std::vector<std::size_t> ringStart;
    std::unique_ptr<SharedWork> work;  // last: its helper uses the members above
};

TargetSearch::TargetSearch(const TargetGrid& grid, const std::vector<UnitVector>& measured, TargetMap& map)
    : search(std::make_unique<Search>(grid, measured, map))
{
}

TargetSearch::~TargetSearch() = default;

bool TargetSearch::finish(const std::function<bool()>& shouldStop)
{
    return !search->work->finish(shouldStop).stopped;
}

void reportMapping(PrintMsgI& sink, const std::vector<Position>& positions, const TargetMap& map)
{
    const std::size_t numTargets = map.measurement.size();
    float largestError = 0.0f;
    std::int32_t largestIndex = 0;
    float errorSum = 0.0f;
    for (std::size_t k = 0; k < numTargets; ++k)
    {
        const double best = map.distance[k];
        if (best > largestError)
        {
            largestError = static_cast<float>(best);
            largestIndex = static_cast<std::int32_t>(k);
        }
        errorSum = static_cast<float>(static_cast<double>(errorSum) + best);
    }

    const auto largestDegrees = static_cast<float>(static_cast<double>(largestError * 180.0f) / kPi);
    sink.printMsg("largest error %g (%.3g deg) at targetIndex %d\n", largestError, largestDegrees,
                  largestIndex);
    const Position& target = map.targets[static_cast<std::size_t>(largestIndex)];
    const Position& source = positions[static_cast<std::size_t>(map.measurement[static_cast<std::size_t>(largestIndex)])];
    sink.printMsg("TN (el %.3g az %.3g) <=> SOFA (el %.3g az %.3g)\n", target.elevation, target.azimuth,
                  source.elevation, source.azimuth);
    const float averageError = errorSum / static_cast<float>(numTargets);
    sink.printMsg("average error %g (%.3g deg)\n", averageError,
                  static_cast<double>(averageError * 180.0f) / kPi);
}

bool mapTargets(PrintMsgI& sink, const TargetGrid& grid, const std::vector<Position>& positions,
                const std::vector<UnitVector>& measured, TargetMap& map,
                const std::function<bool()>& shouldStop)
{
    TargetSearch search(grid, measured, map);
    if (!search.finish(shouldStop))
        return false;
    reportMapping(sink, positions, map);
    return true;
}
