#pragma once

// A SOFA file of the SimpleFreeFieldHRIR convention: the general check plus
// the convention's rules (FIR data, free field, one emitter, ListenerUp).

#include "sofa/sofafile.h"

namespace sofa
{

class SimpleFreeFieldHRIR : public File
{
public:
    explicit SimpleFreeFieldHRIR(const std::string& path,
                                 netCDF::NcFile::FileMode mode = netCDF::NcFile::read);
    ~SimpleFreeFieldHRIR() override;

    // The general check, then the convention's rules.
    bool IsValid() override;
    // The convention's rules alone, for a file whose general check has passed.
    bool IsValidConvention();
};

} // namespace sofa
