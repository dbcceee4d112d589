// libFuzzer target: the input's bytes are the generator's choices, so the
// mutations work on the file's structure rather than on HDF5 bytes.

#include "ConversionCheck.h"
#include "FuzzSession.h"
#include "SofaGenerator.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::silenceSofaReports();
    fuzz::sessionDir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = fuzz::sessionDir() + "/generated.sofa";
    fuzz::ByteChoices choices(data, size);
    if (!fuzz::generateSofa(choices, path).written)
        return 0;
    const fuzz::CheckResult result = fuzz::checkConversion(path, fuzz::sessionDir());
    if (!result.violation.empty())
        fuzz::abortOnViolation(path, result);
    return 0;
}
