#include "batch/messages/FormatString.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

std::string formatString(const char* format, ...)
{
    if (format == nullptr)
        return {};
    std::vector<char> buffer(2 * std::strlen(format) + 50);
    va_list args;
    va_start(args, format);
    va_list retry;
    va_copy(retry, args);
    const int needed = std::vsnprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    if (needed >= 0 && static_cast<std::size_t>(needed) >= buffer.size())
    {
        buffer.resize(static_cast<std::size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, retry);
    }
    va_end(retry);
    if (needed < 0)
        return {};
    return std::string(buffer.data(), static_cast<std::size_t>(needed));
}
