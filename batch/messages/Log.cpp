#include "batch/messages/Log.h"

#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

int logLevel = 3;

namespace
{
std::FILE* logFile = nullptr;

constexpr std::size_t maxLineBytes = 1024;
const char* const tooLargeMarker = "*log message too large*\n";
} // namespace

void logVPrintf(const char* source, const char* format, va_list args)
{
    if (logFile == nullptr)
        return;

    timeval now {};
    gettimeofday(&now, nullptr);
    std::tm local {};
    localtime_r(&now.tv_sec, &local);

    char line[maxLineBytes + 1];
    int stamp = std::snprintf(line, sizeof line, "%02d:%02d:%02d.%03d ", local.tm_hour, local.tm_min,
                              local.tm_sec, static_cast<int>(now.tv_usec / 1000));
    std::size_t used = std::min<std::size_t>(stamp < 0 ? 0 : static_cast<std::size_t>(stamp), maxLineBytes);

    const std::size_t sourceBytes = std::min(std::strlen(source), maxLineBytes - used);
    std::memcpy(line + used, source, sourceBytes);
    used += sourceBytes;
    if (used < maxLineBytes)
        line[used++] = ' ';

    // Room left for the message, counting the terminating zero. A message that
    // does not fit whole (with the newline it needs) is replaced by the marker.
    const std::size_t room = sizeof line - used;
    const std::size_t formatLength = std::strlen(format);
    const bool needsNewline = formatLength == 0 || format[formatLength - 1] != '\n';
    const int formatted = std::vsnprintf(line + used, room, format, args);
    if (formatted < 0 || static_cast<std::size_t>(formatted) + (needsNewline ? 1 : 0) >= room)
    {
        const std::size_t markerBytes = std::strlen(tooLargeMarker);
        if (markerBytes < room)
        {
            std::memcpy(line + used, tooLargeMarker, markerBytes);
            used += markerBytes;
        }
    }
    else
    {
        used += static_cast<std::size_t>(formatted);
        if (needsNewline)
            line[used++] = '\n';
    }
    line[used] = '\0';

    std::fputs(line, logFile);
    std::fflush(logFile);
    fsync(fileno(logFile));
}

void logPrintf(const char* source, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    logVPrintf(source, format, args);
    va_end(args);
}

bool setUpLog(int levelSetting, bool hasLogFile, const std::string& logFilePath,
              const std::string& settingsFolder)
{
    if (levelSetting <= 0)
        return false;
    logLevel = std::min(levelSetting, 5);

    const std::string path = hasLogFile ? logFilePath : settingsFolder + "/Quillon.log";
    std::FILE* opened = path.empty() ? nullptr : std::fopen(path.c_str(), "a");
    if (opened == nullptr)
        return false;
    closeLog();
    logFile = opened;
    return true;
}

void closeLog()
{
    if (logFile != nullptr)
        std::fclose(logFile);
    logFile = nullptr;
}
