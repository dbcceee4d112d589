#pragma once

// The least a SOFA reader must do: open the file through the netCDF C library,
// read all of Data.IR as doubles and close it. The yardstick for conversion times.

#include <string>
#include <vector>

// Fills values with Data.IR; false (with a reason in error) on any netCDF failure.
bool bareReadDataIR(const std::string& path, std::vector<double>& values, std::string& error);

// The same into a fresh buffer aligned to and advised onto 2 MiB pages (where
// the system offers them), as the converter takes its block: page faults, which
// cost more than the read on a virtual machine, then weigh alike in both.
bool bareReadDataIRHugePages(const std::string& path, std::string& error);
