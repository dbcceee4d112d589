#include "BareRead.h"

#include <netcdf.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace
{

// Opens path, finds Data.IR and its value count, lets place() give the buffer
// and reads into it.
template <typename Place>
bool readDataIR(const std::string& path, Place place, std::string& error)
{
    int file = 0;
    int status = nc_open(path.c_str(), NC_NOWRITE, &file);
    if (status != NC_NOERR)
    {
        error = nc_strerror(status);
        return false;
    }
    int var = 0;
    int rank = 0;
    int dims[NC_MAX_VAR_DIMS];
    std::size_t count = 1;
    status = nc_inq_varid(file, "Data.IR", &var);
    if (status == NC_NOERR)
        status = nc_inq_varndims(file, var, &rank);
    if (status == NC_NOERR)
        status = nc_inq_vardimid(file, var, dims);
    for (int d = 0; status == NC_NOERR && d < rank; ++d)
    {
        std::size_t length = 0;
        status = nc_inq_dimlen(file, dims[d], &length);
        count *= length;
    }
    if (status == NC_NOERR)
    {
        double* values = place(count);
        status = values != nullptr ? nc_get_var_double(file, var, values) : NC_ENOMEM;
    }
    const int closed = nc_close(file);
    if (status == NC_NOERR)
        status = closed;
    if (status != NC_NOERR)
    {
        error = nc_strerror(status);
        return false;
    }
    return true;
}

struct FreeBlock
{
    void operator()(void* block) const noexcept { std::free(block); }
};

} // namespace

bool bareReadDataIR(const std::string& path, std::vector<double>& values, std::string& error)
{
    return readDataIR(
        path,
        [&values](std::size_t count) {
            values.resize(count);
            return values.data();
        },
        error);
}

bool bareReadDataIRHugePages(const std::string& path, std::string& error)
{
    constexpr std::size_t hugePage = std::size_t(2) << 20;
    std::unique_ptr<void, FreeBlock> memory;
    return readDataIR(
        path,
        [&memory](std::size_t count) -> double* {
            const std::size_t bytes = count * sizeof(double);
            memory.reset(std::calloc(bytes + hugePage, 1));
            if (!memory)
                return nullptr;
            const auto address = reinterpret_cast<std::uintptr_t>(memory.get());
            auto* values = reinterpret_cast<double*>((address + hugePage - 1) & ~static_cast<std::uintptr_t>(hugePage - 1));
#if defined(__linux__) && defined(MADV_HUGEPAGE)
            ::madvise(values, bytes, MADV_HUGEPAGE);
#endif
            return values;
        },
        error);
}
