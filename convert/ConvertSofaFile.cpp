#include "convert/ConvertSofaFile.h"

#include "convert/SofaInput.h"
#include "convert/SourcePositions.h"
#include "convert/TargetGrid.h"
#include "dsp/crop.h"
#include "dsp/fft.h"
#include "dsp/minphase.h"
#include "hrtf/HrtfSet.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace
{
enum ProcOption
{
    procNone = 0,
    procCrop = 1,
    procMinimumPhase = 2
};

// Treats one pair in place; returns its ITD in samples (left later = positive).
float processPair(std::vector<float>& left, std::vector<float>& right, float fs, std::int32_t procOption,
                  float threshold)
{
    if (procOption == procCrop)
    {
        const auto n = static_cast<std::int32_t>(left.size());
        const std::int32_t onsetLeft = findOnset(left.data(), n, threshold);
        dropLeading(left.data(), n, onsetLeft);
        const std::int32_t onsetRight = findOnset(right.data(), n, threshold);
        dropLeading(right.data(), n, onsetRight);
        return static_cast<float>(onsetLeft - onsetRight);
    }
    if (procOption == procMinimumPhase)
    {
        // The estimate computes both minimum-phase responses on its way.
        std::vector<float> minimumRight, minimumLeft;
        const float itd = estimateItdAndMinimumPhase(right, left, fs, 500.0f, 2000.0f, minimumRight, minimumLeft);
        left = std::move(minimumLeft);
        right = std::move(minimumRight);
        return itd;
    }
    return 0.0f;
}

std::size_t checkedProduct(std::size_t a, std::size_t b, const char* what)
{
    if (a != 0 && b > std::numeric_limits<std::size_t>::max() / a)
        throw std::length_error(std::string(what) + " is too large");
    return a * b;
}

bool isUsableSamplingRate(double rate)
{
    // Truncated to an int32 for the set: it must be a finite rate of at least 1 Hz that fits.
    return std::isfinite(rate) && rate >= 1.0 && rate < 2147483648.0;
}

// Finite, with elevations on the sphere: the target grid spans the measured
// elevations, so one beyond +-90 degrees (past a rounding error) would give it
// rings that no direction has, and a huge one an absurd or overflowing grid.
bool allUsable(const std::vector<Position>& positions)
{
    for (const Position& p : positions)
        if (!std::isfinite(p.elevation) || !std::isfinite(p.azimuth) || !std::isfinite(p.distance)
            || !(std::fabs(p.elevation) <= 90.0 + 1e-6))
            return false;
    return true;
}

bool allFinite(const std::vector<float>& values)
{
    for (float v : values)
        if (!std::isfinite(v))
            return false;
    return true;
}

// A file of a few kilobytes can declare any amount of (unwritten) data; what no
// HRIR set needs is refused before anything is allocated for it.
constexpr std::size_t kMaxMeasurements = std::size_t(1) << 20;  // positions and their vectors: 48 MiB
constexpr std::size_t kMaxDataValues = std::size_t(1) << 28;  // the Data.IR block: 2 GiB of doubles
constexpr std::size_t kMaxSetFloats = std::size_t(1) << 28;   // the HRTF set: 1 GiB of floats

// True when every sample is finite as a 32-bit float too (NaN is not).
bool allSamplesUsable(const double* samples, std::size_t count)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    // Two samples per step, the verdicts gathered over a stretch before one test.
    const __m128d magnitudeMask = _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffffLL));
    const __m128d largest = _mm_set1_pd(FLT_MAX);
    constexpr std::size_t stretch = 1024;
    while (i + 1 < count)
    {
        const std::size_t end = std::min(count - (count - i) % 2, i + stretch);
        __m128d usable = _mm_castsi128_pd(_mm_set1_epi32(-1));
        for (; i < end; i += 2)
        {
            const __m128d magnitude = _mm_and_pd(_mm_loadu_pd(samples + i), magnitudeMask);
            usable = _mm_and_pd(usable, _mm_cmple_pd(magnitude, largest));
        }
        if (_mm_movemask_pd(usable) != 3)
            return false;
    }
