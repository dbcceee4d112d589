#pragma once

// The treatment of each measured pair of responses, and its defaults.
// The settings file stores, and the converter's procOption passes, the
// treatment as its 32-bit integer value; any other integer means none.

#include <cstdint>
#include <string>

enum class Treatment : std::int32_t
{
    none = 0,          // the responses as measured
    crop = 1,          // leading delay cropped at a threshold; the onset difference is the ITD
    minimumPhase = 2   // minimum-phase responses and a separately estimated ITD
};

inline constexpr Treatment kAllTreatments[] = { Treatment::none, Treatment::crop, Treatment::minimumPhase };

constexpr Treatment kDefaultTreatment = Treatment::minimumPhase;
constexpr std::int32_t kDefaultCropThresholdDb = 20;  // dB below the peak

// The band whose excess-phase slope gives the minimum-phase treatment's ITD.
constexpr float kItdBandLowHz = 500.0f;
constexpr float kItdBandHighHz = 2000.0f;

constexpr std::int32_t toProcOption(Treatment treatment)
{
    return static_cast<std::int32_t>(treatment);
}

// The treatment a stored or passed integer selects: 1 crop, 2 minimum phase, anything else none.
Treatment treatmentOf(std::int32_t procOption);

// "none", "crop" or "minphase".
const char* treatmentName(Treatment treatment);

// The treatment called name (one of treatmentName's); false for any other name.
bool parseTreatment(const std::string& name, Treatment& treatment);
