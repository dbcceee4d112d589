#include "SofaWriter.h"

#include <limits>

namespace sofawrite
{

namespace
{

template <typename Target>
void put(const Target& target, const Attribute& attribute)
{
    if (attribute.type == NC_CHAR)
        target.putAtt(attribute.name, attribute.text);
    else if (attribute.type == NC_STRING)
    {
        std::vector<const char*> pointers;
        for (const std::string& s : attribute.strings)
            pointers.push_back(s.c_str());
        target.putAtt(attribute.name, pointers.size(), pointers.data());
    }
    else
        target.putAtt(attribute.name, netCDF::NcType(attribute.type), attribute.numbers.size(),
                      attribute.numbers.data());
}

std::vector<Attribute> cartesianMetre()
{
    return {textAttribute("Type", "cartesian"), textAttribute("Units", "metre")};
}

} // namespace

Attribute textAttribute(const std::string& name, const std::string& text)
{
    Attribute attribute;
    attribute.name = name;
    attribute.text = text;
    return attribute;
}

Storage compressedStorage()
{
    Storage storage;
    storage.layout = Storage::Layout::Chunked;
    storage.shuffle = true;
    storage.deflateLevel = 1;
    return storage;
}

void putAttribute(const netCDF::NcGroup& target, const Attribute& attribute)
{
    put(target, attribute);
}

void putAttribute(const netCDF::NcVar& target, const Attribute& attribute)
{
    put(target, attribute);
}

netCDF::NcVar addVariable(const netCDF::NcGroup& group, const std::string& name, nc_type type,
                          const std::vector<netCDF::NcDim>& dims, const Storage& storage)
{
    const netCDF::NcVar var = group.addVar(name, netCDF::NcType(type), dims);
    if (dims.empty())
        return var;
    switch (storage.layout)
    {
    case Storage::Layout::Default: break;
    case Storage::Layout::Contiguous:
    {
        std::vector<std::size_t> unused(dims.size(), 1);
        var.setChunking(netCDF::NcVar::nc_CONTIGUOUS, unused);
        break;
    }
    case Storage::Layout::Chunked:
    {
        std::vector<std::size_t> chunks = storage.chunks;
        if (chunks.empty())
            for (const netCDF::NcDim& dim : dims)
                chunks.push_back(dim.isUnlimited() || dim.getSize() == 0 ? 1 : dim.getSize());
        var.setChunking(netCDF::NcVar::nc_CHUNKED, chunks);
        break;
    }
    }
    if (storage.shuffle || storage.deflateLevel > 0)
        var.setCompression(storage.shuffle, storage.deflateLevel > 0, storage.deflateLevel);
    if (storage.nanFill && type == NC_DOUBLE)
        var.setFill(true, std::numeric_limits<double>::quiet_NaN());
    return var;
}

int putValues(const netCDF::NcVar& var, const std::vector<std::size_t>& count, const double* values)
{
    const std::vector<std::size_t> start(count.size(), 0);
    return nc_put_vara_double(var.getParentGroup().getId(), var.getId(), count.empty() ? nullptr : start.data(),
                              count.empty() ? nullptr : count.data(), values);
}

void addDimension(const netCDF::NcGroup& group, const Dimension& dim)
{
    if (dim.unlimited || dim.length == 0)
        group.addDim(dim.name);
    else
        group.addDim(dim.name, dim.length);
}

bool variableShape(const netCDF::NcGroup& group, const std::map<std::string, std::size_t>& lengths,
                   const std::vector<std::string>& names, std::vector<netCDF::NcDim>& dims,
                   std::vector<std::size_t>& count, std::size_t& total)
{
    dims.clear();
    count.clear();
    total = 1;
    for (const std::string& name : names)
    {
        const auto length = lengths.find(name);
        if (length == lengths.end())
            return false;
        dims.push_back(group.getDim(name));
        count.push_back(length->second);
        total = (length->second != 0 && total > std::numeric_limits<std::size_t>::max() / length->second)
                    ? std::numeric_limits<std::size_t>::max()
                    : total * length->second;
    }
    return true;
}

void writeLayout(const std::string& path, const Layout& layout)
{
    netCDF::NcFile file(path, netCDF::NcFile::replace, layout.format);

    std::map<std::string, std::size_t> lengths;
    for (const Dimension& dim : layout.dims)
    {
        addDimension(file, dim);
        lengths[dim.name] = dim.length;
    }
    for (const Attribute& attribute : layout.globals)
        putAttribute(file, attribute);

    for (const Variable& var : layout.variables)
    {
        std::vector<netCDF::NcDim> ncDims;
        std::vector<std::size_t> count;
        std::size_t total = 0;
        if (!variableShape(file, lengths, var.dims, ncDims, count, total) || total > layout.maxValuesWritten)
            continue;

        const netCDF::NcVar ncVar = addVariable(file, var.name, var.type, ncDims, var.storage);
        for (const Attribute& attribute : var.attributes)
            putAttribute(ncVar, attribute);
        if (total == 0)
            continue;
        std::vector<double> values(total, 0.0);
        if (!var.pattern.empty())
            for (std::size_t i = 0; i < total; ++i)
                values[i] = var.pattern[i % var.pattern.size()];
        netCDF::ncCheck(putValues(ncVar, count, values.data()), __FILE__, __LINE__);
    }
}

Layout simpleFreeFieldLayout(const SetContent& content)
{
    Layout layout;
    layout.dims = {
        {"I", 1},
        {"C", 3},
        {"M", static_cast<std::size_t>(content.M)},
        {"R", static_cast<std::size_t>(content.R)},
        {"E", static_cast<std::size_t>(content.E)},
        {"N", static_cast<std::size_t>(content.N)},
    };
    for (const auto& [name, text] : std::vector<std::pair<const char*, std::string>> {
             {"Conventions", "SOFA"},
             {"Version", "2.1"},
             {"SOFAConventions", "SimpleFreeFieldHRIR"},
             {"SOFAConventionsVersion", "1.0"},
             {"DataType", content.dataType},
             {"RoomType", "free field"},
             {"Title", content.title},
             {"DateCreated", "2024-01-01 00:00:00"},
             {"DateModified", "2024-01-01 00:00:00"},
             {"APIName", "Test writer"},
             {"APIVersion", "1.0"},
             {"AuthorContact", "tests@example.invalid"},
             {"Organization", "Quillon tests"},
             {"License", "No license"},
             {"DatabaseName", "Fixtures"},
             {"ListenerShortName", "Dummy"},
         })
        layout.globals.push_back(textAttribute(name, text));

    std::vector<Variable>& vars = layout.variables;
    vars.push_back({"ListenerPosition", NC_DOUBLE, {"I", "C"}, cartesianMetre(), {0.0, 0.0, 0.0}, {}});
    vars.push_back({"ListenerUp", NC_DOUBLE, {"I", "C"}, cartesianMetre(), {0.0, 0.0, 1.0}, {}});
    vars.push_back({"ListenerView", NC_DOUBLE, {"I", "C"}, cartesianMetre(), {1.0, 0.0, 0.0}, {}});
    vars.push_back({"SourcePosition", NC_DOUBLE, {"M", "C"},
                    {textAttribute("Type", content.sourceType), textAttribute("Units", content.sourceUnits)},
                    content.sourceRows, {}});
    vars.push_back({"ReceiverPosition", NC_DOUBLE, {"R", "C", "I"}, cartesianMetre(),
                    {0.0, 0.09, 0.0, 0.0, -0.09, 0.0}, {}});
    vars.push_back({"EmitterPosition", NC_DOUBLE, {"E", "C", "I"}, cartesianMetre(), {0.0, 0.0, 0.0}, {}});

    const Variable samplingRate{"Data.SamplingRate", NC_DOUBLE, {content.ratePerMeasurement ? "M" : "I"},
                                {textAttribute("Units", "hertz")}, content.samplingRates, {}};
    if (content.dataType == "TF")
    {
        vars.push_back({"Data.Real", NC_DOUBLE, {"M", "R", "N"}, {}, content.responses, {}});
        vars.push_back({"Data.Imag", NC_DOUBLE, {"M", "R", "N"}, {}, content.responses, {}});
        std::vector<double> frequencies;
        for (int n = 0; n < (content.N > 0 ? content.N : 1); ++n)
            frequencies.push_back(100.0 * n);
        vars.push_back({"N", NC_DOUBLE, {"N"}, {textAttribute("Units", "hertz"), textAttribute("LongName", "hertz")},
                        frequencies, {}});
    }
    else if (content.dataType == "FIRE")
    {
        vars.push_back({"Data.IR", NC_DOUBLE, {"M", "R", "E", "N"}, {}, content.responses, {}});
        vars.push_back(samplingRate);
        vars.push_back({"Data.Delay", NC_DOUBLE, {"I", "R", "E"}, {}, {0.0}, {}});
    }
    else
    {
        vars.push_back({content.dataType == "SOS" ? "Data.SOS" : "Data.IR", NC_DOUBLE, {"M", "R", "N"}, {},
                        content.responses, {}});
        vars.push_back(samplingRate);
        vars.push_back({"Data.Delay", NC_DOUBLE, {"I", "R"}, {}, {0.0}, {}});
    }
    return layout;
}

} // namespace sofawrite
