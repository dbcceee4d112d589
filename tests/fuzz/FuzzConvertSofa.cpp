// libFuzzer target: the input's bytes are the SOFA file.

#include "ConversionCheck.h"
#include "FuzzSession.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::silenceSofaReports();
    fuzz::sessionDir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = fuzz::sessionDir() + "/input.sofa";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return 0;
    const bool complete = std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !complete)
        return 0;
    const fuzz::CheckResult result = fuzz::checkConversion(path, fuzz::sessionDir());
    if (!result.violation.empty())
        fuzz::abortOnViolation(path, result);
    return 0;
}
