#pragma once

// Writes SOFA files (netCDF) for the tests, the fuzz generator and the
// benchmark sets. Not part of the product: the engine only reads.
//
// The pieces (attributes, a variable with its storage, its values) serve
// writers that walk their own layout; writeLayout writes a whole described
// file, and simpleFreeFieldLayout describes a SimpleFreeFieldHRIR set.

#include <netcdf>

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace sofawrite
{

struct Attribute
{
    std::string name;
    nc_type type = NC_CHAR;            // NC_CHAR: text; NC_STRING: strings; numeric: numbers
    std::string text;
    std::vector<std::string> strings;
    std::vector<double> numbers;
};

Attribute textAttribute(const std::string& name, const std::string& text);

// How a variable's values lie in a netCDF-4 file.
struct Storage
{
    enum class Layout
    {
        Default,     // the library's choice
        Contiguous,
        Chunked      // chunks below; an empty list means one chunk of the whole variable
    };
    Layout layout = Layout::Default;
    std::vector<std::size_t> chunks;
    bool shuffle = false;
    int deflateLevel = 0;  // 0: not compressed
    bool nanFill = false;  // NaN as the fill value (double variables)
};

// As SOFA writers store every variable: one chunk, shuffled, deflate level 1.
Storage compressedStorage();

// Throw netCDF::exceptions::NcException for what the library refuses.
void putAttribute(const netCDF::NcGroup& target, const Attribute& attribute);
void putAttribute(const netCDF::NcVar& target, const Attribute& attribute);

// Adds the variable with the given storage (ignored for scalars).
netCDF::NcVar addVariable(const netCDF::NcGroup& group, const std::string& name, nc_type type,
                          const std::vector<netCDF::NcDim>& dims, const Storage& storage);

// Writes count values from index 0 of each dimension (all of a scalar when
// count is empty), converted by the library to the variable's type; returns
// the netCDF status (NC_ERANGE: some value did not fit the type).
int putValues(const netCDF::NcVar& var, const std::vector<std::size_t>& count, const double* values);

struct Dimension
{
    std::string name;
    std::size_t length = 0;  // for an unlimited one: the records that its variables write
    bool unlimited = false;  // also when length is 0
};

// Adds the dimension (unlimited when asked, or of length 0).
void addDimension(const netCDF::NcGroup& group, const Dimension& dim);

// The file's dimensions of the given names and their lengths (as lengths
// holds them); false when one is missing. total is their product, held at
// SIZE_MAX rather than overflowing.
bool variableShape(const netCDF::NcGroup& group, const std::map<std::string, std::size_t>& lengths,
                   const std::vector<std::string>& names, std::vector<netCDF::NcDim>& dims,
                   std::vector<std::size_t>& count, std::size_t& total);

struct Variable
{
    std::string name;
    nc_type type = NC_DOUBLE;
    std::vector<std::string> dims;
    std::vector<Attribute> attributes;
    std::vector<double> pattern;  // repeated to fill the variable; empty: zeros
    Storage storage;
};

struct Layout
{
    netCDF::NcFile::FileFormat format = netCDF::NcFile::nc4;
    std::vector<Dimension> dims;
    std::vector<Attribute> globals;
    std::vector<Variable> variables;
    // A variable of more values, or one with a dimension that the layout
    // lacks, is left out (so that huge declared dimensions stay cheap).
    std::size_t maxValuesWritten = std::size_t(1) << 20;
};

// Writes the file, replacing any; throws netCDF::exceptions::NcException.
void writeLayout(const std::string& path, const Layout& layout);

// What a SimpleFreeFieldHRIR set holds.
struct SetContent
{
    std::string dataType = "FIR";  // FIR, FIRE, SOS or TF: the data variables and DataType
    int M = 1, R = 2, N = 1, E = 1;
    std::vector<double> samplingRates{48000.0};
    bool ratePerMeasurement = false;  // Data.SamplingRate of shape (M) rather than (I)
    std::string sourceType = "spherical";
    std::string sourceUnits = "degree, degree, metre";
    std::vector<double> sourceRows;   // SourcePosition, row-major
    std::vector<double> responses;    // Data.IR (or each TF part), measurement-major
    std::string title = "Test set";
};

// Dimensions I, C, M, R, E, N, the global attributes of the conventions and
// the listener, source, receiver, emitter and data variables, all with
// default storage.
Layout simpleFreeFieldLayout(const SetContent& content);

} // namespace sofawrite
