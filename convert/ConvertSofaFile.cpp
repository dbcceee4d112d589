#include "convert/ConvertSofaFile.h"

#include "convert/Delays.h"
#include "convert/SampleBlock.h"
#include "convert/SharedWork.h"
#include "convert/SofaInput.h"
#include "convert/SourcePositions.h"
#include "convert/TargetGrid.h"
#include "convert/Treatment.h"
#include "dsp/crop.h"
#include "dsp/fft.h"
#include "dsp/minphase.h"
#include "hrtf/HrtfSet.h"
#include "report/QualityChecks.h"
#include "report/Report.h"
#include "report/Sha256.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

namespace
{
// A file of a few kilobytes can declare any amount of (unwritten) data; what no
// HRIR set needs is refused before anything is allocated for it.
constexpr std::size_t kMaxMeasurements = std::size_t(1) << 20;  // positions and their vectors: 48 MiB
constexpr std::size_t kMaxDataValues = std::size_t(1) << 28;  // the Data.IR block: 2 GiB of doubles
constexpr std::size_t kMaxSetFloats = std::size_t(1) << 28;   // the HRTF set: 1 GiB of floats

// What one file's conversion carries from stage to stage. The stages below run
// in the order they are written; each returns false after it has reported a
// failure, or when the conversion was abandoned (then silently).
struct FileConversion
{
    FileConversion(PrintMsgI& sink, std::int32_t procOption, std::int32_t cropThresh,
                   const ConversionOptions& options, const std::function<bool()>& shouldAbandon)
        : sink(sink), treatment(treatmentOf(procOption)), cropThresh(cropThresh), options(options),
          shouldAbandon(shouldAbandon)
    {
    }

    bool abandoned() const { return shouldAbandon && shouldAbandon(); }

    PrintMsgI& sink;
    const Treatment treatment;
    const std::int32_t cropThresh;
    const ConversionOptions& options;
    const std::function<bool()>& shouldAbandon;

