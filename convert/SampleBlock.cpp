#include "convert/SampleBlock.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>

#if defined(__linux__)
#include <sys/mman.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#if defined(__linux__) && defined(MADV_HUGEPAGE)
namespace
{
constexpr std::size_t kHugePage = std::size_t(2) << 20;
}
#endif

// calloc takes a large block from fresh pages, which are zero already, instead
// of writing zeros; on Linux a block of a few MiB is also aligned to and
// advised onto 2 MiB pages, so that the read which fills it faults in a handful
// of huge pages instead of thousands of small ones (on a virtual machine the
// faults cost more than the read itself).
SampleBlock::SampleBlock(std::size_t count) : count(count)
{
    if (count > std::numeric_limits<std::size_t>::max() / sizeof(double))
        throw std::length_error("Data.IR is too large");
    const std::size_t bytes = count * sizeof(double);
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

void toFloats(const double* samples, std::size_t count, float* floats)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    // Two per instruction, with the rounding of the scalar conversion.
    for (; i + 1 < count; i += 2)
        _mm_storel_pi(reinterpret_cast<__m64*>(floats + i), _mm_cvtpd_ps(_mm_loadu_pd(samples + i)));
#endif
    for (; i < count; ++i)
        floats[i] = static_cast<float>(samples[i]);
}