#endif
    for (; i < count; ++i)
        if (!(std::fabs(samples[i]) <= FLT_MAX))
            return false;
    return true;
}

struct FreeBlock
{
    void operator()(void* block) const noexcept { std::free(block); }
};

// The Data.IR block: count doubles, zero-filled. calloc takes a large block
// from fresh pages, which are zero already, instead of writing zeros; on Linux
// a block of a few MiB is also aligned to and advised onto 2 MiB pages, so that
// the read which fills it faults in a handful of huge pages instead of
// thousands of small ones (on a virtual machine the faults cost more than the
// read itself).
class SampleBlock
{
public:
    explicit SampleBlock(std::size_t count) : count(count)
    {
        const std::size_t bytes = checkedProduct(count, sizeof(double), "Data.IR");
        std::size_t slack = 0;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
        if (bytes >= 2 * kHugePage)
            slack = kHugePage;
#endif
        if (bytes > std::numeric_limits<std::size_t>::max() - slack)
            throw std::length_error("Data.IR is too large");
        memory.reset(std::calloc(bytes + slack == 0 ? 1 : bytes + slack, 1));
        if (!memory)
            throw std::bad_alloc();
        values = static_cast<double*>(memory.get());
#if defined(__linux__) && defined(MADV_HUGEPAGE)
        if (slack != 0)
        {
            const auto address = reinterpret_cast<std::uintptr_t>(memory.get());
            const std::uintptr_t aligned = (address + kHugePage - 1) & ~static_cast<std::uintptr_t>(kHugePage - 1);
            values = reinterpret_cast<double*>(aligned);
            ::madvise(values, bytes, MADV_HUGEPAGE);  // advice only: its failure changes nothing
        }
#endif
    }

    double* data() const { return values; }
    std::size_t size() const { return count; }
    const double& operator[](std::size_t i) const { return values[i]; }

private:
    static constexpr std::size_t kHugePage = std::size_t(2) << 20;

    std::unique_ptr<void, FreeBlock> memory;
    double* values = nullptr;
    std::size_t count = 0;
};

