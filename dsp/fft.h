#pragma once

// Real FFT for power-of-two sizes (at least 4), in place, with a packed half
// spectrum: float 0 holds the DC value, float 1 the Nyquist value, floats 2k and
// 2k+1 the real and imaginary parts of bin k (1 <= k < N/2). The forward
// transform is unscaled; the inverse scales by 1/N, so the two round-trip.
// Twiddle tables are computed once per size and kept for the program's life.
// Transforms may run on several threads at once: the twiddle cache is shared
// under a lock.

#include "dsp/FreeDeleter.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// Smallest power of two not below n, doubling from 1 at most 30 times
// (1 for n <= 1, never above 2^30).
std::int32_t nextPowerOfTwo(std::int32_t n);

struct fft_plan
{
    std::int32_t n = 0;  // transform size
};

// A plan for size n; makes sure the twiddle table of n is cached.
// Sizes that are not powers of two of at least 4 give a plan whose transforms
// leave their input untouched.
std::unique_ptr<fft_plan> fft_create(std::int32_t n);
void fft_destroy(std::unique_ptr<fft_plan>& plan);

// x holds plan.n floats: real samples in, packed spectrum out (and back).
// After an allocation failure (logged) x is left as it was.
void fft_forward(const fft_plan& plan, float* x);
void fft_inverse(const fft_plan& plan, float* x);

// The cached table of n complex floats, entry i = (cos(2*pi*i/n), -sin(2*pi*i/n)),
// computed on first use; nullptr when n < 1 or the allocation failed.
const float* fft_twiddles(std::int32_t n);

// Number of tables in the twiddle cache.
std::size_t fft_cacheNodeCount();

using FftBlock = std::unique_ptr<float[], FreeDeleter>;

// bytes from the system allocator, or nullptr after logging
// "can't allocate %zu bytes" (source "fft.c") when logLevel >= 1.
FftBlock fft_alloc(std::size_t bytes);
