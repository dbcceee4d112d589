#include "dsp/crop.h"

#include <algorithm>
#include <cmath>

std::int32_t findOnset(const float* x, std::int32_t n, float thresholdDb)
{
    if (x == nullptr || n <= 0)
        return 0;
    float peak = 0.0f;
    for (std::int32_t i = 0; i < n; ++i)
    {
        const float magnitude = std::fabs(x[i]);
        if (magnitude > peak)
            peak = magnitude;
    }
    const float level = std::pow(10.0f, -std::fabs(thresholdDb) / 20.0f);
    const float limit = level * peak;
    for (std::int32_t j = 0; j < n; ++j)
    {
        if (std::fabs(x[j]) >= limit)
            return j > 0 ? j - 1 : 0;
    }
    return 0;
}

void dropLeading(float* x, std::int32_t n, std::int32_t k)
{
    if (x == nullptr || n <= 0 || k < 1)
        return;
    k = std::min(k, n);
    for (std::int32_t i = 0; i < n - k; ++i)
        x[i] = x[i + k];
    std::fill(x + (n - k), x + n, 0.0f);
}