bool convert(PrintMsgI& sink, const std::string& sofaPath, const std::string& outPath, std::int32_t procOption,
             std::int32_t cropThresh, const std::function<bool()>& shouldAbandon, bool& setWritten)
{
    const auto abandoned = [&shouldAbandon] { return shouldAbandon && shouldAbandon(); };

    SofaInput input;
    if (!openSofaInput(sink, sofaPath, input))
        return false;
    if (!isUsableSamplingRate(input.samplingRate))
    {
        sink.printMsg("invalid sampling rate: %g\n", input.samplingRate);
        return false;
    }
    if (abandoned())
        return false;
    // Both are below 2^31, so the product fits.
    if (static_cast<std::size_t>(input.M) > kMaxMeasurements
        || static_cast<std::size_t>(input.M) * 2 * static_cast<std::size_t>(input.N) > kMaxDataValues)
    {
        sink.printMsg("SOFA data too large: %d measurements of %d samples\n", input.M, input.N);
        return false;
    }

    std::vector<Position> positions;
    if (readSourcePositions(*input.file, positions) != 0)
        return false;
    const auto M = static_cast<std::size_t>(input.M);
    if (positions.size() == 1 && M > 1)
        positions.resize(M, positions.front()); // one position stands for every measurement
    if (positions.size() != M)
    {
        sink.printMsg("expected one source position per measurement\n");
        return false;
    }
    if (!allUsable(positions))
    {
        sink.printMsg("invalid values in SourcePosition\n");
        return false;
    }
    for (Position& p : positions)
        p.distance = 1.0;
    const std::vector<UnitVector> measured = unitVectors(positions);

    const TargetGrid grid = chooseTargetGrid(sink, positions);

    const std::int32_t N = input.N;
    const std::int32_t L = procOption == procMinimumPhase ? nextPowerOfTwo(N) : N;
    if (grid.numTargets() * 2 * static_cast<std::size_t>(L) > kMaxSetFloats)
    {
        sink.printMsg("HRTF set too large: %zu positions of %d samples\n", grid.numTargets(), L);
        return false;
    }
    HrtfSetInfo info(static_cast<std::int32_t>(grid.elevs.size()));
    info.flags = (procOption == procCrop || procOption == procMinimumPhase) ? ITD_extracted : 0;
    info.sampRate = static_cast<std::int32_t>(input.samplingRate);
    info.numACoeff = 0;
    info.numBCoeff = L;
    info.elevs = grid.elevs;
    info.numAz = grid.numAz;
    HrtfSet set(info);
    HrtfCursor cursor(set);

    TargetMap map;
    if (!mapTargets(sink, grid, positions, measured, map, shouldAbandon) || abandoned())
        return false;

    const std::size_t blockSize = checkedProduct(checkedProduct(M, 2, "Data.IR"), static_cast<std::size_t>(N), "Data.IR");
    const SampleBlock block(blockSize);
    if (!input.hrir->GetDataIR(block.data(), static_cast<unsigned>(input.M), 2, static_cast<unsigned>(N)))
    {
        sink.printMsg("error reading SOFA data\n");
        return false;
    }
    if (!allSamplesUsable(block.data(), block.size()))
    {
        sink.printMsg("invalid values in Data.IR\n");
        return false;
    }

    const auto fs = static_cast<float>(input.samplingRate);
    const auto threshold = static_cast<float>(cropThresh);
    const auto length = static_cast<std::size_t>(L);
    const auto samples = static_cast<std::size_t>(N);
    std::vector<float> left(length);
    std::vector<float> right(length);
    float itd = 0.0f;
    // Neighbouring targets often share their nearest measurement (all of them,
    // when few were measured): its treated pair is kept until the next differs.
    std::size_t treated = std::numeric_limits<std::size_t>::max();
    std::size_t k = 0;
    for (std::size_t ring = 0; ring < grid.elevs.size(); ++ring)
    {
        const std::int32_t count = grid.numAz[ring];
        for (std::int32_t a = 0; a < count; ++a, ++k)
        {
            if (abandoned())
                return false;
            const auto m = static_cast<std::size_t>(map.measurement[k]);
            if (m != treated)
            {
                left.assign(length, 0.0f);
                right.assign(length, 0.0f);
                const double* leftSource = &block[(m * 2 + 0) * samples];
                const double* rightSource = &block[(m * 2 + 1) * samples];
                for (std::size_t n = 0; n < samples; ++n)
                {
                    left[n] = static_cast<float>(leftSource[n]);
                    right[n] = static_cast<float>(rightSource[n]);
                }

                itd = processPair(left, right, fs, procOption, threshold);
                // Responses near the float range can overflow the transforms.
                if (!allFinite(left) || !allFinite(right) || !std::isfinite(itd))
                {
                    sink.printMsg("invalid values after processing measurement %d\n", map.measurement[k]);
                    return false;
                }
                treated = m;
            }
            cursor.setPosition(static_cast<float>(grid.elevs[ring]), targetAzimuth(a, count));
            cursor.setHrirs(left.data(), right.data(), L);
            cursor.setItd(itd);
        }
    }
    if (abandoned())
        return false;

    setWritten = set.write(outPath);
    if (setWritten)
        sink.printMsg("sucessfully wrote TN file: %s\n", outPath.c_str());
    else
        sink.printMsg("error writing HRTF file: %s\n", set.errorMsg.c_str());
    return true;
}
} // namespace

bool convertSofaFile(PrintMsgI& sink, const std::string& sofaPath, const std::string& outPath,
                     std::int32_t procOption, std::int32_t cropThresh,
                     const std::function<bool()>& shouldAbandon, bool* setWritten)
{
    bool written = false;
    bool result = false;
    try
    {
        result = convert(sink, sofaPath, outPath, procOption, cropThresh, shouldAbandon, written);
    }
    catch (const std::exception& e)
    {
        sink.printMsg("Exception occurred: %s\n", e.what());
    }
    catch (...)
    {
        sink.printMsg("Unknown exception occurred!\n");
    }
    if (setWritten != nullptr)
        *setWritten = written;
    return result;
}
