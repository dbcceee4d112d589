#pragma once

// First stage of a file's conversion: announce, open, check, read the facts.

#include "batch/messages/PrintMsgI.h"
#include "sofa/sofasimplefreefieldhrir.h"

#include <cstdint>
#include <memory>
#include <string>

struct SofaInput
{
    // The file seen two ways: the convention view (rate, sizes, Data.IR) owns
    // it, the general SOFA view (source positions) is the same object.
    std::unique_ptr<sofa::SimpleFreeFieldHRIR> hrir;
    sofa::File* file = nullptr;
    double samplingRate = 0.0;
    std::int32_t M = 0;
    std::int32_t R = 0;
    std::int32_t N = 0;
};

// False after sending the failure's message. SOFA-rule and netCDF exceptions
// leave the function (the caller reports them); what was opened is released.
bool openSofaInput(PrintMsgI& sink, const std::string& sofaPath, SofaInput& input);
