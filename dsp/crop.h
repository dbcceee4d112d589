#pragma once

// Leading-delay cropping: finds where a response rises to a level below its
// peak and shifts the response so that it starts one sample before that.

#include <cstdint>

// Number of leading samples to drop (0 .. n-1): one less than the index of the
// first sample whose magnitude reaches |thresholdDb| dB below the peak
// magnitude, or 0. Only the magnitude of thresholdDb counts.
std::int32_t findOnset(const float* x, std::int32_t n, float thresholdDb);

// Shifts x k samples towards the start, in place, zero-filling the last k.
// k < 1 changes nothing; k above n clears the response.
void dropLeading(float* x, std::int32_t n, std::int32_t k);
