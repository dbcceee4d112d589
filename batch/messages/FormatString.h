#pragma once

#include <string>

// printf-style formatting into a string of any length (the sink's 255-byte
// rule is formatMessage, in MessageText.h).
std::string formatString(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
