#include "report/QualityChecks.h"

#include "batch/messages/FormatString.h"
#include "dsp/crop.h"
#include "dsp/pi.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace
{
// A warning line must fit one message of the sink with its prefix and line end.
constexpr std::size_t kMaxText = 230;

// items joined by ", " after head, as many as fit; the rest counted.
std::string listWithin(const std::string& head, const std::vector<std::string>& items, const char* restFormat)
{
    std::string text = head;
    for (std::size_t i = 0; i < items.size(); ++i)
    {
        const std::string rest = formatString(restFormat, static_cast<int>(items.size() - i));
        const std::string next = (i == 0 ? "" : ", ") + items[i];
        const bool last = i + 1 == items.size();
        if (text.size() + next.size() + (last ? 0 : rest.size()) > kMaxText)
            return text + rest;
        text += next;
    }
    return text;
}

struct RingIndex
{
    std::size_t ring;
    std::size_t first;  // target index of the ring's azimuth 0
};

std::vector<RingIndex> ringStarts(const TargetFigures& f)
{
    std::vector<RingIndex> rings;
    std::size_t k = 0;
    for (std::size_t r = 0; r < f.elevs.size() && r < f.numAz.size(); ++r)
    {
        rings.push_back({ r, k });
        k += static_cast<std::size_t>(std::max<std::int32_t>(f.numAz[r], 0));
    }
    return rings;
}

std::size_t targetCount(const TargetFigures& f)
{
    std::size_t n = 0;
    for (std::int32_t count : f.numAz)
        n += static_cast<std::size_t>(std::max<std::int32_t>(count, 0));
    return n;
}

const char* lagName(const TargetFigures& f)
{
    return f.lagsAreOnsets ? "onset difference" : "ITD";
}
} // namespace

double chordToDegrees(double chord)
{
    const double half = std::min(std::max(chord / 2.0, 0.0), 1.0);
    return 2.0 * std::asin(half) * 180.0 / kPi;
}

bool checkReceiversSwapped(const TargetFigures& f, std::vector<Warning>& warnings)
{
    const std::size_t n = std::min(f.lagMicroseconds.size(), f.lateral.size());
    std::size_t decided[2] = { 0, 0 };  // left, right
    std::size_t reversed[2] = { 0, 0 };
    for (std::size_t k = 0; k < n; ++k)
    {
        const double lateral = f.lateral[k];
        const double lag = f.lagMicroseconds[k];
        if (std::fabs(lateral) < kLateralMinimum || !(std::fabs(lag) >= kDecidedLagMicroseconds))
            continue;
        const int side = lateral > 0.0 ? 0 : 1;
        ++decided[side];
        // On the left the left ear is nearer: it should hear first (lag < 0).
        if ((side == 0) == (lag > 0.0))
            ++reversed[side];
    }
    const std::size_t total = decided[0] + decided[1];
    if (total < kSwappedMinimumTargets)
        return false;
    for (int side = 0; side < 2; ++side)
        if (decided[side] != 0 && !(static_cast<double>(reversed[side]) > kSwappedShare * static_cast<double>(decided[side])))
            return false;
    warnings.push_back({ "receivers-swapped",
                         formatString("the far ear hears first: %s sign reversed on %zu of %zu left and %zu of %zu right "
                                "lateral targets; the two receivers look exchanged",
                                lagName(f), reversed[0], decided[0], reversed[1], decided[1]) });
    return true;
}

bool checkCoverageGap(const TargetFigures& f, std::vector<Warning>& warnings)
{
    // A hair above the spacing: a target exactly one step from its measurement is covered.
    const double limit = static_cast<double>(f.spacing) + 1e-6;
    std::vector<std::string> items;
    std::size_t far = 0;
    for (const RingIndex& r : ringStarts(f))
    {
        const auto count = static_cast<std::size_t>(std::max<std::int32_t>(f.numAz[r.ring], 0));
        std::size_t ringFar = 0;
        double largest = 0.0;
        for (std::size_t a = 0; a < count && r.first + a < f.errorDegrees.size(); ++a)
        {
            const double angle = f.errorDegrees[r.first + a];
            if (angle > limit)
            {
                ++ringFar;
                largest = std::max(largest, angle);
            }
        }
        if (ringFar != 0)
            items.push_back(formatString("el %d: %zu of %zu up to %.1f deg", f.elevs[r.ring], ringFar, count, largest));
        far += ringFar;
    }
    if (far == 0)
        return false;
    const std::string head = formatString("%zu of %zu targets lie farther than %g degrees from any measurement: ", far,
                                    targetCount(f), static_cast<double>(f.spacing));
    warnings.push_back({ "coverage-gap", listWithin(head, items, ", and %d more rings") });
    return true;
}

