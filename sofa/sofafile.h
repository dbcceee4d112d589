#pragma once

// Read-only access to SOFA files (AES69: netCDF-4 with SOFA conventions):
// the general validity check and the reads the converter needs.
// Every violated rule raises sofa::Exception; netCDF failures raise the
// netcdf-cxx4 exceptions. Both derive from std::exception.

#include <netcdf>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

namespace sofa
{

enum UnitsType
{
    Metre = 0,
    CubicMetre,
    Hertz,
    Samples,
    SphericalUnits,
    Kelvin,
    UnknownUnits
};

enum CoordinateType
{
    Cartesian = 0,
    Spherical,
    UnknownCoordinates
};

// SOFA global attribute names by index; 0 to 13 are required.
enum AttributeType
{
    kConventions = 0, kVersion, kSOFAConventions, kSOFAConventionsVersion, kDataType,
    kRoomType, kTitle, kDateCreated, kDateModified, kAPIName, kAPIVersion,
    kAuthorContact, kOrganization, kLicense,
    kApplicationName, kApplicationVersion, kComment, kHistory, kReferences, kOrigin,
    kRoomShortName, kRoomDescription, kRoomLocation, kListenerShortName,
    kListenerDescription, kSourceShortName, kSourceDescription, kReceiverShortName,
    kReceiverDescription, kEmitterShortName, kEmitterDescription,
    kNumAttributeTypes
};
constexpr int kNumRequiredAttributes = 14;

const std::string& AttributeName(AttributeType type);
UnitsType ParseUnits(const std::string& text);
CoordinateType ParseCoordinateType(const std::string& text);

class Exception : public std::exception
{
public:
    // Writes the two-line report to standard error.
    Exception(const std::string& text, const std::string& file, std::uint32_t line);
    ~Exception() override = default;
    const char* what() const noexcept override;

    const std::string& GetFile() const { return file; }
    std::uint32_t GetLine() const { return line; }

private:
    std::string file;
    std::string text;
    std::uint32_t line;
};

class NetCDFFile
{
public:
    // Opens path; the netCDF layer's exception leaves the constructor on failure.
    explicit NetCDFFile(const std::string& path,
                        netCDF::NcFile::FileMode mode = netCDF::NcFile::read);
    virtual ~NetCDFFile();
    NetCDFFile(const NetCDFFile&) = delete;
    NetCDFFile& operator=(const NetCDFFile&) = delete;

    virtual bool IsValid();

protected:
    netCDF::NcFile file;
    std::string filename;
};

class File : public NetCDFFile
{
public:
    explicit File(const std::string& path,
                  netCDF::NcFile::FileMode mode = netCDF::NcFile::read);
    ~File() override;

    bool IsValid() override;

    std::size_t GetDimension(const std::string& name) const;
    std::uint32_t GetNumMeasurements() const;
    std::uint32_t GetNumReceivers() const;
    std::uint32_t GetNumEmitters() const;
    std::uint32_t GetNumDataSamples() const;

    bool GetSamplingRate(double& value) const;
    // values must hold d1*d2*d3 elements; untouched unless the shape matches.
    bool GetDataIR(double* values, unsigned d1, unsigned d2, unsigned d3) const;
    // Data.Delay, in samples, when its shape is (d1, d2): (M, R) or (I, R) in
    // a valid file. values must hold d1*d2 elements; untouched unless the shape matches.
    bool GetDataDelay(double* values, unsigned d1, unsigned d2) const;
    bool GetSourcePosition(CoordinateType& type, UnitsType& units) const;
    // values must hold d1*d2 elements; untouched unless the shape matches.
    bool GetSourcePosition(double* values, unsigned d1, unsigned d2) const;
    void GetVariableDimensions(std::vector<std::size_t>& dims, const std::string& name) const;
    // A global text attribute's value as stored; empty when it is missing or not text.
    std::string GetAttributeText(const std::string& name) const;

protected:
    netCDF::NcVar GetVariable(const std::string& name) const;
    bool HasAttribute(AttributeType type) const;
    void EnsureGlobalAttribute(const std::string& name) const;
    void EnsureSOFAConvention(const std::string& name) const;
    // The global attribute must exist, whatever its type.
    void EnsureAttribute(AttributeType type) const;
};

} // namespace sofa
