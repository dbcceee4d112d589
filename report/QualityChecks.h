#pragma once

// Checks of a converted set for what a listener would hear as wrong: ears
// exchanged, directions filled from far-away measurements, interaural delays
// no head produces, silent ears, levels far above full scale. Pure functions
// over the conversion's own figures; each finding is one warning with a
// stable code.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct Warning
{
    std::string code;  // "receivers-swapped", "coverage-gap", ...
    std::string text;  // one line, without the "warning: " prefix and the line end
};

// What the checks look at, per target in HRTF order (ring by ring, azimuth
// index ascending).
struct TargetFigures
{
    float spacing = 0.0f;               // the grid's target spacing, degrees
    std::vector<std::int32_t> elevs;    // ring elevations, degrees
    std::vector<std::int32_t> numAz;    // azimuths per ring
    std::vector<double> azimuth;        // degrees
    std::vector<std::int32_t> measurement;  // index of the measurement it holds
    std::vector<double> errorDegrees;   // true angle to that measurement
    // Interaural lag of the pair it holds, in microseconds, positive when the
    // left ear hears later: the set's ITD, or (lagsAreOnsets) the difference
    // of the two responses' onsets when the set stores none.
    std::vector<double> lagMicroseconds;
    bool lagsAreOnsets = false;
    // Where its measurement lies across the head: the sine of the lateral
    // angle, cos(elevation) * sin(azimuth), +1 fully left, -1 fully right.
    std::vector<double> lateral;
};

// The true angle between two points of the unit sphere a chord apart.
double chordToDegrees(double chord);

// Thresholds (see each check).
constexpr double kLateralMinimum = 0.5;            // |lateral| from 30 degrees off the median plane
constexpr double kDecidedLagMicroseconds = 40.0;   // smaller lags say nothing about the sign
constexpr double kSwappedShare = 0.5;              // exceeded on each side: a majority vote
constexpr std::size_t kSwappedMinimumTargets = 4;
constexpr double kItdLimitMicroseconds = 1000.0;
constexpr double kItdJumpMicroseconds = 250.0;
constexpr double kItdJumpPerDegree = 12.0;         // microseconds per degree of target spacing
constexpr float kPeakLimit = 4.0f;                 // 12 dB above full scale
// Onsets stand in for ITDs 10 dB below each response's peak: some measured
// sets carry noise ahead of the arrival only 15 dB below the far ear's peak.
constexpr float kOnsetThresholdDb = 10.0f;

// receivers-swapped: over the lateral targets (|lateral| >= kLateralMinimum)
// whose lag is at least kDecidedLagMicroseconds, those on the left should
// have the left ear earlier (negative lag) and those on the right the right
// ear earlier. Fires when at least kSwappedMinimumTargets are decided and on
// each side that has decided targets more than kSwappedShare have the other
// sign. A vote, not unanimity: cropped onsets of a quiet far ear can land in
// the noise ahead of its arrival and give a third of the targets either sign.
bool checkReceiversSwapped(const TargetFigures& f, std::vector<Warning>& warnings);

// coverage-gap: targets whose measurement lies more than the target spacing
// away, grouped by ring with the count and the largest angle.
bool checkCoverageGap(const TargetFigures& f, std::vector<Warning>& warnings);

// itd-implausible, over the set's ITDs (not onsets, which only estimate the
// delays the stored responses carry): a lag beyond kItdLimitMicroseconds (a large human head
// gives about 800), or one between neighbouring azimuths of a ring (the ring
// closed) beyond max(kItdJumpMicroseconds, kItdJumpPerDegree * spacing). The
// steepest change a spherical head of 10 cm radius makes is about 10 us per
// degree of azimuth, so a correct set stays well inside the limit; an exchanged
// pair or a failed estimate jumps by hundreds.
bool checkItdPlausible(const TargetFigures& f, std::vector<Warning>& warnings);

// response-silent and level-high, over the stored responses: count HRTFs of
// 2 * length floats each (left ear, then right). An ear whose response is all
// zeros plays nothing; a peak beyond kPeakLimit clips in any player.
bool checkResponses(const TargetFigures& f, const float* responses, std::size_t count, std::size_t length,
                    std::vector<Warning>& warnings);

// Onset difference (left minus right) of each stored pair, in samples, by the
// crop treatment's onset rule at kOnsetThresholdDb below each peak.
std::vector<std::int32_t> onsetDifferences(const float* responses, std::size_t count, std::size_t length);

// Every check in the order above.
std::vector<Warning> checkConversion(const TargetFigures& f, const float* responses, std::size_t count,
                                     std::size_t length);
