#include "GeneratedSet.h"

#include "SofaWriter.h"
#include "dsp/pi.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace sofawrite
{

namespace
{

constexpr double kGoldenAngle = 137.50776405003785;  // degrees

// 64-bit LCG (Knuth's MMIX constants); uniform values in [-1, 1).
class Noise
{
public:
    explicit Noise(std::uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 1) {}

    double next()
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(state >> 11) / 4503599627370496.0 - 1.0;  // 53 bits / 2^52 - 1
    }

private:
    std::uint64_t state;
};

double radians(double degrees)
{
    return degrees * kPi / 180.0;
}

} // namespace

std::string generatedSetName(const GeneratedSet& set)
{
    char name[96];
    std::snprintf(name, sizeof name, "gen_%dx%d_%.0f_%g_%g", set.M, set.N, set.samplingRate, set.lowestElevation,
                  set.highestElevation);
    return name;
}

void writeGeneratedSet(const std::string& path, const GeneratedSet& set)
{
    SetContent content;
    content.M = set.M;
    content.N = set.N;
    content.samplingRates = {set.samplingRate};
    content.title = generatedSetName(set);
    const auto M = static_cast<std::size_t>(set.M);
    const auto N = static_cast<std::size_t>(set.N);

    // Equal-area spiral: sin(elevation) steps evenly from the lowest to the highest elevation.
    const double zLow = std::sin(radians(set.lowestElevation));
    const double zHigh = std::sin(radians(set.highestElevation));
    std::vector<double>& rows = content.sourceRows;
    rows.resize(M * 3);
    for (std::size_t m = 0; m < M; ++m)
    {
        double elevation = set.lowestElevation;
        if (m + 1 == M && M > 1)
            elevation = set.highestElevation;
        else if (m > 0)
        {
            const double z = zLow + (zHigh - zLow) * static_cast<double>(m) / static_cast<double>(M - 1);
            elevation = std::asin(z) * 180.0 / kPi;
        }
        rows[m * 3] = std::fmod(static_cast<double>(m) * kGoldenAngle, 360.0);
        rows[m * 3 + 1] = elevation;
        rows[m * 3 + 2] = 1.2;
    }

    // Left ear on +y (azimuth 90): it hears a source on the left earlier.
    const double base = static_cast<double>(N) / 16.0;
    const double spread = static_cast<double>(N) / 16.0;
    const double decay = std::exp(-6.0 / (static_cast<double>(N) / 4.0));
    content.responses.assign(M * 2 * N, 0.0);
    for (std::size_t m = 0; m < M; ++m)
    {
        const double azimuth = radians(rows[m * 3]);
        const double elevation = radians(rows[m * 3 + 1]);
        const double lateral = std::cos(elevation) * std::sin(azimuth);
        for (std::size_t r = 0; r < 2; ++r)
        {
            Noise noise(set.seed * 1000003u + m * 2 + r);
            const double side = r == 0 ? -lateral : lateral;
            const auto onset = static_cast<std::size_t>(std::lround(base + spread * (1.0 + side)));
            const double gain = 0.5 + 0.25 * (1.0 - side);
            double* response = &content.responses[(m * 2 + r) * N];
            double envelope = gain;
            for (std::size_t n = 0; n < N; ++n)
            {
                if (n < onset)
                    response[n] = 1e-4 * noise.next();
                else if (n == onset)
                    response[n] = gain;
                else
                {
                    envelope *= decay;
                    response[n] = envelope * noise.next();
                }
            }
        }
    }

    Layout layout = simpleFreeFieldLayout(content);
    layout.maxValuesWritten = std::max(layout.maxValuesWritten, M * 3 + M * 2 * N);
    if (set.compressed)
        for (Variable& var : layout.variables)
            var.storage = compressedStorage();
    writeLayout(path, layout);
}

} // namespace sofawrite
