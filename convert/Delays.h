#pragma once

// Data.Delay: the broadband delay, in samples at the file's rate, that belongs
// before each stored response. Sets of aligned (delay-free) responses keep
// their interaural delay there, so it must reach the ITDs or the responses.

#include "batch/messages/PrintMsgI.h"
#include "sofa/sofafile.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct Delays
{
    // Two per row (left, right ear); a single row (shape (I, R)) stands for
    // every measurement.
    std::vector<double> values;
    double lowest = 0.0;   // over every measurement and both ears
    double highest = 0.0;

    double of(std::size_t measurement, std::size_t receiver) const
    {
        return values[(values.size() == 2 ? 0 : measurement) * 2 + receiver];
    }
    bool allZero() const { return lowest == 0.0 && highest == 0.0; }
};

// Reads Data.Delay, of shape (M, 2) or (1, 2), and checks every value. False
// after sending the reason: "error reading SOFA data\n" for another shape,
// "invalid values in Data.Delay: %g at measurement %d\n" for the first value
// that is not finite or larger than largestDelay.
bool readDelays(PrintMsgI& sink, const sofa::File& file, std::int32_t M, double samplingRate, Delays& delays);

// Largest magnitude a delay may have: one second's worth of samples, the time
// sound takes for 343 m. No measured head comes near it (a source metres away
// and any converter latency stay within tens of milliseconds), while the
// netCDF fill value (9.97e36), garbage and a misplaced unit go far beyond it.
double largestDelay(double samplingRate);

// Index into values of the first delay that is not finite or beyond
// largestDelay; values.size() when all are usable.
std::size_t firstUnusableDelay(const std::vector<double>& values, double samplingRate);

// How much later a response starts when the responses must carry the delays
// themselves: delay - lowest, rounded to whole samples (halves up). Both come
// from checked delays, so the result is below 2^32.
std::size_t delayShift(double delay, double lowest);
