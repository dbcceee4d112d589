#include "report/Report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace
{
// The whole text under a temporary name, then renamed over path.
bool writeWhole(const std::string& path, const std::string& text, std::string& error)
{
    const std::string temporary = path + ".part";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr)
    {
        error = "can't create " + temporary + " (" + std::strerror(errno) + ")";
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
    const int writeError = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed)
    {
        error = "error writing " + temporary + " (" + std::strerror(written ? errno : writeError) + ")";
        std::remove(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0)
    {
        error = "can't replace " + path + " (" + std::strerror(errno) + ")";
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}
} // namespace

std::string reportJsonPath(const std::string& basePath)
{
    return basePath + ".report.json";
}

std::string reportPagePath(const std::string& basePath)
{
    return basePath + ".report.html";
}

bool writeReport(const ReportContent& report, const std::string& basePath, std::string& error)
{
    return writeWhole(reportJsonPath(basePath), reportJson(report), error)
           && writeWhole(reportPagePath(basePath), reportPage(report), error);
}
