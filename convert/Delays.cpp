#include "convert/Delays.h"

#include <algorithm>
#include <cmath>

bool readDelays(PrintMsgI& sink, const sofa::File& file, std::int32_t M, double samplingRate, Delays& delays)
{
    std::vector<std::size_t> dims;
    file.GetVariableDimensions(dims, "Data.Delay");
    const auto rows = static_cast<unsigned>(dims.size() == 2 && dims[0] == 1 ? 1 : M);
    delays.values.assign(static_cast<std::size_t>(rows) * 2, 0.0);
    if (!file.GetDataDelay(delays.values.data(), rows, 2))
    {
        sink.printMsg("error reading SOFA data\n");
        return false;
    }
    const std::size_t bad = firstUnusableDelay(delays.values, samplingRate);
    if (bad != delays.values.size())
    {
        sink.printMsg("invalid values in Data.Delay: %g at measurement %d\n", delays.values[bad],
                      static_cast<int>(bad / 2));
        return false;
    }
    const auto range = std::minmax_element(delays.values.begin(), delays.values.end());
    delays.lowest = *range.first;
    delays.highest = *range.second;
    return true;
}

double largestDelay(double samplingRate)
{
    return samplingRate;
}

std::size_t firstUnusableDelay(const std::vector<double>& values, double samplingRate)
{
    const double bound = largestDelay(samplingRate);
    for (std::size_t i = 0; i < values.size(); ++i)
        if (!(std::fabs(values[i]) <= bound))
            return i;
    return values.size();
}

std::size_t delayShift(double delay, double lowest)
{
    return static_cast<std::size_t>(std::round(delay - lowest));
}
