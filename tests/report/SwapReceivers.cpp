#include "SwapReceivers.h"

#include <netcdf>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace fixture
{
void writeWithReceiversSwapped(const std::string& from, const std::string& to)
{
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(to, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    netCDF::NcFile file(to, netCDF::NcFile::write);
    for (const auto& [name, var] : file.getVars())
    {
        const std::vector<netCDF::NcDim> dims = var.getDims();
        std::size_t axis = dims.size();
        for (std::size_t d = 0; d < dims.size(); ++d)
            if (dims[d].getName() == "R")
                axis = d;
        if (axis == dims.size())
            continue;
        if (dims[axis].getSize() != 2)
            throw std::runtime_error("expected two receivers in " + name);
        std::size_t outer = 1, inner = 1;
        for (std::size_t d = 0; d < axis; ++d)
            outer *= dims[d].getSize();
        for (std::size_t d = axis + 1; d < dims.size(); ++d)
            inner *= dims[d].getSize();
        std::vector<double> values(outer * 2 * inner);
        var.getVar(values.data());
        for (std::size_t o = 0; o < outer; ++o)
            std::swap_ranges(values.begin() + static_cast<std::ptrdiff_t>(o * 2 * inner),
                             values.begin() + static_cast<std::ptrdiff_t>(o * 2 * inner + inner),
                             values.begin() + static_cast<std::ptrdiff_t>(o * 2 * inner + inner));
        var.putVar(values.data());
    }
}
} // namespace fixture