bool checkItdPlausible(const TargetFigures& f, std::vector<Warning>& warnings)
{
    const std::vector<double>& lag = f.lagMicroseconds;
    if (lag.empty() || f.lagsAreOnsets)
        return false;
    const double jumpLimit = std::max(kItdJumpMicroseconds, kItdJumpPerDegree * static_cast<double>(f.spacing));
    std::size_t beyond = 0, jumps = 0;
    double worstLag = 0.0, worstJump = 0.0;
    std::int32_t lagElev = 0, jumpElev = 0;
    double lagAz = 0.0, jumpFrom = 0.0, jumpTo = 0.0;
    for (const RingIndex& r : ringStarts(f))
    {
        const auto count = static_cast<std::size_t>(std::max<std::int32_t>(f.numAz[r.ring], 0));
        if (r.first + count > lag.size() || r.first + count > f.azimuth.size())
            break;
        for (std::size_t a = 0; a < count; ++a)
        {
            const std::size_t k = r.first + a;
            if (!(std::fabs(lag[k]) <= kItdLimitMicroseconds))
            {
                if (beyond++ == 0 || std::fabs(lag[k]) > std::fabs(worstLag))
                    worstLag = lag[k], lagElev = f.elevs[r.ring], lagAz = f.azimuth[k];
            }
            // The ring is closed: its last azimuth neighbours azimuth 0 (a pair only once).
            if (count < 2 || (count == 2 && a == 1))
                continue;
            const std::size_t next = r.first + (a + 1) % count;
            const double jump = std::fabs(lag[next] - lag[k]);
            if (!(jump <= jumpLimit))
            {
                if (jumps++ == 0 || jump > worstJump)
                    worstJump = jump, jumpElev = f.elevs[r.ring], jumpFrom = f.azimuth[k], jumpTo = f.azimuth[next];
            }
        }
    }
    if (beyond != 0)
        warnings.push_back({ "itd-implausible",
                             formatString("%zu targets have an %s beyond %g us, no head gives that; the largest is %.0f us "
                                    "at el %d az %g",
                                    beyond, lagName(f), kItdLimitMicroseconds, worstLag, lagElev, lagAz) });
    if (jumps != 0)
        warnings.push_back({ "itd-implausible",
                             formatString("%zu steps between neighbouring azimuths change the %s by more than %g us; the "
                                    "largest is %.0f us on ring el %d between az %g and %g",
                                    jumps, lagName(f), jumpLimit, worstJump, jumpElev, jumpFrom, jumpTo) });
    return beyond != 0 || jumps != 0;
}

namespace
{

// The largest |x[n]| of n < length (0 for none); the responses are finite.
float largestMagnitude(const float* x, std::size_t length)
{
    std::size_t n = 0;
    float largest = 0.0f;
#if defined(__SSE2__)
    const __m128 magnitudeMask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    __m128 lanes = _mm_setzero_ps();
    for (; n + 3 < length; n += 4)
        lanes = _mm_max_ps(lanes, _mm_and_ps(_mm_loadu_ps(x + n), magnitudeMask));
    float four[4];
    _mm_storeu_ps(four, lanes);
    largest = std::max(std::max(four[0], four[1]), std::max(four[2], four[3]));
#endif
    for (; n < length; ++n)
        largest = std::max(largest, std::fabs(x[n]));
    return largest;
}

} // namespace

bool checkResponses(const TargetFigures& f, const float* responses, std::size_t count, std::size_t length,
                    std::vector<Warning>& warnings)
{
    if (responses == nullptr || length == 0)
        return false;
    std::size_t silentTargets = 0, firstSilent = 0;
    const char* firstEar = "";
    float peak = 0.0f;
    std::size_t peakTarget = 0;
    float earPeak[2] = { 0.0f, 0.0f };
    for (std::size_t k = 0; k < count; ++k)
    {
        // A target that holds the same measurement as the one before holds the
        // same pair. An ear is silent when its largest magnitude is 0; the peak's
        // target is the first whose largest magnitude exceeds every earlier one.
        const bool repeated = k > 0 && k < f.measurement.size() && f.measurement[k] == f.measurement[k - 1];
        for (int ear = 0; ear < 2 && !repeated; ++ear)
        {
            const float largest = largestMagnitude(responses + (k * 2 + static_cast<std::size_t>(ear)) * length, length);
            earPeak[ear] = largest;
            if (largest > peak)
                peak = largest, peakTarget = k;
        }
        const bool silent[2] = { earPeak[0] == 0.0f, earPeak[1] == 0.0f };
        if ((silent[0] || silent[1]) && silentTargets++ == 0)
            firstSilent = k, firstEar = silent[0] && silent[1] ? "both ears" : silent[0] ? "left ear" : "right ear";
    }
    const auto measurementOf = [&f](std::size_t k) {
        return k < f.measurement.size() ? f.measurement[k] : -1;
    };
    bool fired = false;
    if (silentTargets != 0)
    {
        warnings.push_back({ "response-silent",
                             formatString("%zu of %zu targets have an ear whose response is all zeros; the first is target "
                                    "%zu (%s, measurement %d)",
                                    silentTargets, count, firstSilent, firstEar, measurementOf(firstSilent)) });
        fired = true;
    }
    if (peak > kPeakLimit)
    {
        warnings.push_back({ "level-high",
                             formatString("the largest sample is %.3g (%.1f dB above full scale, limit %g) at target %zu "
                                    "(measurement %d); the responses look unnormalised",
                                    static_cast<double>(peak), 20.0 * std::log10(static_cast<double>(peak)),
                                    static_cast<double>(kPeakLimit), peakTarget, measurementOf(peakTarget)) });
        fired = true;
    }
    return fired;
}

std::vector<std::int32_t> onsetDifferences(const float* responses, std::size_t count, std::size_t length)
{
    std::vector<std::int32_t> lags(count, 0);
    const auto n = static_cast<std::int32_t>(length);
    for (std::size_t k = 0; k < count; ++k)
    {
        const float* left = responses + k * 2 * length;
        lags[k] = findOnset(left, n, kOnsetThresholdDb) - findOnset(left + length, n, kOnsetThresholdDb);
    }
    return lags;
}

std::vector<Warning> checkConversion(const TargetFigures& f, const float* responses, std::size_t count,
                                     std::size_t length)
{
    std::vector<Warning> warnings;
    checkReceiversSwapped(f, warnings);
    checkCoverageGap(f, warnings);
    checkItdPlausible(f, warnings);
    checkResponses(f, responses, count, length, warnings);
    return warnings;
}
