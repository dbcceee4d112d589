#include "BareRead.h"

#include <netcdf.h>

bool bareReadDataIR(const std::string& path, std::vector<double>& values, std::string& error)
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
        values.resize(count);
        status = nc_get_var_double(file, var, values.data());
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
