#pragma once

// Small helpers shared by the same-results tests.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace perf
{

// Deterministic values in [-1, 1).
class Values
{
public:
    explicit Values(std::uint64_t seed) : state(seed) {}

    double next()
    {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(state >> 11) / 9007199254740992.0 * 2.0 - 1.0;
    }

private:
    std::uint64_t state;
};

// FNV-1a over the bytes of the floats added.
class Digest
{
public:
    void add(const std::vector<float>& values)
    {
        for (float v : values)
        {
            unsigned char bytes[sizeof v];
            std::memcpy(bytes, &v, sizeof v);
            for (unsigned char b : bytes)
            {
                hash ^= b;
                hash *= 0x100000001b3ull;
            }
            byteCount += sizeof v;
        }
    }

    std::uint64_t hash = 0xcbf29ce484222325ull;
    std::size_t byteCount = 0;
};

} // namespace perf
