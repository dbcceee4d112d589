#include "SofaGenerator.h"

#include "SofaWriter.h"
#include "dsp/pi.h"

#include <netcdf.h>
#include <netcdf>

#include <algorithm>
#include <array>
#include <cctype>
#include <cfloat>
#include <cmath>
#include <limits>
#include <map>
#include <new>
#include <vector>

namespace fuzz
{

std::uint64_t SeededChoices::below(std::uint64_t bound)
{
    if (bound == 0)
        return 0;
    state += 0x9e3779b97f4a7c15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return (z ^ (z >> 31)) % bound;
}

std::uint64_t ByteChoices::below(std::uint64_t bound)
{
    if (bound <= 1)
        return 0;
    std::uint64_t value = 0;
    for (std::uint64_t span = bound - 1; span != 0; span >>= 8)
        value = (value << 8) | (used < count ? bytes[used++] : 0u);
    return value % bound;
}

namespace
{

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
// Variables above this many values are declared but not written (fill values).
constexpr std::size_t kMaxValuesWritten = std::size_t(1) << 22;

template <typename T, std::size_t K>
const T& pick(ChoiceSource& c, const T (&items)[K])
{
    return items[c.below(K)];
}

template <typename T>
const T& pick(ChoiceSource& c, const std::vector<T>& items)
{
    return items[c.below(items.size())];
}

// Local generator for bulk values, so that a byte-driven input does not spend
// a byte on every sample.
class Noise
{
public:
    explicit Noise(std::uint64_t seed) : state(seed * 2 + 1) {}
    std::uint64_t next()
    {
        state += 0x9e3779b97f4a7c15ull;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    double unit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
    std::size_t below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(next() % n); }

private:
    std::uint64_t state;
};

const double kSpecialValues[] = {
    kNaN, kInf, -kInf, 0.0, -0.0, 5e-324, 1e-310, 1e-45, 1e-40, 1.17549435e-38, 1e-300, 1.0, -1.0,
    3.4028234663852886e38, 3.4028235677973366e38, 1e39, -1e39, 1e300, -1e300, 1.7976931348623157e308,
    2147483647.0, 2147483648.0, 4294967296.0, 1e10, 1e20,
};

using Att = sofawrite::Attribute;

using Dim = sofawrite::Dimension;

enum class Fill
{
    Small,
    Responses,
    Positions,
    Rates,
    Frequencies
};

struct Var
{
    std::string name;
    nc_type type = NC_DOUBLE;
    std::vector<std::string> dims;
    std::vector<Att> atts;
    Fill fill = Fill::Small;
    bool write = true;
    int storage = 0;  // 0 default, 1 contiguous, 2 small chunks, 3 deflate, 4 NaN fill value
};

struct Layout
{
    netCDF::NcFile::FileFormat format = netCDF::NcFile::nc4;
    std::vector<Dim> dims;
    std::vector<Att> globals;
    std::vector<Var> vars;
    bool subgroup = false;
    std::string description;
};

Att* findAtt(std::vector<Att>& atts, const std::string& name)
{
    for (Att& att : atts)
        if (att.name == name)
            return &att;
    return nullptr;
}

Var* findVar(Layout& layout, const std::string& name)
{
    for (Var& var : layout.vars)
        if (var.name == name)
            return &var;
    return nullptr;
}

Dim* findDim(Layout& layout, const std::string& name)
{
    for (Dim& dim : layout.dims)
        if (dim.name == name)
            return &dim;
    return nullptr;
}

void note(Layout& layout, const std::string& what)
{
    if (!layout.description.empty())
        layout.description += ' ';
    layout.description += what;
}

// ---------------------------------------------------------------------------
// Texts

// A text near the expected one: what a careless writer might store.
std::string nearMiss(ChoiceSource& c, const std::string& expected)
{
    std::string t = expected;
    switch (c.below(16))
    {
    case 0:
        for (char& ch : t)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        return t;
    case 1:
        for (char& ch : t)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        return t;
    case 2: return t + std::string(1, '\0');
    case 3: return " " + t;
    case 4: return t + " ";
    case 5: return t.empty() ? t : t.substr(0, t.size() - 1);
    case 6: return t.empty() ? "x" : t + t.back();
    case 7:
        if (!t.empty())
            t[c.below(t.size())] ^= 0x20;
        return t;
    case 8: return std::string();
    case 9:
    {
        std::string longer;
        const std::size_t target = c.percent(50) ? 300 : 70000;
        while (longer.size() < target)
            longer += t.empty() ? "x" : t;
        return longer;
    }
    case 10:
        if (!t.empty())
            t.insert(c.below(t.size()), 1, '\0');
        return t;
    case 11: return t + "\xff\xfe";
    case 12: return t + "\n";
    case 13: return std::string(1, '\0');
    case 14: return "\xc3\xa9" + t;
    default: return t + t;
    }
}

const std::vector<std::string>& sphericalUnits()
{
    static const std::vector<std::string> units = [] {
        std::vector<std::string> list;
        for (const char* degree : {"degree", "degrees"})
            for (const char* separator : {", ", ",", " "})
                for (const char* metre : {"metre", "meter", "metres", "meters"})
                    list.push_back(std::string(degree) + separator + degree + separator + metre);
        return list;
    }();
    return units;
}

const std::vector<std::string> kMetreUnits = {"metre", "meter", "metres", "meters", "Metre", "METERS"};
const std::vector<std::string> kOtherUnits = {
    "hertz", "Hertz", "HERTZ", "Hz", "samples", "kelvin", "degrees kelvin", "cubic metre", "cubic meters",
    "degree, degrees, metre", "degrees, degree, metre", "degree,  degree, metre", "degree; degree; metre",
    "Degree, Degree, Metre", "", "metre", "degree, degree, metre", "m", "radians",
};

// A value for a Units or Type attribute: mostly one that some rule accepts.
std::string unitsText(ChoiceSource& c)
{
    switch (c.below(5))
    {
    case 0: return pick(c, sphericalUnits());
    case 1: return pick(c, kMetreUnits);
    case 2: return pick(c, kOtherUnits);
    case 3: return nearMiss(c, pick(c, sphericalUnits()));
    default: return nearMiss(c, "hertz");
    }
}

std::string typeText(ChoiceSource& c)
{
    static const std::vector<std::string> types = {"cartesian", "spherical", "Cartesian", "SPHERICAL",
                                                   "spherical harmonics", ""};
    return c.percent(70) ? pick(c, types) : nearMiss(c, c.percent(50) ? "cartesian" : "spherical");
}

// Replaces an attribute's value by one of another kind or a near miss.
void bendAttribute(ChoiceSource& c, Att& att, const std::string& expected)
{
    switch (c.below(9))
    {
    case 0:
        att.type = NC_STRING;
        att.strings = {att.text};
        break;
    case 1:
        att.type = NC_STRING;
        att.strings = {expected, expected};
        break;
    case 2:
        att.type = pick(c, {NC_DOUBLE, NC_INT, NC_FLOAT, NC_SHORT, NC_BYTE, NC_UBYTE, NC_INT64, NC_UINT64});
        att.numbers = {pick(c, kSpecialValues)};
        if (c.percent(30))
            att.numbers.push_back(1.0);
        break;
    case 3:
        att.type = NC_CHAR;
        att.text.clear();
        break;
    default:
        att.type = NC_CHAR;
        att.text = nearMiss(c, expected);
        break;
    }
}

// ---------------------------------------------------------------------------
// The plain valid layout

const char* const kRequiredGlobals[] = {
    "Conventions", "Version", "SOFAConventions", "SOFAConventionsVersion", "DataType", "RoomType", "Title",
    "DateCreated", "DateModified", "APIName", "APIVersion", "AuthorContact", "Organization", "License",
    "DatabaseName", "ListenerShortName",
};

std::string expectedGlobal(const std::string& name)
{
    static const std::map<std::string, std::string> values = {
        {"Conventions", "SOFA"}, {"Version", "2.1"}, {"SOFAConventions", "SimpleFreeFieldHRIR"},
        {"SOFAConventionsVersion", "1.0"}, {"DataType", "FIR"}, {"RoomType", "free field"},
        {"Title", "Generated set"}, {"DateCreated", "2024-01-01 00:00:00"},
        {"DateModified", "2024-01-01 00:00:00"}, {"APIName", "Generator"}, {"APIVersion", "1.0"},
        {"AuthorContact", "fuzz@example.invalid"}, {"Organization", "Quillon"}, {"License", "none"},
        {"DatabaseName", "Fuzz"}, {"ListenerShortName", "Dummy"},
    };
    const auto found = values.find(name);
    return found == values.end() ? "x" : found->second;
}

Var positionVar(const std::string& name, std::vector<std::string> dims, const std::string& type,
                const std::string& units)
{
    Var var;
    var.name = name;
    var.dims = std::move(dims);
    var.atts = {sofawrite::textAttribute("Type", type), sofawrite::textAttribute("Units", units)};
    return var;
}

void setDataType(Layout& layout, const std::string& dataType)
{
    layout.vars.erase(std::remove_if(layout.vars.begin(), layout.vars.end(),
                                     [](const Var& v) {
                                         return v.name == "Data.IR" || v.name == "Data.SOS" || v.name == "Data.Real"
                                                || v.name == "Data.Imag" || v.name == "N"
                                                || v.name == "Data.Delay";
                                     }),
                      layout.vars.end());
    findAtt(layout.globals, "DataType")->text = dataType;
    auto responses = [](const std::string& name, std::vector<std::string> dims) {
        Var var;
        var.name = name;
        var.dims = std::move(dims);
        var.fill = Fill::Responses;
        return var;
    };
    Var delay;
    delay.name = "Data.Delay";
    if (dataType == "TF")
    {
        layout.vars.push_back(responses("Data.Real", {"M", "R", "N"}));
        layout.vars.push_back(responses("Data.Imag", {"M", "R", "N"}));
        Var frequencies;
        frequencies.name = "N";
        frequencies.dims = {"N"};
        frequencies.fill = Fill::Frequencies;
        frequencies.atts = {sofawrite::textAttribute("Units", "hertz"), sofawrite::textAttribute("LongName", "hertz")};
        layout.vars.push_back(frequencies);
        return;
    }
    if (dataType == "FIRE")
    {
        layout.vars.push_back(responses("Data.IR", {"M", "R", "E", "N"}));
        delay.dims = {"I", "R", "E"};
    }
    else
    {
        layout.vars.push_back(responses(dataType == "SOS" ? "Data.SOS" : "Data.IR", {"M", "R", "N"}));
        delay.dims = {"I", "R"};
    }
    layout.vars.push_back(delay);
}

std::size_t chooseM(ChoiceSource& c)
{
    switch (c.below(10))
    {
    case 7: return pick(c, {72, 144, 440, 625, 793, 1250, 1550, 2304});
    case 8: return pick(c, {1, 2, 3, 4});
    case 9: return c.percent(10) ? 1 + c.below(4000) : 64 + c.below(400);
    case 6: return 1 + c.below(64);
    default: return 1 + c.below(24);
    }
}

std::size_t chooseN(ChoiceSource& c)
{
    switch (c.below(10))
    {
    case 6: return 1 + c.below(8);
    case 7: return pick(c, {128, 200, 255, 256, 257, 500, 512, 1000, 1024, 2048});
    case 8: return c.percent(10) ? 1 + c.below(4000) : 128 + c.below(400);
    case 9: return 8 + c.below(249);
    default: return 8 + c.below(57);
    }
}

Layout plainLayout(ChoiceSource& c)
{
    Layout layout;
    std::size_t M = chooseM(c);
    std::size_t N = chooseN(c);
    const std::size_t R = c.percent(85) ? 2 : pick(c, {1, 3, 4});
    const std::size_t E = c.percent(95) ? 1 : 2;
    // Mostly small files; now and then a big one.
    const std::size_t budget = c.percent(98) ? (std::size_t(1) << 18) : kMaxValuesWritten;
    while (M * R * N > budget)
    {
        if (N > 1 && (M == 1 || c.percent(50)))
            N = (N + 1) / 2;
        else
            M = (M + 1) / 2;
    }
    layout.dims = {{"I", 1, false}, {"C", 3, false}, {"M", M, false},
                   {"R", R, false}, {"E", E, false}, {"N", N, false}};
    if (c.percent(3))
        std::swap(layout.dims[0], layout.dims[5]);

    for (const char* name : kRequiredGlobals)
        layout.globals.push_back(sofawrite::textAttribute(name, expectedGlobal(name)));
    if (c.percent(20))
        for (const char* name : {"Comment", "History", "References", "Origin", "RoomShortName", "SourceShortName"})
            layout.globals.push_back(sofawrite::textAttribute(name, "generated"));

    layout.vars.push_back(positionVar("ListenerPosition", {"I", "C"}, "cartesian", "metre"));
    Var up;
    up.name = "ListenerUp";
    up.dims = {"I", "C"};
    layout.vars.push_back(up);
    layout.vars.push_back(positionVar("ListenerView", {"I", "C"}, "cartesian", "metre"));

    Var source = c.percent(75) ? positionVar("SourcePosition", {"M", "C"}, "spherical", "degree, degree, metre")
                               : positionVar("SourcePosition", {"M", "C"}, "cartesian", "metre");
    if (c.percent(20))
        findAtt(source.atts, "Units")->text = source.atts[0].text == "spherical" ? pick(c, sphericalUnits())
                                                                                  : pick(c, kMetreUnits);
    source.fill = Fill::Positions;
    layout.vars.push_back(source);
    layout.vars.push_back(positionVar("ReceiverPosition", {"R", "C", "I"}, "cartesian", "metre"));
    layout.vars.push_back(positionVar("EmitterPosition", {"E", "C", "I"}, "cartesian", "metre"));

    Var rate;
    rate.name = "Data.SamplingRate";
    rate.dims = {"I"};
    rate.fill = Fill::Rates;
    rate.atts = {sofawrite::textAttribute("Units", "hertz")};
    layout.vars.push_back(rate);

    const std::size_t dataChoice = c.below(20);
    const char* dataType = dataChoice == 17 ? "FIRE" : dataChoice == 18 ? "SOS" : dataChoice == 19 ? "TF" : "FIR";
    setDataType(layout, dataType);
    if (dataChoice >= 17)
        note(layout, std::string("datatype=") + dataType);

    if (c.percent(5))
    {
        static const netCDF::NcFile::FileFormat formats[] = {netCDF::NcFile::nc4classic, netCDF::NcFile::classic,
                                                             netCDF::NcFile::classic64};
        layout.format = pick(c, formats);
        note(layout, "format=" + std::to_string(static_cast<int>(layout.format)));
    }
    return layout;
}

// ---------------------------------------------------------------------------
// Structural mutations

const char* const kCheckedVarNames[] = {
    "SourcePosition", "Data.IR", "Data.SamplingRate", "Data.Delay", "ListenerPosition", "ListenerUp",
    "ListenerView", "ReceiverPosition", "EmitterPosition", "N", "Data.Real", "Data.Imag", "Data.SOS",
};

std::size_t largeLength(ChoiceSource& c)
{
    static const std::size_t lengths[] = {
        1000, 65536, 1000000, 2147483647ull, 2147483648ull, 4294967295ull, 4294967296ull, 4294967298ull,
        5000000000ull,
    };
    return pick(c, lengths);
}

void mutate(ChoiceSource& c, Layout& layout)
{
    switch (c.below(20))
    {
    case 0: // drop a global attribute
    {
        if (layout.globals.empty())
            return;
        const std::size_t i = c.below(layout.globals.size());
        note(layout, "dropatt:" + layout.globals[i].name);
        layout.globals.erase(layout.globals.begin() + static_cast<std::ptrdiff_t>(i));
        return;
    }
    case 1: // retype or bend a global attribute
    case 2:
    {
        if (layout.globals.empty())
            return;
        Att& att = layout.globals[c.below(layout.globals.size())];
        note(layout, "bendatt:" + att.name);
        bendAttribute(c, att, expectedGlobal(att.name));
        return;
    }
    case 3: // a checked global attribute gets another value
    {
        static const char* const checked[] = {"Conventions", "DataType", "SOFAConventions", "RoomType"};
        const std::string name = pick(c, checked);
        Att* att = findAtt(layout.globals, name);
        if (att == nullptr)
            return;
        note(layout, "value:" + name);
        if (name == "DataType" && c.percent(50))
            att->text = pick(c, {std::string("FIR"), std::string("FIRE"), std::string("SOS"), std::string("TF")});
        else
            att->text = nearMiss(c, att->text);
        return;
    }
    case 4: // a variable's Type or Units
    case 5:
    {
        Var* var = findVar(layout, pick(c, kCheckedVarNames));
        if (var == nullptr)
            return;
        const std::string name = c.percent(50) ? "Type" : c.percent(90) ? "Units" : "LongName";
        note(layout, "varatt:" + var->name + ":" + name);
        Att* att = findAtt(var->atts, name);
        if (att == nullptr)
        {
            var->atts.push_back(sofawrite::textAttribute(name, ""));
            att = &var->atts.back();
        }
        switch (c.below(4))
        {
        case 0:
            var->atts.erase(var->atts.begin() + (att - var->atts.data()));
            return;
        case 1: bendAttribute(c, *att, att->text); return;
        default: att->text = name == "Type" ? typeText(c) : unitsText(c); return;
        }
    }
    case 6: // a dimension's length
    case 7:
    {
        static const char* const names[] = {"M", "N", "R", "E", "I", "C"};
        Dim* dim = findDim(layout, pick(c, names));
        if (dim == nullptr)
            return;
        switch (c.below(4))
        {
        case 0:
            dim->unlimited = true;
            if (c.percent(30))
                dim->length = 0;
            break;
        case 1: dim->length = largeLength(c); break;
        default: dim->length = pick(c, {0, 1, 2, 3, 4, 5}); break;
        }
        note(layout, "dim:" + dim->name + "=" + std::to_string(dim->length) + (dim->unlimited ? "u" : ""));
        return;
    }
    case 8: // drop a dimension; its variables lose it or go
    {
        if (layout.dims.empty())
            return;
        const std::size_t i = c.below(layout.dims.size());
        const std::string name = layout.dims[i].name;
        note(layout, "dropdim:" + name);
        layout.dims.erase(layout.dims.begin() + static_cast<std::ptrdiff_t>(i));
        const bool dropVars = c.percent(50);
        for (auto it = layout.vars.begin(); it != layout.vars.end();)
        {
            auto use = std::find(it->dims.begin(), it->dims.end(), name);
            if (use == it->dims.end())
            {
                ++it;
                continue;
            }
            if (dropVars)
                it = layout.vars.erase(it);
            else
            {
                it->dims.erase(use);
                ++it;
            }
        }
        return;
    }
    case 9: // drop a variable
    {
        if (layout.vars.empty())
            return;
        const std::size_t i = c.below(layout.vars.size());
        note(layout, "dropvar:" + layout.vars[i].name);
        layout.vars.erase(layout.vars.begin() + static_cast<std::ptrdiff_t>(i));
        return;
    }
    case 10: // a variable's type
    {
        Var* var = findVar(layout, pick(c, kCheckedVarNames));
        if (var == nullptr)
            return;
        var->type = pick(c, {NC_FLOAT, NC_INT, NC_SHORT, NC_BYTE, NC_UBYTE, NC_CHAR, NC_STRING, NC_INT64, NC_UINT64,
                             NC_UINT});
        note(layout, "vartype:" + var->name + "=" + std::to_string(var->type));
        return;
    }
    case 11: // a variable's shape
    case 12:
    {
        Var* var = findVar(layout, pick(c, kCheckedVarNames));
        if (var == nullptr || layout.dims.empty())
            return;
        note(layout, "shape:" + var->name);
        const std::string other = layout.dims[c.below(layout.dims.size())].name;
        switch (c.below(6))
        {
        case 0:
            if (var->dims.size() > 1)
                std::swap(var->dims[0], var->dims[c.below(var->dims.size() - 1) + 1]);
            return;
        case 1:
            if (!var->dims.empty())
                var->dims.erase(var->dims.begin() + static_cast<std::ptrdiff_t>(c.below(var->dims.size())));
            return;
        case 2:
            var->dims.insert(var->dims.begin() + static_cast<std::ptrdiff_t>(c.below(var->dims.size() + 1)), other);
            return;
        case 3:
            if (!var->dims.empty())
                var->dims[c.below(var->dims.size())] = other;
            return;
        case 4: var->dims.clear(); return;
        default: var->dims = {pick(c, {std::string("I"), std::string("M")})}; return;
        }
    }
    case 13: // Up and View variables of any kind
    {
        static const char* const kinds[] = {"Listener", "Source", "Receiver", "Emitter"};
        const std::string kind = pick(c, kinds);
        const bool threeDims = kind == "Receiver" || kind == "Emitter";
        const std::string first = kind == "Receiver" ? "R" : kind == "Emitter" ? "E" : "I";
        const std::string name = kind + (c.percent(50) ? "Up" : "View");
        note(layout, "addvar:" + name);
        if (findVar(layout, name) != nullptr)
            return;
        Var var = positionVar(name, threeDims ? std::vector<std::string>{first, "C", pick(c, {std::string("I"), std::string("M")})}
                                              : std::vector<std::string>{pick(c, {std::string("I"), std::string("M")}), "C"},
                              c.percent(80) ? "cartesian" : typeText(c), c.percent(80) ? "metre" : unitsText(c));
        if (c.percent(20))
            var.atts.clear();
        layout.vars.push_back(var);
        return;
    }
    case 14: // another data layout
    {
        const std::string dataType = pick(c, {std::string("FIR"), std::string("FIRE"), std::string("SOS"),
                                              std::string("TF")});
        note(layout, "datatype:" + dataType);
        if (findAtt(layout.globals, "DataType") != nullptr)
            setDataType(layout, dataType);
        return;
    }
    case 15: // sampling rate per measurement or of another shape
    {
        Var* rate = findVar(layout, "Data.SamplingRate");
        if (rate == nullptr)
            return;
        static const std::vector<std::vector<std::string>> shapes = {{"M"}, {"M"}, {}, {"R"}, {"I", "I"}, {"N"}};
        rate->dims = pick(c, shapes);
        note(layout, "rateshape:" + std::to_string(rate->dims.size()));
        return;
    }
    case 16: // storage of a data variable
    {
        Var* var = findVar(layout, c.percent(60) ? "Data.IR" : c.percent(50) ? "SourcePosition" : "Data.SamplingRate");
        if (var == nullptr)
            return;
        var->storage = static_cast<int>(1 + c.below(4));
        if (c.percent(40))
            var->write = false;
        note(layout, "storage:" + var->name + "=" + std::to_string(var->storage) + (var->write ? "" : ",unwritten"));
        return;
    }
    case 17: // the same names in a sub-group (lookups stay in the root group)
        layout.subgroup = true;
        note(layout, "subgroup");
        return;
    case 18: // source positions in the other coordinate system
    {
        Var* source = findVar(layout, "SourcePosition");
        if (source == nullptr)
            return;
        const bool cartesian = c.percent(50);
        note(layout, cartesian ? "source:cartesian" : "source:spherical");
        source->atts = {sofawrite::textAttribute("Type", cartesian ? "cartesian" : "spherical"),
                        sofawrite::textAttribute("Units", cartesian ? pick(c, kMetreUnits) : pick(c, sphericalUnits()))};
        if (c.percent(15))  // Type and Units exchanged
            std::swap(source->atts[0].text, source->atts[1].text);
        return;
    }
    default: // extra dimensions, attributes and variables nobody asks for
    {
        note(layout, "extra");
        layout.dims.push_back({"S", 1 + c.below(70), false});
        layout.globals.push_back(sofawrite::textAttribute("ListenerDescription", nearMiss(c, "a head")));
        Var extra;
        extra.name = pick(c, {std::string("Data.Extra"), std::string("SourcePosition "), std::string("data.IR"),
                              std::string("Data_IR")});
        extra.dims = {"M", "S"};
        layout.vars.push_back(extra);
        return;
    }
    }
}

// ---------------------------------------------------------------------------
// Values

std::vector<double> responseValues(ChoiceSource& c, std::size_t total, std::size_t rowLength)
{
    std::vector<double> values(total, 0.0);
    Noise noise(c.below(std::uint64_t(1) << 32));
    const std::size_t flavour = c.below(16);
    static const double amplitudes[] = {1.0, 0.5, 1e-3, 1e-20, 1e-40, 1e-45, 1e20, 3e38, 1e39, 1e300};
    const double amplitude = flavour < 8 ? 1.0 : pick(c, amplitudes);
    const double special = pick(c, kSpecialValues);
    const std::size_t row = std::max<std::size_t>(rowLength, 1);
    switch (flavour)
    {
    case 8: return values;  // silent
    case 9:
        std::fill(values.begin(), values.end(), special);
        return values;
    case 10:  // one impulse per row
        for (std::size_t start = 0; start < total; start += row)
            values[start + noise.below(std::min(row, total - start))] = amplitude;
        return values;
    case 11:
        for (std::size_t i = 0; i < total; ++i)
            values[i] = (i % 2 ? -amplitude : amplitude);
        return values;
    default: break;
    }
    // Decaying noise after an onset; the ears' onsets differ by a few samples.
    const std::size_t spread = std::max<std::size_t>(row / 4, 1);
    for (std::size_t start = 0; start < total; start += row)
    {
        const std::size_t length = std::min(row, total - start);
        const std::size_t onset = noise.below(std::min(length, spread));
        const bool silentEar = flavour == 12 && (start / row) % 2 == 0;
        for (std::size_t i = onset; i < length && !silentEar; ++i)
        {
            const double decay = std::exp(-8.0 * static_cast<double>(i - onset) / static_cast<double>(row));
            values[start + i] = amplitude * (noise.unit() * 2.0 - 1.0) * decay;
        }
    }
    if (flavour == 13 || flavour == 14)  // specials sprinkled
    {
        const std::size_t count = 1 + noise.below(4);
        for (std::size_t k = 0; k < count && total > 0; ++k)
            values[noise.below(total)] = flavour == 13 ? special : pick(c, kSpecialValues);
    }
    return values;
}

// Rows of three; cartesian or spherical as the variable's Type says.
std::vector<double> positionValues(ChoiceSource& c, std::size_t total, bool cartesian)
{
    std::vector<double> values(total, 0.0);
    const std::size_t rows = total / 3 + (total % 3 ? 1 : 0);
    Noise noise(c.below(std::uint64_t(1) << 32));
    const std::size_t flavour = c.below(14);
    static const double spacings[] = {0.5, 1, 2, 2.5, 3, 5, 7.5, 10, 12, 15, 20, 30, 45, 60, 90, 180, 360};
    static const double ranges[][2] = {{-90, 90}, {-40, 90}, {-45, 45}, {0, 0}, {-90, -90}, {90, 90},
                                       {-30, 30}, {-80, 80}, {0, 90}, {-90, 0}};
    const double spacing = pick(c, spacings);
    const auto& range = ranges[c.below(sizeof ranges / sizeof ranges[0])];
    static const double radii[] = {1.0, 1.2, 0.0, 1e-160, 1e-300, 1e160, 1e300, 5e-324};
    const double radius = flavour < 9 ? (c.percent(85) ? 1.2 : pick(c, radii)) : 1.0;
    std::vector<std::array<double, 3>> sph(rows);  // azimuth, elevation, distance
    double az = 0.0, el = range[0];
    for (std::size_t r = 0; r < rows; ++r)
    {
        auto& p = sph[r];
        switch (flavour)
        {
        case 9: p = {noise.unit() * 360.0, noise.unit() * 180.0 - 90.0, radius}; break;
        case 10: p = {noise.unit() * 1440.0 - 720.0, noise.unit() * 400.0 - 200.0, radius}; break;
        case 11: p = {0.0, 0.0, radius}; break;
        case 12: p = {r % 2 ? 90.0 : 270.0, r % 3 ? 90.0 : -90.0, radius}; break;
        case 13:
            p = {pick(c, kSpecialValues), noise.below(2) ? pick(c, kSpecialValues) : 0.0, radius};
            break;
        default:  // a grid, ring by ring, wrapping round when the rows outnumber it
            p = {az, el, radius};
            az += spacing;
            if (az >= 360.0)
            {
                az = 0.0;
                el += spacing;
                if (el > range[1])
                    el = range[0];
            }
            break;
        }
    }
    if (flavour == 1 && rows > 0)  // one odd row
        sph[noise.below(rows)] = {pick(c, kSpecialValues), pick(c, kSpecialValues), pick(c, kSpecialValues)};
    for (std::size_t r = 0; r < rows; ++r)
    {
        double triple[3] = {sph[r][0], sph[r][1], sph[r][2]};
        if (cartesian)
        {
            const double a = sph[r][0] * kPi / 180.0;
            const double e = sph[r][1] * kPi / 180.0;
            triple[0] = sph[r][2] * std::cos(e) * std::cos(a);
            triple[1] = sph[r][2] * std::cos(e) * std::sin(a);
            triple[2] = sph[r][2] * std::sin(e);
        }
        for (std::size_t k = 0; k < 3 && r * 3 + k < total; ++k)
            values[r * 3 + k] = triple[k];
    }
    return values;
}

std::vector<double> rateValues(ChoiceSource& c, std::size_t total)
{
    static const double typical[] = {48000.0, 44100.0, 96000.0, 48000.7, 44100.9, 8000.0, 22050.0, 192000.0};
    static const double odd[] = {0.0, -0.0, -44100.0, kNaN, kInf, -kInf, 1.0, 0.999, 0.5, 1e-300, 5e-324,
                                 1e300, 2147483647.0, 2147483647.5, 2147483648.0, 4294967296.0, 1e10,
                                 3.4028234663852886e38, 1e39, 1.5, 2.0, 3.0, 100.0};
    const double first = c.percent(75) ? pick(c, typical) : pick(c, odd);
    std::vector<double> values(total, first);
    if (total > 1 && c.percent(50))
        for (std::size_t i = 1; i < total; ++i)
            values[i] = c.percent(50) ? first + static_cast<double>(i) : pick(c, odd);
    return values;
}

std::vector<double> smallValues(const std::string& name, std::size_t total)
{
    std::vector<double> values(total, 0.0);
    for (std::size_t i = 0; i < total; ++i)
    {
        if (name == "ListenerUp" || name == "SourceUp")
            values[i] = i % 3 == 2 ? 1.0 : 0.0;
        else if (name.find("View") != std::string::npos)
            values[i] = i % 3 == 0 ? 1.0 : 0.0;
        else if (name == "ReceiverPosition")
            values[i] = i % 3 == 1 ? (i < 3 ? 0.09 : -0.09) : 0.0;
    }
    return values;
}

// ---------------------------------------------------------------------------
// Writing

template <typename Target>
void putAttribute(const Target& target, const Att& att)
{
    try
    {
        sofawrite::putAttribute(target, att);
    }
    catch (const netCDF::exceptions::NcException&)
    {
        // left out (e.g. NC_STRING in a classic file, a number out of its type's range)
    }
}

// The storage choice of a variable (Var::storage).
sofawrite::Storage storageOf(const Var& var)
{
    sofawrite::Storage storage;
    switch (var.storage)
    {
    case 1: storage.layout = sofawrite::Storage::Layout::Contiguous; break;
    case 2:
        storage.layout = sofawrite::Storage::Layout::Chunked;
        storage.chunks.assign(var.dims.size(), 1);
        break;
    case 3:
        storage.shuffle = true;
        storage.deflateLevel = 9;
        break;
    case 4: storage.nanFill = true; break;
    default: break;
    }
    return storage;
}

void putValues(ChoiceSource& c, const netCDF::NcVar& ncVar, const Var& var, const std::vector<std::size_t>& count,
               std::size_t total)
{
    std::vector<double> values;
    switch (var.fill)
    {
    case Fill::Responses:
        values = responseValues(c, total, count.empty() ? total : count.back());
        break;
    case Fill::Positions:
    {
        bool cartesian = false;
        for (const Att& att : var.atts)
            if (att.name == "Type" && att.type == NC_CHAR)
                cartesian = att.text == "cartesian";
        values = positionValues(c, total, cartesian);
        break;
    }
    case Fill::Rates: values = rateValues(c, total); break;
    case Fill::Frequencies:
        values.resize(total);
        for (std::size_t i = 0; i < total; ++i)
            values[i] = 100.0 * static_cast<double>(i);
        break;
    case Fill::Small: values = smallValues(var.name, total); break;
    }

    const int group = ncVar.getParentGroup().getId();
    const int id = ncVar.getId();
    const std::vector<std::size_t> start(count.size(), 0);
    const std::size_t* startp = count.empty() ? nullptr : start.data();
    const std::size_t* countp = count.empty() ? nullptr : count.data();
    if (var.type == NC_CHAR)
    {
        std::string chars(total, 'x');
        nc_put_vara_text(group, id, startp, countp, chars.data());
    }
    else if (var.type == NC_STRING)
    {
        std::vector<const char*> strings(total, "x");
        nc_put_vara_string(group, id, startp, countp, strings.data());
    }
    else
    {
        // Out-of-range conversions (NC_ERANGE) are part of the game.
        sofawrite::putValues(ncVar, count, values.data());
    }
}

void writeLayout(ChoiceSource& c, const Layout& layout, const std::string& path, GeneratedFile& result)
{
    netCDF::NcFile file(path, netCDF::NcFile::replace, layout.format);

    std::map<std::string, std::size_t> lengths;
    for (const Dim& dim : layout.dims)
    {
        try
        {
            sofawrite::addDimension(file, dim);
            lengths[dim.name] = dim.length;
        }
        catch (const netCDF::exceptions::NcException&)
        {
        }
    }
    for (const Att& att : layout.globals)
        putAttribute(file, att);

    for (const Var& var : layout.vars)
    {
        std::vector<netCDF::NcDim> ncDims;
        std::vector<std::size_t> count;
        std::size_t total = 0;
        const bool known = sofawrite::variableShape(file, lengths, var.dims, ncDims, count, total);
        // HDF5 fails to create a dataset of more than 2^63 bytes and then fails
        // to close the file, keeping it locked; the classic formats store every
        // fixed-size variable in full (fill values included), so a huge one
        // would fill the disk: leave such variables out.
        const bool classic = layout.format == netCDF::NcFile::classic || layout.format == netCDF::NcFile::classic64;
        if (!known || total > (std::size_t(1) << 59) || (classic && total > kMaxValuesWritten))
            continue;
        try
        {
            const bool nc4 = layout.format == netCDF::NcFile::nc4 || layout.format == netCDF::NcFile::nc4classic;
            const netCDF::NcVar ncVar = sofawrite::addVariable(file, var.name, var.type, ncDims,
                                                               nc4 ? storageOf(var) : sofawrite::Storage());
            for (const Att& att : var.atts)
                putAttribute(ncVar, att);
            result.declaredValues = total > std::numeric_limits<std::size_t>::max() - result.declaredValues
                                        ? std::numeric_limits<std::size_t>::max()
                                        : result.declaredValues + total;
            if (var.write && total > 0 && total <= kMaxValuesWritten)
                putValues(c, ncVar, var, count, total);
        }
        catch (const netCDF::exceptions::NcException&)
        {
        }
    }

    if (layout.subgroup)
    {
        try
        {
            const netCDF::NcGroup sub = file.addGroup("Sub");
            sub.putAtt("Conventions", "SOFA");
            std::vector<netCDF::NcDim> dims;
            for (const char* name : {"M", "R", "N"})
                if (lengths.count(name))
                    dims.push_back(file.getDim(name));
            sub.addVar("Data.IR", netCDF::ncDouble, dims);
            sub.addVar("SourcePosition", netCDF::ncDouble, dims);
        }
        catch (const netCDF::exceptions::NcException&)
        {
        }
    }

    for (const char* name : {"M", "R", "N"})
    {
        const netCDF::NcDim dim = file.getDim(name);
        const std::size_t length = dim.isNull() ? 0 : dim.getSize();
        (name[0] == 'M' ? result.M : name[0] == 'R' ? result.R : result.N) = length;
    }
}

} // namespace

GeneratedFile generateSofa(ChoiceSource& choices, const std::string& path)
{
    GeneratedFile result;
    Layout layout = plainLayout(choices);
    const std::size_t mutationChoice = choices.below(20);
    const std::size_t mutations = mutationChoice < 7    ? 0
                                  : mutationChoice < 14 ? 1
                                  : mutationChoice < 17 ? 2
                                  : mutationChoice < 19 ? 3
                                                        : 4 + choices.below(6);
    for (std::size_t i = 0; i < mutations; ++i)
        mutate(choices, layout);
    result.description = layout.description;
    try
    {
        writeLayout(choices, layout, path, result);
        result.written = true;
    }
    catch (const netCDF::exceptions::NcException& e)
    {
        result.written = false;
        result.error = e.what();
    }
    catch (const std::bad_alloc&)
    {
        // Huge declared dimensions can make the library's chunk buffers take
        // the memory that our own values then need.
        result.written = false;
        result.error = "out of memory while writing";
    }
    return result;
}

} // namespace fuzz
