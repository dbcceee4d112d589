#pragma once

// The Data.IR block that a file's responses are read into, and its check.

#include "dsp/FreeDeleter.h"

#include <cstddef>
#include <memory>

// count doubles, zero-filled. Throws std::length_error when the size cannot be
// addressed and std::bad_alloc when the memory is not there.
class SampleBlock
{
public:
    SampleBlock() = default;
    explicit SampleBlock(std::size_t count);

    double* data() const { return values; }
    std::size_t size() const { return count; }
    const double& operator[](std::size_t i) const { return values[i]; }

private:
    std::unique_ptr<void, FreeDeleter> memory;
    double* values = nullptr;
    std::size_t count = 0;
};

// True when every sample is finite as a 32-bit float too (NaN is not).
bool allSamplesUsable(const double* samples, std::size_t count);

// count samples rounded to 32-bit floats (as a cast rounds them).
void toFloats(const double* samples, std::size_t count, float* floats);
