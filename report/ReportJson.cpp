#include "report/Markup.h"
#include "report/Report.h"

namespace
{
template <typename T>
std::string numberList(const std::vector<T>& values)
{
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i)
        out += (i == 0 ? "" : ", ") + jsonNumber(static_cast<double>(values[i]));
    return out + "]";
}
} // namespace

std::string reportJson(const ReportContent& r)
{
    const TargetFigures& t = r.targets;
    std::string out = "{\n";
    out += "  \"source\": {\n";
    out += "    \"path\": " + jsonString(r.sourcePath) + ",\n";
    out += "    \"sha256\": " + jsonString(r.sha256) + ",\n";
    out += "    \"samplingRate\": " + jsonNumber(r.samplingRate) + ",\n";
    out += "    \"measurements\": " + jsonNumber(static_cast<double>(r.measurements)) + ",\n";
    out += "    \"samples\": " + jsonNumber(static_cast<double>(r.samples)) + ",\n";
    out += "    \"conventions\": " + jsonString(r.conventions) + ",\n";
    out += "    \"version\": " + jsonString(r.version) + "\n";
    out += "  },\n";
    out += "  \"treatment\": " + jsonString(r.treatment) + ",\n";
    out += "  \"cropThreshold\": " + jsonNumber(static_cast<double>(r.cropThreshold)) + ",\n";
    out += "  \"set\": {\n";
    out += "    \"path\": " + jsonString(r.setPath) + ",\n";
    out += "    \"sampRate\": " + jsonNumber(static_cast<double>(r.sampRate)) + ",\n";
    out += "    \"numBCoeff\": " + jsonNumber(static_cast<double>(r.numBCoeff)) + ",\n";
    out += "    \"numHrtf\": " + jsonNumber(static_cast<double>(t.measurement.size())) + "\n";
    out += "  },\n";
    out += "  \"grid\": {\n";
    out += "    \"spacing\": " + jsonNumber(t.spacing) + ",\n";
    out += "    \"elevations\": " + numberList(t.elevs) + ",\n";
    out += "    \"azimuths\": " + numberList(t.numAz) + "\n";
    out += "  },\n";
    out += "  \"targets\": [";
    const std::size_t n = t.measurement.size();
    for (std::size_t k = 0; k < n; ++k)
    {
        out += k == 0 ? "\n" : ",\n";
        out += "    {\"elevation\": " + jsonNumber(k < r.targetElevation.size() ? r.targetElevation[k] : 0.0);
        out += ", \"azimuth\": " + jsonNumber(k < t.azimuth.size() ? t.azimuth[k] : 0.0);
        out += ", \"measurement\": " + jsonNumber(static_cast<double>(t.measurement[k]));
        out += ", \"errorDegrees\": " + jsonNumber(k < t.errorDegrees.size() ? t.errorDegrees[k] : 0.0);
        out += ", \"itd\": " + (k < r.itds.size() ? jsonNumber(r.itds[k]) : std::string("null")) + "}";
    }
    out += n == 0 ? "],\n" : "\n  ],\n";
    out += "  \"warnings\": [";
    for (std::size_t i = 0; i < r.warnings.size(); ++i)
    {
        out += i == 0 ? "\n" : ",\n";
        out += "    {\"code\": " + jsonString(r.warnings[i].code) + ", \"text\": " + jsonString(r.warnings[i].text)
               + "}";
    }
    out += r.warnings.empty() ? "]\n" : "\n  ]\n";
    out += "}\n";
    return out;
}
