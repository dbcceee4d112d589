#include "sofa/sofafile.h"

#include <netcdf.h>

#include <array>
#include <cstdint>
#include <iostream>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace sofa
{

namespace
{

// Raises a rule violation from this unit; the caller passes __LINE__ so the
// report names the raising statement.
[[noreturn]] void Fail(const std::string& text, unsigned line)
{
    throw Exception(text, __FILE__, line);
}

// Everything is looked up in the root group only, by exact name.
const netCDF::NcGroup::Location kRootOnly = netCDF::NcGroup::Current;

std::string AsciiLower(const std::string& text)
{
    std::string lower = text;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

// The text value of an attribute: the stored characters at their stored
// length when it is NC_CHAR (NULs included), the empty text otherwise.
std::string TextValue(const netCDF::NcAtt& att)
{
    if (att.isNull() || att.getType().getId() != NC_CHAR)
        return std::string();
    const std::size_t length = att.getAttLength();
    if (length == 0)
        return std::string();
    std::vector<char> chars(length);
    att.getValues(chars.data());
    return std::string(chars.data(), length);
}

bool IsText(const netCDF::NcAtt& att)
{
    return !att.isNull() && att.getType().getId() == NC_CHAR;
}

netCDF::NcGroupAtt FindGlobalAttribute(const netCDF::NcGroup& root, const std::string& name)
{
    const auto atts = root.getAtts(kRootOnly);
    const auto found = atts.find(name);
    return found == atts.end() ? netCDF::NcGroupAtt() : found->second;
}

netCDF::NcVarAtt FindVariableAttribute(const netCDF::NcVar& var, const std::string& name)
{
    if (var.isNull())
        return netCDF::NcVarAtt();
    const auto atts = var.getAtts();
    const auto found = atts.find(name);
    return found == atts.end() ? netCDF::NcVarAtt() : found->second;
}

netCDF::NcVar FindVariable(const netCDF::NcGroup& root, const std::string& name)
{
    return root.getVar(name, kRootOnly);
}

std::size_t DimensionLength(const netCDF::NcGroup& root, const std::string& name)
{
    const netCDF::NcDim dim = root.getDim(name, kRootOnly);
    return dim.isNull() ? 0 : dim.getSize();
}

bool IsDouble(const netCDF::NcVar& var)
{
    return !var.isNull() && var.getType().getId() == NC_DOUBLE;
}

using Shape = std::vector<std::size_t>;

Shape ShapeOf(const netCDF::NcVar& var)
{
    Shape shape;
    if (var.isNull())
        return shape;
    for (const netCDF::NcDim& dim : var.getDims())
        shape.push_back(dim.getSize());
    return shape;
}

bool HasShape(const netCDF::NcVar& var, const Shape& a)
{
    return ShapeOf(var) == a;
}

bool HasShape(const netCDF::NcVar& var, const Shape& a, const Shape& b)
{
    const Shape shape = ShapeOf(var);
    return shape == a || shape == b;
}

// Reads the whole variable as doubles when it is double and has this shape;
// otherwise values stay untouched.
bool ReadWhole(const netCDF::NcVar& var, const Shape& shape, double* values)
{
    if (values == nullptr || !IsDouble(var) || !HasShape(var, shape))
        return false;
    var.getVar(values);
    return true;
}

// Exists, is text and parses to a known unit.
UnitsType KnownUnits(const netCDF::NcAtt& att)
{
    if (!IsText(att))
        return UnknownUnits;
    return ParseUnits(TextValue(att));
}

bool IsPositionVariable(const netCDF::NcVar& var, bool withCoordinates)
{
    if (!IsDouble(var))
        return false;
    const int dimCount = var.getDimCount();
    if (dimCount != 2 && dimCount != 3)
        return false;
    if (!withCoordinates)
        return true;

    const netCDF::NcVarAtt typeAtt = FindVariableAttribute(var, "Type");
    if (!IsText(typeAtt))
        return false;
    const CoordinateType type = ParseCoordinateType(TextValue(typeAtt));
    const UnitsType units = KnownUnits(FindVariableAttribute(var, "Units"));
    return (type == Cartesian && units == Metre) || (type == Spherical && units == SphericalUnits);
}

// The SOFA dimension lengths once they are known to be valid.
struct Dimensions
{
    std::size_t M = 0, N = 0, R = 0, E = 0;
};

struct PositionGroupRules
{
    const char* kind;
    Shape shapeA, shapeB;
    const char* groupMessage;
    const char* positionMessage;
    const char* upMessage;
    const char* viewMessage;
};

void CheckPositionGroup(const netCDF::NcGroup& root, const PositionGroupRules& rules)
{
    const std::string kind = rules.kind;
    const netCDF::NcVar position = FindVariable(root, kind + "Position");
    const netCDF::NcVar up = FindVariable(root, kind + "Up");
    const netCDF::NcVar view = FindVariable(root, kind + "View");
    const bool hasUp = !up.isNull();
    const bool hasView = !view.isNull();

    bool usable = IsPositionVariable(position, true);
    if (usable && hasUp)
        usable = IsPositionVariable(up, false) && hasView && IsPositionVariable(view, true);
    if (!usable)
        Fail(rules.groupMessage, __LINE__);

    if (!HasShape(position, rules.shapeA, rules.shapeB))
        Fail(rules.positionMessage, __LINE__);
    if (hasUp && IsPositionVariable(up, false) && !HasShape(up, rules.shapeA, rules.shapeB))
        Fail(rules.upMessage, __LINE__);
    if (hasView && IsPositionVariable(view, true) && !HasShape(view, rules.shapeA, rules.shapeB))
        Fail(rules.viewMessage, __LINE__);
}

// A root variable that must exist, hold doubles and have shape a or b; returned.
netCDF::NcVar CheckDoubleVariable(const netCDF::NcGroup& root, const std::string& name, const Shape& a,
                                  const Shape& b)
{
    const netCDF::NcVar var = FindVariable(root, name);
    if (var.isNull())
        Fail("missing '" + name + "' variable", __LINE__);
    if (!IsDouble(var))
        Fail("invalid '" + name + "' variable", __LINE__);
    if (!HasShape(var, a, b))
        Fail("invalid dimensions for '" + name + "'", __LINE__);
    return var;
}

netCDF::NcVar CheckDoubleVariable(const netCDF::NcGroup& root, const std::string& name, const Shape& shape)
{
    return CheckDoubleVariable(root, name, shape, shape);
}

// The variable's Units attribute must name hertz.
void CheckHertz(const netCDF::NcVar& var, const std::string& name)
{
    if (KnownUnits(FindVariableAttribute(var, "Units")) != Hertz)
        Fail("invalid '" + name + ":Units'", __LINE__);
}

// Data.SamplingRate and Data.Delay, shared by FIR, FIRE and SOS.
void CheckSamplingRateAndDelay(const netCDF::NcGroup& root, const Dimensions& d,
                               const Shape& delayA, const Shape& delayB)
{
    const netCDF::NcVar rate = CheckDoubleVariable(root, "Data.SamplingRate", Shape{1}, Shape{d.M});
    CheckHertz(rate, "Data.SamplingRate");
    CheckDoubleVariable(root, "Data.Delay", delayA, delayB);
}

bool CheckFIR(const netCDF::NcGroup& root, const Dimensions& d)
{
    CheckDoubleVariable(root, "Data.IR", Shape{d.M, d.R, d.N});
    CheckSamplingRateAndDelay(root, d, Shape{1, d.R}, Shape{d.M, d.R});
    return true;
}

bool CheckFIRE(const netCDF::NcGroup& root, const Dimensions& d)
{
    CheckDoubleVariable(root, "Data.IR", Shape{d.M, d.R, d.E, d.N});
    CheckSamplingRateAndDelay(root, d, Shape{1, d.R, d.E}, Shape{d.M, d.R, d.E});
    return true;
}

bool CheckSOS(const netCDF::NcGroup& root, const Dimensions& d)
{
    CheckDoubleVariable(root, "Data.SOS", Shape{d.M, d.R, d.N});
    CheckSamplingRateAndDelay(root, d, Shape{1, d.R}, Shape{d.M, d.R});
    return true;
}

bool CheckTF(const netCDF::NcGroup& root, const Dimensions& d)
{
    const Shape dataShape{d.M, d.R, d.N};
    const netCDF::NcVar real = FindVariable(root, "Data.Real");
    if (!IsDouble(real))
        Fail("invalid 'Data.Real' variable", __LINE__);
    if (!HasShape(real, dataShape))
        Fail("invalid dimensions for 'Data.Real'", __LINE__);
    const netCDF::NcVar imag = FindVariable(root, "Data.Imag");
    if (!IsDouble(imag))
        Fail("invalid 'Data.Imag' variable", __LINE__);
    if (!HasShape(imag, dataShape))
        Fail("invalid dimensions for 'Data.Imag'", __LINE__);

    const netCDF::NcVar frequencies = CheckDoubleVariable(root, "N", Shape{d.N});
    CheckHertz(frequencies, "N");
    if (KnownUnits(FindVariableAttribute(frequencies, "LongName")) == UnknownUnits)
        Fail("invalid 'LongName'", __LINE__);
    return true;
}

// Reads one SOFA dimension as the 32-bit signed count the rules work with.
// A length that does not fit is refused rather than wrapped, so that a huge
// dimension can never pass as a small one.
std::int32_t CountOf(const netCDF::NcGroup& root, const char* name)
{
    const std::size_t length = DimensionLength(root, name);
    if (length > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        Fail(std::string("SOFA dimension '") + name + "' is too large", __LINE__);
    return static_cast<std::int32_t>(length);
}

Dimensions CheckDimensions(const netCDF::NcGroup& root)
{
    const std::int32_t M = CountOf(root, "M");
    const std::int32_t N = CountOf(root, "N");
    const std::int32_t R = CountOf(root, "R");
    const std::int32_t E = CountOf(root, "E");
    const std::int32_t I = CountOf(root, "I");
    const std::int32_t C = CountOf(root, "C");
    if (I != 1 || C != 3 || M < 1 || R < 1 || E < 1 || N < 1)
        Fail("invalid SOFA dimension(s)", __LINE__);

    Dimensions d;
    d.M = static_cast<std::size_t>(M);
    d.N = static_cast<std::size_t>(N);
    d.R = static_cast<std::size_t>(R);
    d.E = static_cast<std::size_t>(E);
    return d;
}

void CheckListenerVariables(const netCDF::NcGroup& root, const Dimensions& d)
{
    CheckPositionGroup(root, {"Listener", Shape{1, 3}, Shape{d.M, 3},
                              "invalid 'Listener' variables", "invalid 'ListenerPosition' dimensions",
                              "invalid 'ListenerUp' dimensions", "invalid 'ListenerView' dimensions"});
}

void CheckSourceVariables(const netCDF::NcGroup& root, const Dimensions& d)
{
    CheckPositionGroup(root, {"Source", Shape{1, 3}, Shape{d.M, 3},
                              "invalid 'Source' variables", "invalid 'SourcePosition' dimensions",
                              "invalid 'SourceUp' dimensions", "invalid 'SourceView' dimensions"});
}

void CheckReceiverVariables(const netCDF::NcGroup& root, const Dimensions& d)
{
    CheckPositionGroup(root, {"Receiver", Shape{d.R, 3, 1}, Shape{d.R, 3, d.M},
                              "invalid 'Receiver' variables", "invalid 'ReceiverPosition' dimensions",
                              "invalid 'ReceiverUp' dimensions", "invalid 'ReceiverView' dimensions"});
}

void CheckEmitterVariables(const netCDF::NcGroup& root, const Dimensions& d)
{
    CheckPositionGroup(root, {"Emitter", Shape{d.E, 3, 1}, Shape{d.E, 3, d.M},
                              "invalid 'Emitter' variables", "invalid 'EmitterPosition' dimensions",
                              "invalid 'EmitterUp' dimensions", "invalid 'EmitterView' dimensions"});
}

bool CheckDataVariables(const netCDF::NcGroup& root, const Dimensions& d)
{
    const std::string dataType = TextValue(FindGlobalAttribute(root, "DataType"));
    if (dataType == "FIR")
        return CheckFIR(root, d);
    if (dataType == "TF")
        return CheckTF(root, d);
    if (dataType == "SOS")
        return CheckSOS(root, d);
    if (dataType == "FIRE")
        return CheckFIRE(root, d);
    Fail("invalid 'DataType'", __LINE__);
}

} // namespace

// ---------------------------------------------------------------------------
// Vocabularies

const std::string& AttributeName(AttributeType type)
{
    static const std::array<std::string, kNumAttributeTypes> names = {
        "Conventions", "Version", "SOFAConventions", "SOFAConventionsVersion", "DataType",
        "RoomType", "Title", "DateCreated", "DateModified", "APIName", "APIVersion",
        "AuthorContact", "Organization", "License",
        "ApplicationName", "ApplicationVersion", "Comment", "History", "References", "Origin",
        "RoomShortName", "RoomDescription", "RoomLocation", "ListenerShortName",
        "ListenerDescription", "SourceShortName", "SourceDescription", "ReceiverShortName",
        "ReceiverDescription", "EmitterShortName", "EmitterDescription"};
    static const std::string none;
    if (type < 0 || type >= kNumAttributeTypes)
        return none;
    return names[static_cast<std::size_t>(type)];
}

UnitsType ParseUnits(const std::string& text)
{
    static const std::map<std::string, UnitsType> units = [] {
        std::map<std::string, UnitsType> table;
        for (const char* t : {"metres", "meters", "metre", "meter"})
            table[t] = Metre;
        for (const char* t : {"cubic meter", "cubic meters", "cubic metre", "cubic metres"})
            table[t] = CubicMetre;
        table["hertz"] = Hertz;
        table["samples"] = Samples;
        for (const char* degree : {"degree", "degrees"})
            for (const char* separator : {", ", ",", " "})
                for (const char* metre : {"meter", "metre", "metres", "meters"})
                    table[std::string(degree) + separator + degree + separator + metre] = SphericalUnits;
        for (const char* t : {"kelvin", "degree kelvin", "degrees kelvin"})
            table[t] = Kelvin;
        return table;
    }();
    const auto found = units.find(AsciiLower(text));
    return found == units.end() ? UnknownUnits : found->second;
}

CoordinateType ParseCoordinateType(const std::string& text)
{
    if (text == "cartesian")
        return Cartesian;
    if (text == "spherical")
        return Spherical;
    return UnknownCoordinates;
}

// ---------------------------------------------------------------------------
// Exception

Exception::Exception(const std::string& text_, const std::string& file_, std::uint32_t line_)
    : file(file_), text(text_), line(line_)
{
    // Only the unit's own name, whichever separator the build used.
    std::string unit = file;
    const std::size_t slash = unit.find_last_of('/');
    if (slash != std::string::npos)
        unit.erase(0, slash + 1);
    const std::size_t backslash = unit.find_last_of('\\');
    if (backslash != std::string::npos)
        unit.erase(0, backslash + 1);

    std::cerr << "Exception occured (in file " + unit + " at line " + std::to_string(line) + ") : \n"
                     + "        " + text + "\n";
}

const char* Exception::what() const noexcept
{
    return text.c_str();
}

// ---------------------------------------------------------------------------
// NetCDFFile

NetCDFFile::NetCDFFile(const std::string& path, netCDF::NcFile::FileMode mode)
    : file(path, mode), filename(path)
{
}

NetCDFFile::~NetCDFFile() = default;

bool NetCDFFile::IsValid()
{
    return !file.isNull();
}

// ---------------------------------------------------------------------------
// File

File::File(const std::string& path, netCDF::NcFile::FileMode mode) : NetCDFFile(path, mode) {}

File::~File() = default;

bool File::IsValid()
{
    if (!NetCDFFile::IsValid())
        return false;

    for (int index = 0; index < kNumRequiredAttributes; ++index)
    {
        const AttributeType type = static_cast<AttributeType>(index);
        if (!HasAttribute(type))
            Fail("Missing SOFA attribute : " + AttributeName(type), __LINE__);
    }

    if (GetAttributeText("Conventions") != "SOFA")
        Fail("invalid SOFA Conventions", __LINE__);

    const Dimensions d = CheckDimensions(file);
    CheckListenerVariables(file, d);
    CheckSourceVariables(file, d);
    CheckReceiverVariables(file, d);
    CheckEmitterVariables(file, d);
    return CheckDataVariables(file, d);
}

std::size_t File::GetDimension(const std::string& name) const
{
    return DimensionLength(file, name);
}

std::uint32_t File::GetNumMeasurements() const
{
    return static_cast<std::uint32_t>(GetDimension("M"));
}

std::uint32_t File::GetNumReceivers() const
{
    return static_cast<std::uint32_t>(GetDimension("R"));
}

std::uint32_t File::GetNumEmitters() const
{
    return static_cast<std::uint32_t>(GetDimension("E"));
}

std::uint32_t File::GetNumDataSamples() const
{
    return static_cast<std::uint32_t>(GetDimension("N"));
}

bool File::GetSamplingRate(double& value) const
{
    const netCDF::NcVar rate = GetVariable("Data.SamplingRate");
    if (!IsDouble(rate) || !HasShape(rate, Shape{1}))
        Fail("'Data.SamplingRate' is not a scalar", __LINE__);
    rate.getVar(&value);
    return true;
}

bool File::GetDataIR(double* values, unsigned d1, unsigned d2, unsigned d3) const
{
    return ReadWhole(GetVariable("Data.IR"), Shape{d1, d2, d3}, values);
}

bool File::GetDataDelay(double* values, unsigned d1, unsigned d2) const
{
    return ReadWhole(GetVariable("Data.Delay"), Shape{d1, d2}, values);
}

bool File::GetSourcePosition(CoordinateType& type, UnitsType& units) const
{
    const netCDF::NcVar position = GetVariable("SourcePosition");
    if (!IsPositionVariable(position, true))
        return false;
    type = ParseCoordinateType(TextValue(FindVariableAttribute(position, "Type")));
    units = ParseUnits(TextValue(FindVariableAttribute(position, "Units")));
    return true;
}

bool File::GetSourcePosition(double* values, unsigned d1, unsigned d2) const
{
    return ReadWhole(GetVariable("SourcePosition"), Shape{d1, d2}, values);
}

void File::GetVariableDimensions(std::vector<std::size_t>& dims, const std::string& name) const
{
    dims = ShapeOf(GetVariable(name));
}

netCDF::NcVar File::GetVariable(const std::string& name) const
{
    return FindVariable(file, name);
}

bool File::HasAttribute(AttributeType type) const
{
    return !FindGlobalAttribute(file, AttributeName(type)).isNull();
}

std::string File::GetAttributeText(const std::string& name) const
{
    return TextValue(FindGlobalAttribute(file, name));
}

void File::EnsureGlobalAttribute(const std::string& name) const
{
    if (!IsText(FindGlobalAttribute(file, name)))
        Fail("Missing '" + name + "' global attribute", __LINE__);
}

void File::EnsureSOFAConvention(const std::string& name) const
{
    if (GetAttributeText("SOFAConventions") != name)
        Fail("Not a '" + name + "' SOFAConvention", __LINE__);
}

void File::EnsureAttribute(AttributeType type) const
{
    if (!HasAttribute(type))
        Fail("Missing SOFA attribute '" + AttributeName(type) + "'", __LINE__);
}

} // namespace sofa
