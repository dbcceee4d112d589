#pragma once

#include <cstdarg>
#include <string>

// Process-wide line log. Callers test logLevel before they log a message of a
// given level; the logger itself does not. No lock: one writer thread at a time.
extern int logLevel;

void logPrintf(const char* source, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
void logVPrintf(const char* source, const char* format, va_list args);

// Start-up set-up from the two settings. levelSetting <= 0 leaves the log off.
// logFile is used when hasLogFile, otherwise "Quillon.log" in settingsFolder.
// Returns true when a log file is open afterwards.
bool setUpLog(int levelSetting, bool hasLogFile, const std::string& logFile,
              const std::string& settingsFolder);

// Closes the log (tests only: the program keeps it open until exit).
void closeLog();
