#include "hrtf/HrtfSet.h"

#include "batch/messages/FormatString.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace
{

constexpr std::uint64_t kInt32Max = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());

std::size_t ringCountOf(const HrtfSet& set)
{
    if (set.numElev <= 0)
        return 0;
    return std::min({ static_cast<std::size_t>(set.numElev), set.elevs.size(), set.numAz.size(),
                      set.numStored.size() });
}

// Nearest ring to elev; an exact match wins, ties go to the higher ring.
std::size_t selectRing(const std::vector<std::int32_t>& elevs, std::size_t ringCount, float elev)
{
    auto ringElev = [&](std::size_t i) { return static_cast<float>(elevs[i]); };
    if (ringElev(0) == elev)
        return 0;
    std::size_t i = 0;
    for (;;)
    {
        if (ringElev(i) > elev)
        {
            if (i > 0 && std::fabs(ringElev(i) - elev) > std::fabs(ringElev(i - 1) - elev))
                return i - 1;
            return i;
        }
        if (i + 1 == ringCount)
            return i;
        ++i;
        if (ringElev(i) == elev)
            return i;
    }
}

// Copies min(slotSize, length) samples (overlap tolerated), zero-fills the rest.
void fillSlot(float* slot, std::size_t slotSize, const float* samples, std::int32_t length)
{
    std::size_t copied = 0;
    if (samples != nullptr && length > 0)
        copied = std::min(slotSize, static_cast<std::size_t>(length));
    if (copied > 0)
        std::memmove(slot, samples, copied * sizeof(float));
    std::fill(slot + copied, slot + slotSize, 0.0f);
}

}  // namespace

HrtfSetInfo::HrtfSetInfo(std::int32_t numElev)
{
    setNumElev(numElev);
}

void HrtfSetInfo::setNumElev(std::int32_t n)
{
    if (n < 0)
        throw std::length_error(formatString("HRTF set description: negative ring count %d", n));
    numElev = n;
    elevs.resize(static_cast<std::size_t>(n), 0);
    numAz.resize(static_cast<std::size_t>(n), 0);
}

HrtfSet::HrtfSet(const HrtfSetInfo& info)
    : flags(info.flags),
      sampRate(info.sampRate),
      numElev(info.numElev),
      numACoeff(info.numACoeff),
      numBCoeff(info.numBCoeff),
      elevs(info.elevs),
      numAz(info.numAz)
{
    if (numElev < 0 || numACoeff < 0 || numBCoeff < 0)
        throw std::invalid_argument(formatString(
            "HRTF set: negative count (%d rings, %d b and %d a coefficients)", numElev, numBCoeff, numACoeff));
    const std::size_t rings = static_cast<std::size_t>(numElev);
    if (elevs.size() != rings || numAz.size() != rings)
        throw std::invalid_argument(formatString("HRTF set: %d rings but %zu elevations and %zu azimuth counts",
                                                 numElev, elevs.size(), numAz.size()));

    numStored.resize(rings);
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < rings; ++i)
    {
        if (numAz[i] < 0)
            throw std::invalid_argument(
                formatString("HRTF set: ring %zu has a negative azimuth count %d", i, numAz[i]));
        numStored[i] = (flags & symmetric) ? numAz[i] / 2 + 1 : numAz[i];
        total += static_cast<std::uint64_t>(numStored[i]);
        if (total > kInt32Max)
            throw std::length_error("HRTF set: more HRTFs than a 32-bit count can hold");
    }
    numHrtf = static_cast<std::int32_t>(total);

    const std::uint64_t perHrtf =
        2 * (static_cast<std::uint64_t>(numBCoeff) + static_cast<std::uint64_t>(numACoeff));
    if (perHrtf > kInt32Max)
        throw std::length_error(formatString(
            "HRTF set: %d b and %d a coefficients per ear exceed a 32-bit HRTF size", numBCoeff, numACoeff));
    hrtfSize = static_cast<std::int32_t>(perHrtf);

    // Both factors are below 2^31, so the product fits 64 bits; it must also
    // fit the vector (and thus the file's byte count).
    const std::uint64_t floats = total * perHrtf;
    if (floats > static_cast<std::uint64_t>(data.max_size()))
        throw std::length_error(formatString("HRTF set: %d HRTFs of %d floats do not fit in memory",
                                             numHrtf, hrtfSize));
    data.assign(static_cast<std::size_t>(floats), 0.0f);
    if (flags & ITD_extracted)
        itds.assign(static_cast<std::size_t>(numHrtf), 0.0f);
}

HrtfCursor::HrtfCursor(HrtfSet& setToUse) : set(&setToUse) {}

bool HrtfCursor::setPosition(float elev, float az)
{
    const std::size_t rings = ringCountOf(*set);
    if (rings == 0)
        return false;
    const std::int32_t previousHrtf = selectedHrtf;
    const bool previousMirrored = isMirrored;

    if (az < -360.0f || az >= 360.0f)
        az = std::fmod(az, 360.0f);
    if (az < 0.0f)
        az += 360.0f;

    const std::size_t ring = selectRing(set->elevs, rings, elev);
    const std::int32_t azimuthCount = set->numAz[ring];

    const float position = static_cast<float>(azimuthCount) * az / 360.0f;
    const double rounded = std::trunc(position < 0.0f ? static_cast<double>(position) - 0.5
                                                      : static_cast<double>(position) + 0.5);
    // Not below the azimuth count wraps to 0 (359 degrees on 72 azimuths is 0); so does NaN.
    std::int32_t index = 0;
    if (rounded >= 0.0 && rounded < static_cast<double>(azimuthCount))
        index = static_cast<std::int32_t>(rounded);

    isMirrored = (set->flags & symmetric) && index >= set->numStored[ring];
    if (isMirrored)
        index = azimuthCount - index;

    std::int64_t before = 0;
    for (std::size_t i = 0; i < ring; ++i)
        before += set->numStored[i];
    selectedRing = static_cast<std::int32_t>(ring);
    selectedAzimuth = index;
    // A ring that stores nothing (no azimuths) serves no HRTF: -1 makes the
    // stores below do nothing instead of landing in the next ring.
    selectedHrtf = index < set->numStored[ring] ? static_cast<std::int32_t>(before + index) : -1;
    return selectedHrtf != previousHrtf || isMirrored != previousMirrored;
}

void HrtfCursor::setHrirs(const float* left, const float* right, std::int32_t length)
{
    if (selectedHrtf < 0 || set->numBCoeff < 0 || set->numACoeff < 0 || set->hrtfSize < 0)
        return;
    const std::size_t slotSize = static_cast<std::size_t>(set->numBCoeff);
    const std::size_t earStride = slotSize + static_cast<std::size_t>(set->numACoeff);
    const std::size_t start = static_cast<std::size_t>(selectedHrtf) * static_cast<std::size_t>(set->hrtfSize);
    if (start + earStride + slotSize > set->data.size())
        return;  // nothing stored at this index (e.g. a ring without azimuths)

    float* leftSlot = set->data.data() + start;
    float* rightSlot = leftSlot + earStride;
    if (isMirrored)
        std::swap(left, right);
    fillSlot(leftSlot, slotSize, left, length);
    fillSlot(rightSlot, slotSize, right, length);
}

void HrtfCursor::setItd(float itd)
{
    if (!(set->flags & ITD_extracted) || selectedHrtf < 0
        || static_cast<std::size_t>(selectedHrtf) >= set->itds.size())
        return;
    set->itds[static_cast<std::size_t>(selectedHrtf)] = isMirrored ? -itd : itd;
}
