#include "sofa/sofasimplefreefieldhrir.h"

namespace sofa
{

namespace
{

[[noreturn]] void Fail(const std::string& text, unsigned line)
{
    throw Exception(text, __FILE__, line);
}

} // namespace

SimpleFreeFieldHRIR::SimpleFreeFieldHRIR(const std::string& path, netCDF::NcFile::FileMode mode)
    : File(path, mode)
{
}

SimpleFreeFieldHRIR::~SimpleFreeFieldHRIR() = default;

bool SimpleFreeFieldHRIR::IsValid()
{
    return File::IsValid() && IsValidConvention();
}

bool SimpleFreeFieldHRIR::IsValidConvention()
{
    EnsureGlobalAttribute("DatabaseName");
    if (GetAttributeText("DataType") != "FIR")
        Fail("'DataType' shall be FIR", __LINE__);
    EnsureSOFAConvention("SimpleFreeFieldHRIR");
    if (GetAttributeText("RoomType") != "free field")
        Fail("invalid 'RoomType'", __LINE__);
    EnsureAttribute(kListenerShortName);
    if (GetNumEmitters() != 1)
        Fail("invalid number of emitters", __LINE__);
    if (GetVariable("ListenerUp").isNull())
        Fail("missing 'ListenerUp' variable", __LINE__);
    return true;
}

} // namespace sofa