    // Intake and positions.
    SofaInput input;
    std::vector<Position> positions;   // one per measurement, at distance 1
    std::vector<UnitVector> measured;  // their points on the unit sphere
    Delays delays;                     // Data.Delay, checked
    // Samples by which the untreated responses were lengthened to carry the
    // delays themselves (the set has no ITDs then); 0 for the other treatments.
    std::size_t lengthening = 0;
    // Grid and mapping.
    TargetGrid grid;
    std::int32_t length = 0;           // samples per stored response
    HrtfSet set { HrtfSetInfo() };
    TargetMap map;
    // The responses as read: measurement m's left ear, then its right, N samples each.
    SampleBlock block;
    // What the quality checks saw and found.
    TargetFigures figures;
    std::vector<Warning> warnings;
};

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

// Elevations may pass the poles by this much: measured sets store a pole as
// -90.0000076 and the like, and the grid's rounding puts such values on the
// +-90 ring. Farther out the grid would get rings that no direction has, and a
// huge elevation an absurd or overflowing grid.
constexpr double kPoleTolerance = 0.01;

// False after sending the reason for the first measurement whose position is
// not finite or whose elevation lies beyond the poles.
bool checkPositions(PrintMsgI& sink, const std::vector<Position>& positions)
{
    for (std::size_t m = 0; m < positions.size(); ++m)
    {
        const Position& p = positions[m];
        if (!(std::fabs(p.elevation) <= 90.0 + kPoleTolerance))
        {
            sink.printMsg("invalid values in SourcePosition: elevation %g at measurement %d\n", p.elevation,
                          static_cast<int>(m));
            return false;
        }
        if (!std::isfinite(p.azimuth) || !std::isfinite(p.distance))
        {
            sink.printMsg("invalid values in SourcePosition\n");
            return false;
        }
    }
    return true;
}

bool allFinite(const std::vector<float>& values)
{
    for (float v : values)
        if (!std::isfinite(v))
            return false;
    return true;
}

// 1a. The file opened and checked; its rate usable, its sizes within bounds.
bool takeIn(FileConversion& c, const std::string& sofaPath)
{
    if (!openSofaInput(c.sink, sofaPath, c.input))
        return false;
    if (!isUsableSamplingRate(c.input.samplingRate))
    {
        c.sink.printMsg("invalid sampling rate: %g\n", c.input.samplingRate);
        return false;
    }
    if (c.abandoned())
        return false;
    // Both are below 2^31, so the product fits.
    if (static_cast<std::size_t>(c.input.M) > kMaxMeasurements
        || static_cast<std::size_t>(c.input.M) * 2 * static_cast<std::size_t>(c.input.N) > kMaxDataValues)
    {
        c.sink.printMsg("SOFA data too large: %d measurements of %d samples\n", c.input.M, c.input.N);
        return false;
    }
    return true;
}

// 1b. One usable source position per measurement, moved onto the unit sphere.
bool placeMeasurements(FileConversion& c)
{
    if (readSourcePositions(*c.input.file, c.positions) != 0)
        return false;
    const auto M = static_cast<std::size_t>(c.input.M);
    if (c.positions.size() == 1 && M > 1)
        c.positions.resize(M, c.positions.front()); // one position stands for every measurement
    if (c.positions.size() != M)
    {
        c.sink.printMsg("expected one source position per measurement\n");
        return false;
    }
    if (!checkPositions(c.sink, c.positions))
        return false;
    for (Position& p : c.positions)
        p.distance = 1.0;
    c.measured = unitVectors(c.positions);
    return true;
}

// 1c. Data.Delay read and checked.
bool takeDelays(FileConversion& c)
{
    return readDelays(c.sink, *c.input.hrir, c.input.M, c.input.samplingRate, c.delays);
}

// 2a. The target grid and the empty set laid out on it.
bool layOutSet(FileConversion& c)
{
    c.grid = chooseTargetGrid(c.sink, c.positions);

    const std::int32_t N = c.input.N;
    // Without ITDs the responses carry the delays: each starts later by its
    // own, less the smallest, and all are lengthened so that none is cut.
    if (c.treatment == Treatment::none)
        c.lengthening = delayShift(c.delays.highest, c.delays.lowest);
    const std::size_t length =
        static_cast<std::size_t>(c.treatment == Treatment::minimumPhase ? nextPowerOfTwo(N) : N) + c.lengthening;
    if (length > kMaxSetFloats || c.grid.numTargets() * 2 * length > kMaxSetFloats)
    {
        c.sink.printMsg("HRTF set too large: %zu positions of %zu samples\n", c.grid.numTargets(), length);
        return false;
    }
    c.length = static_cast<std::int32_t>(length);  // below 2^28
    HrtfSetInfo info(static_cast<std::int32_t>(c.grid.elevs.size()));
    info.flags = c.treatment == Treatment::none ? 0 : ITD_extracted;
    info.sampRate = static_cast<std::int32_t>(c.input.samplingRate);
    info.numACoeff = 0;
    info.numBCoeff = c.length;
    info.elevs = c.grid.elevs;
    info.numAz = c.grid.numAz;
    c.set = HrtfSet(info);
    return true;
}

// 3. Data.IR read whole and checked: nullptr, or the failure's message.
const char* readResponses(FileConversion& c)
{
    const auto M = static_cast<std::size_t>(c.input.M);
    const auto N = static_cast<std::size_t>(c.input.N);
    c.block = SampleBlock(checkedProduct(checkedProduct(M, 2, "Data.IR"), N, "Data.IR"));
    if (!c.input.hrir->GetDataIR(c.block.data(), static_cast<unsigned>(c.input.M), 2, static_cast<unsigned>(N)))
        return "error reading SOFA data\n";
    if (!allSamplesUsable(c.block.data(), c.block.size()))
        return "invalid values in Data.IR\n";
    return nullptr;
}

// 2b and 3. Every target's nearest measurement, then Data.IR. The search is
// pure: a second core starts on it while this thread reads the file, and the
// messages and failures come out as if the two stages ran in turn.
bool mapAndRead(FileConversion& c)
{
    TargetSearch search(c.grid, c.measured, c.map);
    const char* readFailure = nullptr;
    std::exception_ptr readException;
    try
    {
        readFailure = readResponses(c);
    }
    catch (...)
    {
        readException = std::current_exception();
    }
    if (!search.finish(c.shouldAbandon) || c.abandoned())
        return false;
    reportMapping(c.sink, c.positions, c.map);
    if (readException)
        std::rethrow_exception(readException);
    if (readFailure != nullptr)
    {
        c.sink.printMsg("%s", readFailure);
        return false;
    }
    return true;
}

// Treats one pair in place; returns its ITD in samples (left later = positive).
// delayLeft and delayRight (Data.Delay) belong before the stored responses.
float treatPair(Treatment treatment, std::vector<float>& left, std::vector<float>& right, float fs, float threshold,
                double delayLeft, double delayRight)
{
    switch (treatment)
    {
    case Treatment::crop:
    {
        const auto n = static_cast<std::int32_t>(left.size());
        const std::int32_t onsetLeft = findOnset(left.data(), n, threshold);
        dropLeading(left.data(), n, onsetLeft);
        const std::int32_t onsetRight = findOnset(right.data(), n, threshold);
        dropLeading(right.data(), n, onsetRight);
        return static_cast<float>((onsetLeft + delayLeft) - (onsetRight + delayRight));
    }
    case Treatment::minimumPhase:
    {
        // The estimate computes both minimum-phase responses on its way.
        std::vector<float> minimumRight, minimumLeft;
        const float itd = estimateItdAndMinimumPhase(right, left, fs, kItdBandLowHz, kItdBandHighHz, minimumRight,
                                                     minimumLeft);
        left = std::move(minimumLeft);
        right = std::move(minimumRight);
        // Adding a zero difference would turn an estimate of -0 into +0.
        const double difference = delayLeft - delayRight;
        return difference == 0.0 ? itd : static_cast<float>(itd + difference);
    }
    case Treatment::none:
        break;
    }
    return 0.0f;
}

// samples of source as floats from index shift of out, which becomes length
// long (shift + samples at most), zero elsewhere.
void placeResponse(const double* source, std::size_t samples, std::size_t shift, std::size_t length,
                   std::vector<float>& out)
{
    out.resize(length);
    std::fill(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(shift), 0.0f);
    toFloats(source, samples, out.data() + shift);
    std::fill(out.begin() + static_cast<std::ptrdiff_t>(shift + samples), out.end(), 0.0f);
}

// Measurement m's pair as floats in the stored length (left and right are
// resized to it, whatever they held; untreated ones start at their shift),
// treated.
// False when a result is not finite (responses near the float range can
// overflow the transforms). Pure: it may run on a second core.
bool treatMeasurement(const FileConversion& c, std::int32_t m, std::vector<float>& left, std::vector<float>& right,
                      float& itd)
{
    const auto length = static_cast<std::size_t>(c.length);
    const auto samples = static_cast<std::size_t>(c.input.N);
    const auto measurement = static_cast<std::size_t>(m);
    const double delayLeft = c.delays.of(measurement, 0);
    const double delayRight = c.delays.of(measurement, 1);
    // Untreated responses start later by their delay, less the file's smallest.
    const bool carryDelays = c.treatment == Treatment::none;
    placeResponse(&c.block[(measurement * 2 + 0) * samples], samples,
                  carryDelays ? delayShift(delayLeft, c.delays.lowest) : 0, length, left);
    placeResponse(&c.block[(measurement * 2 + 1) * samples], samples,
                  carryDelays ? delayShift(delayRight, c.delays.lowest) : 0, length, right);

    itd = treatPair(c.treatment, left, right, static_cast<float>(c.input.samplingRate),
                    static_cast<float>(c.cropThresh), delayLeft, delayRight);
    return allFinite(left) && allFinite(right) && std::isfinite(itd);
}

// 4. Every target's pair treated and stored with its ITD. Neighbouring
// targets often share their nearest measurement (all of them, when few were
// measured): the first target of each run of such targets treats the pair
// once and stores it for the whole run. The runs are independent, so a long
// minimum-phase treatment shares them with a second core; a failure is the
// first in target order, and abandonment is still asked before each target.
bool treatAndStore(FileConversion& c)
{
    const std::vector<std::int32_t>& measurement = c.map.measurement;
    const std::size_t targets = measurement.size();
    std::vector<float> buffers[2][2];  // left and right of each worker
    const auto treatRun = [&c, &measurement, targets, &buffers](std::size_t first, int worker) {
        const std::int32_t m = measurement[first];
        if (first > 0 && measurement[first - 1] == m)
            return true;  // stored with its run
        std::vector<float>& left = buffers[worker][0];
        std::vector<float>& right = buffers[worker][1];
        float itd = 0.0f;
        if (!treatMeasurement(c, m, left, right, itd))
            return false;
        HrtfCursor cursor(c.set);
        for (std::size_t k = first; k < targets && measurement[k] == m; ++k)
        {
            cursor.setPosition(static_cast<float>(c.map.targets[k].elevation),
                               static_cast<float>(c.map.targets[k].azimuth));
            cursor.setHrirs(left.data(), right.data(), c.length);
            cursor.setItd(itd);
        }
        return true;
    };
    constexpr std::size_t kWorthASecondCore = std::size_t(1) << 14;  // samples treated
    const bool share = c.treatment == Treatment::minimumPhase
                       && targets > kWorthASecondCore / static_cast<std::size_t>(c.length);
    const SharedWorkResult result = shareWork(targets, share, treatRun, c.shouldAbandon);
    if (result.stopped)
        return false;
    if (result.failed < targets)
    {
        c.sink.printMsg("invalid values after processing measurement %d\n", measurement[result.failed]);
        return false;
    }
    return !c.abandoned();
}

// 4a. Delays that are not all zero were applied: one line says how.
void reportDelays(const FileConversion& c)
{
    if (c.delays.allZero())
        return;
    if (c.treatment == Treatment::none)
        c.sink.printMsg("Data.Delay applied: %g to %g samples, responses shifted by up to %d samples\n",
                        c.delays.lowest, c.delays.highest, static_cast<int>(c.lengthening));
    else
        c.sink.printMsg("Data.Delay applied: %g to %g samples, added to the ITDs\n", c.delays.lowest,
                        c.delays.highest);
}

// 4b. The stored set checked for what looks wrong; each finding one warning line.
void checkSet(FileConversion& c)
{
    TargetFigures& f = c.figures;
    f.spacing = c.grid.spacing;
    f.elevs = c.grid.elevs;
    f.numAz = c.grid.numAz;
    f.measurement = c.map.measurement;
    const std::size_t count = c.map.measurement.size();
    f.azimuth.resize(count);
    f.errorDegrees.resize(count);
    f.lateral.resize(count);
    for (std::size_t k = 0; k < count; ++k)
    {
        const auto m = static_cast<std::size_t>(c.map.measurement[k]);
        f.azimuth[k] = c.map.targets[k].azimuth;
        f.errorDegrees[k] = chordToDegrees(c.map.distance[k]);  // the nearest search's own distance
        f.lateral[k] = c.measured[m].x;  // sin(azimuth) cos(elevation): azimuth 90, the left, lies on +x
    }

    const auto length = static_cast<std::size_t>(c.length);
    const double microsecondsPerSample = 1e6 / c.input.samplingRate;
    f.lagMicroseconds.resize(count);
    f.lagsAreOnsets = c.set.itds.empty();
    if (f.lagsAreOnsets)
    {
        const std::vector<std::int32_t> onsets = onsetDifferences(c.set.data.data(), count, length);
        for (std::size_t k = 0; k < count; ++k)
            f.lagMicroseconds[k] = onsets[k] * microsecondsPerSample;
    }
    else
        for (std::size_t k = 0; k < count; ++k)
            f.lagMicroseconds[k] = static_cast<double>(c.set.itds[k]) * microsecondsPerSample;

    c.warnings = checkConversion(f, c.set.data.data(), count, length);
    for (const Warning& w : c.warnings)
        c.sink.printMsg("warning: %s: %s\n", w.code.c_str(), w.text.c_str());
}

// Without the NULs some writers store after the text.
std::string globalText(const FileConversion& c, const char* name)
{
    std::string text = c.input.file->GetAttributeText(name);
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

// The views of the horizontal ring's targets nearest to azimuths 0, 90 and 270.
std::vector<ResponseView> horizontalResponses(const FileConversion& c)
{
    std::vector<ResponseView> views;
    std::size_t first = 0;
    for (std::size_t ring = 0; ring < c.grid.elevs.size(); ++ring)
    {
        const auto count = static_cast<std::size_t>(c.grid.numAz[ring]);
        if (c.grid.elevs[ring] != 0)
        {
            first += count;
            continue;
        }
        const auto samples = static_cast<std::size_t>(c.input.N);
        const auto length = static_cast<std::size_t>(c.length);
        for (double wanted : { 0.0, 90.0, 270.0 })
        {
            const auto a = static_cast<std::size_t>(std::lround(wanted / 360.0 * static_cast<double>(count))) % count;
            const std::size_t k = first + a;
            const auto m = static_cast<std::size_t>(c.map.measurement[k]);
            ResponseView v;
            v.azimuth = c.map.targets[k].azimuth;
            const double* raw = &c.block[m * 2 * samples];
            v.beforeLeft.assign(raw, raw + samples);
            v.beforeRight.assign(raw + samples, raw + 2 * samples);
            const float* stored = c.set.data.data() + k * 2 * length;
            v.afterLeft.assign(stored, stored + length);
            v.afterRight.assign(stored + length, stored + 2 * length);
            views.push_back(std::move(v));
        }
        break;
    }
    return views;
}

// 6. The report beside the set, on request.
void writeReportFiles(const FileConversion& c, const std::string& sofaPath, const std::string& outPath)
{
    ReportContent r;
    std::string error;
    r.sourcePath = sofaPath;
    if (!sha256OfFile(sofaPath, r.sha256, error))
    {
        c.sink.printMsg("error writing report: %s\n", error.c_str());
        return;
    }
    r.samplingRate = c.input.samplingRate;
    r.measurements = c.input.M;
    r.samples = c.input.N;
    r.conventions = globalText(c, "SOFAConventions");
    r.version = globalText(c, "SOFAConventionsVersion");
    r.measured.reserve(c.positions.size());
    for (const Position& p : c.positions)
        r.measured.push_back({ p.elevation, p.azimuth });
    r.treatment = treatmentName(c.treatment);
    r.cropThreshold = c.cropThresh;
    r.setPath = outPath;
    r.sampRate = c.set.sampRate;
    r.numBCoeff = c.set.numBCoeff;
    r.itds = c.set.itds;
    r.targets = c.figures;
    r.targetElevation.reserve(c.map.targets.size());
    for (const Position& p : c.map.targets)
        r.targetElevation.push_back(p.elevation);
    r.warnings = c.warnings;
    r.responses = horizontalResponses(c);
    if (writeReport(r, outPath, error))
        c.sink.printMsg("wrote report: %s\n", reportPagePath(outPath).c_str());
    else
        c.sink.printMsg("error writing report: %s\n", error.c_str());
}

// 5. The set's two files, and the outcome reported.
void writeSet(FileConversion& c, const std::string& outPath, bool& setWritten)
{
    setWritten = c.set.write(outPath);
    if (setWritten)
        c.sink.printMsg("sucessfully wrote TN file: %s\n", outPath.c_str());
    else
        c.sink.printMsg("error writing HRTF file: %s\n", c.set.errorMsg.c_str());
}

bool convert(FileConversion& c, const std::string& sofaPath, const std::string& outPath, bool& setWritten)
{
    if (!takeIn(c, sofaPath) || !placeMeasurements(c) || !takeDelays(c) || !layOutSet(c) || !mapAndRead(c)
        || !treatAndStore(c))
        return false;
    reportDelays(c);
    checkSet(c);
    writeSet(c, outPath, setWritten);
    if (setWritten && c.options.writeReport)
        writeReportFiles(c, sofaPath, outPath);
    return true;
}
} // namespace

bool convertSofaFile(PrintMsgI& sink, const std::string& sofaPath, const std::string& outPath,
                     std::int32_t procOption, std::int32_t cropThresh,
                     const std::function<bool()>& shouldAbandon, bool* setWritten)
{
    return convertSofaFile(sink, sofaPath, outPath, procOption, cropThresh, ConversionOptions(), shouldAbandon,
                           setWritten);
}

bool convertSofaFile(PrintMsgI& sink, const std::string& sofaPath, const std::string& outPath,
                     std::int32_t procOption, std::int32_t cropThresh, const ConversionOptions& options,
                     const std::function<bool()>& shouldAbandon, bool* setWritten)
{
    bool written = false;
    bool result = false;
    try
    {
        FileConversion conversion(sink, procOption, cropThresh, options, shouldAbandon);
        result = convert(conversion, sofaPath, outPath, written);
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
