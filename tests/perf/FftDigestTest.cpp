// The transforms against a digest taken from the first, plainly written
// implementation. Built twice: as the platform compiles it, and with the
// portable scalar code (QUILLON_FFT_SCALAR).

#include "SameResultsSupport.h"
#include "dsp/fft.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{

#if defined(QUILLON_FFT_SCALAR)
#define FFT_DIGEST_SUITE SameResultsScalarCode
#else
#define FFT_DIGEST_SUITE SameResults
#endif

TEST(FFT_DIGEST_SUITE, TransformsMatchTheDigestOfTheOriginalImplementation)
{
    // Forward, inverse of that, and inverse of a fresh spectrum, three blocks per
    // size from 4 to 65536, with magnitudes over eight decades and some -0.0.
    // The digest was taken from the first, plainly written implementation.
    perf::Values values(12345);
    perf::Digest digest;
    for (std::int32_t n = 4; n <= 65536; n *= 2)
    {
        for (int block = 0; block < 3; ++block)
        {
            auto plan = fft_create(n);
            std::vector<float> x(static_cast<std::size_t>(n));
            for (float& v : x)
            {
                const double mantissa = values.next();
                v = static_cast<float>(mantissa * std::pow(10.0, 4.0 * values.next()));
            }
            if (block == 2)
                for (std::size_t i = 0; i < x.size(); i += 7)
                    x[i] = -0.0f;
            fft_forward(*plan, x.data());
            digest.add(x);
            fft_inverse(*plan, x.data());
            digest.add(x);
            for (float& v : x)
                v = static_cast<float>(values.next());
            fft_inverse(*plan, x.data());
            digest.add(x);
        }
    }
    EXPECT_EQ(digest.byteCount, 4718448u);
    EXPECT_EQ(digest.hash, 0x8ac364a76113c983ull);
}

} // namespace
