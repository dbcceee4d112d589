#pragma once

// Minimum-phase conversion by the real cepstrum, and the interaural time delay
// from the slope of the two ears' excess-phase difference.
// Transform size: N = nextPowerOfTwo(length), zero-padded; internally at least
// 4, so responses of fewer than 3 samples are handled too.

#include <vector>

// The minimum-phase version of ir: nextPowerOfTwo(ir.size()) samples, not
// normalised and not windowed.
std::vector<float> minimumPhase(const std::vector<float>& ir);

// Phase of ir minus the phase of its minimum-phase version, unwrapped, one
// value per bin 0 .. N/2-1 (N at least 4).
std::vector<float> excessPhase(const std::vector<float>& ir);

// Phase of bins 0 .. N/2-1 of a packed spectrum of N floats (bin 0 is 0).
std::vector<float> spectrumPhase(const std::vector<float>& packed);

// Removes 2*pi jumps between neighbours, in place (each step corrected once).
void unwrapPhase(std::vector<float>& v);

// Least-squares line through (x[i], y[i]), sums in single precision.
// Fewer than two points or all x equal give slope 0.
void fitLine(const std::vector<float>& x, const std::vector<float>& y, float& slope, float& intercept);

// Delay of b against a in samples (positive when b lags a), from the band
// fLow .. fHigh Hz at sampling rate fs. The band is clipped to the spectrum;
// with fewer than two bins left, or a non-finite result, it returns 0.
float estimateItd(const std::vector<float>& a, const std::vector<float>& b, float fs, float fLow, float fHigh);

// estimateItd(a, b, ...) that also hands back minimumPhase(a) and minimumPhase(b)
// (equal to the separate calls); for equal lengths they are the minimum-phase
// responses that the estimate computes on its way, so nothing is done twice.
float estimateItdAndMinimumPhase(const std::vector<float>& a, const std::vector<float>& b, float fs, float fLow,
                                 float fHigh, std::vector<float>& minimumA, std::vector<float>& minimumB);
