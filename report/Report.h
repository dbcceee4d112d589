#pragma once

// The quality report of one conversion: a JSON file of the figures and a
// self-contained XHTML page (inline SVG and CSS, no script) that shows them.

#include "report/QualityChecks.h"

#include <cstdint>
#include <string>
#include <vector>

struct ReportDirection
{
    double elevation = 0.0;
    double azimuth = 0.0;
};

// Both ears' responses of one target before and after the treatment, for the
// magnitude plots.
struct ResponseView
{
    double azimuth = 0.0;  // on the horizontal ring
    std::vector<float> beforeLeft, beforeRight;
    std::vector<float> afterLeft, afterRight;
};

struct ReportContent
{
    // The input.
    std::string sourcePath;
    std::string sha256;
    double samplingRate = 0.0;
    std::int32_t measurements = 0;
    std::int32_t samples = 0;
    std::string conventions;  // SOFAConventions
    std::string version;      // SOFAConventionsVersion
    std::vector<ReportDirection> measured;

    // What was done.
    std::string treatment;  // "none", "crop" or "minphase"
    std::int32_t cropThreshold = 0;

    // The set written.
    std::string setPath;
    std::int32_t sampRate = 0;
    std::int32_t numBCoeff = 0;
    std::vector<float> itds;  // per HRTF, as stored; empty when the set has none

    // Grid, per-target figures (their lags are the ITDs in microseconds, or
    // the onset differences when the set has no ITDs) and the warnings.
    TargetFigures targets;
    std::vector<double> targetElevation;  // per target, degrees
    std::vector<Warning> warnings;
    std::vector<ResponseView> responses;
};

std::string reportJson(const ReportContent& report);
std::string reportPage(const ReportContent& report);

// Magnitude in dB of x's spectrum on size points (a power of two of at least
// 4, x zero-padded or cut), bins 0 .. size/2; silent bins give -200 dB.
std::vector<float> magnitudeDb(const std::vector<float>& x, std::int32_t size);

// Writes basePath + ".report.json" and basePath + ".report.html", each whole
// under a temporary name before it replaces any earlier file. False with
// error set on failure.
bool writeReport(const ReportContent& report, const std::string& basePath, std::string& error);
std::string reportPagePath(const std::string& basePath);
std::string reportJsonPath(const std::string& basePath);
