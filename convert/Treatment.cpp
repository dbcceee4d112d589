#include "convert/Treatment.h"

Treatment treatmentOf(std::int32_t procOption)
{
    for (const Treatment treatment : kAllTreatments)
        if (procOption == toProcOption(treatment))
            return treatment;
    return Treatment::none;
}

const char* treatmentName(Treatment treatment)
{
    switch (treatment)
    {
    case Treatment::crop:
        return "crop";
    case Treatment::minimumPhase:
        return "minphase";
    case Treatment::none:
        break;
    }
    return "none";
}

bool parseTreatment(const std::string& name, Treatment& treatment)
{
    for (const Treatment candidate : kAllTreatments)
        if (name == treatmentName(candidate))
        {
            treatment = candidate;
            return true;
        }
    return false;
}
