// The general SOFA check and the SimpleFreeFieldHRIR check, one file per
// case: each edit of the valid fixture must give the first violated rule's
// message (or pass), from both checks, in the checks' order.

#include "SofaTestSupport.h"

#include "fixtures/SofaFixture.h"
#include "fixtures/TempDir.h"
#include "sofa/sofafile.h"
#include "sofa/sofasimplefreefieldhrir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace
{

using fixture::SofaFixture;
using fixture::ValueType;
using fixture::withNul;

using Edit = std::function<void(SofaFixture&)>;

const std::string kValid = "valid";

struct Case
{
    std::string name;
    Edit edit;
    std::string general;  // outcome of sofa::File::IsValid
    std::string hrir;     // outcome of sofa::SimpleFreeFieldHRIR::IsValid; empty: same as general
};

// Failures name the case rather than dumping its bytes.
void PrintTo(const Case& c, std::ostream* os)
{
    *os << '"' << c.name << '"';
}

// A usable Up/View pair for a kind, on the given dimensions.
Edit AddUpAndView(const std::string& kind, const std::vector<std::string>& dims)
{
    return [kind, dims](SofaFixture& f) {
        f.setShape(kind + "Up", dims);
        f.setShape(kind + "View", dims);
        f.setText(kind + "View:Type", "cartesian");
        f.setText(kind + "View:Units", "metre");
    };
}

Edit Both(Edit a, Edit b)
{
    return [a, b](SofaFixture& f) {
        a(f);
        b(f);
    };
}

std::vector<Case> RequiredAttributeCases()
{
    std::vector<Case> cases;
    for (int index = 0; index < sofa::kNumRequiredAttributes; ++index)
    {
        const std::string name = sofa::AttributeName(static_cast<sofa::AttributeType>(index));
        cases.push_back({"missing " + name, [name](SofaFixture& f) { f.dropAttribute(name); },
                         "Missing SOFA attribute : " + name, ""});
    }
    return cases;
}

std::vector<Case> GeneralCases()
{
    const std::uint64_t int32Max = INT32_MAX;
    std::vector<Case> cases = {
        {"default fixture", [](SofaFixture&) {}, kValid, kValid},

        // Required attributes: index order; any type counts as present.
        {"missing Title and License", [](SofaFixture& f) { f.dropAttribute("License").dropAttribute("Title"); },
         "Missing SOFA attribute : Title", ""},
        {"Title as a number", [](SofaFixture& f) { f.setNumber("Title", 1.0); }, kValid, kValid},
        {"License as NC_STRING", [](SofaFixture& f) { f.setString("License", "CC0"); }, kValid, kValid},
        {"missing License before bad Conventions",
         [](SofaFixture& f) { f.dropAttribute("License").setText("Conventions", "sofa"); },
         "Missing SOFA attribute : License", ""},
        {"optional attributes absent",
         [](SofaFixture& f) { f.dropAttribute("DatabaseName").dropAttribute("ListenerShortName"); }, kValid,
         "Missing 'DatabaseName' global attribute"},

        // Conventions: the exact four characters, as NC_CHAR.
        {"Conventions as a number", [](SofaFixture& f) { f.setNumber("Conventions", 1.0); },
         "invalid SOFA Conventions", ""},
        {"Conventions lower case", [](SofaFixture& f) { f.setText("Conventions", "sofa"); },
         "invalid SOFA Conventions", ""},
        {"Conventions with trailing NUL", [](SofaFixture& f) { f.setText("Conventions", withNul("SOFA")); },
         "invalid SOFA Conventions", ""},
        {"Conventions as NC_STRING", [](SofaFixture& f) { f.setString("Conventions", "SOFA"); },
         "invalid SOFA Conventions", ""},
        {"Conventions empty", [](SofaFixture& f) { f.setText("Conventions", ""); }, "invalid SOFA Conventions", ""},
        {"bad Conventions before bad dimensions",
         [](SofaFixture& f) { f.setText("Conventions", "SOFA ").setDimension("C", 2); },
         "invalid SOFA Conventions", ""},

        // Dimensions.
        {"no E dimension", [](SofaFixture& f) { f.dropDimension("E"); }, "invalid SOFA dimension(s)", ""},
        {"no M dimension", [](SofaFixture& f) { f.dropDimension("M"); }, "invalid SOFA dimension(s)", ""},
        {"C of 2", [](SofaFixture& f) { f.setDimension("C", 2); }, "invalid SOFA dimension(s)", ""},
        {"I of 2", [](SofaFixture& f) { f.setDimension("I", 2); }, "invalid SOFA dimension(s)", ""},
        {"M of 0", [](SofaFixture& f) { f.M = 0; }, "invalid SOFA dimension(s)", ""},
        {"N of 0", [](SofaFixture& f) { f.N = 0; }, "invalid SOFA dimension(s)", ""},
        {"R of 0", [](SofaFixture& f) { f.R = 0; }, "invalid SOFA dimension(s)", ""},
        {"bad dimensions before listener",
         [](SofaFixture& f) { f.setDimension("C", 2).dropVariable("ListenerPosition"); },
         "invalid SOFA dimension(s)", ""},
        // Lengths beyond a 32-bit int are refused, never wrapped into range
        // (2^32 + 1 would read as 1, 2^31 as a negative count).
        {"M of 2^32 + 1", [](SofaFixture& f) { f.setDimension("M", (std::uint64_t(1) << 32) + 1); },
         "SOFA dimension 'M' is too large", ""},
        {"N of 2^31", [](SofaFixture& f) { f.setDimension("N", std::uint64_t(1) << 31); },
         "SOFA dimension 'N' is too large", ""},
        {"E of 2^32 + 1", [](SofaFixture& f) { f.setDimension("E", (std::uint64_t(1) << 32) + 1); },
         "SOFA dimension 'E' is too large", ""},
        {"C of 2^32 + 3", [](SofaFixture& f) { f.setDimension("C", (std::uint64_t(1) << 32) + 3); },
         "SOFA dimension 'C' is too large", ""},
        // The largest int passes the dimension rule; the (too large to write)
        // source positions are then missing.
        {"M of INT32_MAX", [int32Max](SofaFixture& f) { f.setDimension("M", int32Max); },
         "invalid 'Source' variables", ""},

        // Listener.
        {"no ListenerPosition", [](SofaFixture& f) { f.dropVariable("ListenerPosition"); },
         "invalid 'Listener' variables", ""},
        {"ListenerPosition Type Cartesian", [](SofaFixture& f) { f.setText("ListenerPosition:Type", "Cartesian"); },
         "invalid 'Listener' variables", ""},
        {"ListenerPosition Type as NC_STRING",
         [](SofaFixture& f) { f.setString("ListenerPosition:Type", "cartesian"); }, "invalid 'Listener' variables",
         ""},
        {"ListenerPosition without Units", [](SofaFixture& f) { f.dropAttribute("ListenerPosition:Units"); },
         "invalid 'Listener' variables", ""},
        {"ListenerPosition cartesian in degrees",
         [](SofaFixture& f) { f.setText("ListenerPosition:Units", "degree, degree, metre"); },
         "invalid 'Listener' variables", ""},
        {"ListenerPosition float", [](SofaFixture& f) { f.setType("ListenerPosition", ValueType::Float); },
         "invalid 'Listener' variables", ""},
        {"ListenerPosition of one dimension", [](SofaFixture& f) { f.setShape("ListenerPosition", {"C"}); },
         "invalid 'Listener' variables", ""},
        {"ListenerPosition of four dimensions",
         [](SofaFixture& f) { f.setShape("ListenerPosition", {"I", "C", "I", "I"}); },
         "invalid 'Listener' variables", ""},
        {"ListenerUp without ListenerView", [](SofaFixture& f) { f.dropVariable("ListenerView"); },
         "invalid 'Listener' variables", ""},
        {"ListenerUp float", [](SofaFixture& f) { f.setType("ListenerUp", ValueType::Float); },
         "invalid 'Listener' variables", ""},
        {"ListenerView Type Cartesian", [](SofaFixture& f) { f.setText("ListenerView:Type", "Cartesian"); },
         "invalid 'Listener' variables", ""},
        {"ListenerUp needs no coordinates",
         [](SofaFixture& f) { f.dropAttribute("ListenerUp:Type").dropAttribute("ListenerUp:Units"); }, kValid,
         kValid},
        {"ListenerView alone, untyped and misshapen, is not examined",
         [](SofaFixture& f) {
             f.dropVariable("ListenerUp").setShape("ListenerView", {"C", "I", "R"});
             f.dropAttribute("ListenerView:Type");
         },
         kValid, "missing 'ListenerUp' variable"},
        {"ListenerPosition of (M, C)", [](SofaFixture& f) { f.setShape("ListenerPosition", {"M", "C"}); }, kValid,
         kValid},
        {"ListenerPosition of (C, M)", [](SofaFixture& f) { f.setShape("ListenerPosition", {"C", "M"}); },
         "invalid 'ListenerPosition' dimensions", ""},
        {"ListenerPosition of (I, C, I)", [](SofaFixture& f) { f.setShape("ListenerPosition", {"I", "C", "I"}); },
         "invalid 'ListenerPosition' dimensions", ""},
        {"ListenerUp of (M, C, I)", [](SofaFixture& f) { f.setShape("ListenerUp", {"M", "C", "I"}); },
         "invalid 'ListenerUp' dimensions", ""},
        {"ListenerView of (C, I)", [](SofaFixture& f) { f.setShape("ListenerView", {"C", "I"}); },
         "invalid 'ListenerView' dimensions", ""},
        {"ListenerPosition shape before ListenerUp shape",
         [](SofaFixture& f) { f.setShape("ListenerPosition", {"C", "M"}).setShape("ListenerUp", {"C", "M"}); },
         "invalid 'ListenerPosition' dimensions", ""},
        {"listener before source",
         [](SofaFixture& f) { f.dropVariable("ListenerPosition").dropVariable("SourcePosition"); },
         "invalid 'Listener' variables", ""},

        // Source.
        {"no SourcePosition", [](SofaFixture& f) { f.dropVariable("SourcePosition"); }, "invalid 'Source' variables",
         ""},
        {"SourcePosition Type Cartesian",
         [](SofaFixture& f) {
             f.cartesianSources();
             f.sourceType = "Cartesian";
         },
         "invalid 'Source' variables", ""},
        {"SourcePosition cartesian in metres", [](SofaFixture& f) { f.cartesianSources(); }, kValid, kValid},
        {"SourcePosition spherical in metres", [](SofaFixture& f) { f.sourceUnits = "metre"; },
         "invalid 'Source' variables", ""},
        {"SourcePosition cartesian in degrees", [](SofaFixture& f) { f.sourceType = "cartesian"; },
         "invalid 'Source' variables", ""},
        {"SourcePosition spherical upper case units",
         [](SofaFixture& f) { f.sourceUnits = "Degrees,Degrees,METRES"; }, kValid, kValid},
        {"SourcePosition spherical space-separated units",
         [](SofaFixture& f) { f.sourceUnits = "degree degree meter"; }, kValid, kValid},
        {"SourcePosition units mixing degree and degrees",
         [](SofaFixture& f) { f.sourceUnits = "degree, degrees, metre"; }, "invalid 'Source' variables", ""},
        {"SourcePosition units with an extra space",
         [](SofaFixture& f) { f.sourceUnits = "degree,  degree, metre"; }, "invalid 'Source' variables", ""},
        {"SourcePosition units with trailing NUL",
         [](SofaFixture& f) { f.sourceUnits = withNul("degree, degree, metre"); }, "invalid 'Source' variables",
         ""},
        {"SourcePosition in cubic metres",
         [](SofaFixture& f) {
             f.cartesianSources();
             f.sourceUnits = "cubic metre";
         },
         "invalid 'Source' variables", ""},
        {"SourcePosition int", [](SofaFixture& f) { f.setType("SourcePosition", ValueType::Int); },
         "invalid 'Source' variables", ""},
        {"one SourcePosition row", [](SofaFixture& f) { f.singleSourcePosition(); }, kValid, kValid},
        {"SourcePosition of (M, 3, 1)", [](SofaFixture& f) { f.setShape("SourcePosition", {"M", "C", "I"}); },
         "invalid 'SourcePosition' dimensions", ""},
        {"SourcePosition of (3, M)", [](SofaFixture& f) { f.setShape("SourcePosition", {"C", "M"}); },
         "invalid 'SourcePosition' dimensions", ""},
        {"SourceUp and SourceView", AddUpAndView("Source", {"M", "C"}), kValid, kValid},
        {"SourceUp without SourceView", [](SofaFixture& f) { f.setShape("SourceUp", {"I", "C"}); },
         "invalid 'Source' variables", ""},
        {"SourceUp of (C, M)",
         Both(AddUpAndView("Source", {"I", "C"}), [](SofaFixture& f) { f.setShape("SourceUp", {"C", "M"}); }),
         "invalid 'SourceUp' dimensions", ""},
        {"SourceView of (C, M)",
         Both(AddUpAndView("Source", {"I", "C"}), [](SofaFixture& f) { f.setShape("SourceView", {"C", "M"}); }),
         "invalid 'SourceView' dimensions", ""},
        {"source before receiver",
         [](SofaFixture& f) { f.dropVariable("SourcePosition").dropVariable("ReceiverPosition"); },
         "invalid 'Source' variables", ""},

        // Receiver.
        {"no ReceiverPosition", [](SofaFixture& f) { f.dropVariable("ReceiverPosition"); },
         "invalid 'Receiver' variables", ""},
        {"ReceiverPosition Type spherical", [](SofaFixture& f) { f.setText("ReceiverPosition:Type", "spherical"); },
         "invalid 'Receiver' variables", ""},
        {"ReceiverPosition of (R, C, M)", [](SofaFixture& f) { f.setShape("ReceiverPosition", {"R", "C", "M"}); },
         kValid, kValid},
        {"ReceiverPosition of (R, C)", [](SofaFixture& f) { f.setShape("ReceiverPosition", {"R", "C"}); },
         "invalid 'ReceiverPosition' dimensions", ""},
        {"ReceiverPosition of (C, R, I)", [](SofaFixture& f) { f.setShape("ReceiverPosition", {"C", "R", "I"}); },
         "invalid 'ReceiverPosition' dimensions", ""},
        {"ReceiverUp of (R, C)",
         Both(AddUpAndView("Receiver", {"R", "C", "I"}),
              [](SofaFixture& f) { f.setShape("ReceiverUp", {"R", "C"}); }),
         "invalid 'ReceiverUp' dimensions", ""},
        {"ReceiverView of (R, C, E, I)",
         Both(AddUpAndView("Receiver", {"R", "C", "I"}),
              [](SofaFixture& f) { f.setShape("ReceiverView", {"R", "C", "E", "I"}); }),
         "invalid 'Receiver' variables", ""},

        // Emitter.
        {"no EmitterPosition", [](SofaFixture& f) { f.dropVariable("EmitterPosition"); },
         "invalid 'Emitter' variables", ""},
        {"EmitterPosition of (E, C)", [](SofaFixture& f) { f.setShape("EmitterPosition", {"E", "C"}); },
         "invalid 'EmitterPosition' dimensions", ""},
        {"EmitterPosition of (E, C, M)", [](SofaFixture& f) { f.setShape("EmitterPosition", {"E", "C", "M"}); },
         kValid, kValid},
        {"EmitterUp and EmitterView", AddUpAndView("Emitter", {"E", "C", "M"}), kValid, kValid},
        {"EmitterView of (C, E, I)",
         Both(AddUpAndView("Emitter", {"E", "C", "I"}),
              [](SofaFixture& f) { f.setShape("EmitterView", {"C", "E", "I"}); }),
         "invalid 'EmitterView' dimensions", ""},
        {"two emitters", [](SofaFixture& f) { f.addEmitter(); }, kValid, "invalid number of emitters"},
        {"receiver before emitter",
         [](SofaFixture& f) { f.dropVariable("ReceiverPosition").dropVariable("EmitterPosition"); },
         "invalid 'Receiver' variables", ""},
        {"emitter before data", [](SofaFixture& f) { f.dropVariable("EmitterPosition").dropVariable("Data.IR"); },
         "invalid 'Emitter' variables", ""},

        // DataType.
        {"DataType lower case", [](SofaFixture& f) { f.setText("DataType", "fir"); }, "invalid 'DataType'", ""},
        {"DataType with trailing NUL", [](SofaFixture& f) { f.setText("DataType", withNul("FIR")); },
         "invalid 'DataType'", ""},
        {"DataType empty", [](SofaFixture& f) { f.setText("DataType", ""); }, "invalid 'DataType'", ""},
        {"DataType as a number", [](SofaFixture& f) { f.setNumber("DataType", 1.0); }, "invalid 'DataType'", ""},
        {"DataType as NC_STRING", [](SofaFixture& f) { f.setString("DataType", "FIR"); }, "invalid 'DataType'",
         ""},
        {"DataType SOS without Data.SOS", [](SofaFixture& f) { f.setText("DataType", "SOS"); },
         "missing 'Data.SOS' variable", ""},

        // FIR data.
        {"no Data.IR", [](SofaFixture& f) { f.dropVariable("Data.IR"); }, "missing 'Data.IR' variable", ""},
        {"Data.IR float", [](SofaFixture& f) { f.setType("Data.IR", ValueType::Float); },
         "invalid 'Data.IR' variable", ""},
        {"Data.IR of (M, N, R)", [](SofaFixture& f) { f.setShape("Data.IR", {"M", "N", "R"}); },
         "invalid dimensions for 'Data.IR'", ""},
        {"Data.IR of (M, R, E, N)", [](SofaFixture& f) { f.setShape("Data.IR", {"M", "R", "E", "N"}); },
         "invalid dimensions for 'Data.IR'", ""},
        {"Data.IR before Data.SamplingRate",
         [](SofaFixture& f) { f.setType("Data.IR", ValueType::Int).dropVariable("Data.SamplingRate"); },
         "invalid 'Data.IR' variable", ""},
        {"no Data.SamplingRate", [](SofaFixture& f) { f.dropVariable("Data.SamplingRate"); },
         "missing 'Data.SamplingRate' variable", ""},
        {"Data.SamplingRate float", [](SofaFixture& f) { f.setType("Data.SamplingRate", ValueType::Float); },
         "invalid 'Data.SamplingRate' variable", ""},
        {"Data.SamplingRate of (R)", [](SofaFixture& f) { f.setShape("Data.SamplingRate", {"R"}); },
         "invalid dimensions for 'Data.SamplingRate'", ""},
        {"Data.SamplingRate scalar", [](SofaFixture& f) { f.setShape("Data.SamplingRate", {}); },
         "invalid dimensions for 'Data.SamplingRate'", ""},
        {"Data.SamplingRate of (I, I)", [](SofaFixture& f) { f.setShape("Data.SamplingRate", {"I", "I"}); },
         "invalid dimensions for 'Data.SamplingRate'", ""},
        {"Data.SamplingRate of (M)", [](SofaFixture& f) { f.samplingRatePerMeasurement = true; }, kValid, kValid},
        {"Data.SamplingRate without Units", [](SofaFixture& f) { f.dropAttribute("Data.SamplingRate:Units"); },
         "invalid 'Data.SamplingRate:Units'", ""},
        {"Data.SamplingRate in Hz", [](SofaFixture& f) { f.setText("Data.SamplingRate:Units", "Hz"); },
         "invalid 'Data.SamplingRate:Units'", ""},
        {"Data.SamplingRate in samples", [](SofaFixture& f) { f.setText("Data.SamplingRate:Units", "samples"); },
         "invalid 'Data.SamplingRate:Units'", ""},
        {"Data.SamplingRate Units as NC_STRING",
         [](SofaFixture& f) { f.setString("Data.SamplingRate:Units", "hertz"); },
         "invalid 'Data.SamplingRate:Units'", ""},
        {"Data.SamplingRate Units with trailing NUL",
         [](SofaFixture& f) { f.setText("Data.SamplingRate:Units", withNul("hertz")); },
         "invalid 'Data.SamplingRate:Units'", ""},
        {"Data.SamplingRate in Hertz", [](SofaFixture& f) { f.setText("Data.SamplingRate:Units", "Hertz"); }, kValid,
         kValid},
        {"Data.SamplingRate in HERTZ", [](SofaFixture& f) { f.setText("Data.SamplingRate:Units", "HERTZ"); }, kValid,
         kValid},
        {"no Data.Delay", [](SofaFixture& f) { f.dropVariable("Data.Delay"); }, "missing 'Data.Delay' variable", ""},
        {"Data.Delay float", [](SofaFixture& f) { f.setType("Data.Delay", ValueType::Float); },
         "invalid 'Data.Delay' variable", ""},
        {"Data.Delay of (R)", [](SofaFixture& f) { f.setShape("Data.Delay", {"R"}); },
         "invalid dimensions for 'Data.Delay'", ""},
        {"Data.Delay of (I, R, E)", [](SofaFixture& f) { f.setShape("Data.Delay", {"I", "R", "E"}); },
         "invalid dimensions for 'Data.Delay'", ""},
        {"Data.Delay of (M, R)", [](SofaFixture& f) { f.setShape("Data.Delay", {"M", "R"}); }, kValid, kValid},

        // FIRE data.
        {"FIRE", [](SofaFixture& f) { f.dataType = "FIRE"; }, kValid, "'DataType' shall be FIR"},
        {"FIRE with Data.Delay of (M, R, E)",
         [](SofaFixture& f) {
             f.dataType = "FIRE";
             f.setShape("Data.Delay", {"M", "R", "E"});
         },
         kValid, "'DataType' shall be FIR"},
        {"FIRE without Data.IR",
         [](SofaFixture& f) {
             f.dataType = "FIRE";
             f.dropVariable("Data.IR");
         },
         "missing 'Data.IR' variable", ""},
        {"FIRE with Data.IR of (M, R, N)",
         [](SofaFixture& f) {
             f.dataType = "FIRE";
             f.setShape("Data.IR", {"M", "R", "N"});
         },
         "invalid dimensions for 'Data.IR'", ""},
        {"FIRE with Data.Delay of (I, R)",
         [](SofaFixture& f) {
             f.dataType = "FIRE";
             f.setShape("Data.Delay", {"I", "R"});
         },
         "invalid dimensions for 'Data.Delay'", ""},
        {"FIRE with Data.SamplingRate in metres",
         [](SofaFixture& f) {
             f.dataType = "FIRE";
             f.setText("Data.SamplingRate:Units", "metre");
         },
         "invalid 'Data.SamplingRate:Units'", ""},

        // SOS data.
        {"SOS", [](SofaFixture& f) { f.dataType = "SOS"; }, kValid, "'DataType' shall be FIR"},
        {"SOS without Data.SOS",
         [](SofaFixture& f) {
             f.dataType = "SOS";
             f.dropVariable("Data.SOS");
         },
         "missing 'Data.SOS' variable", ""},
        {"SOS with Data.SOS float",
         [](SofaFixture& f) {
             f.dataType = "SOS";
             f.setType("Data.SOS", ValueType::Float);
         },
         "invalid 'Data.SOS' variable", ""},
        {"SOS with Data.SOS of (M, R)",
         [](SofaFixture& f) {
             f.dataType = "SOS";
             f.setShape("Data.SOS", {"M", "R"});
         },
         "invalid dimensions for 'Data.SOS'", ""},
        {"SOS without Data.Delay",
         [](SofaFixture& f) {
             f.dataType = "SOS";
             f.dropVariable("Data.Delay");
         },
         "missing 'Data.Delay' variable", ""},

        // TF data: no sampling rate or delay rules.
        {"TF", [](SofaFixture& f) { f.dataType = "TF"; }, kValid, "'DataType' shall be FIR"},
        {"TF without Data.Real",
         [](SofaFixture& f) {
             f.dataType = "TF";
             f.dropVariable("Data.Real");
         },
         "invalid 'Data.Real' variable", ""},
        {"TF with Data.Real float",
         [](SofaFixture& f) {
             f.dataType = "TF";
             f.setType("Data.Real", ValueType::Float);
         },
         "invalid 'Data.Real' variable", ""},
        {"TF with Data.Real of (M, N, R)",
         [](SofaFixture& f) {
             f.dataType = "TF";
             f.setShape("Data.Real", {"M", "N", "R"});
         },
         "invalid dimensions for 'Data.Real'", ""},
        {"TF without Data.Imag",
         [](SofaFixture& f) {
             f.dataType = "TF";
             f.dropVariable("Data.Imag");
         },
         "invalid 'Data.Imag' variable", ""},
        {"TF with Data.Imag of (M, R)",
         [](SofaFixture& f) {
             f.dataType = "TF";
             f.setShape("Data.Imag", {"M", "R"});
         },
         "invalid dimensions for 'Data.Imag'", ""},
        {"TF without N variable",
         [](SofaFixture& f) {
             f.dataType = "TF";
             f.dropVariable("N");
         },
         "missing 'N' variable", ""},
        {"TF with N float",
         [](SofaFixture& f) {
             f.dataType = "TF";
             f.setType("N", ValueType::Float);
         },
         "invalid 'N' variable", ""},
        {"TF with N of (M)",
         [](SofaFixture& f) {
             f.dataType = "TF";
             f.setShape("N", {"M"});
         },
         "invalid dimensions for 'N'", ""},
        {"TF with N Units absent",
         [](SofaFixture& f) {
             f.dataType = "TF";
             f.dropAttribute("N:Units");
         },
         "invalid 'N:Units'", ""},
        {"TF with N in metres",
         [](SofaFixture& f) {
             f.dataType = "TF";
             f.setText("N:Units", "metre");
         },
         "invalid 'N:Units'", ""},
        {"TF with LongName frequency",
         [](SofaFixture& f) {
             f.dataType = "TF";
             f.setText("N:LongName", "frequency");
         },
         "invalid 'LongName'", ""},
        {"TF with LongName in any known unit",
         [](SofaFixture& f) {
             f.dataType = "TF";
             f.setText("N:LongName", "Kelvin");
         },
         kValid, "'DataType' shall be FIR"},
        {"TF without Data.SamplingRate",
         [](SofaFixture& f) {
             f.dataType = "TF";
             f.dropVariable("Data.SamplingRate");
         },
         kValid, "'DataType' shall be FIR"},
    };
    const std::vector<Case> required = RequiredAttributeCases();
    cases.insert(cases.begin() + 1, required.begin(), required.end());
    return cases;
}

std::vector<Case> ConventionCases()
{
    return {
        {"no DatabaseName", [](SofaFixture& f) { f.dropAttribute("DatabaseName"); }, kValid,
         "Missing 'DatabaseName' global attribute"},
        {"DatabaseName as a number", [](SofaFixture& f) { f.setNumber("DatabaseName", 3.0); }, kValid,
         "Missing 'DatabaseName' global attribute"},
        {"DatabaseName as NC_STRING", [](SofaFixture& f) { f.setString("DatabaseName", "db"); }, kValid,
         "Missing 'DatabaseName' global attribute"},
        {"DatabaseName before DataType",
         [](SofaFixture& f) {
             f.dataType = "SOS";
             f.dropAttribute("DatabaseName");
         },
         kValid, "Missing 'DatabaseName' global attribute"},
        {"DataType before SOFAConventions",
         [](SofaFixture& f) {
             f.dataType = "TF";
             f.setText("SOFAConventions", "GeneralTF");
         },
         kValid, "'DataType' shall be FIR"},
        {"SOFAConventions GeneralFIR", [](SofaFixture& f) { f.setText("SOFAConventions", "GeneralFIR"); }, kValid,
         "Not a 'SimpleFreeFieldHRIR' SOFAConvention"},
        {"SOFAConventions with trailing NUL",
         [](SofaFixture& f) { f.setText("SOFAConventions", withNul("SimpleFreeFieldHRIR")); }, kValid,
         "Not a 'SimpleFreeFieldHRIR' SOFAConvention"},
        {"SOFAConventions as NC_STRING",
         [](SofaFixture& f) { f.setString("SOFAConventions", "SimpleFreeFieldHRIR"); }, kValid,
         "Not a 'SimpleFreeFieldHRIR' SOFAConvention"},
        {"SOFAConventions before RoomType",
         [](SofaFixture& f) { f.setText("SOFAConventions", "simplefreefieldhrir").setText("RoomType", "reverberant"); },
         kValid, "Not a 'SimpleFreeFieldHRIR' SOFAConvention"},
        {"RoomType free-field", [](SofaFixture& f) { f.setText("RoomType", "free-field"); }, kValid,
         "invalid 'RoomType'"},
        {"RoomType with trailing NUL", [](SofaFixture& f) { f.setText("RoomType", withNul("free field")); }, kValid,
         "invalid 'RoomType'"},
        {"RoomType as a number", [](SofaFixture& f) { f.setNumber("RoomType", 0.0); }, kValid, "invalid 'RoomType'"},
        {"RoomType before ListenerShortName",
         [](SofaFixture& f) { f.setText("RoomType", "Free field").dropAttribute("ListenerShortName"); }, kValid,
         "invalid 'RoomType'"},
        {"no ListenerShortName", [](SofaFixture& f) { f.dropAttribute("ListenerShortName"); }, kValid,
         "Missing SOFA attribute 'ListenerShortName'"},
        {"ListenerShortName as a number", [](SofaFixture& f) { f.setNumber("ListenerShortName", 7.0); }, kValid,
         kValid},
        {"ListenerShortName before emitters",
         [](SofaFixture& f) {
             f.addEmitter();
             f.dropAttribute("ListenerShortName");
         },
         kValid, "Missing SOFA attribute 'ListenerShortName'"},
        {"emitters before ListenerUp",
         [](SofaFixture& f) {
             f.addEmitter();
             f.dropVariable("ListenerUp").dropVariable("ListenerView");
         },
         kValid, "invalid number of emitters"},
        {"listener with position only",
         [](SofaFixture& f) { f.dropVariable("ListenerUp").dropVariable("ListenerView"); }, kValid,
         "missing 'ListenerUp' variable"},
        {"one receiver", [](SofaFixture& f) { f.R = 1; }, kValid, kValid},
        {"cartesian sources, one row, per-measurement rate",
         [](SofaFixture& f) {
             f.cartesianSources().singleSourcePosition();
             f.samplingRatePerMeasurement = true;
         },
         kValid, kValid},
    };
}

std::string TestName(const testing::TestParamInfo<Case>& info)
{
    std::string name;
    for (char c : info.param.name)
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

class SofaValidity : public testing::TestWithParam<Case>
{
};

TEST_P(SofaValidity, FirstViolatedRuleIsReported)
{
    const Case& c = GetParam();
    fixture::TempDir dir;
    const std::string path = dir.file("case.sofa");
    SofaFixture f;
    c.edit(f);
    fixture::writeSofa(path, f);

    sofa::File general(path);
    EXPECT_EQ(sofatest::Outcome([&] { return general.IsValid(); }), c.general);

    sofa::SimpleFreeFieldHRIR hrir(path);
    const std::string expected = c.hrir.empty() ? c.general : c.hrir;
    EXPECT_EQ(sofatest::Outcome([&] { return hrir.IsValid(); }), expected);
    // Nothing is kept between calls: a second check gives the same answer.
    EXPECT_EQ(sofatest::Outcome([&] { return hrir.IsValid(); }), expected);
}

INSTANTIATE_TEST_SUITE_P(General, SofaValidity, testing::ValuesIn(GeneralCases()), TestName);
INSTANTIATE_TEST_SUITE_P(SimpleFreeFieldHRIR, SofaValidity, testing::ValuesIn(ConventionCases()), TestName);

} // namespace
